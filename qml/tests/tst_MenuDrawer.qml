import QtQuick
import QtTest
import Tavrix

// The menu drawer as its host uses it: values bound in, signals out, the
// host applying (or ignoring) each request.
Item {
    id: host

    property int panelCount: 1
    property int resolution: 720
    property int maxCaptureHeight: 720
    property int bufferSeconds: 60
    property bool dualCamMode: false
    property bool captureLocked: false
    // False: a host that takes no notice of requests.
    property bool applies: true

    width: 800
    height: 1000

    // What lies beneath the drawer: a control and a scrolling view.
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

    MenuDrawer {
        id: drawer

        anchors.fill: parent
        visible: true
        dualCameraSupported: true
        panelCount: host.panelCount
        resolution: host.resolution
        maxCaptureHeight: host.maxCaptureHeight
        bufferSeconds: host.bufferSeconds
        dualCamMode: host.dualCamMode
        captureLocked: host.captureLocked
        onChangePanelCount: count => { if (host.applies) host.panelCount = count }
        onChangeResolution: height => { if (host.applies) host.resolution = height }
        onChangeBufferSeconds: seconds => { if (host.applies) host.bufferSeconds = seconds }
        onChangeDualCamMode: value => { if (host.applies) host.dualCamMode = value }
    }

    SignalSpy { id: panelSpy; target: drawer; signalName: "changePanelCount" }
    SignalSpy { id: resolutionSpy; target: drawer; signalName: "changeResolution" }
    SignalSpy { id: bufferSpy; target: drawer; signalName: "changeBufferSeconds" }
    SignalSpy { id: dualSpy; target: drawer; signalName: "changeDualCamMode" }
    SignalSpy { id: entrySpy; target: drawer }

    TestCase {
        name: "MenuDrawer"
        when: windowShown

        function init() {
            host.panelCount = 1
            host.resolution = 720
            host.maxCaptureHeight = 720
            host.bufferSeconds = 60
            host.dualCamMode = false
            host.captureLocked = false
            host.applies = true
            host.height = 1000
            drawer.visible = true
            beneath.contentY = 0
            underClicks.clear()
            for (const spy of [panelSpy, resolutionSpy, bufferSpy, dualSpy, entrySpy])
                spy.clear()
        }

        function button(name) {
            const item = findChild(drawer, name)
            verify(item, name)
            return item
        }

        // Lays the rows out after a change, then clicks.
        function click(name) {
            drawer.Window.window.update()
            waitForRendering(drawer)
            mouseClick(button(name))
        }

        function test_qualityRowsFollowTheProbe_data() {
            return [
                { tag: "720", max: 720, offered: [720] },
                { tag: "1080", max: 1080, offered: [720, 1080] },
                { tag: "2160", max: 2160, offered: [720, 1080, 2160] },
                { tag: "between classes", max: 1500, offered: [720, 1080] },
            ]
        }

        function test_qualityRowsFollowTheProbe(data) {
            // The probe answers after the drawer exists.
            compare(findChild(drawer, "menu-quality-1080"), null)
            host.maxCaptureHeight = data.max
            drawer.Window.window.update()
            waitForRendering(drawer)
            let lastX = -1
            for (const height of [720, 1080, 2160]) {
                const item = findChild(drawer, "menu-quality-" + height)
                if (data.offered.indexOf(height) < 0) {
                    compare(item, null, "offered " + height)
                    continue
                }
                compare(item.text, height + "p")
                verify(item.x > lastX, "out of order at " + height)
                lastX = item.x
            }
            // A height that is not offered marks nothing.
            host.resolution = data.max < 1080 ? 1080 : 480
            for (const height of data.offered)
                verify(!button("menu-quality-" + height).checked, height)
        }

        function test_marksFollowTheHostOnly_data() {
            return [
                { tag: "panel count", prop: "panelCount", from: 1, to: 3, spy: panelSpy,
                  name: v => "menu-count-" + v },
                { tag: "quality", prop: "resolution", from: 720, to: 2160, spy: resolutionSpy,
                  name: v => "menu-quality-" + v },
                { tag: "buffer", prop: "bufferSeconds", from: 60, to: 120, spy: bufferSpy,
                  name: v => "menu-buffer-" + v },
                { tag: "dual", prop: "dualCamMode", from: false, to: true, spy: dualSpy,
                  name: v => v ? "menu-dual-both" : "menu-dual-one" },
            ]
        }

        function test_marksFollowTheHostOnly(data) {
            host.maxCaptureHeight = 2160
            // The host applies the request: the mark moves with its value.
            click(data.name(data.to))
            compare(data.spy.count, 1)
            compare(data.spy.signalArguments[0][0], data.to)
            verify(button(data.name(data.to)).checked)
            verify(!button(data.name(data.from)).checked)

            // A host that ignores the request: the mark stays with the value.
            host.applies = false
            click(data.name(data.from))
            compare(data.spy.count, 2)
            verify(!button(data.name(data.from)).checked, "a click moved the mark by itself")
            verify(button(data.name(data.to)).checked)

            // The bindings survived the clicks: a change made elsewhere shows.
            host[data.prop] = data.from
            verify(button(data.name(data.from)).checked)
            verify(!button(data.name(data.to)).checked)
        }

        // Re-choosing a capture setting would restart the session and empty
        // the replay buffer for nothing.
        function test_chosenCaptureOptionReportsNothing() {
            host.maxCaptureHeight = 2160
            host.resolution = 1080
            click("menu-quality-1080")
            click("menu-buffer-60")
            click("menu-dual-one")
            host.dualCamMode = true
            click("menu-dual-both")
            compare(resolutionSpy.count + bufferSpy.count + dualSpy.count, 0)

            // In dual mode the stored height stays marked and a new one is
            // still reported.
            verify(button("menu-quality-1080").checked)
            click("menu-quality-2160")
            compare(resolutionSpy.count, 1)
            compare(resolutionSpy.signalArguments[0][0], 2160)
        }

        function test_lockWhileRecording() {
            host.maxCaptureHeight = 1080
            host.captureLocked = true
            for (const name of ["menu-quality-text", "menu-dual-text"]) {
                const text = button(name).text
                verify(text.endsWith(". Locked while recording."), text)
            }
            for (const name of ["menu-quality-1080", "menu-buffer-30", "menu-dual-both"])
                click(name)
            compare(resolutionSpy.count + bufferSpy.count + dualSpy.count, 0)

            // What is not a capture setting still works.
            click("menu-count-2")
            compare(panelSpy.count, 1)
            entrySpy.signalName = "openLanguage"
            click("menu-language")
            compare(entrySpy.count, 1)

            // Unlocked again, the same row reports once more.
            host.captureLocked = false
            verify(!button("menu-quality-text").text.includes("Locked"))
            click("menu-quality-1080")
            compare(resolutionSpy.count, 1)
        }

        // WCAG contrast ratio of two colours.
        function contrast(a, b) {
            const lum = c => [c.r, c.g, c.b].map(v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4))
                                          .reduce((sum, v, i) => sum + v * [0.2126, 0.7152, 0.0722][i], 0)
            const [hi, lo] = [lum(a), lum(b)].sort((x, y) => y - x)
            return (hi + 0.05) / (lo + 0.05)
        }

        // The fill of a button as drawn, just inside its outline.
        function fillOf(image, name) {
            const item = button(name)
            const at = item.mapToItem(drawer, 4, item.height - 4)
            return image.pixel(Math.round(at.x), Math.round(at.y))
        }

        // The option in force stands out from the others, and the locked
        // options look different from the same options unlocked.
        function test_marksAndLockCanBeSeen() {
            host.maxCaptureHeight = 1080
            host.resolution = 1080
            drawer.Window.window.update()
            waitForRendering(drawer)
            let image = grabImage(drawer)
            const checked = fillOf(image, "menu-quality-1080")
            const unchecked = fillOf(image, "menu-quality-720")
            verify(contrast(checked, unchecked) >= 3, checked + " against " + unchecked)
            verify(contrast(fillOf(image, "menu-count-1"), fillOf(image, "menu-count-2")) >= 3)

            host.captureLocked = true
            drawer.Window.window.update()
            waitForRendering(drawer)
            image = grabImage(drawer)
            const locked = fillOf(image, "menu-quality-1080")
            verify(contrast(checked, locked) >= 1.5, checked + " locked " + locked)
            // The panel count is never locked.
            verify(Qt.colorEqual(fillOf(image, "menu-count-1"), checked))
        }

        // Tab walks the drawer's own controls only, Space never presses the
        // control beneath, and the wheel over the scrim or the panel leaves
        // what lies beneath where it was, on the kiosk screen too.
        function test_nothingBeneathIsReached_data() {
            return [ { tag: "1000", height: 1000 }, { tag: "kiosk 480", height: 480 } ]
        }

        function test_nothingBeneathIsReached(row) {
            host.height = row.height
            drawer.visible = false
            under.forceActiveFocus()
            drawer.visible = true
            keyClick(Qt.Key_Space)
            const view = button("menu-view")
            const seen = new Set()
            for (let i = 0; i < 30; ++i) {
                keyClick(i % 7 === 6 ? Qt.Key_Backtab : Qt.Key_Tab)
                const item = drawer.Window.activeFocusItem
                verify(item !== under, i)
                seen.add(item.objectName)
                const top = item.mapToItem(view, 0, 0).y
                verify(top >= 0 && top + item.height <= view.height, item.objectName + " at " + top)
            }
            verify(seen.has("menu-about") && seen.has("menu-count-1"), [...seen].join(","))
            compare(underClicks.count, 0)
            const panel = button("menu-panel")
            for (const at of [Qt.point(host.width - 5, 5), Qt.point(panel.width / 2, host.height - 5)])
                mouseWheel(host, at.x, at.y, 0, -240)
            wait(100)
            compare(beneath.contentY, 0)
            entrySpy.signalName = "closed"
            mouseClick(host, host.width - 5, 5)
            compare(entrySpy.count, 1)
            compare(underClicks.count, 0)

            drawer.visible = false
            mouseWheel(host, host.width - 5, 5, 0, -240)
            tryVerify(() => beneath.contentY > 0)
        }
    }
}
