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
    property bool flipShown: false
    property int tileClicks: 0
    property int sourceClicks: 0

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
        contentWidth: width
        contentHeight: 1500

        Item { objectName: "tour-share"; x: 40; y: 40; width: 200; height: 40 }
        Item { objectName: "tour-code"; x: 300; y: 30; width: 150; height: 100 }
        MouseArea {
            objectName: "tour-layouts"
            x: 40; y: 200; width: 700; height: 160
            onClicked: { ++host.tileClicks; host.openSession() }
        }
        MouseArea {
            objectName: "tour-source"
            x: 40; y: 700; width: 400; height: 100
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
                objectName: "tour-delay"
                x: 20 + index * 400; y: 500; width: 360; height: 20
            }
        }
        Item { objectName: "tour-zoom"; x: 20; y: 460; width: 120; height: 30 }
        Item { objectName: "tour-rotate"; x: 300; y: 60; width: 40; height: 40 }
        Item { objectName: "tour-flip"; x: 350; y: 60; width: 40; height: 40; visible: host.flipShown }
        Item { objectName: "tour-screens"; x: 200; y: 10; width: 160; height: 36 }
        Item { objectName: "tour-variant"; x: 370; y: 10; width: 36; height: 36 }
        Item { objectName: "tour-rec"; x: 500; y: 10; width: 80; height: 36 }
        Item { objectName: "tour-liveshare"; x: 600; y: 10; width: 80; height: 36 }
        Item { objectName: "tour-menu"; x: 750; y: 10; width: 36; height: 36 }
    }

    // A target placed by a test, outside both screens.
    Item { id: probe; objectName: "tour-rec"; visible: false }

    Tour {
        id: tour
        anchors.fill: parent
        searchRoot: host
        settleDelayMs: 10
        pollIntervalMs: 20
        onEnterSessionRequested: {
            if (host.answerEnter)
                host.openSession()
        }
    }

    SignalSpy { id: finishedSpy; target: tour; signalName: "finished" }
    SignalSpy { id: enterSpy; target: tour; signalName: "enterSessionRequested" }

    TestCase {
        id: testCase

        name: "Tour"
        when: windowShown

        function init() {
            host.inSession = false
            host.blank = false
            host.answerEnter = true
            host.sliderCount = 2
            host.sliderTo = 30
            host.flipShown = false
            host.tileClicks = 0
            host.sourceClicks = 0
            probe.visible = false
            startScreen.contentY = 0
            tour.cameraWaitMs = 25000
            finishedSpy.clear()
            enterSpy.clear()
        }

        function cleanup() {
            tour.skip()
            compare(tour.phase, "idle")
        }

        function part(name) {
            return findChild(tour, name)
        }

        function counter() {
            return part("tourCounter").text
        }

        function hole() {
            return [tour.holeX, tour.holeY, tour.holeW, tour.holeH]
        }

        // The spotlight of `items` as the tour draws it, once its moves end.
        function expectHole(rect) {
            tryVerify(() => tour.holeX === rect[0] && tour.holeY === rect[1]
                      && tour.holeW === rect[2] && tour.holeH === rect[3],
                      3000, "hole " + hole() + " is not " + rect)
            verify(tour.hasHole)
            verify(part("tourOutline").visible)
        }

        function waitForStep(count) {
            tryCompare(tour, "phase", "showing")
            tryCompare(part("tourCounter"), "text", count)
        }

        // Begun on the start screen: five steps there, Start opens a session,
        // the session steps follow, counted within twelve.
        function test_walkFromStartScreenIntoSession() {
            tour.start(true)
            compare(tour.phase, "showing")
            verify(tour.running && tour.visible)
            compare(counter(), "1 of 12")
            compare(part("tourTitle").text, "Welcome to Tavrix")
            // No target: the whole window dimmed, no outline, card centred.
            verify(!tour.hasHole)
            verify(!part("tourOutline").visible)
            compare(part("tourDimTop").height + part("tourDimBottom").height, host.height)
            const card = part("tourCard")
            compare(card.x, (host.width - card.width) / 2)
            compare(card.y, (host.height - card.height) / 2)
            verify(!part("tourBack").enabled)
            compare(card.width, 340)

            tour.next()
            compare(counter(), "2 of 12")
            // Both targets in one spotlight, 8 px around them.
            expectHole([32, 22, 426, 116])
            tryCompare(card, "x", 75)
            tryCompare(card, "y", 138 + 14)
            verify(part("tourBack").enabled)

            // Far below the fold: scrolled down until 16 px clear of the bottom.
            tour.next()
            compare(startScreen.contentY, 1400 + 40 + 16 - 600)
            expectHole([32, 1400 - 856 - 8, 216, 56])
            // No room below: the card goes above.
            tryCompare(card, "y", 536 - card.height - 14)

            // Above the view now: scrolled back up to 16 px above it.
            tour.next()
            compare(startScreen.contentY, 700 - 16)
            tour.next()
            compare(startScreen.contentY, 200 - 16)
            compare(tour.nextLabel, "Start")
            verify(tour.interactive)

            // Start: the host opens the session inside the emission.
            tour.next()
            compare(enterSpy.count, 1)
            compare(tour.phase, "settling")
            verify(!tour.visible)
            waitForStep("6 of 12")
            // The second of two sliders; the text names its range.
            expectHole([412, 492, 376, 36])
            verify(part("tourBody").text.indexOf("up to 30 second") >= 0)
            // Back never returns to the screen that is gone.
            verify(!part("tourBack").enabled)
            keyClick(Qt.Key_Left)
            compare(counter(), "6 of 12")

            keyClick(Qt.Key_Right)
            compare(counter(), "7 of 12")
            mouseClick(part("tourBack"))
            compare(counter(), "6 of 12")
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Right)
            // The hidden camera switch leaves only the rotate button lit.
            compare(part("tourTitle").text, "Rotate and switch camera")
            expectHole([292, 52, 56, 56])
            keyClick(Qt.Key_Right)
            expectHole([192, 2, 222, 52])
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Right)
            mouseClick(part("tourNext"))
            compare(counter(), "12 of 12")
            compare(tour.nextLabel, "Done")
            compare(finishedSpy.count, 0)
            keyClick(Qt.Key_Enter)
            compare(finishedSpy.count, 1)
            compare(finishedSpy.signalArguments[0][0], true)
            compare(tour.phase, "idle")
            verify(!tour.running && !tour.visible)
            compare(host.tileClicks, 0)
        }

        // Card placement: below, above, right, left, else along the bottom;
        // the spotlight clipped to the window and rounded halves up.
        function test_placement_data() {
            return [
                { tag: "below", box: [100, 50, 100, 40], hole: [92, 42, 116, 56],
                  card: (cw, ch) => [12, 112] },
                { tag: "above", box: [600, 540, 100, 40], hole: [592, 532, 116, 56],
                  card: (cw, ch) => [448, 532 - ch - 14] },
                { tag: "right", box: [20, 20, 100, 560], hole: [12, 12, 116, 576],
                  card: (cw, ch) => [142, 300 - ch / 2] },
                { tag: "left", box: [680, 20, 100, 560], hole: [672, 12, 116, 576],
                  card: (cw, ch) => [318, 300 - ch / 2] },
                { tag: "nowhere", box: [-50, -50, 900, 700], hole: [0, 0, 800, 600],
                  card: (cw, ch) => [230, 600 - ch - 12] },
                { tag: "fractions", box: [3.5, 10.25, 50.5, 20.5], hole: [0, 2, 62, 37],
                  card: (cw, ch) => [12, 2 + 37 + 14] }
            ]
        }

        function test_placement(data) {
            probe.x = data.box[0]
            probe.y = data.box[1]
            probe.width = data.box[2]
            probe.height = data.box[3]
            probe.visible = true
            tour.start(false)
            // The session steps before it have nothing on screen; the count keeps its total.
            compare(counter(), "5 of 7")
            compare(hole(), data.hole)
            const card = part("tourCard")
            const want = data.card(card.width, card.height)
            compare(card.x, want[0])
            compare(card.y, want[1])
            // The dim panels frame the hole exactly.
            compare(part("tourDimTop").height, data.hole[1])
            compare(part("tourDimLeft").width, data.hole[0])
            compare(part("tourDimRight").x, data.hole[0] + data.hole[2])
            compare(part("tourDimBottom").y, data.hole[1] + data.hole[3])
            compare(part("tourDimBottom").height, 600 - data.hole[1] - data.hole[3])
        }

        // Targets that are hidden, transparent or of no size are skipped;
        // Back stops at the first session step shown after the crossing and
        // stays put when nothing behind can be shown.
        function test_skippedStepsAndBackFloor() {
            host.sliderCount = 0
            tour.start(true, 4)
            compare(counter(), "5 of 12")
            // Clicking a tile through the spotlight opens the session too.
            // Beside the card, which lies over the tiles here.
            mouseClick(host, 100, 280 - startScreen.contentY)
            compare(host.tileClicks, 1)
            waitForStep("7 of 12")
            verify(!part("tourBack").enabled)
            tour.next()
            compare(counter(), "8 of 12")
            verify(part("tourBack").enabled)
            // The delay step can be shown now, but lies below the floor.
            host.sliderCount = 1
            findChild(session, "tour-zoom").opacity = 0
            tour.back()
            compare(counter(), "8 of 12")
            findChild(session, "tour-zoom").opacity = 1
            tour.back()
            compare(counter(), "7 of 12")

            tour.skip()
            compare(finishedSpy.count, 1)
            compare(finishedSpy.signalArguments[0][0], false)

            // Begun from the menu with no slider: Back from the first card
            // shown walks to nothing and keeps the card.
            host.sliderCount = 0
            tour.start(false)
            compare(counter(), "2 of 7")
            tour.back()
            compare(counter(), "2 of 7")
            compare(tour.phase, "showing")
            tour.skip()

            // A single slider is the one spotlit; a slider with no range says 60.
            host.sliderCount = 1
            host.sliderTo = 0
            tour.start(false)
            compare(hole(), [12, 492, 376, 36])
            verify(part("tourBody").text.indexOf("up to 60 second") >= 0)
            tour.skip()

            host.sliderCount = 0
            for (const name of ["tour-zoom", "tour-rotate", "tour-screens", "tour-variant", "tour-rec"]) {
                const item = findChild(session, name)
                if (name === "tour-zoom") item.opacity = 0
                else if (name === "tour-screens") item.width = 0
                else if (name === "tour-variant") item.height = 0
                else item.visible = false
            }
            tour.start(false)
            compare(counter(), "6 of 7")
            compare(part("tourTitle").text, "Show it on another computer")
            tour.skip()
            findChild(session, "tour-zoom").opacity = 1
            findChild(session, "tour-screens").width = 160
            findChild(session, "tour-variant").height = 36
            findChild(session, "tour-rotate").visible = true
            findChild(session, "tour-rec").visible = true
            compare(finishedSpy.count, 4)
        }

        // Calls in the wrong phase change nothing and emit nothing.
        function test_callsInTheWrongPhase() {
            tour.sessionReady()
            tour.next()
            tour.back()
            compare(tour.phase, "idle")
            // Past the end, or nothing on screen: stays idle, silently.
            tour.start(true, 12)
            compare(tour.phase, "idle")
            tour.start(false)
            compare(tour.phase, "idle")
            compare(finishedSpy.count, 0)

            tour.start(true, -3)
            compare(counter(), "1 of 12")
            tour.start(false)
            compare(tour.plan.length, 12)
            tour.back()
            tour.sessionReady()
            compare([tour.phase, counter()], ["showing", "1 of 12"])

            // Waiting (Start from the welcome card on): the card is gone and
            // does not answer.
            host.answerEnter = false
            tour.next()
            tour.next()
            tour.next()
            tour.next()
            tour.next()
            compare(tour.phase, "waiting")
            tour.next()
            tour.back()
            tour.start(true)
            compare(tour.phase, "waiting")
            compare(tour.idx, 4)
            compare(enterSpy.count, 1)
            tour.skip()
            tour.skip()
            compare(finishedSpy.count, 1)
            compare(finishedSpy.signalArguments[0][0], false)
        }

        // The receiver of a signal calls straight back into the tour.
        function test_handlersCallingBack() {
            // A finished handler that starts again gets a fresh tour.
            const restart = () => tour.start(true)
            tour.finished.connect(restart)
            tour.start(true, 2)
            tour.skip()
            tour.finished.disconnect(restart)
            compare(finishedSpy.count, 1)
            compare([tour.phase, counter()], ["showing", "1 of 12"])
            tour.skip()
            finishedSpy.clear()

            // Skipped inside the Start emission: ends once, stays ended.
            host.answerEnter = false
            const bail = () => tour.skip()
            tour.enterSessionRequested.connect(bail)
            tour.start(true, 4)
            tour.next()
            tour.enterSessionRequested.disconnect(bail)
            compare(tour.phase, "idle")
            compare(finishedSpy.count, 1)
            compare(finishedSpy.signalArguments[0][0], false)

            // Skipped while settling: ended, the session left as it is.
            host.answerEnter = true
            tour.start(true, 4)
            tour.next()
            compare(tour.phase, "settling")
            tour.skip()
            compare(finishedSpy.count, 2)
            compare(finishedSpy.signalArguments[1][0], false)
            compare(tour.phase, "idle")
            verify(host.inSession)
        }

        // No session screen reports: after the wait the tour goes on with
        // whatever is on screen; with nothing, it ends as completed.
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
            host.sliderCount = 0
            tour.start(true, 4)
            tour.next()
            host.blank = true
            tryCompare(finishedSpy, "count", 2, 3000)
            compare(finishedSpy.signalArguments[1][0], true)
            compare(tour.phase, "idle")
        }

        // Clicks: dim areas and a non-interactive spotlight swallow them;
        // Escape skips; the spotlight follows a target that moves and stays
        // when it vanishes.
        function test_inputAndRefresh() {
            tour.start(true, 3)
            compare(part("tourTitle").text, "Pick a camera")
            const y = 700 - startScreen.contentY + 50
            mouseClick(host, 200, y)
            compare(host.sourceClicks, 0)
            mouseClick(host, 400, 100)
            compare(host.tileClicks, 0)
            tour.skip()
            mouseClick(host, 200, y)
            compare(host.sourceClicks, 1)

            probe.x = 100; probe.y = 100; probe.width = 50; probe.height = 50
            probe.visible = true
            tour.start(false)
            compare(hole(), [92, 92, 66, 66])
            probe.x = 300
            tryCompare(tour, "holeX", 292)
            probe.visible = false
            wait(100)
            compare(hole(), [292, 92, 66, 66])
            compare(tour.phase, "showing")
            keyClick(Qt.Key_Escape)
            compare(tour.phase, "idle")
            compare(finishedSpy.count, 2)
            compare(finishedSpy.signalArguments[1][0], false)
        }
    }
}
