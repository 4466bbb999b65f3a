import QtQuick
import QtTest
import Tavrix

// The window's developer start-up screens, over the fake engine. Registered
// once per start-up (qml/tests/CMakeLists.txt), which picks devInitialScreen
// and its companions through the environment; each test skips unless it is
// about this run's screen.
TestCase {
    id: testCase

    name: "MainStartUp"
    when: windowShown

    property var win: null

    function initTestCase() {
        Referral.markInviteCodeAsked()
        // No first-run tour over the start screens of the run, except where
        // a test is about it.
        if (devInitialScreen !== "tour-session")
            Store.setInt64("tutorial/seen", 1)
        const component = Qt.createComponent("qrc:/qt/qml/Tavrix/qml/Main.qml")
        compare(component.status, Component.Ready, component.errorString())
        testCase.win = component.createObject(null)
        verify(testCase.win)
        testCase.win.requestActivate()
        tryCompare(testCase.win, "active", true)
    }

    function part(name) {
        const item = findChild(testCase.win.contentItem, name)
        verify(item, name)
        return item
    }

    function only(screens) {
        if (screens.indexOf(devInitialScreen) < 0)
            skip("not about --screen " + devInitialScreen)
    }

    // Leaves the session screen by Escape, then opens a new one from a tile.
    function reopenSession() {
        while (testCase.win.screenName === "session")
            keyClick(Qt.Key_Escape)
        const flow = part("tour-layouts")
        mouseClick(flow.children[0])
        compare(testCase.win.screenName, "session")
        return testCase.win.sessionScreen
    }

    function test_sessionOpensInTheGivenLayoutOnTheTestCamera() {
        only(["session"])
        const session = testCase.win.sessionScreen
        verify(session)
        compare([session.initialLayoutId, session.initialCameraId, session.initialResolution], ["3-row", "test", 720])
        compare(Engine.callsTo("startSession"), [[["test"], 720, 60]])
        compare(session.devOpenSheet, "")
        verify(!session.menuVisible && !session.liveShareVisible && !session.sessionFormVisible)
    }

    function test_sheetOpensInEverySessionOfTheRun() {
        only(["menu"])
        let session = testCase.win.sessionScreen
        compare(session.initialLayoutId, "1")
        verify(session.menuVisible)
        session = reopenSession()
        verify(session.menuVisible)
    }

    function test_sessionTourOnTheFirstSessionScreenOnlyAndNoneByItself() {
        only(["tour-session"])
        verify(!tourAutoStart)
        const tour = part("tour")
        const timer = part("devTourTimer")
        tryCompare(tour, "phase", "showing", 10000)
        // The session steps only, from the asked step.
        verify(!tour.plan.some(step => step.enter))
        verify(tour.idx >= devTourStep)
        keyClick(Qt.Key_Escape)
        verify(!tour.running)

        // A second session screen in the same run gets no developer tour.
        reopenSession()
        verify(!timer.running)
        wait(1000)
        verify(!tour.running)

        // With the automatic start off, the start screen's settling starts
        // nothing and leaves the key absent; the button still starts it.
        while (testCase.win.screenName === "session")
            keyClick(Qt.Key_Escape)
        tryCompare(findChild(testCase.win.startScreen, "firstRunTimer"), "running", false, 10000)
        verify(!tour.running)
        verify(!Store.contains("tutorial/seen"))
        // The button sits below the fold: the wheel brings it into view.
        const button = part("startTourButton")
        const flick = part("startFlickable")
        for (let turn = 0; turn < 40 && button.mapToItem(flick, 0, button.height).y > flick.height; ++turn) {
            const before = flick.contentY
            mouseWheel(flick, 8, flick.height / 2, 0, -120)
            tryVerify(() => flick.contentY !== before, 5000)
            tryVerify(() => !flick.moving, 5000)
        }
        mouseClick(button)
        verify(tour.running)
        compare(tour.plan.length, 12)
    }

    function test_languageSheetOverTheStartScreen() {
        only(["language"])
        compare(testCase.win.screenName, "start")
        verify(part("languageSheet").open)
        verify(part("languageSheet").visible)
    }

    function test_wholeTourFromTheAskedStep() {
        only(["tour"])
        const tour = part("tour")
        compare(testCase.win.screenName, "start")
        tryCompare(tour, "phase", "showing", 10000)
        compare(tour.plan.length, 12)
        compare(tour.idx, devTourStep)
    }
}
