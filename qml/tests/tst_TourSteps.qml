import QtQuick
import QtTest
import Tavrix

TestCase {
    name: "TourSteps"

    function targetNames(step) {
        return (step.targets || []).map(t => typeof t === "string" ? t : t.name + "@" + t.prefer)
    }

    function test_stepTable() {
        const expected = [
            ["welcome", "start", [], false, false],
            ["share", "start", ["tour-share", "tour-code"], false, false],
            ["recordings", "start", ["tour-recordings"], false, false],
            ["source", "start", ["tour-source"], false, false],
            ["layout", "start", ["tour-layouts"], true, true],
            ["delay", "session", ["tour-delay@1"], false, false],
            ["zoom", "session", ["tour-zoom"], false, false],
            ["adjust", "session", ["tour-rotate", "tour-flip"], false, false],
            ["screens", "session", ["tour-screens", "tour-variant"], false, false],
            ["record", "session", ["tour-rec"], false, false],
            ["live", "session", ["tour-liveshare"], false, false],
            ["menu", "session", ["tour-menu"], false, false]
        ]
        compare(TourSteps.STEPS.length, expected.length)
        for (let i = 0; i < expected.length; ++i) {
            const s = TourSteps.STEPS[i]
            const e = expected[i]
            compare([s.id, s.screen, targetNames(s), s.enter === true, s.interactive === true], e, e[0])
            // Every step has its words.
            const words = TourSteps.text(s.id, 60)
            verify(words.title.length > 0 && words.body.length > 0, s.id)
        }
        compare(TourSteps.stepsOf("session").map(s => s.id),
                ["delay", "zoom", "adjust", "screens", "record", "live", "menu"])
        compare(TourSteps.stepsOf("start").length, 5)
        compare(TourSteps.stepsOf("elsewhere").length, 0)
    }

    // Shared records: a caller cannot change them for the next tour, and a
    // screen's list is the caller's own copy.
    function test_stepsCannotBeChanged() {
        const s = TourSteps.STEPS[5]
        try { s.id = "x"; s.enter = true; s.targets = []; s.targets[0].prefer = 0 } catch (e) {}
        compare([s.id, s.enter, targetNames(s)], ["delay", undefined, ["tour-delay@1"]])
        const session = TourSteps.stepsOf("session")
        session.pop()
        session.push(TourSteps.STEPS[0])
        compare(TourSteps.stepsOf("session").map(x => x.id)[6], "menu")
        compare(TourSteps.STEPS.length, 12)
    }

    function test_unknownIdsHaveNoWords_data() {
        return [
            { tag: "empty", id: "" },
            { tag: "case", id: "Welcome" },
            { tag: "toString", id: "toString" },
            { tag: "__proto__", id: "__proto__" },
            { tag: "constructor", id: "constructor" },
            { tag: "hasOwnProperty", id: "hasOwnProperty" },
            { tag: "undefined", id: undefined },
            { tag: "number", id: 5 },
            { tag: "object", id: { id: "welcome" } }
        ]
    }

    function test_unknownIdsHaveNoWords(data) {
        const words = TourSteps.text(data.id, 60)
        compare(words.title, "")
        compare(words.body, "")
    }

    function test_cardWords() {
        const ui = TourSteps.ui()
        compare([ui.next, ui.back, ui.done, ui.start, ui.skip, ui.stepOf],
                ["Next", "Back", "Done", "Start", "Skip tour", "%1 of %2"])
        compare(ui.stepOf.arg(6).arg(12), "6 of 12")
        compare(TourSteps.text("welcome").title, "Welcome to Tavrix")
        // One text across the join, paragraphs kept.
        compare(TourSteps.text("menu").body, "Change the quality and how much is kept for replay, open the user guide, "
                + "or take this tour again from here.\n\nThat is everything. Happy training.")
        // The zoom buttons' real minus sign.
        verify(TourSteps.text("zoom").body.indexOf("+ and \u2212") >= 0)
    }

    function test_freshRecordsEveryCall() {
        const a = TourSteps.ui()
        a.next = "changed"
        compare(TourSteps.ui().next, "Next")
        const t = TourSteps.text("share")
        t.title = "changed"
        compare(TourSteps.text("share").title, "Share with a mate")
        verify(TourSteps.text("nothing") !== TourSteps.text("nothing"))
    }

    // The slider's real range goes into the delay text; nonsense falls back to 60.
    function test_delayText_data() {
        return [
            { tag: "one", maxDelay: 1, says: "up to 1 second" },
            { tag: "sixty", maxDelay: 60, says: "up to 60 second" },
            { tag: "rounded", maxDelay: 29.6, says: "up to 30 second" },
            { tag: "zero", maxDelay: 0, says: "up to 60 second" },
            { tag: "negative", maxDelay: -5, says: "up to 60 second" },
            { tag: "missing", maxDelay: undefined, says: "up to 60 second" },
            { tag: "text", maxDelay: "lots", says: "up to 60 second" },
            { tag: "infinite", maxDelay: Infinity, says: "up to 60 second" }
        ]
    }

    function test_delayText(data) {
        const body = TourSteps.text("delay", data.maxDelay).body
        verify(body.indexOf(data.says) >= 0, body)
        verify(body.indexOf("%n") < 0)
        verify(body.indexOf(" 1 seconds") < 0)
    }
}
