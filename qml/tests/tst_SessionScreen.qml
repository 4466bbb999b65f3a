import QtQuick
import QtTest
import Tavrix

// The session screen over the engine's test double: the exact session starts
// of every camera transition, per-panel state across layout changes, the
// recording chain with its cards, Escape, the toolbar and the banners.
Item {
    id: host

    width: 1000
    height: 700

    Component {
        id: screenComponent
        SessionScreen {
            anchors.fill: parent
        }
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    TestCase {
        name: "SessionScreen"
        when: windowShown

        readonly property var twoCameras: [{ name: "Cam A", id: "A" }, { name: "Cam B", id: "B" }]

        function init() {
            Engine.reset()
        }

        function makeScreen(properties, cameras, dualSupported) {
            if (cameras !== undefined)
                Engine.cameras = cameras
            Engine.dualCameraSupported = dualSupported === true
            const screen = createTemporaryObject(screenComponent, host, properties || {})
            verify(screen)
            return screen
        }

        function child(screen, name) {
            const item = findChild(screen, name)
            verify(item, name)
            return item
        }

        function panel(screen, index) {
            return child(screen, "delayPanel" + index)
        }

        function starts() {
            return Engine.callsTo("startSession").map(args => Array.from(args))
        }

        function spyOn(target, signalName) {
            return createTemporaryObject(spyComponent, host, { target: target, signalName: signalName })
        }

        function test_startAtCreation_data() {
            return [
                { tag: "first camera", props: {}, running: false, starts: [[["test"], 720, 60]], stopFirst: false },
                { tag: "given camera and height", props: { initialCameraId: "cam2", initialResolution: 1080 },
                  running: false, starts: [[["cam2"], 1080, 60]], stopFirst: false },
                { tag: "session already running", props: {}, running: true, starts: [[["test"], 720, 60]],
                  stopFirst: true },
            ]
        }

        function test_startAtCreation(data) {
            Engine.sessionRunning = data.running
            const screen = screenComponent.createObject(host, data.props)
            compare(starts(), data.starts)
            compare(Engine.calls[0].name === "stopSession", data.stopFirst)
            compare(screen.delays, [0, 3, 6, 10])

            Engine.clearCalls()
            screen.destroy()
            wait(0)
            compare(Engine.callsTo("stopSession").length, 1)
        }

        // A tile clicked before the probe listed the cameras: the session
        // starts once it has, and never with an empty camera id.
        function test_cameraFoundAfterCreationStartsTheSession() {
            Engine.ready = false
            const screen = makeScreen({}, [])
            child(screen, "menuDrawer").changeBufferSeconds(30)
            compare(starts(), [])
            const exits = spyOn(screen, "exitRequested")
            compare(screen.handleEscape(), true)
            compare(exits.count, 1)
            compare(Engine.callsTo("stopSession").length, 0)

            Engine.cameras = twoCameras
            Engine.ready = true
            compare(starts(), [[["A"], 720, 30]])
            compare(screen.activeCameraId, "A")
            compare(screen.otherCameraId, "B")
        }

        function test_singlePanelFlipSwapsTheCamera() {
            const screen = makeScreen({ initialLayoutId: "1", initialResolution: 1080 }, twoCameras, true)
            Engine.clearCalls()
            panel(screen, 0).sourceRequested(1)
            panel(screen, 0).sourceRequested(1)
            compare(starts(), [[["B"], 1080, 60], [["A"], 1080, 60]])
            verify(!screen.dualCamMode)
            compare(Engine.callsTo("stopSession").length, 2)
        }

        function test_flipRaisesAndStandsDownDualMode() {
            const screen = makeScreen({ initialLayoutId: "2-side", initialResolution: 1080 }, twoCameras, true)
            Engine.clearCalls()
            panel(screen, 1).sourceRequested(1)
            compare(starts(), [[["A", "B"], 720, 60]])
            verify(screen.dualCamMode)
            compare(panel(screen, 1).source, 1)
            compare(panel(screen, 1).sourceLabel, "B")
            compare(panel(screen, 0).source, 0)
            compare(panel(screen, 0).sourceLabel, "A")

            // Both visible panels on the second camera: it becomes the only one.
            panel(screen, 0).sourceRequested(1)
            compare(starts()[1], [["B"], 1080, 60])
            verify(!screen.dualCamMode)
            compare([screen.activeCameraId, screen.otherCameraId], ["B", "A"])
            compare(panel(screen, 0).source, 0)

            // A flip back to slot 0 of a flip-raised dual mode goes single again.
            panel(screen, 1).sourceRequested(1)
            panel(screen, 1).sourceRequested(0)
            compare(starts().slice(2), [[["B", "A"], 720, 60], [["B"], 1080, 60]])
        }

        function test_menuDualModeIsNotStoodDownByFlips() {
            const screen = makeScreen({ initialLayoutId: "2-side" }, twoCameras, true)
            const menu = child(screen, "menuDrawer")
            verify(menu.dualCameraSupported)
            Engine.clearCalls()
            menu.changeResolution(1080)
            menu.changeDualCamMode(true)
            panel(screen, 0).sourceRequested(1)
            panel(screen, 1).sourceRequested(1)
            compare(starts(), [[["A"], 1080, 60], [["A", "B"], 720, 60]])
            verify(screen.dualCamMode)

            // In dual mode: a height change waits, a buffer change restarts both at 720.
            menu.changeResolution(720)
            menu.changeBufferSeconds(120)
            compare(starts().slice(2), [[["A", "B"], 720, 120]])
            menu.changeDualCamMode(false)
            compare(starts()[3], [["A"], 720, 120])
            // Off and on again: each panel's stored slot comes back.
            menu.changeDualCamMode(true)
            compare(panel(screen, 0).source, 1)
        }

        function test_withoutDualCapabilityEveryPanelFollowsTheFlip() {
            const screen = makeScreen({ initialLayoutId: "3-top" }, twoCameras, false)
            Engine.clearCalls()
            panel(screen, 2).sourceRequested(1)
            compare(starts(), [[["B"], 720, 60]])
            verify(!screen.dualCamMode)
            for (let i = 0; i < 3; ++i)
                compare(panel(screen, i).source, 0)
        }

        // The probe may report dual capability with only one camera listed:
        // dual mode is neither offered nor started with an empty second id.
        function test_noDualModeWithoutASecondCamera() {
            const screen = makeScreen({ initialLayoutId: "2-side" }, [{ name: "Only", id: "A" }], true)
            const menu = child(screen, "menuDrawer")
            verify(!menu.dualCameraSupported)
            verify(!panel(screen, 0).showSourceButton)
            Engine.clearCalls()
            menu.changeDualCamMode(true)
            panel(screen, 1).sourceRequested(1)
            verify(!screen.dualCamMode)
            compare(starts(), [[["A"], 720, 60]])
        }

        function test_panelStateSurvivesCountChanges() {
            const screen = makeScreen({ initialLayoutId: "4-grid" })
            const last = panel(screen, 3)
            last.delayRequested(12.5)
            last.rotationRequested(90)
            last.zoomRequested(2)
            last.panRequested(5, -6)
            compare(last.delaySeconds, 12.5)

            screen.requestPanelCount(2)
            compare(findChild(screen, "delayPanel3"), null)
            screen.requestPanelCount(4)
            const back = panel(screen, 3)
            compare([back.delaySeconds, back.rotation, back.zoom, back.panX, back.panY], [12.5, 90, 2, 5, -6])
            compare([0, 1, 2].map(i => panel(screen, i).delaySeconds), [0, 3, 6])
        }

        // Drags reach the panel beneath the screen's press watcher.
        function test_dragOnAZoomedPanelPansIt() {
            const screen = makeScreen({ initialLayoutId: "2-side" })
            const first = panel(screen, 0)
            first.zoomRequested(3)
            mouseDrag(first, 200, 300, 60, -40)
            compare([first.panX, first.panY], [60, -40])
            compare(screen.panelPans[1], { x: 0, y: 0 })
        }

        function test_countsReturnToTheirLastVariant() {
            const screen = makeScreen({ initialLayoutId: "3-row" })
            verify(child(screen, "tour-variant").visible)
            screen.requestPanelCount(2)
            compare(screen.layoutId, "2-side")
            verify(child(screen, "panelCountButton2").checked)
            verify(!child(screen, "panelCountButton3").checked)
            mouseClick(child(screen, "tour-variant"))
            compare(screen.layoutId, "2-stack")
            screen.requestPanelCount(4)
            verify(!child(screen, "tour-variant").visible)
            screen.requestPanelCount(2)
            compare(screen.layoutId, "2-stack")
            // The layout given at creation counts as used.
            screen.requestPanelCount(3)
            compare(screen.layoutId, "3-row")
            screen.requestPanelCount(0)
            compare(screen.layoutId, "3-row")
        }

        function test_toggleRecordingByState_data() {
            return [
                { tag: "idle", state: Engine.Idle, form: true, stops: 0 },
                { tag: "starting", state: Engine.Starting, form: false, stops: 0 },
                { tag: "recording", state: Engine.Recording, form: false, stops: 1 },
                { tag: "stopping", state: Engine.Stopping, form: false, stops: 0 },
            ]
        }

        function test_toggleRecordingByState(data) {
            const screen = makeScreen()
            Engine.recordingState = data.state
            screen.toggleRecording()
            compare(screen.sessionFormVisible, data.form)
            compare(Engine.callsTo("stopRecording").length, data.stops)
        }

        function test_escapeUnwindsOneStepAtATime_data() {
            return [
                { tag: "menu before share", open: { menuVisible: true, liveShareVisible: true }, state: Engine.Idle,
                  after: { menuVisible: false, liveShareVisible: true }, stops: 0, exits: 0 },
                { tag: "share", open: { liveShareVisible: true, sessionFormVisible: true }, state: Engine.Idle,
                  after: { liveShareVisible: false, sessionFormVisible: true }, stops: 0, exits: 0 },
                { tag: "form", open: { sessionFormVisible: true }, state: Engine.Idle,
                  after: { sessionFormVisible: false }, stops: 0, exits: 0 },
                { tag: "recording", open: {}, state: Engine.Recording, after: {}, stops: 1, exits: 0 },
                { tag: "starting", open: {}, state: Engine.Starting, after: {}, stops: 0, exits: 0 },
                { tag: "stopping", open: {}, state: Engine.Stopping, after: {}, stops: 0, exits: 0 },
                { tag: "saved card, idle", open: { savedCardVisible: true }, state: Engine.Idle,
                  after: {}, stops: 0, exits: 1 },
            ]
        }

        function test_escapeUnwindsOneStepAtATime(data) {
            const screen = makeScreen()
            for (const key in data.open)
                screen[key] = data.open[key]
            Engine.recordingState = data.state
            const exits = spyOn(screen, "exitRequested")
            Engine.clearCalls()
            compare(screen.handleEscape(), true)
            for (const key in data.after)
                compare(screen[key], data.after[key], key)
            compare(Engine.callsTo("stopRecording").length, data.stops)
            compare(exits.count, data.exits)
            compare(Engine.callsTo("stopSession").length, data.exits)
        }

        function test_recordButtonFollowsTheState() {
            const screen = makeScreen()
            const label = child(screen, "recordLabel")
            const button = child(screen, "tour-rec")
            compare(label.text, "REC")
            Engine.recordingState = Engine.Starting
            compare(label.text, "REC")
            Engine.recordingState = Engine.Recording
            Engine.recordingElapsedMs = 42000
            compare(label.text, "STOP 0:42")
            Engine.recordingElapsedMs = 61999
            compare(label.text, "STOP 1:01")
            verify(button.enabled)
            verify(!child(screen, "exitButton").enabled)
            verify(panel(screen, 0).locked)
            verify(child(screen, "menuDrawer").captureLocked)
            Engine.recordingState = Engine.Stopping
            compare(label.text, "SAVING\u2026")
            verify(!button.enabled)
            Engine.recordingState = Engine.Idle
            compare(label.text, "REC")
            verify(child(screen, "exitButton").enabled)
            verify(!panel(screen, 0).locked)
        }

        function test_formatElapsed_data() {
            return [
                { tag: "zero", ms: 0, text: "0:00" },
                { tag: "rounds down", ms: 999, text: "0:00" },
                { tag: "42 s", ms: 42000, text: "0:42" },
                { tag: "12:34", ms: 754000, text: "12:34" },
                { tag: "no hours", ms: 4500000, text: "75:00" },
                { tag: "negative", ms: -5000, text: "0:00" },
            ]
        }

        function test_formatElapsed(data) {
            compare(makeScreen().formatElapsed(data.ms), data.text)
        }

        function test_newOutputPathNamesTheRecordingByItsTime() {
            const screen = makeScreen()
            const before = new Date()
            before.setMilliseconds(0)
            const path = screen.newOutputPath()
            const prefix = Engine.recordingsDir + "/Tavrix "
            compare(path.slice(0, prefix.length), prefix)
            const match = /^(\d{4})-(\d\d)-(\d\d)_(\d\d)\.(\d\d)\.(\d\d)\.mp4$/.exec(path.slice(prefix.length))
            verify(match, path)
            const named = new Date(+match[1], +match[2] - 1, +match[3], +match[4], +match[5], +match[6])
            verify(named >= before && named - before < 5000, path)
        }

        function test_recordingChain() {
            const screen = makeScreen({ initialLayoutId: "2-side" })
            screen.toggleRecording()
            const form = child(screen, "sessionForm")
            verify(form.visible)
            verify(panel(screen, 1).locked)
            const labels = { player: "Ann", coach: "", sessionType: "Practice", title: "", notes: "", date: "1 May 2026" }
            form.started(labels)
            verify(!form.visible)
            verify(child(screen, "titleCard").visible)
            compare(child(screen, "titleCard").labels, labels)
            const call = Engine.callsTo("startRecording")
            compare(call.length, 1)
            verify(/\/Tavrix .*\.mp4$/.test(call[0][0]))
            compare(call[0][1].player, "Ann")

            Engine.recordingState = Engine.Recording
            Engine.recordingElapsedMs = 1500
            Engine.stopRecording()
            verify(!child(screen, "titleCard").visible)
            verify(child(screen, "closingCard").visible)
            compare(child(screen, "closingCard").durationMs, 1500)
            compare(child(screen, "closingCard").labels, labels)

            Engine.recordingState = Engine.Idle
            Engine.recordingSaved("/videos/Tavrix one.mp4")
            verify(!child(screen, "closingCard").visible)
            const saved = child(screen, "savedCard")
            verify(saved.visible)
            compare(saved.path, "/videos/Tavrix one.mp4")
            verify(!saved.interrupted)
            compare(saved.shareUrl, "")

            saved.enableSharingRequested()
            verify(screen.liveShareVisible)
            verify(saved.visible)
            Engine.startSharing()
            compare(saved.shareUrl, "http://192.168.1.20:8080/recordings?k=AB3")
            saved.openFolderRequested()
            compare(Engine.callsTo("openRecordingsFolder").length, 1)
            saved.closed()
            verify(!saved.visible)
        }

        // A lost camera stops the recording and marks it interrupted; the next
        // recording starts clean and takes the screen from the saved card.
        function test_interruptedRecordingThenANewOne() {
            const screen = makeScreen()
            const form = child(screen, "sessionForm")
            const saved = child(screen, "savedCard")
            screen.toggleRecording()
            form.started({ player: "", coach: "", sessionType: "Practice", title: "First", notes: "", date: "" })
            Engine.recordingState = Engine.Recording
            Engine.cameraLost()
            compare(Engine.callsTo("stopRecording").length, 1)
            compare(Engine.recordingState, Engine.Stopping)
            Engine.recordingState = Engine.Idle
            Engine.recordingSaved("/videos/first.mp4")
            verify(saved.interrupted)

            screen.toggleRecording()
            verify(saved.visible)
            form.started({ player: "", coach: "", sessionType: "Practice", title: "Second", notes: "", date: "" })
            verify(!saved.visible)
            verify(!saved.interrupted)
            verify(child(screen, "titleCard").visible)
            compare(child(screen, "titleCard").labels.title, "Second")

            Engine.recordingState = Engine.Recording
            Engine.stopRecording()
            Engine.recordingState = Engine.Idle
            Engine.recordingFailed("disk full")
            verify(!child(screen, "closingCard").visible)
            verify(!saved.visible)
            verify(!screen.recordingInterrupted)
        }

        function test_lockedWhileRecordingRestartsNothing() {
            const screen = makeScreen({ initialLayoutId: "2-side" }, twoCameras, true)
            Engine.recordingState = Engine.Recording
            Engine.clearCalls()
            const menu = child(screen, "menuDrawer")
            panel(screen, 1).sourceRequested(1)
            menu.changeDualCamMode(true)
            menu.changeBufferSeconds(30)
            screen.requestPanelCount(3)
            screen.cycleLayoutVariant()
            compare(Engine.calls, [])
            compare(screen.layoutId, "3-bottom")
        }

        function test_cameraLostBanner() {
            const screen = makeScreen({ initialLayoutId: "1" }, twoCameras, true)
            const lost = child(screen, "cameraLostBanner")
            const stalled = child(screen, "stalledBanner")
            verify(!lost.visible)
            Engine.cameraStalled = true
            compare(stalled.y, 60)
            Engine.cameraLost()
            verify(lost.visible)
            compare(lost.y, 60)
            compare(stalled.y, 112)

            // Restarting the lost camera waits on; leaving it for the other ends the wait.
            child(screen, "menuDrawer").changeBufferSeconds(30)
            verify(lost.visible)
            panel(screen, 0).sourceRequested(1)
            compare(screen.activeCameraId, "B")
            verify(!lost.visible)

            Engine.cameraLost()
            Engine.failStartSession = true
            panel(screen, 0).sourceRequested(1)
            verify(lost.visible)
            Engine.cameraRecovered()
            verify(!lost.visible)
        }

        function test_toolbarHidesAndComesBack() {
            const screen = makeScreen({ initialLayoutId: "2-side" })
            const toolbar = child(screen, "toolbar")
            const timer = child(screen, "toolbarHideTimer")
            verify(timer.running)
            compare(panel(screen, 0).topClearance, 48)
            timer.triggered()
            verify(!toolbar.visible)
            compare(panel(screen, 0).topClearance, 8)

            mouseMove(screen, 300, 300)
            mouseMove(screen, 320, 310)
            verify(toolbar.visible)
            timer.triggered()
            verify(!toolbar.visible)

            // A press on a control, or a touch tap, brings it back as well.
            mouseClick(child(panel(screen, 0), "zoomInButton"))
            verify(toolbar.visible)
            timer.triggered()
            touchEvent(screen).press(0, screen, 500, 400).commit().release(0, screen, 500, 400).commit()
            verify(toolbar.visible)

            screen.tourActive = true
            verify(!timer.running)
            timer.triggered()
            verify(toolbar.visible)
            screen.tourActive = false
            verify(timer.running)
        }

        function test_devOpenSheetAndMenuActions() {
            const screen = makeScreen({ devOpenSheet: "menu" })
            verify(screen.menuVisible)
            const menu = child(screen, "menuDrawer")
            menu.openUserGuide()
            compare(Engine.callsTo("openUrl"), [[Lang.siteUrl("/manuals/linux/")]])
            verify(screen.menuVisible)
            const tours = spyOn(screen, "tourRequested")
            menu.takeTour()
            verify(!screen.menuVisible)
            compare(tours.count, 1)
            screen.menuVisible = true
            menu.openLiveShare()
            verify(!screen.menuVisible)
            verify(screen.liveShareVisible)

            compare(makeScreen({ devOpenSheet: "session-form" }).sessionFormVisible, true)
            const plain = makeScreen({ devOpenSheet: "language" })
            verify(!plain.menuVisible && !plain.liveShareVisible && !plain.sessionFormVisible)
        }
    }
}
