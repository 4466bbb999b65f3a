import QtQuick
import QtTest
import Tavrix

// The menu drawer as its host uses it: values bound in, signals out, the
// host applying (or ignoring) each request.
Item {
    id: testCase

    width: 800
    height: 700

    Item {
        id: host

        // The host's values, as a session screen keeps them.
        property int panelCount: 1
        property int resolution: 720
        property int maxCaptureHeight: 720
        property int bufferSeconds: 60
        property bool dualCamMode: false
        property bool dualCameraSupported: true
        property bool captureLocked: false
        // A host that takes no notice of requests.
        property bool applies: true

        width: testCase.width
        height: testCase.height

        MenuDrawer {
            id: drawer

            anchors.fill: parent
            visible: true
            panelCount: host.panelCount
            resolution: host.resolution
            maxCaptureHeight: host.maxCaptureHeight
            bufferSeconds: host.bufferSeconds
            dualCamMode: host.dualCamMode
            dualCameraSupported: host.dualCameraSupported
            captureLocked: host.captureLocked
            onChangePanelCount: count => { if (host.applies) host.panelCount = count }
            onChangeResolution: height => { if (host.applies) host.resolution = height }
            onChangeBufferSeconds: seconds => { if (host.applies) host.bufferSeconds = seconds }
            onChangeDualCamMode: value => { if (host.applies) host.dualCamMode = value }
        }
    }

    TestCase {
        name: "MenuDrawer"
        when: windowShown

        SignalSpy { id: panelSpy; target: drawer; signalName: "changePanelCount" }
        SignalSpy { id: resolutionSpy; target: drawer; signalName: "changeResolution" }
        SignalSpy { id: bufferSpy; target: drawer; signalName: "changeBufferSeconds" }
        SignalSpy { id: dualSpy; target: drawer; signalName: "changeDualCamMode" }
        SignalSpy { id: closedSpy; target: drawer; signalName: "closed" }
        SignalSpy { id: entrySpy; target: drawer }

        function init() {
            host.width = testCase.width
            host.height = testCase.height
            host.panelCount = 1
            host.resolution = 720
            host.maxCaptureHeight = 720
            host.bufferSeconds = 60
            host.dualCamMode = false
            host.dualCameraSupported = true
            host.captureLocked = false
            host.applies = true
            findChild(drawer, "menu-view").contentY = 0
            for (const spy of [panelSpy, resolutionSpy, bufferSpy, dualSpy, closedSpy])
                spy.clear()
        }

        function button(name) {
            const item = findChild(drawer, name)
            verify(item, name)
            return item
        }

        // Lets the rows and the column lay themselves out after a change.
        function settle() {
            drawer.Window.window.update()
            waitForRendering(drawer)
        }

        // Brings an entry into the view (the column may scroll) and clicks it.
        function clickEntry(name) {
            settle()
            const item = button(name)
            const view = findChild(drawer, "menu-view")
            const top = item.mapToItem(view.contentItem, 0, 0).y
            view.contentY = Math.max(0, Math.min(top - 16, view.contentHeight - view.height))
            mouseClick(item)
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
            // The probe answers late: the rows are rebuilt from the default.
            compare(findChild(drawer, "menu-quality-1080"), null)
            host.maxCaptureHeight = data.max
            settle()
            let lastX = -1
            for (const height of [720, 1080, 2160]) {
                const item = findChild(drawer, "menu-quality-" + height)
                if (data.offered.indexOf(height) < 0) {
                    compare(item, null, "offered " + height)
                    continue
                }
                verify(item, "missing " + height)
                compare(item.text, height + "p")
                verify(item.x > lastX, "out of order at " + height)
                lastX = item.x
            }
            verify(button("menu-quality-720").checked)
            // A height that is not offered marks nothing.
            host.resolution = data.max < 1080 ? 1080 : 480
            for (const height of data.offered)
                verify(!button("menu-quality-" + height).checked, height)
        }

        // Each choice: its buttons, the host's property, a value to move to.
        function test_marksFollowTheHostOnly_data() {
            return [
                { tag: "panel count", prop: "panelCount", from: 1, to: 3, other: 4, spy: "panel",
                  name: v => "menu-count-" + v },
                { tag: "quality", prop: "resolution", from: 720, to: 2160, other: 1080, spy: "resolution",
                  name: v => "menu-quality-" + v },
                { tag: "buffer", prop: "bufferSeconds", from: 60, to: 120, other: 30, spy: "buffer",
                  name: v => "menu-buffer-" + v },
                { tag: "dual", prop: "dualCamMode", from: false, to: true, other: false, spy: "dual",
                  name: v => v ? "menu-dual-both" : "menu-dual-one" },
            ]
        }

        function test_marksFollowTheHostOnly(data) {
            host.maxCaptureHeight = 2160
            const spy = { panel: panelSpy, resolution: resolutionSpy, buffer: bufferSpy, dual: dualSpy }[data.spy]
            compare(host[data.prop], data.from)

            // The host applies the request: the mark moves with its value.
            clickEntry(data.name(data.to))
            compare(spy.count, 1)
            compare(spy.signalArguments[0][0], data.to)
            verify(button(data.name(data.to)).checked)
            verify(!button(data.name(data.from)).checked)

            // A host that ignores the request: the mark stays where the value is.
            host.applies = false
            clickEntry(data.name(data.from))
            compare(spy.count, 2)
            compare(spy.signalArguments[1][0], data.from)
            verify(!button(data.name(data.from)).checked, "a click moved the mark by itself")
            verify(button(data.name(data.to)).checked)

            // The bindings survived the clicks: a change made elsewhere shows.
            host[data.prop] = data.other
            verify(button(data.name(data.other)).checked)
            if (data.other !== data.to)
                verify(!button(data.name(data.to)).checked)
            host[data.prop] = data.to
            verify(button(data.name(data.to)).checked)
        }

        // Re-choosing a capture setting would restart the session and empty the
        // replay buffer for nothing.
        function test_chosenCaptureOptionReportsNothing() {
            host.maxCaptureHeight = 2160
            host.resolution = 1080
            clickEntry("menu-quality-1080")
            clickEntry("menu-buffer-60")
            clickEntry("menu-dual-one")
            host.dualCamMode = true
            clickEntry("menu-dual-both")
            compare(resolutionSpy.count, 0)
            compare(bufferSpy.count, 0)
            compare(dualSpy.count, 0)
            verify(button("menu-quality-1080").checked)
            verify(button("menu-buffer-60").checked)
            verify(button("menu-dual-both").checked)

            // In dual mode the stored height stays marked and a new one is still reported.
            clickEntry("menu-quality-2160")
            compare(resolutionSpy.count, 1)
            compare(resolutionSpy.signalArguments[0][0], 2160)
        }

        function test_lockWhileRecording() {
            host.maxCaptureHeight = 1080
            host.captureLocked = true
            const quality = findChild(drawer, "menu-quality-text").text
            const dual = findChild(drawer, "menu-dual-text").text
            verify(quality.endsWith(". Locked while recording."), quality)
            verify(dual.endsWith(". Locked while recording."), dual)

            for (const name of ["menu-quality-1080", "menu-buffer-30", "menu-dual-both"]) {
                verify(!button(name).enabled, name)
                clickEntry(name)
            }
            compare(resolutionSpy.count + bufferSpy.count + dualSpy.count, 0)

            // What is not a capture setting still works.
            clickEntry("menu-count-2")
            compare(panelSpy.count, 1)
            for (const entry of [["menu-liveshare", "openLiveShare"], ["menu-tour", "takeTour"],
                                 ["menu-language", "openLanguage"], ["menu-guide", "openUserGuide"],
                                 ["menu-privacy", "openPrivacy"], ["menu-about", "openAbout"]]) {
                entrySpy.signalName = entry[1]
                entrySpy.clear()
                clickEntry(entry[0])
                compare(entrySpy.count, 1, entry[0])
            }
            compare(closedSpy.count, 0)

            // Unlocked again, the same rows report once more.
            host.captureLocked = false
            verify(!findChild(drawer, "menu-quality-text").text.includes("Locked"))
            clickEntry("menu-quality-1080")
            compare(resolutionSpy.count, 1)
        }

        function test_withoutDualCameraTheSectionTakesNoRoom() {
            settle()
            const caption = findChild(drawer, "menu-liveshare-caption")
            const shownY = caption.y
            host.dualCameraSupported = false
            settle()
            verify(!button("menu-dual-one").visible)
            verify(!findChild(drawer, "menu-dual-text").visible)
            const bufferButton = button("menu-buffer-120")
            const bufferBottom = bufferButton.mapToItem(caption.parent, 0, bufferButton.height).y
            // Column spacing and the caption's own margin, nothing in between.
            compare(caption.y - bufferBottom, 10 + 14)
            verify(caption.y < shownY)
        }

        function test_closing() {
            const panel = findChild(drawer, "menu-panel")
            compare(panel.width, 340)
            // The panel's own background keeps the drawer open...
            mouseClick(panel, panel.width / 2, panel.height - 4)
            compare(closedSpy.count, 0)
            // ...the dimmed area right of it and the close box close it.
            mouseClick(drawer, panel.width + 20, drawer.height / 2)
            compare(closedSpy.count, 1)
            mouseClick(button("menu-close"))
            compare(closedSpy.count, 2)
            // Choices leave it open.
            clickEntry("menu-buffer-30")
            clickEntry("menu-guide")
            compare(closedSpy.count, 2)
        }

        function test_narrowShortHostWrapsAndScrolls() {
            host.width = 300
            host.height = 320
            settle()
            const panel = findChild(drawer, "menu-panel")
            compare(panel.width, 300 * 0.78)
            const view = findChild(drawer, "menu-view")
            const entry = button("menu-guide")
            const shortHeight = entry.height
            entry.text = "A very long translated label that cannot possibly fit on one line of this menu"
            settle()
            verify(entry.height > shortHeight, "the label did not wrap")
            verify(entry.mapToItem(view, entry.width, 0).x <= view.width + 0.5, "pushed past the edge")
            compare(view.contentWidth, view.width)

            // The column is taller than the panel and scrolls to "About".
            verify(view.contentHeight > view.height)
            view.contentY = view.contentHeight - view.height
            const about = button("menu-about")
            const bottom = about.mapToItem(view, 0, about.height).y
            verify(bottom <= view.height && bottom > 0, "About out of reach: " + bottom)
            entrySpy.signalName = "openAbout"
            entrySpy.clear()
            mouseClick(about)
            compare(entrySpy.count, 1)
        }
    }
}
