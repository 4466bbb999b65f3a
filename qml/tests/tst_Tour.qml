import QtQuick
import QtTest
import Tavrix

// A stand-in window: a tall scrolling start screen and a session view carrying
// the tour's target names, the tour on top. The host answers
// enterSessionRequested as the main window does, unless told not to.
Item {
    id: host

    property bool inSession: false
    property bool blank: false
    property bool answerEnter: true
    property int sliderCount: 2
    property real sliderTo: 30
    property int tileClicks: 0
    property int sourceClicks: 0
    property int zoomInClicks: 0

    function openSession() {
        host.inSession = true
        tour.sessionReady()
    }

    width: 800
    height: 600

    Flickable {
        id: startScreen
        anchors.fill: parent
        visible: !host.inSession && !host.blank
        contentHeight: 1500

        Item { objectName: "tour-share"; x: 40; y: 40; width: 200; height: 40 }
        Item { objectName: "tour-code"; x: 300; y: 30; width: 150; height: 100 }
        MouseArea {
            objectName: "tour-layouts"; x: 40; y: 200; width: 700; height: 160
            onClicked: { ++host.tileClicks; host.openSession() }
        }
        MouseArea {
            objectName: "tour-source"; x: 40; y: 700; width: 400; height: 100
            onClicked: ++host.sourceClicks
        }
        Item { objectName: "tour-recordings"; x: 40; y: 1400; width: 200; height: 40 }
    }

    Item {
        id: session
        anchors.fill: parent
        visible: host.inSession

        Repeater {
            model: host.sliderCount
            Item {
                property real to: host.sliderTo
                objectName: "tour-delay"; x: 20 + index * 400; y: 500; width: 360; height: 20
            }
        }
        Item { objectName: "tour-zoom"; x: 20; y: 460; width: 120; height: 30 }
        Item { objectName: "tour-rotate"; x: 300; y: 60; width: 40; height: 40 }
        Item { objectName: "tour-flip"; x: 350; y: 60; width: 40; height: 40; visible: false }
        Item { objectName: "tour-screens"; x: 200; y: 10; width: 160; height: 36 }
        Item { objectName: "tour-variant"; x: 370; y: 10; width: 36; height: 36 }
        Item { objectName: "tour-rec"; x: 500; y: 10; width: 80; height: 36 }
        Item { objectName: "tour-liveshare"; x: 600; y: 10; width: 80; height: 36 }
        Item { objectName: "tour-menu"; x: 750; y: 10; width: 36; height: 36 }
        // A real control under the dim, as a panel's zoom "+" would be.
        ThemedButton { id: zoomIn; x: 600; y: 300; text: "+"; onClicked: ++host.zoomInClicks }
    }

    // A target placed by a test, outside both screens.
    Item { id: probe; objectName: "tour-rec"; visible: false }

    Tour {
        id: tour
        anchors.fill: parent
        searchRoot: host
        settleDelayMs: 10
        pollIntervalMs: 20
        onEnterSessionRequested: if (host.answerEnter) host.openSession()
    }

    SignalSpy { id: finishedSpy; target: tour; signalName: "finished" }

    TestCase {
        name: "Tour"
        when: windowShown

        function init() {
            host.inSession = host.blank = false
            host.answerEnter = true
            host.sliderCount = 2
            host.sliderTo = 30
            host.tileClicks = host.sourceClicks = host.zoomInClicks = 0
            host.width = 800
            host.height = 600
            probe.visible = false
            startScreen.contentY = 0
            tour.cameraWaitMs = 25000
            finishedSpy.clear()
        }

        function cleanup() {
            tour.skip()
            Lang.setUiLanguage("en")
        }

        function part(name) { return findChild(tour, name) }
        function counter() { return part("tourCounter").text }
        function hole() { return [tour.holeX, tour.holeY, tour.holeW, tour.holeH] }
        function ended() { return finishedSpy.signalArguments.map(a => a[0]) }

        function placeProbe(box) {
            probe.x = box[0]
            probe.y = box[1]
            probe.width = box[2]
            probe.height = box[3]
            probe.visible = true
        }

        // Once the spotlight's moves have run out.
        function expectHole(rect) {
            tryVerify(() => String(hole()) === String(rect), 3000, "hole " + hole() + " is not " + rect)
            verify(tour.hasHole && part("tourOutline").visible)
        }

        function waitForStep(count) {
            tryCompare(tour, "phase", "showing")
            compare(counter(), count)
        }

        // Begun on the start screen: five steps there, Start opens a session,
        // the session steps follow, counted within twelve.
        function test_walkFromStartScreenIntoSession() {
            tour.start(true)
            compare([tour.phase, tour.visible, counter()], ["showing", true, "1 of 12"])
            // No target: the whole window dimmed, no outline, card centred.
            verify(!tour.hasHole && !part("tourOutline").visible)
            compare(part("tourDimTop").height + part("tourDimBottom").height, host.height)
            const card = part("tourCard")
            compare([card.x, card.y], [(host.width - card.width) / 2, (host.height - card.height) / 2])
            verify(!part("tourBack").enabled)

            tour.next()
            expectHole([32, 22, 426, 116])          // both targets, 8 px around
            tryCompare(card, "y", 138 + 14)
            // Far below the fold: scrolled until 16 px clear; the card goes above.
            tour.next()
            compare(startScreen.contentY, 1400 + 40 + 16 - 600)
            expectHole([32, 1400 - 856 - 8, 216, 56])
            tryCompare(card, "y", 536 - card.height - 14)
            // Above the view now: scrolled back up to 16 px above the target.
            tour.next()
            compare(startScreen.contentY, 700 - 16)
            tour.next()
            compare([startScreen.contentY, tour.nextLabel, tour.interactive], [200 - 16, "Start", true])

            // The host opens the session inside the emission.
            tour.next()
            compare([tour.phase, tour.visible], ["settling", false])
            waitForStep("6 of 12")
            expectHole([412, 492, 376, 36])         // the second of two sliders
            verify(part("tourBody").text.indexOf("up to 30 second") >= 0)
            // Back never returns to the screen that is gone.
            verify(!part("tourBack").enabled)
            keyClick(Qt.Key_Left)
            compare(counter(), "6 of 12")
            keyClick(Qt.Key_Right)
            mouseClick(part("tourBack"))
            compare(counter(), "6 of 12")
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Right)
            expectHole([292, 52, 56, 56])           // rotate only: the switch is hidden
            keyClick(Qt.Key_Right)
            expectHole([192, 2, 222, 52])
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Right)
            mouseClick(part("tourNext"))
            compare([counter(), tour.nextLabel], ["12 of 12", "Done"])
            compare(finishedSpy.count, 0)
            keyClick(Qt.Key_Enter)
            compare(ended(), [true])
            compare([tour.phase, tour.running, tour.visible], ["idle", false, false])
        }

        // Below, above, right, left, else along the bottom; the spotlight
        // clipped to the window and rounded halves up; dims frame it exactly.
        function test_placement_data() {
            return [
                { tag: "below", box: [100, 50, 100, 40], hole: [92, 42, 116, 56], card: ch => [12, 112] },
                { tag: "above", box: [600, 540, 100, 40], hole: [592, 532, 116, 56], card: ch => [448, 518 - ch] },
                { tag: "right", box: [20, 20, 100, 560], hole: [12, 12, 116, 576], card: ch => [142, 300 - ch / 2] },
                { tag: "left", box: [680, 20, 100, 560], hole: [672, 12, 116, 576], card: ch => [318, 300 - ch / 2] },
                { tag: "nowhere", box: [-50, -50, 900, 700], hole: [0, 0, 800, 600], card: ch => [230, 588 - ch] },
                { tag: "fractions", box: [3.5, 10.25, 50.5, 20.5], hole: [0, 2, 62, 37], card: ch => [12, 53] }
            ]
        }

        function test_placement(data) {
            placeProbe(data.box)
            tour.start(false)
            // The steps before it find nothing; the counter keeps its total.
            compare(counter(), "5 of 7")
            compare(hole(), data.hole)
            const card = part("tourCard")
            compare([card.x, card.y], data.card(card.height))
            const h = data.hole
            compare([part("tourDimTop").height, part("tourDimLeft").width, part("tourDimRight").x,
                     part("tourDimBottom").y, part("tourDimBottom").height],
                    [h[1], h[0], h[0] + h[2], h[1] + h[3], 600 - h[1] - h[3]])
        }

        // Hidden, transparent and sizeless targets are skipped. Back stops at
        // the first session step shown after the crossing, and stays put when
        // nothing behind can be shown.
        function test_skippedStepsAndBackFloor() {
            host.sliderCount = 0
            tour.start(true, 4)
            // A tile clicked through the spotlight (beside the card) opens the session too.
            mouseClick(host, 100, 280)
            compare(host.tileClicks, 1)
            waitForStep("7 of 12")
            verify(!part("tourBack").enabled)
            tour.next()
            // The delay step can be shown now, but lies below the floor.
            host.sliderCount = 1
            const zoom = findChild(session, "tour-zoom")
            zoom.opacity = 0
            tour.back()
            compare(counter(), "8 of 12")
            tryVerify(() => !part("tourBack").enabled)
            zoom.opacity = 1
            tryVerify(() => part("tourBack").enabled)
            tour.back()
            compare(counter(), "7 of 12")
            tour.skip()

            // From the menu: one slider is the one lit; a slider without range says 60.
            host.sliderTo = 0
            tour.start(false)
            compare(hole(), [12, 492, 376, 36])
            verify(part("tourBody").text.indexOf("up to 60 second") >= 0)
            tour.skip()

            host.sliderCount = 0
            tour.start(false)
            compare(counter(), "2 of 7")
            // Nothing before it can be shown: Back is shown disabled.
            verify(!part("tourBack").enabled)
            tour.back()
            compare([tour.phase, counter()], ["showing", "2 of 7"])
            tour.skip()

            const screens = findChild(session, "tour-screens")
            const variant = findChild(session, "tour-variant")
            const rotate = findChild(session, "tour-rotate")
            zoom.opacity = 0; screens.width = 0; variant.height = 0; rotate.visible = false
            tour.start(false)
            compare(counter(), "5 of 7")
            zoom.opacity = 1; screens.width = 160; variant.height = 36; rotate.visible = true
            compare(ended(), [false, false, false])
        }

        // Calls in the wrong phase change nothing, and a receiver calling
        // back inside a signal gets a consistent tour.
        function test_wrongPhaseAndReentrantCalls() {
            tour.sessionReady()
            tour.next()
            tour.start(true, 12)                    // past the end
            tour.start(false)                       // no session target on screen
            compare(tour.phase, "idle")
            tour.start(true, -3)
            tour.start(false)
            tour.back()
            tour.sessionReady()                     // not on the step that opens a session
            compare([tour.phase, counter(), tour.plan.length], ["showing", "1 of 12", 12])
            compare(finishedSpy.count, 0)

            // A finished handler that starts again gets a fresh tour.
            const restart = () => tour.start(true)
            tour.finished.connect(restart)
            tour.start(true, 2)
            tour.skip()
            tour.finished.disconnect(restart)
            compare([tour.phase, counter()], ["showing", "1 of 12"])
            tour.skip()

            // Waiting: the card is gone and answers nothing.
            host.answerEnter = false
            tour.start(true, 4)
            tour.next()
            tour.next()
            tour.back()
            tour.start(true)
            compare([tour.phase, tour.idx], ["waiting", 4])
            tour.skip()

            // Skipped inside the Start emission: ends once, stays ended.
            const bail = () => tour.skip()
            tour.enterSessionRequested.connect(bail)
            tour.start(true, 4)
            tour.next()
            tour.enterSessionRequested.disconnect(bail)
            compare(tour.phase, "idle")

            // Skipped while settling: ended, the session left as it is.
            host.answerEnter = true
            tour.start(true, 4)
            tour.next()
            compare(tour.phase, "settling")
            tour.skip()
            verify(host.inSession)
            compare(ended(), [false, false, false, false, false])
        }

        // No session screen reports: after the wait the tour goes on with
        // what is on screen; with nothing there it ends as completed.
        function test_waitTimesOut() {
            host.answerEnter = false
            tour.cameraWaitMs = 50
            tour.start(true, 4)
            tour.next()
            compare(tour.phase, "waiting")
            host.inSession = true
            waitForStep("6 of 12")
            tour.skip()

            host.inSession = false
            tour.start(true, 4)
            tour.next()
            host.blank = true
            tryCompare(finishedSpy, "count", 2, 3000)
            compare(ended(), [false, true])
        }

        // Dim areas and a spotlight that is not interactive swallow clicks;
        // the spotlight follows a moving target and stays when it vanishes;
        // Escape skips.
        function test_inputAndRefresh() {
            tour.start(true, 3)
            const y = 700 - startScreen.contentY + 50
            mouseClick(host, 200, y)
            mouseClick(host, 400, 100)
            compare([host.sourceClicks, host.tileClicks], [0, 0])
            tour.skip()
            mouseClick(host, 200, y)
            compare(host.sourceClicks, 1)

            placeProbe([100, 100, 50, 50])
            tour.start(false)
            probe.x = 300
            expectHole([292, 92, 66, 66])
            probe.visible = false
            wait(100)
            compare(hole(), [292, 92, 66, 66])
            keyClick(Qt.Key_Escape)
            compare(ended(), [false, false])
        }

        // While a card shows, the keyboard stays with it: Tab and Shift+Tab
        // never reach the control beneath, Space never presses it, and Right
        // and Return still go on. Once the tour ends the control works again.
        function test_cardKeepsTheKeyboard() {
            host.inSession = true
            zoomIn.forceActiveFocus()
            verify(zoomIn.activeFocus)
            tour.start(false)
            compare(counter(), "1 of 7")
            verify(tour.activeFocus && !zoomIn.activeFocus)
            for (const key of [Qt.Key_Tab, Qt.Key_Tab, Qt.Key_Backtab, Qt.Key_Tab]) {
                keyClick(key)
                verify(tour.activeFocus, "key " + key)
                keyClick(Qt.Key_Space)
            }
            keyClick(Qt.Key_Tab, Qt.ShiftModifier)
            keyClick(Qt.Key_Space)
            compare(host.zoomInClicks, 0)
            keyClick(Qt.Key_Return)
            compare(counter(), "2 of 7")
            // A control beneath that takes the focus by itself hands it back.
            zoomIn.forceActiveFocus()
            verify(tour.activeFocus)
            keyClick(Qt.Key_Space)
            keyClick(Qt.Key_Right)
            compare([counter(), host.zoomInClicks], ["3 of 7", 0])

            tour.skip()
            zoomIn.forceActiveFocus()
            keyClick(Qt.Key_Space)
            compare(host.zoomInClicks, 1)
        }

        // "Skip tour", Back and Next stay inside the card, apart, with whole
        // labels, in every language, from a narrow window to a large one.
        function test_buttonRowInsideTheCard_data() {
            const rows = []
            for (const size of [[320, 480], [800, 480], [1920, 1080]]) {
                for (const language of ["en", "fr", "de", "es", "it", "nl"])
                    rows.push({ tag: language + " " + size[0] + "x" + size[1], language: language,
                                width: size[0], height: size[1] })
            }
            return rows
        }

        function test_buttonRowInsideTheCard(data) {
            host.width = data.width
            host.height = data.height
            Lang.setUiLanguage(data.language)
            const ui = TourSteps.ui()
            const card = part("tourCard")
            const box = (item, width) => {
                const p = item.mapToItem(card, 0, 0)
                return { left: p.x, top: p.y, right: p.x + width, bottom: p.y + item.height }
            }
            const apart = (a, b) => a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top
            const checkRow = (label) => {
                compare(tour.nextLabel, label)
                waitForItemPolished(part("tourContent"))
                const skipText = part("tourSkip")
                const skip = box(skipText, Math.max(skipText.width, skipText.contentWidth))
                const back = box(part("tourBack"), part("tourBack").width)
                const next = box(part("tourNext"), part("tourNext").width)
                for (const b of [skip, back, next]) {
                    verify(b.left >= 20 && b.right <= card.width - 20 + 0.01 && b.bottom <= card.height - 20 + 0.01,
                           label + ": " + JSON.stringify(b) + " in a card " + card.width + " x " + card.height)
                }
                verify(apart(skip, back) && apart(back, next) && apart(skip, next), label)
                verify(!skipText.truncated && !part("tourBackLabel").truncated && !part("tourNextLabel").truncated)
                verify(part("tourBackLabel").contentWidth <= back.right - back.left - 16)
                verify(part("tourNextLabel").contentWidth <= next.right - next.left - 16)
                // Once its move has run out, the card is inside the window.
                tryVerify(() => card.x >= 0 && card.x + card.width <= host.width
                                && card.y >= 0 && card.y + card.height <= host.height, 3000,
                          label + ": card " + [card.x, card.y, card.width, card.height])
            }
            tour.start(true)
            checkRow(ui.next)
            verify(!part("tourBack").enabled)
            tour.skip()
            tour.start(true, 4)
            checkRow(ui.start)
            tour.skip()
            host.inSession = true
            tour.start(false, 6)
            checkRow(ui.done)
            verify(part("tourBack").enabled)
        }
    }
}
