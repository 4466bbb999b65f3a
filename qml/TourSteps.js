.pragma library

// The walkthrough's steps and every word its card shows. Shared and
// stateless: it cannot see `Lang`, so ui() and text() translate at each call
// and return a fresh record, and a binding that shows their words must also
// read Lang.uiLanguage to be evaluated again after a language change.
//
// A step: `id` (key of its words in text()), `screen` ("start" or "session"),
// optional `targets` (objectNames, or {name, prefer} taking the prefer-th
// visible match from 0; no targets means a centred card), optional `enter`
// (its button reads Start and opens a session) and optional `interactive`
// (clicks pass through the spotlight).

function step(id, screen, targets, flags) {
    var record = { id: id, screen: screen };
    if (targets)
        record.targets = Object.freeze(targets.map(function (t) {
            return typeof t === "string" ? t : Object.freeze(t);
        }));
    if (flags && flags.enter)
        record.enter = true;
    if (flags && flags.interactive)
        record.interactive = true;
    return Object.freeze(record);
}

// Frozen: every tour shares these records.
var STEPS = Object.freeze([
    step("welcome", "start"),
    step("share", "start", ["tour-share", "tour-code"]),
    step("recordings", "start", ["tour-recordings"]),
    step("source", "start", ["tour-source"]),
    step("layout", "start", ["tour-layouts"], { enter: true, interactive: true }),
    // The second visible slider: in a two-panel view, a panel that is not live.
    step("delay", "session", [{ name: "tour-delay", prefer: 1 }]),
    step("zoom", "session", ["tour-zoom"]),
    step("adjust", "session", ["tour-rotate", "tour-flip"]),
    step("screens", "session", ["tour-screens", "tour-variant"]),
    step("record", "session", ["tour-rec"]),
    step("live", "session", ["tour-liveshare"]),
    step("menu", "session", ["tour-menu"])
]);

// The steps of one screen, in library order.
function stepsOf(screen) {
    return STEPS.filter(function (s) { return s.screen === screen; });
}

// The card's fixed words, translated now.
function ui() {
    return {
        //: Tour card button: go on to the next step
        next: qsTranslate("TourSteps", "Next"),
        //: Tour card button: go back to the previous step
        back: qsTranslate("TourSteps", "Back"),
        //: Tour card button on the last step: end the tour
        done: qsTranslate("TourSteps", "Done"),
        //: Tour card button that opens a session with the tour; the layout step's text refers to it as "Start"
        start: qsTranslate("TourSteps", "Start"),
        //: Tour card link: end the tour now
        skip: qsTranslate("TourSteps", "Skip tour"),
        //: Tour step counter: %1 is this step's number, %2 the total number of steps
        stepOf: qsTranslate("TourSteps", "%1 of %2")
    };
}

// Whole seconds for the delay text; 60 when the caller measured nothing usable.
function wholeSeconds(value) {
    var n = Math.round(Number(value));
    return isFinite(n) && n >= 1 ? n : 60;
}

// {title, body} of a step, translated now; empty texts for an unknown id.
// `maxDelay` is the live slider's largest delay in seconds (delay step only).
// In a body "\n\n" starts a new paragraph.
function text(id, maxDelay) {
    switch (id) {
    case "welcome":
        return {
            //: Tour title of the first card
            title: qsTranslate("TourSteps", "Welcome to Tavrix"),
            //: Tour text of the first card. "Take the tour" must match the button of that name on the start screen and in the menu
            body: qsTranslate("TourSteps", "Watch your own technique seconds after you do it. This quick tour shows the main controls and takes about a minute.\n\nYou can skip it at any time. To see it again, choose Take the tour on the start screen or in the menu.")
        };
    case "share":
        return {
            //: Tour title; must match the start screen's button "Share with a mate"
            title: qsTranslate("TourSteps", "Share with a mate"),
            //: Tour text about the invite button and the user's own invite code
            body: qsTranslate("TourSteps", "Know someone who would use this? One click copies a ready-to-send invite message with your personal code. Paste it into a message or an email.")
        };
    case "recordings":
        return {
            //: Tour title; must match the start screen's button "My recordings"
            title: qsTranslate("TourSteps", "My recordings"),
            //: Tour text about the "My recordings" button
            body: qsTranslate("TourSteps", "Opens the folder where your saved sessions go.")
        };
    case "source":
        return {
            //: Tour title about the camera picker and the resolution buttons
            title: qsTranslate("TourSteps", "Pick a camera"),
            //: Tour text about the camera picker and the resolution buttons; 720p is a capture resolution
            body: qsTranslate("TourSteps", "Webcams and other USB cameras all work. If yours is not listed, check that it is plugged in and not already in use by another app.\n\n720p suits most setups. Higher resolutions need a faster USB port, a stronger computer and a camera that supports them.")
        };
    case "layout":
        return {
            //: Tour title; must match the start screen's heading "Choose your view"
            title: qsTranslate("TourSteps", "Choose your view"),
            //: Tour text about the layout tiles; "Start" must match the tour card's Start button
            body: qsTranslate("TourSteps", "Pick how many screens you want and how they are arranged. Each screen can show the camera live, or a few seconds behind.\n\nPress Start to open a view with the tour, or click any view yourself. The tour carries on inside.")
        };
    case "delay":
        return {
            //: Tour title about a screen's delay slider
            title: qsTranslate("TourSteps", "Set the delay"),
            //: Tour text about the delay slider; %n is the largest delay in seconds that the slider allows
            body: qsTranslate("TourSteps", "This is the heart of Tavrix. Drag the slider to play a screen that many seconds behind live, up to %n second(s). With more than one screen, leave one live and slide another back.\n\nDo your rep, glance up, and watch it play back automatically.", "", wholeSeconds(maxDelay))
        };
    case "zoom":
        return {
            //: Tour title about a screen's zoom buttons
            title: qsTranslate("TourSteps", "Zoom and pan"),
            //: Tour text; "+ and −" are the zoom buttons' symbols and stay as they are; the house button is the reset button
            body: qsTranslate("TourSteps", "Zoom in on the release point or the foot line with + and −. Each screen zooms on its own, and once zoomed you can drag the picture to move around. The house button puts it back.")
        };
    case "adjust":
        return {
            //: Tour title about the rotate and camera-switch buttons
            title: qsTranslate("TourSteps", "Rotate and switch camera"),
            //: Tour text; refers to the rotate button and to the camera-switch button with two arrows
            body: qsTranslate("TourSteps", "Turn a sideways camera upright with the rotate button. If you have more than one camera, the arrows button switches this screen to the other one.")
        };
    case "screens":
        return {
            //: Tour title about the panel-count buttons and the layout-cycle button
            title: qsTranslate("TourSteps", "Change the layout any time"),
            //: Tour text; "1 to 4" are the number keys; the grid button cycles through the layouts
            body: qsTranslate("TourSteps", "Switch between 1 and 4 screens here, and the grid button next to it cycles through the arrangements. The keys 1 to 4 do the same.")
        };
    case "record":
        return {
            //: Tour title about the record button
            title: qsTranslate("TourSteps", "Record a session"),
            //: Tour text; "R" is the record key and must match it; the Videos folder is the user's system Videos folder
            body: qsTranslate("TourSteps", "Records every screen together into one MP4, with sound from your microphone if one is available. It opens with a title card for the player, coach and session type, and ends with a closing card showing the session length.\n\nWhen you stop, the video is saved to your Videos folder and a card lets you open it. Press R to start or stop.")
        };
    case "live":
        return {
            //: Tour title about the Live Share button
            title: qsTranslate("TourSteps", "Show it on another computer"),
            //: Tour text about Live Share; OBS is a streaming program and keeps its name
            body: qsTranslate("TourSteps", "Sends the live picture across your network so OBS, or a browser on another computer, can show it. It only runs while it is switched on, so use it only on a network you trust.")
        };
    case "menu":
        return {
            //: Tour title about the session menu button
            title: qsTranslate("TourSteps", "Menu and help"),
            //: Tour text of the last card, about the session menu
            body: qsTranslate("TourSteps", "Change the quality and how much is kept for replay, open the user guide, or take this tour again from here.\n\nThat is everything. Happy training.")
        };
    default:
        return { title: "", body: "" };
    }
}
