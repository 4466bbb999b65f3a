import QtQuick
import QtTest
import Tavrix

// A visible host: a TestCase is itself invisible, and so would be its children.
// Timing is checked by lower bounds only (timers may fire late on a busy
// machine, never much early), with generous upper waits.
Item {
    id: host

    width: 1000
    height: 600

    Component {
        id: toastComponent
        Toast {}
    }

    TestCase {
        id: testCase

        name: "Toast"
        when: windowShown

        // Timers may be coalesced a little early; 5 % of 4000 ms.
        readonly property int displayLowerBoundMs: 3800

        function makeToast() {
            const toast = createTemporaryObject(toastComponent, host)
            verify(toast)
            return toast
        }

        function textOf(toast) {
            return findChild(toast, "toastText")
        }

        // Waits for the fade to begin and returns the time it was seen.
        function waitForFadeStart(toast) {
            tryVerify(() => toast.opacity < 1, 10000, "the fade never started")
            return Date.now()
        }

        function test_startsHidden() {
            const toast = makeToast()
            verify(!toast.visible)
            compare(toast.opacity, 0)
            compare(textOf(toast).text, "")
        }

        function test_showsFourSecondsThenFadesAndHides() {
            const toast = makeToast()
            const shownAt = Date.now()
            toast.show("Recording saved")
            verify(toast.visible)
            compare(toast.opacity, 1)
            compare(textOf(toast).text, "Recording saved")

            const fadeSeenAt = waitForFadeStart(toast)
            verify(fadeSeenAt - shownAt >= displayLowerBoundMs, "faded after " + (fadeSeenAt - shownAt) + " ms")
            verify(toast.visible)
            tryCompare(toast, "visible", false, 5000)
            compare(toast.opacity, 0)
            compare(textOf(toast).text, "Recording saved")
        }

        function test_secondMessageRestartsTheDisplay() {
            const toast = makeToast()
            toast.show("first")
            wait(2500)
            const secondAt = Date.now()
            toast.show("second")
            compare(textOf(toast).text, "second")
            compare(toast.opacity, 1)
            const fadeSeenAt = waitForFadeStart(toast)
            verify(fadeSeenAt - secondAt >= displayLowerBoundMs,
                   "second message faded " + (fadeSeenAt - secondAt) + " ms after it was shown")
            tryCompare(toast, "visible", false, 5000)
        }

        function test_messageDuringTheFadeShowsAtFullOpacity() {
            const toast = makeToast()
            // Catch the toast part-way through its 300 ms fade; try again when a
            // slow moment let the whole fade pass between two looks.
            let caught = false
            for (let attempt = 0; attempt < 5 && !caught; ++attempt) {
                toast.show("old")
                waitForFadeStart(toast)
                caught = toast.visible && toast.opacity > 0
            }
            verify(caught, "never saw the toast fading")

            const newAt = Date.now()
            toast.show("new")
            verify(toast.visible)
            compare(toast.opacity, 1)
            compare(textOf(toast).text, "new")
            // A fade left running would have hidden it well within this time.
            wait(800)
            verify(toast.visible)
            compare(toast.opacity, 1)
            const fadeSeenAt = waitForFadeStart(toast)
            verify(fadeSeenAt - newAt >= displayLowerBoundMs)
            tryCompare(toast, "visible", false, 5000)
        }

        function test_fadeTakesItsTime() {
            const toast = makeToast()
            // Every step of the fade as it is set, not when a poll looks: a
            // poll that comes late on a busy machine sees less of the fade.
            let steps = []
            const record = () => steps.push({at: Date.now(), opacity: toast.opacity})
            toast.opacityChanged.connect(record)
            // Try again when a slow moment let the whole fade pass in one step.
            let fading = []
            for (let attempt = 0; attempt < 5 && fading.length === 0; ++attempt) {
                steps = []
                toast.show("bye")
                tryCompare(toast, "visible", false, 10000)
                fading = steps.filter(step => step.opacity > 0 && step.opacity < 1)
            }
            toast.opacityChanged.disconnect(record)
            verify(fading.length > 0, "never saw a step between full and no opacity")
            const last = steps[steps.length - 1]
            compare(last.opacity, 0)
            // 300 ms from full to none, evenly: what was left at the first
            // step cannot pass sooner, however late the steps come.
            const left = fading[0].opacity * 300
            verify(last.at - fading[0].at >= left - 20,
                   "faded from " + fading[0].opacity + " in " + (last.at - fading[0].at) + " ms")
        }

        function test_shortMessageKeepsItsNaturalWidth() {
            const toast = makeToast()
            toast.show("Copied")
            const label = textOf(toast)
            verify(label.implicitWidth < 480)
            compare(label.lineCount, 1)
            compare(toast.width, label.implicitWidth + 32)
            compare(toast.height, label.height + 20)
        }

        function test_longMessageWrapsWithinItsColumn() {
            const toast = makeToast()
            toast.show("Short")
            const oneLineHeight = toast.height
            const message = "The camera stopped sending pictures. Check that it is still plugged in, "
                    + "that no other program is using it and that your user is in the video group, "
                    + "then start the session again."
            toast.show(message)
            const label = textOf(toast)
            verify(label.implicitWidth > 480)
            verify(label.lineCount > 1)
            compare(label.width, 480)
            // The box follows the wrapped text, not the text's one-line width.
            compare(toast.width, 480 + 32)
            compare(toast.height, label.height + 20)
            verify(toast.height > oneLineHeight)
            compare(label.font.pixelSize, 13)
        }
    }
}
