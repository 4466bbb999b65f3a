import QtQuick
import QtTest
import Tavrix

// The Live Share sheet over the Engine double: its states around start and
// stop calls, the failure line, the live texts and the message it puts on
// the system clipboard (read back by another process).
Item {
    id: window

    width: 700
    height: 1100

    // What lies beneath the sheet: a control and a scrolling view.
    Flickable {
        id: beneath
        anchors.fill: parent
        contentHeight: 4000

        ThemedButton {
            id: under
            text: "under"
        }
    }

    SignalSpy { id: underClicks; target: under; signalName: "clicked" }

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
            duringCall.seen = duringCall.seen.concat([{
                start: sheet.busy ? "busy" : "idle",
                startFailed: sheet.startFailed
            }])
        }
    }

    TestCase {
        name: "LiveShareSheet"
        when: windowShown

        function init() {
            Engine.reset()
            sheet.startFailed = false
            duringCall.seen = []
            closedSpy.clear()
            window.height = 1100
            sheet.visible = true
            beneath.contentY = 0
            underClicks.clear()
        }

        function cleanup() {
            clipboardProbe.stopOwner()
        }

        function item(name) {
            const found = findChild(sheet, name)
            verify(found, name)
            return found
        }

        function click(name) {
            sheet.Window.window.update()
            waitForRendering(sheet)
            mouseClick(item(name))
        }

        function clipboardText() {
            clipboardProbe.startRead()
            tryCompare(clipboardProbe, "readDone", true, 20000)
            return clipboardProbe.readText
        }

        function test_startStatusAndStop() {
            verify(item("share-off-group").visible)
            click("share-start")
            compare(Engine.callsTo("startSharing").length, 1)
            // Busy for exactly the call.
            compare(duringCall.seen.map(seen => seen.start), ["busy"])
            verify(!sheet.busy)
            verify(item("share-on-group").visible)
            verify(!item("share-off-group").visible)
            compare(item("share-code").text, "AB3")
            compare(item("share-address").text, "http://192.168.1.20:8080/live.ts?k=AB3")
            compare(item("share-status").text, "SHARING · 0 watching")

            for (const viewers of [1, 12, -3, "many", undefined]) {
                const info = Object.assign({}, Engine.shareInfo, { viewers: viewers })
                if (viewers === undefined)
                    delete info.viewers
                Engine.shareInfo = info
                compare(item("share-status").text,
                        "SHARING · " + (viewers > 0 ? viewers : 0) + " watching", String(viewers))
            }

            // Closing the sheet in any way does not stop sharing.
            click("share-close")
            mouseClick(sheet, sheet.width / 2, 4)
            compare(closedSpy.count, 2)
            compare(Engine.callsTo("stopSharing").length, 0)

            click("share-stop")
            compare(duringCall.seen.map(seen => seen.start), ["busy", "busy"])
            verify(item("share-off-group").visible)
            verify(item("share-start").enabled)
        }

        function test_failedThenRetriedStart() {
            Engine.failStartSharing = true
            click("share-start")
            click("share-start")
            compare(Engine.callsTo("startSharing").length, 2)
            verify(item("share-failed").visible)
            compare(item("share-failed").text, "Could not start sharing.")
            verify(item("share-off-group").visible)
            verify(item("share-start").enabled)

            // The retry that works clears the line before the call.
            Engine.failStartSharing = false
            click("share-start")
            compare(duringCall.seen.length, 1)
            verify(!duringCall.seen[0].startFailed, "the old failure showed during the retry")
            verify(!item("share-failed").visible)
            verify(item("share-on-group").visible)
        }

        function test_copiedMessageIsExactlyFiveLines() {
            if (clipboardProbe.platformName() !== "xcb")
                skip("needs an X11 display for a clipboard shared between processes")
            const steps = "In OBS: add a Media Source, untick \"Local File\", and paste that URL. Room code "
            click("share-start")
            click("share-copy-message")
            compare(clipboardText(), "Tavrix live stream\n\nhttp://192.168.1.20:8080/live.ts?k=AB3\n\n"
                    + steps + "AB3.")

            // After a new code the sheet and the message carry it.
            click("share-change-code")
            compare(item("share-code").text, "XY7")
            click("share-copy-message")
            compare(clipboardText(), "Tavrix live stream\n\nhttp://192.168.1.20:8080/live.ts?k=XY7\n\n"
                    + steps + "XY7.")

            // Placeholders inside the values are left alone.
            Engine.shareInfo = { url: "http://10.0.0.5:8081/live.ts?k=%2", code: "Q%1" }
            click("share-copy-message")
            compare(clipboardText(), "Tavrix live stream\n\nhttp://10.0.0.5:8081/live.ts?k=%2\n\n"
                    + steps + "Q%1.")
        }

        // Tab walks the sheet's own controls only, Space never presses the
        // control beneath, the wheel over the backdrop or the panel leaves
        // what lies beneath where it was, and a press on the backdrop
        // closes the sheet; sharing on, on the kiosk screen.
        function test_nothingBeneathIsReached() {
            window.height = 480
            // Started with a press: the Start button had the keyboard, and
            // its group hides.
            click("share-start")
            verify(Engine.sharing)
            sheet.visible = false
            under.forceActiveFocus()
            sheet.visible = true
            // The "on" group laid out, as before any key a user could press.
            sheet.Window.window.update()
            waitForRendering(sheet)
            keyClick(Qt.Key_Space)
            const view = item("share-view")
            const seen = new Set()
            for (let i = 0; i < 12; ++i) {
                keyClick(i % 5 === 4 ? Qt.Key_Backtab : Qt.Key_Tab)
                const focused = sheet.Window.activeFocusItem
                verify(focused !== under, i)
                seen.add(focused.objectName)
                const top = focused.mapToItem(view, 0, 0).y
                verify(top >= 0 && top + focused.height <= view.height, focused.objectName + " at " + top)
            }
            compare([...seen].sort(), ["share-change-code", "share-close", "share-copy-address", "share-copy-message", "share-stop"])
            compare(underClicks.count, 0)
            verify(Engine.sharing)
            const panel = item("share-panel")
            for (const at of [Qt.point(5, 5), Qt.point(5, panel.y + 5), Qt.point(window.width / 2, window.height - 5)])
                mouseWheel(window, at.x, at.y, 0, -240)
            wait(100)
            compare(beneath.contentY, 0)
            mouseClick(window, window.width / 2, panel.y + 5)
            compare(closedSpy.count, 0)
            mouseClick(window, 5, 5)
            compare(closedSpy.count, 1)
            compare(underClicks.count, 0)

            sheet.visible = false
            mouseWheel(window, 5, 5, 0, -240)
            tryVerify(() => beneath.contentY > 0)
        }
    }
}
