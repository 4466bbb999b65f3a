<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en">
<context>
    <name>AliasSheet</name>
    <message>
        <source>LEADERBOARD ALIAS</source>
        <extracomment>Title of the sheet where the user picks a public name for the leaderboard</extracomment>
        <translation>ALIAS IN CLASSIFICA</translation>
    </message>
    <message>
        <source>Your alias is the name shown beside your referral count on the public Tavrix leaderboard. Your invite code is not shown — only this name.</source>
        <extracomment>Introduction of the leaderboard alias sheet</extracomment>
        <translation>Il tuo alias è il nome che compare accanto al numero di persone che hai invitato nella classifica pubblica di Tavrix. Il tuo codice invito non viene mostrato — solo questo nome.</translation>
    </message>
    <message>
        <source>This becomes public and permanent</source>
        <extracomment>Heading of the warning that the leaderboard alias is published</extracomment>
        <translation>Diventa pubblico e permanente</translation>
    </message>
    <message>
        <source>The leaderboard is a page on the open internet. Anyone can read it, search engines will index it, and copies get cached, archived and screenshotted by people and services we do not control.</source>
        <extracomment>First paragraph of the warning about publishing the alias</extracomment>
        <translation>La classifica è una pagina aperta a tutti su internet. Chiunque può leggerla, i motori di ricerca la indicizzeranno e persone e servizi che non controlliamo ne conservano copie in cache, in archivio e negli screenshot.</translation>
    </message>
    <message>
        <source>That means removing your alias later does not un-publish it. Assume anything you put here is visible to the world forever.</source>
        <extracomment>Second paragraph of the warning about publishing the alias</extracomment>
        <translation>Per questo, se in seguito rimuovi il tuo alias, non sparisce dal web. Considera tutto ciò che scrivi qui visibile a tutto il mondo, per sempre.</translation>
    </message>
    <message>
        <source>Do not use your real full name, an email address, a phone number, a club that identifies where you are, or anything else you would not want a stranger to find. A nickname is the right kind of answer.</source>
        <extracomment>Third paragraph of the warning about publishing the alias</extracomment>
        <translation>Non usare il tuo nome e cognome reali, un indirizzo email, un numero di telefono, un club che riveli dove ti trovi o qualsiasi altra cosa che non vorresti far trovare a uno sconosciuto. Un soprannome è la scelta giusta.</translation>
    </message>
    <message>
        <source>YOUR ALIAS</source>
        <extracomment>Label above the alias field</extracomment>
        <translation>IL TUO ALIAS</translation>
    </message>
    <message>
        <source>e.g. BackyardBaller</source>
        <extracomment>Placeholder of the alias field: an example nickname</extracomment>
        <translation>es. BomberDelCortile</translation>
    </message>
    <message numerus="yes">
        <source>%n character(s) max. Letters and numbers, with spaces, hyphens or underscores between them.</source>
        <extracomment>Rules of the alias field; %n is the most characters allowed</extracomment>
        <translation>
            <numerusform>Massimo %n carattere. Lettere e numeri, separati da spazi, trattini o trattini bassi.</numerusform>
            <numerusform>Massimo %n caratteri. Lettere e numeri, separati da spazi, trattini o trattini bassi.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Locked for another %n day(s) — you can change it from %1.</source>
        <extracomment>%n is the number of days the alias stays locked, %1 the date it can change</extracomment>
        <translation>
            <numerusform>Bloccato ancora per %n giorno — potrai cambiarlo dal %1.</numerusform>
            <numerusform>Bloccato ancora per %n giorni — potrai cambiarlo dal %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Once the leaderboard is live, an alias can only be changed every %n day(s) (about six months), so a name on the board means the same person each time. Choose carefully.</source>
        <extracomment>%n is the number of days between alias changes once the leaderboard is live</extracomment>
        <translation>
            <numerusform>Quando la classifica sarà attiva, l’alias si potrà cambiare solo una volta ogni %n giorno (circa sei mesi), così un nome in classifica indica sempre la stessa persona. Scegli con attenzione.</numerusform>
            <numerusform>Quando la classifica sarà attiva, l’alias si potrà cambiare solo una volta ogni %n giorni (circa sei mesi), così un nome in classifica indica sempre la stessa persona. Scegli con attenzione.</numerusform>
        </translation>
    </message>
    <message>
        <source>RESPONSIBLE USE</source>
        <extracomment>Heading of the referral rules box</extracomment>
        <translation>USO RESPONSABILE</translation>
    </message>
    <message>
        <source>Referrals are for inviting real people who genuinely want the app. Faking installs, using bots or emulators, buying or trading codes, spamming, or impersonating someone else on the leaderboard is a breach of the referral rules.</source>
        <extracomment>First paragraph of the referral rules box</extracomment>
        <translation>Gli inviti servono a coinvolgere persone reali che vogliono davvero l’app. Simulare installazioni, usare bot o emulatori, comprare o scambiare codici, fare spam o spacciarsi per qualcun altro in classifica viola il regolamento del programma inviti.</translation>
    </message>
    <message>
        <source>If we find that has happened we may remove your alias from the leaderboard and ban the account, and any referrals, bonuses, prizes or rewards you have accrued — earned or pending — are void.</source>
        <extracomment>Second paragraph of the referral rules box</extracomment>
        <translation>Se scopriamo che è successo, potremmo rimuovere il tuo alias dalla classifica e bloccare l’account, e tutti gli inviti, i bonus, i premi o le ricompense che hai accumulato — già ottenuti o in attesa — verranno annullati.</translation>
    </message>
    <message>
        <source>Read the full referral rules</source>
        <extracomment>Link that opens the referral rules web page</extracomment>
        <translation>Leggi il regolamento completo</translation>
    </message>
    <message>
        <source>The leaderboard is not live yet. Your alias is saved on this device only — nothing is sent anywhere, and nothing is published. While it is off you can change your alias as often as you like; the six-month lock starts once the board goes live.</source>
        <extracomment>Notice on the alias sheet while the public leaderboard is switched off</extracomment>
        <translation>La classifica non è ancora attiva. Il tuo alias è salvato solo su questo dispositivo — non viene inviato né pubblicato nulla. Finché la classifica è disattivata puoi cambiare l’alias tutte le volte che vuoi; il blocco di sei mesi scatta quando diventa attiva.</translation>
    </message>
    <message>
        <source>I understand my alias will be published publicly, may be searchable and cached permanently, and I agree to the referral rules.</source>
        <extracomment>Consent sentence beside the check box that allows saving the alias</extracomment>
        <translation>Ho capito che il mio alias sarà pubblicato, potrà essere trovato con le ricerche e restare in cache per sempre, e accetto il regolamento del programma inviti.</translation>
    </message>
    <message>
        <source>Saving…</source>
        <extracomment>Save button of the alias sheet while the alias is being stored</extracomment>
        <translation>Salvataggio…</translation>
    </message>
    <message>
        <source>Change my alias</source>
        <extracomment>Save button when an alias is already stored</extracomment>
        <translation>Cambia il mio alias</translation>
    </message>
    <message>
        <source>Set my alias</source>
        <extracomment>Save button when no alias is stored yet</extracomment>
        <translation>Imposta il mio alias</translation>
    </message>
    <message>
        <source>Remove my alias</source>
        <extracomment>Removes the stored leaderboard alias</extracomment>
        <translation>Rimuovi il mio alias</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>Closes the alias sheet while the alias cannot be changed</extracomment>
        <translation>Chiudi</translation>
    </message>
    <message>
        <source>Not now</source>
        <extracomment>Closes the alias sheet without saving</extracomment>
        <translation>Non ora</translation>
    </message>
</context>
<context>
    <name>EngineBridge</name>
    <message>
        <source>Version %1 (build: %2)</source>
        <extracomment>The version line of the start screen; %1 is the version, %2 the build number.</extracomment>
        <translation>Versione %1 (build: %2)</translation>
    </message>
    <message>
        <source>Sharing is still stopping. Try again in a moment.</source>
        <extracomment>Toast when Live Share is started again before its last stop has finished</extracomment>
        <translation>La condivisione si sta ancora fermando. Riprova tra un attimo.</translation>
    </message>
</context>
<context>
    <name>InviteCodeSheet</name>
    <message>
        <source>Got an invite code?</source>
        <extracomment>Heading of the sheet that asks a new user for the code of whoever invited them</extracomment>
        <translation>Hai un codice invito?</translation>
    </message>
    <message>
        <source>Paste your mate&apos;s code so they get credit.</source>
        <extracomment>Under the heading of the invite code sheet; a mate is a friend</extracomment>
        <translation>Incolla il codice di chi ti ha invitato, così l’invito viene conteggiato.</translation>
    </message>
    <message>
        <source>XXXX-XXXX</source>
        <extracomment>Placeholder of the invite code field: the shape of a code, keep it as it is</extracomment>
        <translation>XXXX-XXXX</translation>
    </message>
    <message>
        <source>Pasted</source>
        <extracomment>Paste button after a paste or typing filled the field</extracomment>
        <translation>Incollato</translation>
    </message>
    <message>
        <source>Paste code</source>
        <extracomment>Button that takes an invite code from the clipboard</extracomment>
        <translation>Incolla codice</translation>
    </message>
    <message>
        <source>Nothing that looks like a code on your clipboard. You can type it instead.</source>
        <extracomment>Shown when the clipboard holds nothing shaped like an invite code</extracomment>
        <translation>Negli appunti non c’è niente che sembri un codice. Puoi sempre digitarlo.</translation>
    </message>
    <message>
        <source>Saving…</source>
        <extracomment>Continue button of the invite code sheet while the code is being stored</extracomment>
        <translation>Salvataggio…</translation>
    </message>
    <message>
        <source>Continue</source>
        <extracomment>Button that stores the entered invite code</extracomment>
        <translation>Continua</translation>
    </message>
    <message>
        <source>I don&apos;t have one</source>
        <extracomment>Declines the invite code question for good</extracomment>
        <translation>Non ce l’ho</translation>
    </message>
</context>
<context>
    <name>LanguageSheet</name>
    <message>
        <source>Language</source>
        <extracomment>Title of the language picker</extracomment>
        <translation>Lingua</translation>
    </message>
    <message>
        <source>APP LANGUAGE</source>
        <extracomment>Language picker: heading of the interface languages</extracomment>
        <translation>LINGUA DELL’APP</translation>
    </message>
    <message>
        <source>RECORDING LANGUAGE</source>
        <extracomment>Language picker: heading of the languages for words printed on recordings</extracomment>
        <translation>LINGUA DELLE REGISTRAZIONI</translation>
    </message>
    <message>
        <source>The words printed on your recordings: the title card, the closing card and the LIVE badge.</source>
        <extracomment>Language picker: explains the recording language</extracomment>
        <translation>Le scritte che compaiono sulle tue registrazioni: la schermata del titolo, quella di chiusura e l’etichetta IN DIRETTA.</translation>
    </message>
    <message>
        <source>Same as the app</source>
        <extracomment>Language picker: the recording language follows the app language</extracomment>
        <translation>Come l’app</translation>
    </message>
    <message>
        <source>Done</source>
        <extracomment>Language picker: closes it</extracomment>
        <translation>Fatto</translation>
    </message>
</context>
<context>
    <name>Layouts</name>
    <message>
        <source>1 Screen</source>
        <extracomment>Layout tile name: a single full-size screen</extracomment>
        <translation>1 schermo</translation>
    </message>
    <message>
        <source>2 Side by Side</source>
        <extracomment>Layout tile name: two screens next to each other</extracomment>
        <translation>2 affiancati</translation>
    </message>
    <message>
        <source>2 Stacked</source>
        <extracomment>Layout tile name: two screens one above the other</extracomment>
        <translation>2 in colonna</translation>
    </message>
    <message>
        <source>3 — 2 Above</source>
        <extracomment>Layout tile name: three screens, two on the top row and one below</extracomment>
        <translation>3 — 2 sopra</translation>
    </message>
    <message>
        <source>3 — 1 Above</source>
        <extracomment>Layout tile name: three screens, one on the top row and two below</extracomment>
        <translation>3 — 1 sopra</translation>
    </message>
    <message>
        <source>3 Across</source>
        <extracomment>Layout tile name: three screens in one row</extracomment>
        <translation>3 in fila</translation>
    </message>
    <message>
        <source>4 Screens</source>
        <extracomment>Layout tile name: four screens in a 2 by 2 grid</extracomment>
        <translation>4 schermi</translation>
    </message>
</context>
<context>
    <name>LiveShareSheet</name>
    <message>
        <source>Tavrix live stream

%1

In OBS: add a Media Source, untick &quot;Local File&quot;, and paste that URL. Room code %2.</source>
        <extracomment>The message copied for someone who sets up OBS. Keep the line breaks: a heading, an empty line, %1 (the stream address), an empty line and the instructions ending with %2 (the room code). &quot;Media Source&quot; and &quot;Local File&quot; are OBS&apos;s own names: use OBS&apos;s wording in this language.</extracomment>
        <translation>Diretta Tavrix

%1

In OBS: aggiungi una Fonte multimediale, deseleziona &quot;File locale&quot; e incolla questo URL. Codice stanza %2.</translation>
    </message>
    <message>
        <source>LIVE SHARE</source>
        <extracomment>Title of the Live Share sheet</extracomment>
        <translation>LIVE SHARE</translation>
    </message>
    <message>
        <source>Show this computer&apos;s replay on a laptop on the same network — for OBS, a stream, or a big screen in the clubhouse.</source>
        <extracomment>Live Share: what sharing does, before it is started</extracomment>
        <translation>Mostra il replay di questo computer su un portatile nella stessa rete — per OBS, una diretta o un maxischermo nella club house.</translation>
    </message>
    <message>
        <source>Anyone on this network who has the room code can watch your camera. This opens a port on whatever network you&apos;re on. Turn sharing off when you&apos;re done.</source>
        <extracomment>Live Share: the privacy warning shown before sharing starts</extracomment>
        <translation>Chiunque sia su questa rete e abbia il codice stanza può vedere la tua videocamera. Viene aperta una porta sulla rete a cui sei connesso, qualunque sia. Disattiva la condivisione quando hai finito.</translation>
    </message>
    <message>
        <source>Starting…</source>
        <extracomment>Live Share: the start button while sharing starts</extracomment>
        <translation>Avvio…</translation>
    </message>
    <message>
        <source>Start sharing</source>
        <extracomment>Live Share: the button that starts sharing</extracomment>
        <translation>Avvia condivisione</translation>
    </message>
    <message numerus="yes">
        <source>SHARING · %n watching</source>
        <extracomment>Live Share status; %n is the number of people watching the stream</extracomment>
        <translation>
            <numerusform>IN CONDIVISIONE · %n spettatore</numerusform>
            <numerusform>IN CONDIVISIONE · %n spettatori</numerusform>
        </translation>
    </message>
    <message>
        <source>ROOM CODE</source>
        <extracomment>Live Share: label above the room code</extracomment>
        <translation>CODICE STANZA</translation>
    </message>
    <message>
        <source>Not case sensitive, and it stays the same every session — so the address you put into OBS keeps working.</source>
        <extracomment>Live Share: note under the room code</extracomment>
        <translation>Non distingue tra maiuscole e minuscole e resta uguale a ogni sessione — così l’indirizzo che hai inserito in OBS continua a funzionare.</translation>
    </message>
    <message>
        <source>Change code</source>
        <extracomment>Live Share: link that makes a new room code</extracomment>
        <translation>Cambia codice</translation>
    </message>
    <message>
        <source>ADDRESS FOR OBS</source>
        <extracomment>Live Share: label above the stream address; OBS is a streaming application</extracomment>
        <translation>INDIRIZZO PER OBS</translation>
    </message>
    <message>
        <source>IN OBS</source>
        <extracomment>Live Share: heading of the OBS steps; OBS is a streaming application</extracomment>
        <translation>IN OBS</translation>
    </message>
    <message>
        <source>1. Sources → + → Media Source</source>
        <extracomment>OBS step 1. &quot;Sources&quot; and &quot;Media Source&quot; are OBS&apos;s own names: use OBS&apos;s wording in this language</extracomment>
        <translation>1. Fonti → + → Fonte multimediale</translation>
    </message>
    <message>
        <source>2. Untick “Local File”</source>
        <extracomment>OBS step 2. &quot;Local File&quot; is OBS&apos;s own name: use OBS&apos;s wording in this language</extracomment>
        <translation>2. Deseleziona “File locale”</translation>
    </message>
    <message>
        <source>3. Paste the address into Input</source>
        <extracomment>OBS step 3. &quot;Input&quot; is OBS&apos;s own name: use OBS&apos;s wording in this language</extracomment>
        <translation>3. Incolla l’indirizzo nel campo Input</translation>
    </message>
    <message>
        <source>4. Drag Network Buffering down to 0 MB</source>
        <extracomment>OBS step 4. &quot;Network Buffering&quot; is OBS&apos;s own name: use OBS&apos;s wording in this language</extracomment>
        <translation>4. Porta Buffering della rete a 0 MB</translation>
    </message>
    <message>
        <source>Step 4 matters: OBS defaults to a 2 MB buffer, which at this bitrate is several seconds of delay. Video only — add your microphone in OBS as its own source.</source>
        <extracomment>Live Share: why OBS step 4 matters</extracomment>
        <translation>Il passaggio 4 è importante: OBS usa di default un buffer di 2 MB, che a questo bitrate significa diversi secondi di ritardo. Solo video — aggiungi il microfono in OBS come fonte separata.</translation>
    </message>
    <message>
        <source>Copied</source>
        <extracomment>Live Share: the copy button just after the address was copied</extracomment>
        <translation>Copiato</translation>
    </message>
    <message>
        <source>Copy address</source>
        <extracomment>Live Share: button that copies the stream address</extracomment>
        <translation>Copia indirizzo</translation>
    </message>
    <message>
        <source>Copy a message to send</source>
        <extracomment>Live Share: button that copies a message with the address and the OBS steps</extracomment>
        <translation>Copia un messaggio da inviare</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <extracomment>Live Share: the stop button while sharing stops</extracomment>
        <translation>Arresto…</translation>
    </message>
    <message>
        <source>Stop sharing</source>
        <extracomment>Live Share: the button that stops sharing</extracomment>
        <translation>Interrompi condivisione</translation>
    </message>
    <message>
        <source>Could not start sharing.</source>
        <extracomment>Live Share: shown under the button when sharing could not start</extracomment>
        <translation>Impossibile avviare la condivisione.</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Tavrix</source>
        <extracomment>Title of the application window</extracomment>
        <translation>Tavrix</translation>
    </message>
</context>
<context>
    <name>MenuDrawer</name>
    <message>
        <source>DEFAULT PANEL LAYOUT</source>
        <extracomment>Menu section caption: how many panels the session shows</extracomment>
        <translation>LAYOUT PREDEFINITO DEGLI SCHERMI</translation>
    </message>
    <message>
        <source>CAPTURE QUALITY</source>
        <extracomment>Menu section caption: the camera&apos;s capture resolution</extracomment>
        <translation>QUALITÀ DI ACQUISIZIONE</translation>
    </message>
    <message>
        <source>Higher resolution looks sharper but costs more memory and CPU per frame.</source>
        <extracomment>Menu: explains the capture quality buttons</extracomment>
        <translation>Una risoluzione più alta dà un’immagine più nitida, ma richiede più memoria e CPU per ogni fotogramma.</translation>
    </message>
    <message>
        <source>Locked while recording.</source>
        <extracomment>Menu: added after a description while capture settings cannot change</extracomment>
        <translation>Non modificabile durante la registrazione.</translation>
    </message>
    <message>
        <source>REPLAY BUFFER</source>
        <extracomment>Menu section caption: how many seconds of video are kept for replay</extracomment>
        <translation>BUFFER DI REPLAY</translation>
    </message>
    <message>
        <source>How far back the delay slider can reach. Longer needs more RAM for the ring buffer.</source>
        <extracomment>Menu: explains the replay buffer buttons</extracomment>
        <translation>Fin dove può arrivare indietro il cursore del ritardo. Più è lungo, più RAM serve per il buffer circolare.</translation>
    </message>
    <message>
        <source>%1s</source>
        <extracomment>Menu: a replay buffer length; %1 is a number of seconds</extracomment>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>DUAL CAMERA</source>
        <extracomment>Menu section caption: using two cameras at once</extracomment>
        <translation>DOPPIA VIDEOCAMERA</translation>
    </message>
    <message>
        <source>Run two cameras together, then set each panel&apos;s source with the button on the panel itself. Capture drops to 720p while both are running.</source>
        <extracomment>Menu: explains the dual camera buttons</extracomment>
        <translation>Usa due videocamere insieme, poi scegli la videocamera di ogni schermo con il pulsante sullo schermo stesso. Finché sono attive entrambe, l’acquisizione scende a 720p.</translation>
    </message>
    <message>
        <source>One camera</source>
        <extracomment>Menu: dual camera option that uses a single camera</extracomment>
        <translation>Una videocamera</translation>
    </message>
    <message>
        <source>Both</source>
        <extracomment>Menu: dual camera option that uses both cameras</extracomment>
        <translation>Entrambe</translation>
    </message>
    <message>
        <source>LIVE SHARE</source>
        <extracomment>Menu section caption: streaming the replay on the local network</extracomment>
        <translation>LIVE SHARE</translation>
    </message>
    <message>
        <source>Show this replay on a computer</source>
        <extracomment>Menu entry that opens the Live Share sheet</extracomment>
        <translation>Mostra questo replay su un computer</translation>
    </message>
    <message>
        <source>MORE</source>
        <extracomment>Menu section caption: tour, language and web pages</extracomment>
        <translation>ALTRO</translation>
    </message>
    <message>
        <source>Language</source>
        <extracomment>Menu entry that opens the language picker</extracomment>
        <translation>Lingua</translation>
    </message>
    <message>
        <source>User guide</source>
        <extracomment>Menu entry that opens the user guide web page</extracomment>
        <translation>Guida utente</translation>
    </message>
    <message>
        <source>Privacy</source>
        <extracomment>Menu entry that opens the privacy web page</extracomment>
        <translation>Privacy</translation>
    </message>
    <message>
        <source>About</source>
        <extracomment>Menu entry that opens the product&apos;s web page</extracomment>
        <translation>Informazioni</translation>
    </message>
</context>
<context>
    <name>ReferralStore</name>
    <message>
        <source>That doesn’t look like an invite code. They look like WZ9Z-3WGP.</source>
        <extracomment>Refusal of an inviter&apos;s code; WZ9Z-3WGP is an example code, keep it as it is</extracomment>
        <translation>Non sembra un codice invito. I codici sono fatti così: WZ9Z-3WGP.</translation>
    </message>
    <message>
        <source>That’s your own code. Ask your mate for theirs.</source>
        <extracomment>Refusal when the user enters their own invite code as the inviter&apos;s</extracomment>
        <translation>Questo è il tuo codice. Chiedi quello di chi ti ha invitato.</translation>
    </message>
    <message>
        <source>Aliases need at least %1 characters.</source>
        <extracomment>Refusal of a leaderboard alias; %1 is the fewest characters allowed</extracomment>
        <translation>L’alias deve avere almeno %1 caratteri.</translation>
    </message>
    <message>
        <source>Aliases can be at most %1 characters.</source>
        <extracomment>Refusal of a leaderboard alias; %1 is the most characters allowed</extracomment>
        <translation>L’alias può avere al massimo %1 caratteri.</translation>
    </message>
    <message>
        <source>Use letters and numbers only, with single spaces, hyphens or underscores between them.</source>
        <extracomment>Refusal of a leaderboard alias with characters or separators not allowed</extracomment>
        <translation>Usa solo lettere e numeri, separati da un singolo spazio, trattino o trattino basso.</translation>
    </message>
    <message>
        <source>That looks like contact details. Your alias is public — pick something that is not an email, phone number or web address.</source>
        <extracomment>Refusal of a leaderboard alias that looks like an email, phone number or web address</extracomment>
        <translation>Sembra un recapito personale. Il tuo alias è pubblico — scegline uno che non sia un’email, un numero di telefono o un indirizzo web.</translation>
    </message>
    <message numerus="yes">
        <source>This alias is locked for another %n day(s).</source>
        <extracomment>Refusal to change or remove a locked leaderboard alias; %n is the number of days left</extracomment>
        <translation>
            <numerusform>Questo alias è bloccato ancora per %n giorno.</numerusform>
            <numerusform>Questo alias è bloccato ancora per %n giorni.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SavedCard</name>
    <message>
        <source>Interrupted — but saved</source>
        <extracomment>Saved card title when a lost camera cut the recording short but the file was kept</extracomment>
        <translation>Interrotta — ma salvata</translation>
    </message>
    <message>
        <source>Successfully saved</source>
        <extracomment>Saved card title after a recording was written to disk</extracomment>
        <translation>Salvata correttamente</translation>
    </message>
    <message>
        <source>Open folder</source>
        <extracomment>Saved card button that opens the recordings folder in the file manager</extracomment>
        <translation>Apri cartella</translation>
    </message>
    <message>
        <source>Copy path</source>
        <extracomment>Saved card button that copies the recording&apos;s full file path to the clipboard</extracomment>
        <translation>Copia percorso</translation>
    </message>
    <message>
        <source>Share link</source>
        <extracomment>Saved card button that copies the Live Share link to the recordings page</extracomment>
        <translation>Condividi link</translation>
    </message>
    <message>
        <source>Turn on Live Share to get a link</source>
        <extracomment>Saved card button shown while Live Share is off; opens the Live Share sheet</extracomment>
        <translation>Attiva Live Share per avere un link</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>Saved card button that closes the card</extracomment>
        <translation>Chiudi</translation>
    </message>
</context>
<context>
    <name>SessionForm</name>
    <message>
        <source>Practice</source>
        <extracomment>Session type choice on the session form</extracomment>
        <translation>Allenamento</translation>
    </message>
    <message>
        <source>Assessment</source>
        <extracomment>Session type choice on the session form</extracomment>
        <translation>Valutazione</translation>
    </message>
    <message>
        <source>Competition</source>
        <extracomment>Session type choice on the session form</extracomment>
        <translation>Gara</translation>
    </message>
    <message>
        <source>Warm-up</source>
        <extracomment>Session type choice on the session form</extracomment>
        <translation>Riscaldamento</translation>
    </message>
    <message>
        <source>Technique drill</source>
        <extracomment>Session type choice on the session form</extracomment>
        <translation>Esercizio tecnico</translation>
    </message>
    <message>
        <source>Other</source>
        <extracomment>Session type choice on the session form (anything else)</extracomment>
        <translation>Altro</translation>
    </message>
    <message>
        <source>SESSION DETAILS</source>
        <extracomment>Heading of the form asked before a recording</extracomment>
        <translation>DETTAGLI SESSIONE</translation>
    </message>
    <message>
        <source>Shown on the video for the first 5 seconds, then fades.</source>
        <extracomment>Explains where the form&apos;s answers appear</extracomment>
        <translation>Compare sul video per i primi 5 secondi, poi sfuma.</translation>
    </message>
    <message>
        <source>Player / participant</source>
        <extracomment>Caption of the player name field</extracomment>
        <translation>Giocatore / partecipante</translation>
    </message>
    <message>
        <source>e.g. John Smith</source>
        <extracomment>Example name shown greyed out in the empty field</extracomment>
        <translation>es. Mario Rossi</translation>
    </message>
    <message>
        <source>Coach (optional)</source>
        <extracomment>Caption of the coach name field</extracomment>
        <translation>Allenatore (facoltativo)</translation>
    </message>
    <message>
        <source>e.g. Jane Doe</source>
        <extracomment>Example name shown greyed out in the empty field</extracomment>
        <translation>es. Giulia Bianchi</translation>
    </message>
    <message>
        <source>Session type</source>
        <extracomment>Caption of the session type buttons</extracomment>
        <translation>Tipo di sessione</translation>
    </message>
    <message>
        <source>Custom title (optional)</source>
        <extracomment>Caption of the custom title field</extracomment>
        <translation>Titolo personalizzato (facoltativo)</translation>
    </message>
    <message>
        <source>e.g. Tuesday doubles practice</source>
        <extracomment>Example title shown greyed out in the empty field</extracomment>
        <translation>es. Allenamento di doppio del martedì</translation>
    </message>
    <message>
        <source>Notes (optional)</source>
        <extracomment>Caption of the notes field</extracomment>
        <translation>Note (facoltative)</translation>
    </message>
    <message>
        <source>e.g. Working on follow-through and stance</source>
        <extracomment>Example note shown greyed out in the empty field</extracomment>
        <translation>es. Lavoro sull’accompagnamento e sulla posizione</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Closes the form without recording</extracomment>
        <translation>Annulla</translation>
    </message>
    <message>
        <source>Start Recording</source>
        <extracomment>Button that closes the form and starts the recording</extracomment>
        <translation>Avvia registrazione</translation>
    </message>
</context>
<context>
    <name>SessionScreen</name>
    <message>
        <source>Exit</source>
        <extracomment>Toolbar button that ends the session and returns to the start screen</extracomment>
        <translation>Esci</translation>
    </message>
    <message>
        <source>STOP %1</source>
        <extracomment>Toolbar button label while a recording runs. %1 is the elapsed time, e.g. 0:42</extracomment>
        <translation>STOP %1</translation>
    </message>
    <message>
        <source>SAVING…</source>
        <extracomment>Toolbar button label while the finished recording is being written to disk</extracomment>
        <translation>SALVATAGGIO…</translation>
    </message>
    <message>
        <source>REC</source>
        <extracomment>Toolbar button that starts a recording (short for record)</extracomment>
        <translation>REC</translation>
    </message>
    <message>
        <source>Camera disconnected — waiting for it to come back</source>
        <extracomment>Banner while a camera of the session delivers nothing and is being reconnected</extracomment>
        <translation>Videocamera scollegata — in attesa che torni disponibile</translation>
    </message>
    <message>
        <source>Camera feed has stalled</source>
        <extracomment>Banner while no camera picture has arrived for a while</extracomment>
        <translation>Il segnale della videocamera si è bloccato</translation>
    </message>
    <message>
        <source>No camera detected.</source>
        <extracomment>Shown on a session panel in place of the picture when no camera was found</extracomment>
        <translation>Nessuna videocamera rilevata.</translation>
    </message>
</context>
<context>
    <name>StartScreen</name>
    <message>
        <source>Take the tour</source>
        <extracomment>Start-screen button that starts the walkthrough
----------
Button that starts the guided tour of the app</extracomment>
        <translation>Fai il tour</translation>
    </message>
    <message>
        <source>Watch yourself train, seconds after you do it. Tavrix plays your camera back on a delay so you can check your own technique between reps — no one has to film you.

%1</source>
        <extracomment>Invitation text copied to the clipboard and pasted into a message. %1 is the invite link</extracomment>
        <translation>Guardati allenare, pochi secondi dopo ogni gesto. Tavrix riproduce la tua videocamera in ritardo così puoi controllare la tua tecnica tra una ripetizione e l’altra — senza che nessuno debba filmarti.

%1</translation>
    </message>
    <message>
        <source>Message copied — paste it anywhere</source>
        <extracomment>Toast after the invitation was copied</extracomment>
        <translation>Messaggio copiato — incollalo dove vuoi</translation>
    </message>
    <message>
        <source>Copied</source>
        <extracomment>Toast after the invite code was copied</extracomment>
        <translation>Copiato</translation>
    </message>
    <message>
        <source>Choose your view</source>
        <extracomment>Heading above the layout tiles. The tour step has the same title</extracomment>
        <translation>Scegli la vista</translation>
    </message>
    <message>
        <source>CAMERA</source>
        <extracomment>Caption above the camera list on the start screen</extracomment>
        <translation>VIDEOCAMERA</translation>
    </message>
    <message>
        <source>No camera detected.</source>
        <extracomment>Shown in place of the camera list when the probe found none</extracomment>
        <translation>Nessuna videocamera rilevata.</translation>
    </message>
    <message>
        <source>Detecting cameras…</source>
        <extracomment>Shown in place of the camera list while cameras are being probed</extracomment>
        <translation>Ricerca delle videocamere…</translation>
    </message>
    <message>
        <source>RESOLUTION</source>
        <extracomment>Caption above the capture height buttons on the start screen</extracomment>
        <translation>RISOLUZIONE</translation>
    </message>
    <message>
        <source>Share with a mate</source>
        <extracomment>Button on the start screen. The tour step about it has the same title</extracomment>
        <translation>Condividi con un amico</translation>
    </message>
    <message>
        <source>YOUR INVITE CODE</source>
        <extracomment>Caption above the user&apos;s own invite code</extracomment>
        <translation>IL TUO CODICE INVITO</translation>
    </message>
    <message>
        <source>Copy</source>
        <extracomment>Button that copies the invite code to the clipboard</extracomment>
        <translation>Copia</translation>
    </message>
    <message>
        <source>Add leaderboard alias</source>
        <extracomment>Start-screen button that opens the alias sheet when no alias is set</extracomment>
        <translation>Aggiungi un alias in classifica</translation>
    </message>
    <message>
        <source>My recordings</source>
        <extracomment>Start-screen button that opens the recordings folder</extracomment>
        <translation>Le mie registrazioni</translation>
    </message>
    <message>
        <source>Language</source>
        <extracomment>Start-screen button that opens the language picker</extracomment>
        <translation>Lingua</translation>
    </message>
</context>
<context>
    <name>TourSteps</name>
    <message>
        <source>Next</source>
        <extracomment>Tour card button: go on to the next step</extracomment>
        <translation>Avanti</translation>
    </message>
    <message>
        <source>Back</source>
        <extracomment>Tour card button: go back to the previous step</extracomment>
        <translation>Indietro</translation>
    </message>
    <message>
        <source>Done</source>
        <extracomment>Tour card button on the last step: end the tour</extracomment>
        <translation>Fine</translation>
    </message>
    <message>
        <source>Start</source>
        <extracomment>Tour card button that opens a session with the tour; the layout step&apos;s text refers to it as &quot;Start&quot;</extracomment>
        <translation>Inizia</translation>
    </message>
    <message>
        <source>Skip tour</source>
        <extracomment>Tour card link: end the tour now</extracomment>
        <translation>Salta il tour</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <extracomment>Tour step counter: %1 is this step&apos;s number, %2 the total number of steps</extracomment>
        <translation>%1 di %2</translation>
    </message>
    <message>
        <source>Welcome to Tavrix</source>
        <extracomment>Tour title of the first card</extracomment>
        <translation>Ti diamo il benvenuto in Tavrix</translation>
    </message>
    <message>
        <source>Watch your own technique seconds after you do it. This quick tour shows the main controls and takes about a minute.

You can skip it at any time. To see it again, choose Take the tour on the start screen or in the menu.</source>
        <extracomment>Tour text of the first card. &quot;Take the tour&quot; must match the button of that name on the start screen and in the menu</extracomment>
        <translation>Rivedi la tua tecnica pochi secondi dopo il gesto. Questo breve tour ti mostra i comandi principali e dura circa un minuto.

Puoi saltarlo in qualsiasi momento. Per rivederlo, scegli «Fai il tour» nella schermata iniziale o nel menu.</translation>
    </message>
    <message>
        <source>Share with a mate</source>
        <extracomment>Tour title; must match the start screen&apos;s button &quot;Share with a mate&quot;</extracomment>
        <translation>Condividi con un amico</translation>
    </message>
    <message>
        <source>Know someone who would use this? One click copies a ready-to-send invite message with your personal code. Paste it into a message or an email.</source>
        <extracomment>Tour text about the invite button and the user&apos;s own invite code</extracomment>
        <translation>Conosci qualcuno a cui potrebbe servire? Con un clic copi un messaggio d’invito pronto da inviare, con il tuo codice personale. Incollalo in un messaggio o in un’email.</translation>
    </message>
    <message>
        <source>My recordings</source>
        <extracomment>Tour title; must match the start screen&apos;s button &quot;My recordings&quot;</extracomment>
        <translation>Le mie registrazioni</translation>
    </message>
    <message>
        <source>Opens the folder where your saved sessions go.</source>
        <extracomment>Tour text about the &quot;My recordings&quot; button</extracomment>
        <translation>Apre la cartella in cui vengono salvate le tue sessioni.</translation>
    </message>
    <message>
        <source>Pick a camera</source>
        <extracomment>Tour title about the camera picker and the resolution buttons</extracomment>
        <translation>Scegli una videocamera</translation>
    </message>
    <message>
        <source>Webcams and other USB cameras all work. If yours is not listed, check that it is plugged in and not already in use by another app.

720p suits most setups. Higher resolutions need a faster USB port, a stronger computer and a camera that supports them.</source>
        <extracomment>Tour text about the camera picker and the resolution buttons; 720p is a capture resolution</extracomment>
        <translation>Funzionano tutte le webcam e le altre videocamere USB. Se la tua non è nell’elenco, controlla che sia collegata e che non sia già usata da un’altra app.

720p va bene nella maggior parte dei casi. Le risoluzioni più alte richiedono una porta USB più veloce, un computer più potente e una videocamera che le supporti.</translation>
    </message>
    <message>
        <source>Choose your view</source>
        <extracomment>Tour title; must match the start screen&apos;s heading &quot;Choose your view&quot;</extracomment>
        <translation>Scegli la vista</translation>
    </message>
    <message>
        <source>Pick how many screens you want and how they are arranged. Each screen can show the camera live, or a few seconds behind.

Press Start to open a view with the tour, or click any view yourself. The tour carries on inside.</source>
        <extracomment>Tour text about the layout tiles; &quot;Start&quot; must match the tour card&apos;s Start button</extracomment>
        <translation>Scegli quanti schermi vuoi e come disporli. Ogni schermo può mostrare la videocamera in diretta o con qualche secondo di ritardo.

Premi «Inizia» per aprire una vista con il tour, oppure fai clic tu su una vista qualsiasi. Il tour continua all’interno.</translation>
    </message>
    <message>
        <source>Set the delay</source>
        <extracomment>Tour title about a screen&apos;s delay slider</extracomment>
        <translation>Imposta il ritardo</translation>
    </message>
    <message numerus="yes">
        <source>This is the heart of Tavrix. Drag the slider to play a screen that many seconds behind live, up to %n second(s). With more than one screen, leave one live and slide another back.

Do your rep, glance up, and watch it play back automatically.</source>
        <extracomment>Tour text about the delay slider; %n is the largest delay in seconds that the slider allows</extracomment>
        <translation>
            <numerusform>Questo è il cuore di Tavrix. Trascina il cursore per mostrare uno schermo in ritardo di altrettanti secondi rispetto alla diretta, fino a %n secondo. Con più schermi, lasciane uno in diretta e sposta indietro un altro.

Esegui la ripetizione, alza lo sguardo e rivedila in automatico.</numerusform>
            <numerusform>Questo è il cuore di Tavrix. Trascina il cursore per mostrare uno schermo in ritardo di altrettanti secondi rispetto alla diretta, fino a %n secondi. Con più schermi, lasciane uno in diretta e sposta indietro un altro.

Esegui la ripetizione, alza lo sguardo e rivedila in automatico.</numerusform>
        </translation>
    </message>
    <message>
        <source>Zoom and pan</source>
        <extracomment>Tour title about a screen&apos;s zoom buttons</extracomment>
        <translation>Zoom e spostamento</translation>
    </message>
    <message>
        <source>Zoom in on the release point or the foot line with + and −. Each screen zooms on its own, and once zoomed you can drag the picture to move around. The house button puts it back.</source>
        <extracomment>Tour text; &quot;+ and −&quot; are the zoom buttons&apos; symbols and stay as they are; the house button is the reset button</extracomment>
        <translation>Ingrandisci il punto di rilascio o l’appoggio dei piedi sulla linea con + e −. Ogni schermo ha il suo zoom e, dopo aver ingrandito, puoi trascinare l’immagine per spostarti. Il pulsante con la casetta la riporta com’era.</translation>
    </message>
    <message>
        <source>Rotate and switch camera</source>
        <extracomment>Tour title about the rotate and camera-switch buttons</extracomment>
        <translation>Ruota e cambia videocamera</translation>
    </message>
    <message>
        <source>Turn a sideways camera upright with the rotate button. If you have more than one camera, the arrows button switches this screen to the other one.</source>
        <extracomment>Tour text; refers to the rotate button and to the camera-switch button with two arrows</extracomment>
        <translation>Raddrizza una videocamera montata di lato con il pulsante di rotazione. Se hai più di una videocamera, il pulsante con le frecce passa questo schermo all’altra.</translation>
    </message>
    <message>
        <source>Change the layout any time</source>
        <extracomment>Tour title about the panel-count buttons and the layout-cycle button</extracomment>
        <translation>Cambia layout quando vuoi</translation>
    </message>
    <message>
        <source>Switch between 1 and 4 screens here, and the grid button next to it cycles through the arrangements. The keys 1 to 4 do the same.</source>
        <extracomment>Tour text; &quot;1 to 4&quot; are the number keys; the grid button cycles through the layouts</extracomment>
        <translation>Qui passi da 1 a 4 schermi, e il pulsante con la griglia lì accanto scorre le varie disposizioni. I tasti da 1 a 4 fanno lo stesso.</translation>
    </message>
    <message>
        <source>Record a session</source>
        <extracomment>Tour title about the record button</extracomment>
        <translation>Registra una sessione</translation>
    </message>
    <message>
        <source>Records every screen together into one MP4, with sound from your microphone if one is available. It opens with a title card for the player, coach and session type, and ends with a closing card showing the session length.

When you stop, the video is saved to your Videos folder and a card lets you open it. Press R to start or stop.</source>
        <extracomment>Tour text; &quot;R&quot; is the record key and must match it; the Videos folder is the user&apos;s system Videos folder</extracomment>
        <translation>Registra tutti gli schermi insieme in un unico MP4, con l’audio del microfono se ce n’è uno. Si apre con la schermata del titolo con giocatore, allenatore e tipo di sessione, e si chiude con la schermata di chiusura che mostra la durata della sessione.

Quando ti fermi, il video viene salvato nella tua cartella Video e una scheda ti permette di aprirlo. Premi R per avviare o fermare.</translation>
    </message>
    <message>
        <source>Show it on another computer</source>
        <extracomment>Tour title about the Live Share button</extracomment>
        <translation>Mostralo su un altro computer</translation>
    </message>
    <message>
        <source>Sends the live picture across your network so OBS, or a browser on another computer, can show it. It only runs while it is switched on, so use it only on a network you trust.</source>
        <extracomment>Tour text about Live Share; OBS is a streaming program and keeps its name</extracomment>
        <translation>Invia l’immagine in diretta sulla tua rete, così OBS o un browser su un altro computer possono mostrarla. Funziona solo finché è attivo, quindi usalo solo su una rete di cui ti fidi.</translation>
    </message>
    <message>
        <source>Menu and help</source>
        <extracomment>Tour title about the session menu button</extracomment>
        <translation>Menu e guida</translation>
    </message>
    <message>
        <source>Change the quality and how much is kept for replay, open the user guide, or take this tour again from here.

That is everything. Happy training.</source>
        <extracomment>Tour text of the last card, about the session menu</extracomment>
        <translation>Da qui puoi cambiare la qualità e quanto viene conservato per il replay, aprire la guida utente o rifare questo tour.

È tutto. Buon allenamento!</translation>
    </message>
</context>
</TS>
