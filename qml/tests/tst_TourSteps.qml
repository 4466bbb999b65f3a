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
        compare(TourSteps.STEPS.map(s => [s.id, s.screen, targetNames(s), s.enter === true, s.interactive === true]),
                expected)
        for (const s of TourSteps.STEPS) {
            const words = TourSteps.text(s.id, 60)
            verify(words.title.length > 0 && words.body.length > 0, s.id)
        }
        compare(TourSteps.stepsOf("session").map(s => s.id), expected.slice(5).map(e => e[0]))
        compare(TourSteps.stepsOf("elsewhere"), [])
    }

    // Shared records cannot be changed for the next tour; a screen's list is
    // the caller's own copy; every call makes fresh words.
    function test_sharedStateStaysIntact() {
        const s = TourSteps.STEPS[5]
        try { s.id = "x"; s.enter = true; s.targets = []; s.targets[0].prefer = 0 } catch (e) {}
        compare([s.id, s.enter, targetNames(s)], ["delay", undefined, ["tour-delay@1"]])
        const session = TourSteps.stepsOf("session")
        session.pop()
        compare(TourSteps.stepsOf("session").length, 7)
        const ui = TourSteps.ui()
        ui.next = "changed"
        const words = TourSteps.text("share")
        words.title = "changed"
        compare([TourSteps.ui().next, TourSteps.text("share").title], ["Next", "Share with a mate"])
    }

    function test_words() {
        const ui = TourSteps.ui()
        compare([ui.next, ui.back, ui.done, ui.start, ui.skip, ui.stepOf.arg(6).arg(12)],
                ["Next", "Back", "Done", "Start", "Skip tour", "6 of 12"])
        // One text across the join, paragraphs kept; the zoom buttons' real minus sign.
        compare(TourSteps.text("menu").body, "Change the quality and how much is kept for replay, open the user guide, "
                + "or take this tour again from here.\n\nThat is everything. Happy training.")
        verify(TourSteps.text("zoom").body.indexOf("+ and \u2212") >= 0)
        // The measured range goes into the delay text; nonsense says 60.
        for (const [maxDelay, says] of [[1, "up to 1 second"], [29.6, "up to 30 second"], [0, "up to 60 second"],
                                        [undefined, "up to 60 second"], ["lots", "up to 60 second"]])
            verify(TourSteps.text("delay", maxDelay).body.indexOf(says) >= 0, String(maxDelay))
        // Ids are looked up as they are: nothing inherited, nothing loose.
        for (const id of ["", "Welcome", "toString", "__proto__", "constructor", "hasOwnProperty",
                          undefined, 5, { id: "welcome" }])
            compare(TourSteps.text(id, 60), { title: "", body: "" }, String(id))
    }
}
