import QtQuick
import QtTest
import Tavrix

// The session screen over the engine's test double: the exact session starts
// of the camera transitions, per-panel state across layout changes, the
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

        function test_startAndStopWithTheScreen() {
            Engine.sessionRunning = true
            const screen = screenComponent.createObject(host, { initialCameraId: "cam2", initialResolution: 1080,
                                                                     initialLayoutId: "2-side" })
            compare(Engine.calls.map(call => call.name), ["stopSession", "startSession"])
            compare(starts(), [[["cam2"], 1080, 60]])
            compare([0, 1].map(i => panel(screen, i).delaySeconds), [0, 3])
            screen.destroy()
            wait(0)
            compare(Engine.callsTo("stopSession").length, 2)
        }

        // A tile clicked before the probe listed the cameras: the session
        // starts once it has, and never with an empty camera id.
        function test_cameraFoundAfterCreationStartsTheSession() {
            const screen = makeScreen({}, [])
            child(screen, "menuDrawer").changeBufferSeconds(30)
            compare(starts(), [])
            Engine.cameras = twoCameras
            compare(starts(), [[["A"], 720, 30]])
            compare([screen.activeCameraId, screen.otherCameraId], ["A", "B"])
        }

        // Steps: [panel, slot] is a panel's flip; [signal, value] a menu choice.
        function test_cameraTransitions_data() {
            return [
                { tag: "one panel flips the single camera", layout: "1", dual: true,
                  steps: [[0, 1], [0, 1]], starts: [[["B"], 1080], [["A"], 1080]], dualMode: false, active: "A" },
                { tag: "flip raises dual mode, flip back stands it down", layout: "2-side", dual: true,
                  steps: [[1, 1], [1, 0]], starts: [[["A", "B"], 720], [["A"], 1080]], dualMode: false, active: "A" },
                { tag: "both panels on B stand down onto B", layout: "2-side", dual: true,
                  steps: [[1, 1], [0, 1]], starts: [[["A", "B"], 720], [["B"], 1080]], dualMode: false, active: "B" },
                { tag: "menu dual mode stays through flips", layout: "2-side", dual: true,
                  steps: [["changeDualCamMode", true], [0, 1], [1, 1]], starts: [[["A", "B"], 720]],
                  dualMode: true, active: "A" },
                { tag: "dual mode: height waits, buffer restarts both", layout: "2-side", dual: true,
                  steps: [["changeDualCamMode", true], ["changeResolution", 720], ["changeBufferSeconds", 30],
                          ["changeDualCamMode", false]],
                  starts: [[["A", "B"], 720], [["A", "B"], 720], [["A"], 720]], dualMode: false, active: "A" },
                { tag: "without dual capability every panel flips", layout: "3-top", dual: false,
                  steps: [[2, 1]], starts: [[["B"], 1080]], dualMode: false, active: "B" },
                { tag: "no second camera: no dual mode", layout: "2-side", dual: true, cameras: [{ name: "A", id: "A" }],
                  steps: [["changeDualCamMode", true], [1, 1]], starts: [[["A"], 1080]], dualMode: false, active: "A" },
            ]
        }

        function test_cameraTransitions(data) {
            const screen = makeScreen({ initialLayoutId: data.layout, initialResolution: 1080 },
                                      data.cameras || twoCameras, data.dual)
            const menu = child(screen, "menuDrawer")
            compare(menu.dualCameraSupported, data.dual && !data.cameras)
            Engine.clearCalls()
            for (const step of data.steps) {
                if (typeof step[0] === "number")
                    panel(screen, step[0]).sourceRequested(step[1])
                else
                    menu[step[0]](step[1])
            }
            compare(starts().map(args => [args[0], args[1]]), data.starts)
            compare(screen.dualCamMode, data.dualMode)
            compare(screen.activeCameraId, data.active)
            compare(panel(screen, 0).source, data.dualMode ? screen.panelSources[0] : 0)
        }

        function test_panelStateSurvivesLayoutChanges() {
            const screen = makeScreen({ initialLayoutId: "3-row" })
            screen.requestPanelCount(4)
            const last = panel(screen, 3)
            last.delayRequested(12.5)
            last.rotationRequested(90)
            last.zoomRequested(3)
            mouseDrag(last, 200, 200, 60, -40)
            screen.requestPanelCount(2)
            compare(findChild(screen, "delayPanel3"), null)
            // Paused first: a press soon after the drag's would be a double click.
            const variant = child(screen, "tour-variant")
            mouseClick(variant, variant.width / 2, variant.height / 2, Qt.LeftButton, Qt.NoModifier, 600)
            compare(screen.layoutId, "2-stack")
            screen.requestPanelCount(4)
            const back = panel(screen, 3)
            compare([back.delaySeconds, back.rotation, back.zoom, back.panX, back.panY], [12.5, 90, 3, 60, -40])
            compare([0, 1, 2].map(i => panel(screen, i).delaySeconds), [0, 3, 6])
            screen.requestPanelCount(2)
            compare(screen.layoutId, "2-stack")
            screen.requestPanelCount(4)
            compare(screen.layoutId, "4-grid")
            verify(!child(screen, "tour-variant").visible)
            // The layout given at creation counts as the last of its count.
            screen.requestPanelCount(3)
            compare(screen.layoutId, "3-row")
        }

        function test_escapeUnwindsOneStepAtATime_data() {
            return [
                { tag: "menu first", open: { menuVisible: true, liveShareVisible: true }, state: Engine.Idle,
                  after: { menuVisible: false, liveShareVisible: true }, stops: 0, exits: 0 },
                { tag: "then share", open: { liveShareVisible: true, sessionFormVisible: true }, state: Engine.Idle,
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
            let exits = 0
            screen.exitRequested.connect(() => ++exits)
            Engine.clearCalls()
            compare(screen.handleEscape(), true)
            for (const key in data.after)
                compare(screen[key], data.after[key], key)
            compare(Engine.callsTo("stopRecording").length, data.stops)
            compare([exits, Engine.callsTo("stopSession").length], [data.exits, data.exits])
        }

        function test_recordControlsFollowTheState_data() {
            return [
                { tag: "idle", state: Engine.Idle, label: "REC", form: true, stops: 0, locked: false },
                { tag: "starting", state: Engine.Starting, label: "REC", form: false, stops: 0, locked: true },
                { tag: "recording", state: Engine.Recording, label: "STOP 1:01", form: false, stops: 1, locked: true },
                { tag: "stopping", state: Engine.Stopping, label: "SAVING\u2026", form: false, stops: 0, locked: true },
            ]
        }

        function test_recordControlsFollowTheState(data) {
            const screen = makeScreen({ initialLayoutId: "2-side" }, twoCameras, true)
            Engine.recordingState = data.state
            Engine.recordingElapsedMs = 61999
            compare(child(screen, "recordLabel").text, data.label)
            compare(child(screen, "tour-rec").enabled, data.state !== Engine.Stopping)
            compare(child(screen, "exitButton").enabled, !data.locked)
            compare(child(screen, "menuDrawer").captureLocked, data.locked)
            compare(panel(screen, 1).locked, data.locked)
            Engine.clearCalls()
            // Locked: flips and capture choices restart nothing; counts still change.
            panel(screen, 1).sourceRequested(1)
            child(screen, "menuDrawer").changeBufferSeconds(30)
            screen.requestPanelCount(3)
            compare(starts().length, data.locked ? 0 : 2)
            compare(screen.layoutId, "3-top")
            screen.toggleRecording()
            compare(screen.sessionFormVisible, data.form)
            compare(Engine.callsTo("stopRecording").length, data.stops)
        }

        function test_formatElapsed() {
            const screen = makeScreen()
            const cases = [[0, "0:00"], [999, "0:00"], [42000, "0:42"], [754000, "12:34"], [4500000, "75:00"],
                           [-5000, "0:00"]]
            for (const [ms, text] of cases)
                compare(screen.formatElapsed(ms), text, ms)
        }

        function test_newOutputPathIsNamedByTheTime() {
            const before = new Date()
            before.setMilliseconds(0)
            const path = makeScreen().newOutputPath()
            const prefix = Engine.recordingsDir + "/Tavrix "
            compare(path.slice(0, prefix.length), prefix)
            const m = /^(\d{4})-(\d\d)-(\d\d)_(\d\d)\.(\d\d)\.(\d\d)\.mp4$/.exec(path.slice(prefix.length))
            verify(m, path)
            const named = new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6])
            verify(named >= before && named - before < 5000, path)
        }

        // Two recordings: the first interrupted by a lost camera and saved,
        // the second started over its saved card, then failing.
        function test_recordingChain() {
            const screen = makeScreen()
            const form = child(screen, "sessionForm")
            const title = child(screen, "titleCard")
            const closing = child(screen, "closingCard")
            const saved = child(screen, "savedCard")
            screen.toggleRecording()
            verify(form.visible)
            const first = { player: "Ann", coach: "", sessionType: "Practice", title: "", notes: "", date: "1 May" }
            form.started(first)
            verify(!form.visible && title.visible)
            compare(title.labels, first)
            compare(Array.from(Engine.callsTo("startRecording")[0]).slice(1), [first])

            Engine.recordingState = Engine.Recording
            Engine.recordingElapsedMs = 1500
            Engine.cameraLost()
            compare(Engine.recordingState, Engine.Stopping)
            verify(!title.visible && closing.visible)
            compare([closing.durationMs, closing.labels], [1500, first])
            Engine.recordingState = Engine.Idle
            Engine.recordingSaved("/videos/first.mp4")
            verify(!closing.visible && saved.visible)
            compare([saved.path, saved.interrupted, saved.shareUrl], ["/videos/first.mp4", true, ""])
            saved.enableSharingRequested()
            verify(screen.liveShareVisible && saved.visible)
            Engine.startSharing()
            compare(saved.shareUrl, "http://192.168.1.20:8080/recordings?k=AB3")

            screen.toggleRecording()
            const second = Object.assign({}, first, { title: "Second" })
            form.started(second)
            verify(!saved.visible && !saved.interrupted && title.visible)
            compare(title.labels.title, "Second")
            Engine.recordingState = Engine.Recording
            screen.toggleRecording()
            Engine.recordingState = Engine.Idle
            Engine.recordingFailed("disk full")
            verify(!closing.visible && !saved.visible && !screen.recordingInterrupted)
        }

        function test_cameraLostBanner() {
            const screen = makeScreen({ initialLayoutId: "1" }, twoCameras, true)
            const lost = child(screen, "cameraLostBanner")
            const stalled = child(screen, "stalledBanner")
            compare(panel(screen, 0).topClearance, 48)
            Engine.cameraStalled = true
            compare([lost.visible, stalled.y], [false, 60])
            // The top controls stay below the banners, toolbar or not.
            compare(panel(screen, 0).topClearance, 104)
            Engine.cameraLost()
            compare([lost.visible, lost.y, stalled.y], [true, 60, 112])
            compare(panel(screen, 0).topClearance, 156)
            screen.toolbarVisible = false
            compare(panel(screen, 0).topClearance, 156)
            Engine.cameraStalled = false
            compare(panel(screen, 0).topClearance, 104)
            // Restarting the lost camera waits on; leaving it for the other ends the wait.
            child(screen, "menuDrawer").changeBufferSeconds(30)
            verify(lost.visible)
            panel(screen, 0).sourceRequested(1)
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
            compare([toolbar.visible, panel(screen, 0).topClearance], [false, 8])
            mouseMove(screen, 300, 300)
            mouseMove(screen, 320, 310)
            verify(toolbar.visible)
            // The same position again (a hover repeated for a repaint) is no movement.
            timer.stop()
            mouseMove(screen, 320, 310)
            verify(!timer.running)
            timer.triggered()
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
            // Starting, running and stopping a recording keep it too.
            for (const state of [Engine.Starting, Engine.Recording, Engine.Stopping]) {
                Engine.recordingState = state
                verify(!timer.running)
                timer.triggered()
                verify(toolbar.visible)
            }
            Engine.recordingState = Engine.Idle
            verify(timer.running)
            timer.triggered()
            verify(!toolbar.visible)
        }

        // No camera found: the panels say so instead of a picture, and
        // nothing can be recorded; a camera found later starts it all.
        function test_noCamera() {
            const screen = makeScreen({ initialLayoutId: "2-side" }, [])
            for (const i of [0, 1]) {
                compare(child(panel(screen, i), "panelNotice").text, "No camera detected.")
                for (const name of ["videoPanel", "delayBadge", "bottomBar", "topRightRow"])
                    verify(!child(panel(screen, i), name).visible, name)
            }
            verify(!child(screen, "tour-rec").enabled)
            screen.toggleRecording()
            verify(!screen.sessionFormVisible)
            Engine.cameras = twoCameras
            verify(!child(panel(screen, 0), "panelNotice").visible)
            verify(child(panel(screen, 0), "videoPanel").visible)
            verify(child(screen, "tour-rec").enabled)
            screen.toggleRecording()
            verify(screen.sessionFormVisible)
        }
    }
}
