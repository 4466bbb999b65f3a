import QtQuick
import QtTest
import Tavrix

// One delay panel: what it shows for the values it is given and what it asks
// for; it never changes its own settings.
Item {
    id: host

    width: 800
    height: 600

    Component {
        id: panelComponent
        DelayPanel {
            width: 400
            height: 300
        }
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    TestCase {
        name: "DelayPanel"
        when: windowShown

        function makePanel(properties) {
            const panel = createTemporaryObject(panelComponent, host, properties || {})
            verify(panel)
            return panel
        }

        function spyOn(panel, signalName) {
            return createTemporaryObject(spyComponent, host, { target: panel, signalName: signalName })
        }

        function lastArgs(spy) {
            return Array.from(spy.signalArguments[spy.count - 1])
        }

        function child(panel, name) {
            const item = findChild(panel, name)
            verify(item, name)
            return item
        }

        function test_badgeAndPicture() {
            const panel = makePanel({ delaySeconds: 0 })
            const text = child(panel, "delayBadgeText")
            compare([text.text, child(panel, "delayBadgeDot").color], ["LIVE", Theme.live])
            Lang.setCardLanguage("fr")
            compare(text.text, "EN DIRECT")
            Lang.setCardLanguage("")
            for (const [seconds, shown] of [[0.5, "\u22120.5s"], [3, "\u22123.0s"], [60, "\u221260.0s"]]) {
                panel.delaySeconds = seconds
                compare(text.text, shown)
            }
            compare(child(panel, "delayBadgeDot").color, Theme.accent)

            Object.assign(panel, { delaySeconds: 2.5, rotation: 90, zoom: 2, panX: 12, panY: -7, source: 1 })
            const video = child(panel, "videoPanel")
            compare([video.delayMs, video.rotationDegrees, video.zoom, video.panX, video.panY, video.source, video.mirror],
                    [2500, 90, 2, 12, -7, 1, false])
            // Only the picture turns; the panel and its controls stay upright.
            compare(panel.mapToItem(host, panel.width, 0), Qt.point(panel.width, 0))
        }

        function test_buttonsOnlyRequest_data() {
            return [
                { tag: "plus at the top", props: { zoom: 5 }, button: "zoomInButton", signal: "zoomRequested", args: [5] },
                { tag: "plus", props: { zoom: 2.75 }, button: "zoomInButton", signal: "zoomRequested", args: [3] },
                { tag: "minus at the bottom", props: { zoom: 1 }, button: "zoomOutButton", signal: "zoomRequested", args: [1] },
                { tag: "rotate wraps", props: { rotation: 270 }, button: "tour-rotate", signal: "rotationRequested", args: [0] },
                { tag: "flip to B", props: { source: 0, showSourceButton: true }, button: "tour-flip", signal: "sourceRequested", args: [1] },
                { tag: "flip to A", props: { source: 1, showSourceButton: true }, button: "tour-flip", signal: "sourceRequested", args: [0] },
                { tag: "reset centres last", props: { zoom: 3, panX: 5 }, button: "zoomResetButton", signal: "panRequested", args: [0, 0] },
            ]
        }

        function test_buttonsOnlyRequest(data) {
            const panel = makePanel(data.props)
            const spy = spyOn(panel, data.signal)
            const order = []
            panel.zoomRequested.connect(() => order.push("zoom"))
            panel.panRequested.connect(() => order.push("pan"))
            mouseClick(child(panel, data.button))
            compare(spy.count, 1)
            compare(lastArgs(spy), data.args)
            if (data.signal === "panRequested")
                compare(order, ["zoom", "pan"])
            for (const key in data.props)
                compare(panel[key], data.props[key], key)
        }

        function test_dragPansWithinTheZoomLimits() {
            const panel = makePanel({ zoom: 2 })
            const spy = spyOn(panel, "panRequested")
            // 400 x 300 at zoom 2: +-200 across, +-150 down.
            mouseDrag(panel, 100, 100, 500, 0)
            compare(lastArgs(spy), [200, 0])
            // The next drag starts from the pan the owner assigned.
            panel.panX = 150
            mouseDrag(panel, 200, 200, -30, -400)
            compare(lastArgs(spy), [120, -150])
            panel.panX = 0
            mouseDrag(panel, 300, 50, -500, 400)
            compare(lastArgs(spy), [-200, 150])
            // Zoomed out with the pan kept: the first move clamps it to the new limits.
            panel.zoom = 1.5
            panel.panX = 190
            spy.clear()
            mouseDrag(panel, 200, 100, 0, 20)
            compare(spy.signalArguments[0][0], 100)
            compare(lastArgs(spy), [100, 20])
            // At zoom 1 nothing pans.
            panel.zoom = 1
            spy.clear()
            mouseDrag(panel, 100, 100, 120, 60)
            compare(spy.count, 0)
        }

        function test_lockedKeepsBadgeAndSliderOnly() {
            const panel = makePanel({ showSourceButton: true, delaySeconds: 3, zoom: 3 })
            const openBar = child(panel, "bottomBar").height
            panel.locked = true
            for (const name of ["tour-flip", "tour-rotate", "tour-zoom"])
                verify(!child(panel, name).visible, name)
            verify(child(panel, "delayBadge").visible)
            compare(child(panel, "bottomBar").height, openBar - 30)
            const pans = spyOn(panel, "panRequested")
            mouseDrag(panel, 100, 100, 120, 60)
            compare(pans.count, 0)

            const slider = child(panel, "tour-delay")
            waitForItemPolished(slider.parent)
            compare([slider.visible, slider.y, slider.to], [true, 0, 60])
            const spy = spyOn(panel, "delayRequested")
            mouseClick(slider, slider.width - 2, slider.height / 2, Qt.LeftButton, Qt.NoModifier, 600)
            compare(spy.count, 1)
            const requested = spy.signalArguments[0][0]
            verify(requested > 55 && requested <= 60 && requested % 0.5 === 0, requested)
            // Not assigned back by an owner: the badge still shows 3 s.
            compare(child(panel, "delayBadgeText").text, "\u22123.0s")
        }
    }
}
