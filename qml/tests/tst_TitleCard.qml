import QtQuick
import QtTest
import Tavrix

// The title card's lines in two card languages, its fade clock (driven
// through its timer, plus one run on the real clock checked by lower bounds
// only), wrapping of hostile texts and the icon from the module's resources.
Item {
    id: host

    width: 1280
    height: 720

    Component {
        id: cardComponent
        TitleCard {
            anchors.fill: parent
        }
    }

    TestCase {
        name: "TitleCard"
        when: windowShown

        function cleanup() {
            Lang.setCardLanguage("")
        }

        function makeCard(labels) {
            const card = createTemporaryObject(cardComponent, host, { labels: labels })
            verify(card)
            return card
        }

        function part(card, name) {
            const found = findChild(card, name)
            verify(found, name)
            return found
        }

        // Shows the card, lets its timer fire at once and waits until the
        // band has visibly started to fade.
        function showAndStartFade(card) {
            card.visible = true
            part(card, "fadeTimer").triggered()
            verify(part(card, "fadeOut").running)
            tryVerify(() => part(card, "band").opacity < 0.95, 3000, "the fade never moved")
        }

        readonly property var fullLabels: ({ title: "Serve work", player: "Ann", coach: "Bo",
                                             sessionType: "Competition", date: "3 March 2026",
                                             notes: "Elbow up" })

        function test_lines_data() {
            return [
                { tag: "everything en", language: "en", labels: fullLabels, title: "Serve work",
                  sub: "Competition   \u00B7   3 March 2026", people: "Player: Ann       Coach: Bo",
                  notes: "\u201CElbow up\u201D" },
                { tag: "everything de", language: "de", labels: fullLabels, title: "Serve work",
                  sub: "Wettkampf   \u00B7   3 March 2026", people: "Spieler/in: Ann       Trainer/in: Bo",
                  notes: "\u201CElbow up\u201D" },
                { tag: "player is the title", language: "en", labels: { player: "Ann", coach: "Bo" },
                  title: "Ann", sub: "", people: "Coach: Bo", notes: "" },
                { tag: "player alone", language: "de", labels: { player: "Ann" },
                  title: "Ann", sub: "", people: "", notes: "" },
                { tag: "fallback title en", language: "en", labels: { coach: "Bo", sessionType: "Practice" },
                  title: "Training Session", sub: "Practice", people: "Coach: Bo", notes: "" },
                { tag: "fallback title de", language: "de", labels: { coach: "Bo", sessionType: "Practice" },
                  title: "Trainingseinheit", sub: "Training", people: "Trainer/in: Bo", notes: "" },
                { tag: "absent in every form", language: "en",
                  labels: { title: "", player: null, coach: undefined, sessionType: "", notes: "" },
                  title: "Training Session", sub: "", people: "", notes: "" },
                { tag: "label already translated", language: "de", labels: { sessionType: "Entraînement" },
                  title: "Trainingseinheit", sub: "Entraînement", people: "", notes: "" },
                { tag: "date value de", language: "de", labels: { date: new Date(2026, 2, 3, 12, 0) },
                  title: "Trainingseinheit", sub: "3. März 2026", people: "", notes: "" },
                { tag: "date value en", language: "en", labels: { date: new Date(2026, 2, 3, 12, 0) },
                  title: "Training Session", sub: "3 March 2026", people: "", notes: "" },
                { tag: "no labels", language: "en", labels: null, title: "", sub: "", people: "", notes: "" },
            ]
        }

        function test_lines(row) {
            Lang.setCardLanguage(row.language)
            const card = makeCard(row.labels)
            card.visible = true
            compare(card.titleText, row.title)
            compare(card.subLine, row.sub)
            compare(card.peopleLine, row.people)
            compare(part(card, "titleText").text, row.title)
            compare(part(card, "subLineText").visible, row.sub !== "")
            compare(part(card, "peopleText").visible, row.people !== "")
            const notes = part(card, "notesText")
            compare(notes.visible, row.notes !== "")
            if (row.notes !== "")
                compare(notes.text, row.notes)
            compare(part(card, "taglineText").text, Lang.cardTagline)
            verify(part(card, "taglineText").visible)
        }

        function test_followsTheCardLanguageWhileShown() {
            const card = makeCard({ player: "Ann", coach: "Bo", sessionType: "Practice", date: "1 May 2026" })
            card.visible = true
            compare(part(card, "taglineText").text, "RECORD  \u2022  REVIEW  \u2022  REFINE")
            Lang.setCardLanguage("de")
            compare(part(card, "taglineText").text, "AUFNEHMEN  \u2022  ANSEHEN  \u2022  VERFEINERN")
            compare(card.titleText, "Ann")
            compare(card.subLine, "Training   \u00B7   1 May 2026")
            compare(card.peopleLine, "Trainer/in: Bo")
            card.labels = { title: "Tuesday", player: "Ann" }
            compare(card.peopleLine, "Spieler/in: Ann")
            Lang.setCardLanguage("en")
            compare(card.peopleLine, "Player: Ann")
            compare(card.subLine, "")
        }

        function test_fadeClock() {
            const card = makeCard(fullLabels)
            const timer = part(card, "fadeTimer")
            const fade = part(card, "fadeOut")
            const band = part(card, "band")
            verify(!timer.running)
            card.visible = true
            verify(timer.running)
            compare(timer.interval, 4000)
            verify(!fade.running)
            compare(band.opacity, 1)
            timer.triggered()
            verify(fade.running)
            compare(fade.duration, 1000)
            tryCompare(band, "opacity", 0, 5000)
            // Fully faded, the card still waits for its host to hide it.
            verify(card.visible)
        }

        // A new recording within the previous card's five seconds (after a
        // failed start) replaces the labels of a card already shown.
        function test_newLabelsRestartTheClock() {
            const card = makeCard(fullLabels)
            showAndStartFade(card)
            card.labels = { title: "Second try" }
            const band = part(card, "band")
            compare(band.opacity, 1)
            verify(!part(card, "fadeOut").running)
            verify(part(card, "fadeTimer").running)
            // A fade left running would have lowered it again by now.
            wait(300)
            compare(band.opacity, 1)
        }

        function test_hideAndShowDuringTheFade() {
            const card = makeCard(fullLabels)
            showAndStartFade(card)
            const band = part(card, "band")
            card.visible = false
            verify(!part(card, "fadeOut").running)
            verify(!part(card, "fadeTimer").running)
            const leftAt = band.opacity
            verify(leftAt < 1 && leftAt > 0, "opacity " + leftAt)
            wait(300)
            compare(band.opacity, leftAt)
            card.visible = true
            compare(band.opacity, 1)
            verify(part(card, "fadeTimer").running)
            wait(300)
            compare(band.opacity, 1)
        }

        // On the real clock: never fading before about 4 s, never ending before
        // about 5 s (timers may fire a little early, never much).
        function test_fadeTimingOnTheClock() {
            const card = makeCard(fullLabels)
            const band = part(card, "band")
            const shownAt = Date.now()
            card.visible = true
            tryVerify(() => band.opacity < 1, 15000, "the fade never began")
            const fadeSeen = Date.now() - shownAt
            verify(fadeSeen >= 3800, "fade began after " + fadeSeen + " ms")
            tryCompare(band, "opacity", 0, 15000)
            const endSeen = Date.now() - shownAt
            verify(endSeen >= 4800, "fade ended after " + endSeen + " ms")
        }

        function test_hostileTextsStayInsideTheColumn() {
            const card = makeCard({ title: "W".repeat(400), notes: "line one\nline two\nline three" })
            card.visible = true
            const title = part(card, "titleText")
            const column = part(card, "column")
            compare(title.lineCount, 2)
            verify(title.truncated)
            verify(title.contentWidth <= column.width + 1, title.contentWidth + " > " + column.width)
            const notes = part(card, "notesText")
            compare(notes.lineCount, 2)
            verify(notes.truncated)
            const band = part(card, "band")
            verify(column.y >= 3 && column.y + column.height <= band.height - 3)

            // Markup typed by the user is shown as typed.
            card.labels = { title: "A<br>B", player: "Ann<br>Lee", coach: "Bo", notes: "x<br>y<br>z" }
            compare(title.lineCount, 1)
            compare(notes.lineCount, 1)
            compare(part(card, "peopleText").lineCount, 1)
        }

        function test_iconLoadsFromTheModule() {
            const card = makeCard(null)
            card.visible = true
            const icon = part(card, "brandIcon")
            // A wrong path leaves the status at Error and draws nothing, silently.
            tryCompare(icon, "status", Image.Ready)
            compare(icon.sourceSize.width, 22)
            compare(icon.sourceSize.height, 22)
            verify(icon.implicitWidth > 0)
        }
    }
}
