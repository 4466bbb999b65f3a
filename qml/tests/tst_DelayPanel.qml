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

        function argsOf(spy, i) {
            return Array.from(spy.signalArguments[i])
        }

        function child(panel, name) {
            const item = findChild(panel, name)
            verify(item, name)
            return item
        }

        function cleanup() {
            Lang.setCardLanguage("")
        }

        function test_badge_data() {
            return [
                { tag: "live", delay: 0, text: "LIVE", dot: Theme.live },
                { tag: "half a second", delay: 0.5, text: "\u22120.5s", dot: Theme.accent },
                { tag: "three", delay: 3, text: "\u22123.0s", dot: Theme.accent },
                { tag: "top of the slider", delay: 60, text: "\u221260.0s", dot: Theme.accent },
            ]
        }

        function test_badge(data) {
            const panel = makePanel({ delaySeconds: data.delay })
            compare(child(panel, "delayBadgeText").text, data.text)
            compare(child(panel, "delayBadgeDot").color, data.dot)
        }

        function test_liveWordFollowsTheCardLanguage() {
            const panel = makePanel()
            Lang.setCardLanguage("fr")
            compare(Lang.cardLive, "EN DIRECT")
            compare(child(panel, "delayBadgeText").text, Lang.cardLive)
        }

        function test_valuesReachThePictureOnly() {
            const panel = makePanel({ delaySeconds: 2.5, rotation: 90, zoom: 2, panX: 12, panY: -7, source: 1 })
            const video = child(panel, "videoPanel")
            compare(video.delayMs, 2500)
            compare(video.rotationDegrees, 90)
            compare(video.zoom, 2)
            compare(video.panX, 12)
            compare(video.panY, -7)
            compare(video.source, 1)
            // The panel itself and its controls stay upright.
            const corner = panel.mapToItem(host, panel.width, 0)
            compare(corner.x, panel.width)
            compare(corner.y, 0)
            compare(child(panel, "tour-rotate").contentItem.text, "\u21BB 90\u00B0")
        }

        function test_buttonsRequestWithoutChangingAnything_data() {
            return [
                { tag: "plus at the top", props: { zoom: 5 }, button: "zoomInButton", signal: "zoomRequested", args: [5] },
                { tag: "plus", props: { zoom: 2.75 }, button: "zoomInButton", signal: "zoomRequested", args: [3] },
                { tag: "minus at the bottom", props: { zoom: 1 }, button: "zoomOutButton", signal: "zoomRequested", args: [1] },
                { tag: "rotate wraps", props: { rotation: 270 }, button: "tour-rotate", signal: "rotationRequested", args: [0] },
                { tag: "flip to B", props: { source: 0, showSourceButton: true }, button: "tour-flip", signal: "sourceRequested", args: [1] },
                { tag: "flip to A", props: { source: 1, showSourceButton: true }, button: "tour-flip", signal: "sourceRequested", args: [0] },
            ]
        }

        function test_buttonsRequestWithoutChangingAnything(data) {
            const panel = makePanel(data.props)
            const spy = spyOn(panel, data.signal)
            mouseClick(child(panel, data.button))
            compare(spy.count, 1)
            compare(argsOf(spy, 0), data.args)
            for (const key in data.props)
                compare(panel[key], data.props[key], key)
        }

        function test_resetAsksForZoomThenCentre() {
            const panel = makePanel({ zoom: 3, panX: 50, panY: 20 })
            const order = []
            panel.zoomRequested.connect(value => order.push("zoom " + value))
            panel.panRequested.connect((x, y) => order.push("pan " + x + "," + y))
            mouseClick(child(panel, "zoomResetButton"))
            compare(order, ["zoom 1", "pan 0,0"])
        }

        function test_dragPansWithinTheZoomLimits() {
            const panel = makePanel({ zoom: 2 })
            const spy = spyOn(panel, "panRequested")
            // 400 x 300 at zoom 2: +-200 across, +-150 down.
            mouseDrag(panel, 100, 100, 500, 0)
            verify(spy.count > 0)
            compare(argsOf(spy, spy.count - 1), [200, 0])

            // The next drag starts from the pan the owner assigned.
            panel.panX = 150
            spy.clear()
            mouseDrag(panel, 200, 200, -30, -400)
            compare(argsOf(spy, spy.count - 1), [120, -150])
            panel.panX = 0
            mouseDrag(panel, 300, 50, -500, 400)
            compare(argsOf(spy, spy.count - 1), [-200, 150])

            // Zoomed out with the pan kept: the first move clamps it to the new limits.
            panel.zoom = 1.5
            panel.panX = 190
            spy.clear()
            mouseDrag(panel, 200, 100, 0, 20)
            compare(spy.signalArguments[0][0], 100)
            compare(argsOf(spy, spy.count - 1), [100, 20])
        }

        function test_noDragPanAtZoomOneOrLocked_data() {
            return [
                { tag: "zoom one", props: { zoom: 1 } },
                { tag: "locked", props: { zoom: 3, locked: true } },
            ]
        }

        function test_noDragPanAtZoomOneOrLocked(data) {
            const panel = makePanel(data.props)
            const spy = spyOn(panel, "panRequested")
            mouseDrag(panel, 100, 100, 120, 60)
            compare(spy.count, 0)
        }

        function test_lockedKeepsBadgeAndSlider() {
            const panel = makePanel({ showSourceButton: true, delaySeconds: 3 })
            const openBar = child(panel, "bottomBar").height
            panel.locked = true
            verify(!child(panel, "tour-flip").visible)
            verify(!child(panel, "tour-rotate").visible)
            verify(!child(panel, "tour-zoom").visible)
            verify(child(panel, "delayBadge").visible)
            compare(child(panel, "bottomBar").height, openBar - 30)

            const slider = child(panel, "tour-delay")
            verify(slider.visible)
            waitForItemPolished(slider.parent)
            compare(slider.y, 0)
            compare(slider.to, 60)
            const spy = spyOn(panel, "delayRequested")
            mouseClick(slider, slider.width - 2, slider.height / 2)
            compare(spy.count, 1)
            const requested = spy.signalArguments[0][0]
            verify(requested > 55 && requested <= 60 && requested % 0.5 === 0, requested)
            // Not assigned back by an owner: the badge still shows 3 s.
            compare(child(panel, "delayBadgeText").text, "\u22123.0s")
        }

        function test_topClearanceMovesTheTopControlsOnly() {
            const panel = makePanel({ topClearance: 48 })
            const bar = child(panel, "bottomBar")
            const barY = bar.y
            compare(child(panel, "delayBadge").y, 48)
            compare(child(panel, "topRightRow").y, 48)
            panel.topClearance = 8
            compare(child(panel, "delayBadge").y, 8)
            compare(bar.y, barY)
        }

        function test_rotateButtonStaysAtTheRightEdge() {
            const panel = makePanel({ showSourceButton: false })
            const rotate = child(panel, "tour-rotate")
            compare(rotate.mapToItem(panel, rotate.width, 0).x, panel.width - 8)
            panel.showSourceButton = true
            waitForItemPolished(child(panel, "topRightRow"))
            const flip = child(panel, "tour-flip")
            verify(flip.mapToItem(panel, 0, 0).x < rotate.mapToItem(panel, 0, 0).x)
            compare(rotate.mapToItem(panel, rotate.width, 0).x, panel.width - 8)
        }
    }
}
