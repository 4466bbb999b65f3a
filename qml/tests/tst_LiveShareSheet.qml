import QtQuick
import QtTest
import Tavrix

// The Live Share sheet over the Engine double: its states around start and
// stop calls, the failure line, the live texts and what it puts on the
// system clipboard (read back by another process).
Item {
    id: window

    width: 700
    height: 1000

    LiveShareSheet {
        id: sheet

        anchors.fill: parent
        visible: true
    }

    SignalSpy { id: closedSpy; target: sheet; signalName: "closed" }

    // What the sheet shows while an engine call is still running.
    Connections {
        id: duringCall

        property var seen: []

        target: Engine
        function onSharingChanged() {
            const start = window.findChildIn(sheet, "share-start")
            const stop = window.findChildIn(sheet, "share-stop")
            duringCall.seen = duringCall.seen.concat([{
                startText: start.text,
                startEnabled: start.enabled,
                stopText: stop.text,
                stopEnabled: stop.enabled,
                startFailed: sheet.startFailed
            }])
        }
    }

    function findChildIn(parentItem, name) {
        for (let i = 0; i < parentItem.children.length; ++i) {
            const child = parentItem.children[i]
            if (child.objectName === name)
                return child
            const found = findChildIn(child, name)
            if (found)
                return found
        }
        return null
    }

    TestCase {
        id: testCase

        name: "LiveShareSheet"
        when: windowShown

        function init() {
            Engine.reset()
            sheet.startFailed = false
            sheet.justCopied = false
            sheet.visible = true
            duringCall.seen = []
            closedSpy.clear()
            settle()
        }

        function cleanup() {
            clipboardProbe.stopOwner()
        }

        function settle() {
            sheet.Window.window.update()
            waitForRendering(sheet)
        }

        function item(name) {
            const found = findChild(sheet, name)
            verify(found, name)
            return found
        }

        function click(name) {
            settle()
            const target = item(name)
            const view = item("share-view")
            const top = target.mapToItem(view.contentItem, 0, 0).y
            view.contentY = Math.max(0, Math.min(top - 8, view.contentHeight - view.height))
            mouseClick(target)
        }

        function needsClipboard() {
            if (clipboardProbe.platformName() !== "xcb")
                skip("needs an X11 display for a clipboard shared between processes")
        }

        function clipboardText() {
            clipboardProbe.startRead()
            tryCompare(clipboardProbe, "readDone", true, 20000)
            return clipboardProbe.readText
        }

        function test_startShowsTheLiveInformation() {
            verify(item("share-off-group").visible)
            verify(!item("share-on-group").visible)
            verify(item("share-warning").text.startsWith("\u26A0  Anyone on this network who has the room code"))
            compare(item("share-start").text, "Start sharing")

            click("share-start")
            compare(Engine.callsTo("startSharing").length, 1)
            // Busy for exactly the call.
            compare(duringCall.seen.length, 1)
            compare(duringCall.seen[0].startText, "Starting…")
            verify(!duringCall.seen[0].startEnabled)
            verify(!sheet.busy)

            verify(!item("share-off-group").visible)
            verify(item("share-on-group").visible)
            compare(item("share-code").text, "AB3")
            compare(item("share-address").text, "http://192.168.1.20:8080/live.ts?k=AB3")
            compare(item("share-status").text, "SHARING · 0 watching")
            verify(!item("share-failed").visible)
        }

        function test_viewerCountInTheStatus_data() {
            return [
                { tag: "one", viewers: 1, text: "SHARING · 1 watching" },
                { tag: "several", viewers: 12, text: "SHARING · 12 watching" },
                { tag: "missing", viewers: undefined, text: "SHARING · 0 watching" },
                { tag: "negative", viewers: -3, text: "SHARING · 0 watching" },
                { tag: "not a number", viewers: "many", text: "SHARING · 0 watching" },
            ]
        }

        function test_viewerCountInTheStatus(data) {
            Engine.startSharing()
            const info = Object.assign({}, Engine.shareInfo)
            if (data.viewers === undefined)
                delete info.viewers
            else
                info.viewers = data.viewers
            Engine.shareInfo = info
            compare(item("share-status").text, data.text)
            // Nothing of an incomplete map shows as "undefined".
            Engine.shareInfo = {}
            compare(item("share-code").text, "")
            compare(item("share-address").text, "")
        }

        function test_failedThenRetriedStart() {
            Engine.failStartSharing = true
            click("share-start")
            verify(item("share-failed").visible)
            compare(item("share-failed").text, "Could not start sharing.")
            verify(item("share-off-group").visible)
            verify(item("share-start").enabled)
            compare(item("share-start").text, "Start sharing")

            // A second failure keeps the line; hiding the sheet keeps it too.
            click("share-start")
            verify(item("share-failed").visible)
            sheet.visible = false
            sheet.visible = true
            verify(item("share-failed").visible)
            compare(Engine.callsTo("startSharing").length, 2)

            // The retry that works clears the line before the call.
            Engine.failStartSharing = false
            click("share-start")
            compare(duringCall.seen.length, 1)
            verify(!duringCall.seen[0].startFailed, "the old failure showed during the retry")
            verify(!item("share-failed").visible)
            verify(item("share-on-group").visible)
        }

        function test_stopAndClosing() {
            click("share-start")
            // Closing in any way never stops sharing.
            click("share-close")
            compare(closedSpy.count, 1)
            mouseClick(sheet, sheet.width / 2, 4)
            compare(closedSpy.count, 2)
            mouseClick(item("share-panel"), 6, item("share-panel").height - 6)
            compare(closedSpy.count, 2)
            compare(Engine.callsTo("stopSharing").length, 0)
            verify(Engine.sharing)

            duringCall.seen = []
            click("share-stop")
            compare(Engine.callsTo("stopSharing").length, 1)
            compare(duringCall.seen[0].stopText, "Stopping…")
            verify(!duringCall.seen[0].stopEnabled)
            verify(item("share-off-group").visible)
            verify(!item("share-on-group").visible)
            compare(item("share-start").text, "Start sharing")
            verify(item("share-start").enabled)
        }

        function test_changeCodeShowsTheNewCode() {
            click("share-start")
            Engine.shareInfo = Object.assign({}, Engine.shareInfo, { viewers: 2 })
            click("share-change-code")
            compare(Engine.callsTo("regenerateShareCode").length, 1)
            compare(item("share-code").text, "XY7")
            compare(item("share-address").text, "http://192.168.1.20:8080/live.ts?k=XY7")
            compare(item("share-status").text, "SHARING · 2 watching")
        }

        function test_copiedMessageIsExactlyFiveLines() {
            needsClipboard()
            click("share-start")
            click("share-copy-message")
            const message = clipboardText()
            compare(message, "Tavrix live stream\n\nhttp://192.168.1.20:8080/live.ts?k=AB3\n\n"
                    + "In OBS: add a Media Source, untick \"Local File\", and paste that URL. Room code AB3.")
            compare(message.split("\n").length, 5)

            // After a new code the message carries it.
            click("share-change-code")
            click("share-copy-message")
            verify(clipboardText().endsWith("?k=XY7\n\nIn OBS: add a Media Source, untick \"Local File\", "
                                            + "and paste that URL. Room code XY7."))

            // Placeholders inside the values are left alone.
            Engine.shareInfo = { url: "http://10.0.0.5:8081/live.ts?k=%2", code: "Q%1" }
            click("share-copy-message")
            compare(clipboardText(), "Tavrix live stream\n\nhttp://10.0.0.5:8081/live.ts?k=%2\n\n"
                    + "In OBS: add a Media Source, untick \"Local File\", and paste that URL. Room code Q%1.")
        }

        function test_copyAddressConfirmsForAWhile() {
            needsClipboard()
            click("share-start")
            const button = item("share-copy-address")
            compare(button.text, "Copy address")
            click("share-copy-address")
            compare(clipboardText(), "http://192.168.1.20:8080/live.ts?k=AB3")
            compare(button.text, "\u2713  Copied")
            tryCompare(button, "text", "Copy address", 10000)
        }
    }
}
