import QtQuick
import QtTest
import Tavrix

// Copies and pastes through the real system clipboard: another process reads
// what the bridge copied, or owns what the bridge pastes. Needs a window
// system with a shared clipboard (Xvfb in CI).
TestCase {
    id: testCase

    name: "ClipboardBridge"

    ClipboardBridge {
        id: clipboard
    }

    function initTestCase() {
        if (clipboardProbe.platformName() !== "xcb")
            skip("needs an X11 display for a clipboard shared between processes")
    }

    function cleanup() {
        clipboardProbe.stopOwner()
    }

    function editorText() {
        return findChild(clipboard, "clipboardEditor").text
    }

    function readFromAnotherProcess() {
        clipboardProbe.startRead()
        tryCompare(clipboardProbe, "readDone", true, 20000)
    }

    function test_copyReachesOtherApplications_data() {
        return [
            { tag: "ascii", text: "http://192.168.1.20:8080/live.ts?k=A7Q" },
            { tag: "non-ascii", text: "Zoë – “Ace” Łódź 東京 🎥" },
            { tag: "two lines", text: "Tavrix 2025-03-05_10.00.00.mp4\n/home/kim/Videos/Tavrix" },
            { tag: "blanks kept", text: "  AB12-CD34  " }
        ]
    }

    function test_copyReachesOtherApplications(data) {
        clipboard.copyText(data.text)
        compare(editorText(), "")
        readFromAnotherProcess()
        verify(clipboardProbe.readHadText)
        compare(clipboardProbe.readText, data.text)
        // And back in through the bridge itself.
        compare(clipboard.pasteText(), data.text)
        compare(editorText(), "")
    }

    function test_pasteTakesAnotherApplicationsText() {
        const text = "Grüße aus Köln 👋 AB12-CD34"
        clipboardProbe.startOwner(text)
        tryCompare(clipboardProbe, "ownerReady", true, 20000)
        compare(clipboard.pasteText(), text)
        compare(editorText(), "")
    }

    function test_pasteWithOnlyAPictureGivesEmptyText() {
        clipboard.copyText("stale text")
        clipboardProbe.startImageOwner()
        tryCompare(clipboardProbe, "ownerReady", true, 20000)
        compare(clipboard.pasteText(), "")
        compare(editorText(), "")
    }

    function test_copyingEmptyTextEmptiesTheClipboard() {
        clipboard.copyText("something before")
        clipboard.copyText("")
        compare(editorText(), "")
        compare(clipboard.pasteText(), "")
        readFromAnotherProcess()
        compare(clipboardProbe.readText, "")
    }
}
