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

        // A press on a control stays the control's however far a shaky
        // finger wanders: released on it, the control acts; released off
        // it, nothing happens; the picture never pans. A drag that starts
        // on the picture still does.
        function test_pressOnAControlIsNeverAPan_data() {
            return [
                { tag: "plus, moved within it", button: "zoomInButton", from: [1, 12], to: [23, 12], acts: true },
                { tag: "plus, moved off it", button: "zoomInButton", from: [12, 12], to: [80, -60], acts: false },
                { tag: "plus, touch moved off it", button: "zoomInButton", from: [12, 12], to: [80, -60], acts: false,
                  touch: true },
                { tag: "minus, moved off it", button: "zoomOutButton", from: [12, 12], to: [-70, -50], acts: false },
                { tag: "reset, moved within it", button: "zoomResetButton", from: [1, 1], to: "far corner", acts: true },
                { tag: "rotate, moved off it", button: "tour-rotate", from: [5, 5], to: [-120, 90], acts: false },
                { tag: "flip, touch moved within it", button: "tour-flip", from: [2, 2], to: "far corner", acts: true,
                  touch: true },
                { tag: "slider, moved up", button: "tour-delay", from: [40, 16], to: [40, -80], acts: false },
            ]
        }

        function test_pressOnAControlIsNeverAPan(data) {
            const panel = makePanel({ zoom: 2, showSourceButton: true })
            const control = child(panel, data.button)
            const acted = []
            for (const name of ["zoomRequested", "rotationRequested", "sourceRequested"])
                panel[name].connect(() => acted.push(name))
            const pans = []
            panel.panRequested.connect((x, y) => pans.push([x, y]))
            const [x0, y0] = data.from
            const [x1, y1] = data.to === "far corner" ? [control.width - 2, control.height - 2] : data.to
            verify(Math.hypot(x1 - x0, y1 - y0) > 2 * Qt.styleHints.startDragDistance)
            const steps = 8
            if (data.touch) {
                const touch = touchEvent(control)
                touch.press(0, control, x0, y0).commit()
                for (let i = 1; i <= steps; ++i)
                    touch.move(0, control, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps).commit()
                touch.release(0, control, x1, y1).commit()
            } else {
                mousePress(control, x0, y0)
                for (let i = 1; i <= steps; ++i)
                    mouseMove(control, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, -1, Qt.LeftButton)
                mouseRelease(control, x1, y1)
            }
            if (data.button === "tour-delay") {
                compare(pans, [])
            } else {
                const releasedOn = x1 >= 0 && y1 >= 0 && x1 < control.width && y1 < control.height
                compare(releasedOn, data.acts)
                compare(acted.length, data.acts ? 1 : 0, acted)
                compare(pans, data.acts && data.button === "zoomResetButton" ? [[0, 0]] : [])
            }
            // Paused first: a press soon after the last would be a double click.
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            mouseDrag(panel, 100, 150, 40, 20)
            compare(pans[pans.length - 1], [40, 20])
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
