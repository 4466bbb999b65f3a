import QtQuick
import QtTest
import Tavrix

// The closing card's duration form, its lines in two card languages, the
// duration following the engine's clock while shown, and the fade-in.
Item {
    id: host

    width: 1280
    height: 720

    Component {
        id: cardComponent
        ClosingCard {
            anchors.fill: parent
        }
    }

    // As the session screen hosts it: the duration bound to the engine's clock.
    Component {
        id: boundCardComponent
        ClosingCard {
            anchors.fill: parent
            durationMs: Engine.recordingElapsedMs
        }
    }

    TestCase {
        name: "ClosingCard"
        when: windowShown

        function init() {
            Engine.reset()
        }

        function cleanup() {
            Lang.setCardLanguage("")
        }

        function makeCard(properties) {
            const card = createTemporaryObject(cardComponent, host, properties)
            verify(card)
            return card
        }

        function part(card, name) {
            const found = findChild(card, name)
            verify(found, name)
            return found
        }

        function test_duration_data() {
            return [
                { tag: "zero", ms: 0, text: "0:00" },
                { tag: "just short of a second", ms: 999, text: "0:00" },
                { tag: "just short of a minute", ms: 59999, text: "0:59" },
                { tag: "61 s", ms: 61000, text: "1:01" },
                { tag: "an hour has no hours field", ms: 3600000, text: "60:00" },
                { tag: "1 h 2 min 5 s", ms: 3725000, text: "62:05" },
                { tag: "negative", ms: -1500, text: "0:00" },
                { tag: "largest int", ms: 2147483647, text: "35791:23" },
            ]
        }

        function test_duration(row) {
            const card = makeCard({ durationMs: row.ms, visible: true })
            compare(card.durationText, row.text)
            compare(part(card, "durationText").text, row.text)
        }

        function test_lines_data() {
            return [
                { tag: "everything en", language: "en", labels: { title: "Serve", player: "Ann", coach: "Bo" },
                  caption: "SESSION DURATION", title: "Serve", people: "Player: Ann       Coach: Bo" },
                { tag: "everything de", language: "de", labels: { title: "Serve", player: "Ann", coach: "Bo" },
                  caption: "DAUER DER EINHEIT", title: "Serve", people: "Spieler/in: Ann       Trainer/in: Bo" },
                { tag: "player named twice", language: "en", labels: { player: "Ann", notes: "n", date: "d" },
                  caption: "SESSION DURATION", title: "Ann", people: "Player: Ann" },
                { tag: "fallback title de", language: "de", labels: { title: "", player: null, coach: "Bo" },
                  caption: "DAUER DER EINHEIT", title: "Trainingseinheit", people: "Trainer/in: Bo" },
                { tag: "nothing given", language: "en", labels: {},
                  caption: "SESSION DURATION", title: "Training Session", people: "" },
                { tag: "no labels", language: "de", labels: null,
                  caption: "DAUER DER EINHEIT", title: "", people: "" },
            ]
        }

        function test_lines(row) {
            Lang.setCardLanguage(row.language)
            const card = makeCard({ labels: row.labels, visible: true })
            compare(part(card, "captionText").text, row.caption)
            compare(part(card, "titleText").text, row.title)
            compare(card.peopleLine, row.people)
            compare(part(card, "peopleText").visible, row.people !== "")
            verify(part(card, "durationText").visible)
        }

        function test_followsTheEngineClockAndTheCardLanguage() {
            const card = createTemporaryObject(boundCardComponent, host,
                                               { labels: { player: "Ann" }, visible: true })
            verify(card)
            compare(card.durationText, "0:00")
            Engine.recordingElapsedMs = 41800
            compare(part(card, "durationText").text, "0:41")
            Engine.recordingElapsedMs = 45200
            compare(part(card, "durationText").text, "0:45")
            Lang.setCardLanguage("de")
            compare(part(card, "captionText").text, "DAUER DER EINHEIT")
            compare(card.titleText, "Ann")
            compare(card.peopleLine, "Spieler/in: Ann")
        }

        function test_markupIsShownAsTyped() {
            const card = makeCard({ labels: { title: "A<br>B", player: "Ann<br>Lee" }, visible: true })
            compare(part(card, "titleText").lineCount, 1)
            compare(part(card, "peopleText").lineCount, 1)
        }

        function test_fadesInOnEveryShowing() {
            const card = makeCard({})
            const fade = part(card, "fadeUp")
            const shownAt = Date.now()
            card.visible = true
            compare(card.opacity, 0)
            verify(fade.running)
            compare(fade.duration, 600)
            tryVerify(() => card.opacity > 0 && card.opacity < 1, 3000, "never seen part-way in")

            // Hidden part-way, then shown again: from 0 anew, not from where it was.
            card.visible = false
            verify(!fade.running)
            card.visible = true
            compare(card.opacity, 0)
            verify(fade.running)
            tryCompare(card, "opacity", 1, 5000)
            // A whole 600 ms fade after the second showing (animations never run early).
            verify(Date.now() - shownAt >= 550)

            // Hidden after the fade: the next showing starts from 0 again.
            card.visible = false
            compare(card.opacity, 1)
            card.visible = true
            compare(card.opacity, 0)
        }
    }
}
