import QtQuick
import QtQuick.Controls
import QtTest
import Tavrix

// The application window over the fake engine and the real stores: the
// first-run tour, the window-wide keys, engine errors as toasts, switching
// between the start screen and sessions, and the tour's way into a session.
TestCase {
    id: testCase

    name: "Main"
    when: windowShown

    property var win: null

    readonly property var twoCameras: [{ name: "Front", id: "usb-1" }, { name: "Side", id: "usb-2" }]

    function init() {
        Engine.reset()
        Store.remove("referral")
        Referral.markInviteCodeAsked()
        Store.setInt64("tutorial/seen", 1)
    }

    function cleanup() {
        if (testCase.win) {
            testCase.win.destroy()
            testCase.win = null
            wait(0)
        }
    }

    function openWindow() {
        const component = Qt.createComponent("qrc:/qt/qml/Tavrix/qml/Main.qml")
        compare(component.status, Component.Ready, component.errorString())
        testCase.win = component.createObject(null)
        verify(testCase.win)
        testCase.win.requestActivate()
        tryCompare(testCase.win, "active", true)
        waitForRendering(testCase.win.contentItem)
        return testCase.win
    }

    function part(name) {
        const item = findChild(testCase.win.contentItem, name)
        verify(item, name)
        return item
    }

    function tile(id) {
        const flow = part("tour-layouts")
        for (let i = 0; i < flow.children.length; ++i) {
            if (flow.children[i].layoutId === id)
                return flow.children[i]
        }
        fail("no tile " + id)
    }

    // Clicks a tile and waits for the session screen it asks for.
    function openSession(id) {
        mouseClick(tile(id))
        compare(testCase.win.screenName, "session")
        verify(testCase.win.sessionScreen)
        waitForRendering(testCase.win.contentItem)
        return testCase.win.sessionScreen
    }

    // The start screen has settled: its first-run signal has gone out.
    function waitForFirstRunReady() {
        const screen = testCase.win.startScreen
        verify(screen)
        tryCompare(findChild(screen, "firstRunTimer"), "running", false, 10000)
    }

    function test_firstStartAsksForTheCodeThenTours() {
        Store.remove("tutorial/seen")
        Store.remove("referral/invitedByAsked")
        openWindow()
        const tour = part("tour")
        const skipButton = part("inviteSkipButton")
        verify(skipButton.visible)
        // The tour waits behind the invite sheet.
        waitForFirstRunReady()
        verify(!tour.running)
        verify(!Store.contains("tutorial/seen"))

        mouseClick(skipButton)
        tryCompare(tour, "running", true, 10000)
        compare(Store.getInt64("tutorial/seen", 0), 1)
        keyClick(Qt.Key_Escape)
        verify(!tour.running)

        // Back from a session, and at the next start: no tour.
        openSession("1")
        keyClick(Qt.Key_Escape)
        compare(testCase.win.screenName, "start")
        waitForFirstRunReady()
        verify(!tour.running)
        cleanup()
        openWindow()
        waitForFirstRunReady()
        verify(!part("tour").running)
    }

    // The invite sheet that opens with a new start screen has the keyboard
    // from the start: Tab and Space never reach "Take the tour" beneath.
    function test_inviteSheetKeepsTheKeyboardFromTheStart() {
        Store.remove("referral")
        Store.remove("tutorial")
        openWindow()
        const sheet = part("inviteCodeSheet")
        verify(sheet.open)
        const skipButton = part("inviteSkipButton")
        for (let i = 0; i < 12; ++i) {
            keyClick(Qt.Key_Tab)
            const item = testCase.win.activeFocusItem
            let inside = false
            for (let it = item; it; it = it.parent)
                inside = inside || it === sheet
            verify(inside, String(item))
            if (item !== skipButton)
                keyClick(Qt.Key_Space)
        }
        verify(sheet.open)
        verify(!part("tour").running)
        compare(testCase.win.screenName, "start")
    }

    function test_startScreenIgnoresEscapeAndSessionKeys() {
        openWindow()
        waitForFirstRunReady()
        mouseClick(part("aliasButton"))
        const aliasField = part("aliasField")
        verify(aliasField.visible)
        aliasField.focus = false
        testCase.win.startScreen.languageRequested()
        const languageSheet = part("languageSheet")
        verify(languageSheet.open)
        for (const key of [Qt.Key_1, Qt.Key_2, Qt.Key_4, Qt.Key_R])
            keyClick(key)
        verify(languageSheet.open)
        // Escape closes the language sheet on top; the alias sheet beneath
        // closes only by its own controls.
        keyClick(Qt.Key_Escape)
        verify(!languageSheet.open)
        keyClick(Qt.Key_Escape)
        compare(testCase.win.screenName, "start")
        verify(aliasField.visible)
        compare(Engine.calls.length, 0)
    }

    function test_keysActOnTheSessionScreen() {
        openWindow()
        const session = openSession("3-row")
        compare(session.initialLayoutId, "3-row")
        compare(Engine.callsTo("startSession"), [[["test"], 720, 60]])

        keyClick(Qt.Key_2)
        compare(session.layoutId, "2-side")
        keyClick(Qt.Key_4)
        compare(session.layoutId, "4-grid")

        // R asks for the details; in a focused field 1-4 and R are typed,
        // while F11 and Escape keep acting.
        keyClick(Qt.Key_R)
        verify(session.sessionFormVisible)
        const field = part("playerField")
        field.forceActiveFocus()
        keyClick(Qt.Key_R)
        keyClick(Qt.Key_1)
        compare(field.text, "r1")
        compare(session.layoutId, "4-grid")
        verify(session.sessionFormVisible)
        keyClick(Qt.Key_F11)
        tryCompare(testCase.win, "visibility", Window.FullScreen)
        keyClick(Qt.Key_F11)
        tryVerify(() => testCase.win.visibility !== Window.FullScreen)
        keyClick(Qt.Key_Escape)
        verify(!session.sessionFormVisible)
        compare(testCase.win.screenName, "session")

        // R during a recording stops it, also with the menu open.
        Engine.recordingState = Engine.Recording
        mouseClick(part("tour-menu"))
        verify(session.menuVisible)
        keyClick(Qt.Key_R)
        compare(Engine.callsTo("stopRecording").length, 1)
        keyClick(Qt.Key_1)
        compare(session.layoutId, "1")
        verify(session.menuVisible)
    }

    function test_tourTakesEscapeFirstAndTurnsSessionKeysOff() {
        openWindow()
        const session = openSession("2-side")
        const tour = part("tour")
        mouseClick(part("tour-menu"))
        verify(session.menuVisible)
        tour.start(false)
        verify(tour.running)
        verify(session.tourActive)
        keyClick(Qt.Key_1)
        keyClick(Qt.Key_R)
        compare(session.layoutId, "2-side")
        verify(!session.sessionFormVisible)
        keyClick(Qt.Key_Escape)
        verify(!tour.running)
        verify(session.menuVisible)
        verify(!session.tourActive)
        // Now Escape unwinds the session screen, one level at a time.
        keyClick(Qt.Key_Escape)
        verify(!session.menuVisible)
        compare(testCase.win.screenName, "session")
    }

    // Escape closes what is on top and only that: the tour first, then the
    // language sheet, and only then the session screen beneath.
    function test_escapeClosesTheLanguageSheetOnly() {
        openWindow()
        const session = openSession("1")
        const languageSheet = part("languageSheet")
        languageSheet.open = true
        const tour = part("tour")
        tour.start(false)
        verify(tour.running)
        keyClick(Qt.Key_Escape)
        verify(!tour.running)
        verify(languageSheet.open)
        keyClick(Qt.Key_Escape)
        verify(!languageSheet.open)
        compare(testCase.win.screenName, "session")
        compare(Engine.callsTo("stopSession").length, 0)
        verify(Engine.sessionRunning)
        // Over the menu the sheet goes first, then the menu, then the session.
        mouseClick(part("tour-menu"))
        verify(session.menuVisible)
        languageSheet.open = true
        keyClick(Qt.Key_Escape)
        verify(!languageSheet.open)
        verify(session.menuVisible)
        keyClick(Qt.Key_Escape)
        verify(!session.menuVisible)
        compare(testCase.win.screenName, "session")
        keyClick(Qt.Key_Escape)
        compare(testCase.win.screenName, "start")
        compare(Engine.callsTo("stopSession").length, 1)
    }

    // With a drop-down list open, Escape closes the list and nothing else.
    function test_escapeClosesAnOpenListOnly() {
        Engine.cameras = twoCameras
        openWindow()
        waitForFirstRunReady()
        const tour = part("tour")
        tour.start(true)
        verify(tour.running)
        const box = part("cameraBox")
        // Opened as a click opens it: the list takes the keyboard.
        box.forceActiveFocus()
        box.popup.open()
        tryCompare(box.popup, "opened", true)
        keyClick(Qt.Key_Escape)
        tryCompare(box.popup, "visible", false)
        verify(tour.running)
        keyClick(Qt.Key_Escape)
        verify(!tour.running)
    }

    function test_engineFailuresShowAsToasts() {
        Engine.failStartSession = true
        Engine.failMessage = "Could not open the camera."
        openWindow()
        const toastText = findChild(part("windowToast"), "toastText")
        openSession("2-stack")
        compare(toastText.text, "Could not open the camera.")
        verify(toastText.visible)
        Engine.recordingFailed("The disk is full.")
        compare(toastText.text, "The disk is full.")
        Engine.error("Sharing stopped.")
        compare(toastText.text, "Sharing stopped.")
        // In front of the session screen and its overlays.
        const toast = part("windowToast")
        const point = toast.mapToItem(testCase.win.contentItem, toast.width / 2, toast.height / 2)
        compare(testCase.win.contentItem.childAt(point.x, point.y), toast)
        compare(toast.y + toast.height, testCase.win.contentItem.height - 32)
    }

    function test_sessionsTakeTheStartScreensChoice() {
        Engine.cameras = twoCameras
        Engine.maxCaptureHeight = 1080
        openWindow()
        const box = part("cameraBox")
        box.forceActiveFocus()
        keyClick(Qt.Key_Down)
        mouseClick(part("resolution-1080"))
        const session = openSession("2-stack")
        compare([session.initialLayoutId, session.initialCameraId, session.initialResolution],
                ["2-stack", "usb-2", 1080])
        compare(Engine.callsTo("startSession"), [[["usb-2"], 1080, 60]])

        // Back on a new start screen with its defaults; the session is over.
        keyClick(Qt.Key_Escape)
        compare(testCase.win.screenName, "start")
        verify(!Engine.sessionRunning)
        compare(testCase.win.startScreen.selectedResolution, 720)
        compare(testCase.win.startScreen.selectedCameraId, "usb-1")

        // Without a camera the session screen still opens, with no session.
        Engine.cameras = []
        Engine.clearCalls()
        openSession("1")
        compare(Engine.callsTo("startSession").length, 0)
    }

    function test_tourCrossesIntoATwoSideSession_data() {
        return [{ tag: "Start button", byTile: false }, { tag: "tile click", byTile: true }]
    }

    function test_tourCrossesIntoATwoSideSession(data) {
        Engine.maxCaptureHeight = 1080
        openWindow()
        mouseClick(part("resolution-1080"))
        const tour = part("tour")
        tour.start(true, 4)
        compare(tour.phase, "showing")
        verify(tour.plan[tour.idx].enter)
        waitForRendering(testCase.win.contentItem)
        if (data.byTile)
            mouseClick(tile("3-row"))
        else
            keyClick(Qt.Key_Return)
        compare(testCase.win.screenName, "session")
        const session = testCase.win.sessionScreen
        compare(session.initialLayoutId, data.byTile ? "3-row" : "2-side")
        compare(Engine.callsTo("startSession"), [[["test"], 1080, 60]])
        // The tour goes on with its session steps on the new screen.
        verify(tour.running)
        tryCompare(tour, "phase", "showing", 10000)
        verify(tour.idx > 4)
        verify(session.tourActive)
    }
}
