import QtQuick
import QtQuick.Controls
import Tavrix

// The screen of one running session: the panel grid, the per-panel settings,
// the cameras (one, or two in dual mode) and every session restart, the
// recording flow with its cards, the toolbar, the camera banners and the
// menu and Live Share overlays. Created by the window for one visit; nothing
// here outlives it or is stored.
Item {
    id: root

    // Set by the window at creation; the first three are read once.
    property string initialLayoutId: "1"
    property string initialCameraId: ""
    property int initialResolution: 720
    property string devOpenSheet: ""
    property bool tourActive: false

    // Bound to the initial value until completion, then a plain value.
    property string layoutId: root.initialLayoutId
    readonly property int panelCount: Layouts.panelCountFor(root.layoutId)
    // Panel count -> layout id last used with it.
    property var lastVariantByCount: ({})
    readonly property int maxDelaySeconds: 60
    property int bufferSeconds: 60

    // Per-panel state by panel position, always four entries; each change
    // replaces the whole array so the panels' bindings see it.
    property var delays: [0, 3, 6, 10]
    property var panelSources: [0, 0, 0, 0]
    property var panelRotations: [0, 0, 0, 0]
    property var panelZooms: [1, 1, 1, 1]
    property var panelPans: [{ x: 0, y: 0 }, { x: 0, y: 0 }, { x: 0, y: 0 }, { x: 0, y: 0 }]

    property string activeCameraId: ""
    // Follows the camera list until the two ids are exchanged.
    property string otherCameraId: root.firstCameraOtherThan(root.activeCameraId)
    property int captureResolution: root.initialResolution
    property bool dualCamMode: false
    property bool dualCamFromFlip: false
    // Dual mode needs a second, different camera to ask for.
    readonly property bool secondCameraAvailable: Engine.cameras.length > 1 && root.otherCameraId !== ""
                                                  && root.otherCameraId !== root.activeCameraId
    // No control that restarts the session acts while a recording is on.
    readonly property bool captureLocked: Engine.recordingState !== Engine.Idle

    property bool sessionFormVisible: false
    // The labels of the current or last recording.
    property var activeLabels: null
    property bool showTitleCard: false
    property bool showClosingCard: false
    property bool recordingInterrupted: false
    property string lastRecordingPath: ""
    property bool savedCardVisible: false
    property bool toolbarVisible: true
    property bool menuVisible: false
    property bool liveShareVisible: false
    property bool cameraLostVisible: false
    // The toolbar stays while the tour runs and while a recording is
    // starting, running or stopping (its record button is what says so).
    readonly property bool toolbarPinned: root.tourActive || Engine.recordingState !== Engine.Idle
    // The probe found no camera: no session runs and nothing can be recorded.
    readonly property bool noCamera: Engine.ready && root.activeCameraId === ""
    // Bottom edge of the lowest banner shown, 0 when none shows.
    readonly property real bannersBottom: stalledBanner.visible ? stalledBanner.y + stalledBanner.height
                                        : cameraLostBanner.visible ? cameraLostBanner.y + cameraLostBanner.height
                                        : 0

    // The ids the running session was started with ([] when none runs), and
    // those that ran when a camera was lost.
    property var sessionCameraIds: []
    property var lostCameraIds: []

    signal exitRequested()
    signal tourRequested()
    signal languageRequested()

    function firstCameraOtherThan(id) {
        const cameras = Engine.cameras
        for (let i = 0; i < cameras.length; ++i) {
            if (cameras[i].id !== id)
                return cameras[i].id
        }
        return ""
    }

    function cameraIdForSlot(slot) {
        return slot === 1 ? root.otherCameraId : root.activeCameraId
    }

    function panelSourceFor(index) {
        return root.dualCamMode ? root.panelSources[index] : 0
    }

    // A layout chosen before the probe had listed the cameras has no camera
    // yet: take the first one as soon as there is one.
    function resolveActiveCamera() {
        if (root.activeCameraId === "" && Engine.cameras.length > 0)
            root.activeCameraId = Engine.cameras[0].id
    }

    // Stops a running session and starts one with cameraIds. An empty first
    // id stands for the active camera; empty ids are never passed on, and
    // with none left nothing starts. Failures reach the user as Engine.error.
    function restartSession(cameraIds, resolutionHeight) {
        root.resolveActiveCamera()
        const ids = []
        for (let i = 0; i < cameraIds.length; ++i) {
            const id = i === 0 && cameraIds[i] === "" ? root.activeCameraId : cameraIds[i]
            if (id !== "")
                ids.push(id)
        }
        if (Engine.sessionRunning)
            Engine.stopSession()
        if (ids.length === 0) {
            root.sessionCameraIds = []
            return
        }
        if (!Engine.startSession(ids, resolutionHeight, root.bufferSeconds)) {
            root.sessionCameraIds = []
            return
        }
        root.sessionCameraIds = ids
        // The lost camera is no longer asked for: nothing is waited for.
        if (root.cameraLostVisible && !ids.some(id => root.lostCameraIds.indexOf(id) >= 0)) {
            root.cameraLostVisible = false
            root.lostCameraIds = []
        }
    }

    function exchangeCameras() {
        const previousActive = root.activeCameraId
        const previousOther = root.otherCameraId
        root.activeCameraId = previousOther
        root.otherCameraId = previousActive
    }

    function switchSingleCamera(slot) {
        if (slot === 1 && root.otherCameraId !== "")
            root.exchangeCameras()
        root.restartSession([root.activeCameraId], root.captureResolution)
    }

    function standDownDualCam(keepSlot) {
        if (keepSlot === 1 && root.otherCameraId !== "")
            root.exchangeCameras()
        root.dualCamMode = false
        root.restartSession([root.activeCameraId], root.captureResolution)
    }

    // Dual mode is refused without a second camera: nothing changes then.
    function setDualCamMode(enabled) {
        if (enabled && !root.secondCameraAvailable)
            return
        root.dualCamMode = enabled
        if (enabled)
            root.restartSession([root.activeCameraId, root.otherCameraId], 720)
        else
            root.restartSession([root.activeCameraId], root.captureResolution)
    }

    function requestPanelSource(index, nextSlot) {
        if (root.captureLocked)
            return
        if (root.dualCamMode) {
            const sources = root.panelSources.slice()
            sources[index] = nextSlot
            root.panelSources = sources
            const shown = sources.slice(0, root.panelCount)
            if (root.dualCamFromFlip && shown.every(slot => slot === shown[0])) {
                root.dualCamFromFlip = false
                root.standDownDualCam(shown[0])
            }
            return
        }
        if (root.panelCount === 1 || !Engine.dualCameraSupported || !root.secondCameraAvailable) {
            root.switchSingleCamera(nextSlot)
            return
        }
        const sources = [0, 0, 0, 0]
        sources[index] = nextSlot
        root.panelSources = sources
        root.dualCamFromFlip = true
        root.setDualCamMode(true)
    }

    function requestPanelCount(count) {
        if (!(count >= 1 && count <= 4))
            return
        const remembered = root.lastVariantByCount[count]
        root.layoutId = remembered !== undefined ? remembered : Layouts.defaultLayoutFor(count)
    }

    function cycleLayoutVariant() {
        root.layoutId = Layouts.nextVariant(root.layoutId)
    }

    function rememberLayout() {
        const byCount = Object.assign({}, root.lastVariantByCount)
        byCount[Layouts.panelCountFor(root.layoutId)] = root.layoutId
        root.lastVariantByCount = byCount
    }

    // Replaces the per-panel array `name` with a copy whose entry changed.
    function setPanelEntry(name, index, value) {
        const entries = root[name].slice()
        entries[index] = value
        root[name] = entries
    }

    function exitToStart() {
        if (Engine.sessionRunning)
            Engine.stopSession()
        root.exitRequested()
    }

    function toggleRecording() {
        const state = Engine.recordingState
        if (state === Engine.Recording) {
            Engine.stopRecording()
            return
        }
        if (state !== Engine.Idle)
            return
        // Without a running session there is nothing to record.
        if (!Engine.sessionRunning)
            return
        root.sessionFormVisible = true
    }

    // The form's answer: the title card and the engine's recording start.
    function startRecording(labels) {
        root.sessionFormVisible = false
        // A new recording owns the cards; the last one's saved card and mark go.
        root.savedCardVisible = false
        root.recordingInterrupted = false
        root.activeLabels = labels
        root.showTitleCard = true
        titleCardTimer.restart()
        Engine.startRecording(root.newOutputPath(), labels)
    }

    // Unwinds one step; always consumes the key.
    function handleEscape() {
        const state = Engine.recordingState
        if (root.menuVisible)
            root.menuVisible = false
        else if (root.liveShareVisible)
            root.liveShareVisible = false
        else if (root.sessionFormVisible)
            root.sessionFormVisible = false
        else if (state === Engine.Recording)
            Engine.stopRecording()
        else if (state === Engine.Starting || state === Engine.Stopping)
            return true  // leaving now would strand the recording without a stop control
        else
            root.exitToStart()
        return true
    }

    // "Tavrix <local date and time>.mp4" in the recordings directory; a name
    // already taken (the clock went back) gets " (2)", " (3)", ... instead.
    function newOutputPath() {
        const stamp = Qt.formatDateTime(new Date(), "yyyy-MM-dd_hh.mm.ss")
        return RecordingPaths.unusedPath(Engine.recordingsDirectory() + "/Tavrix " + stamp + ".mp4")
    }

    function formatElapsed(ms) {
        const seconds = Math.max(0, Math.floor(ms / 1000))
        const rest = seconds % 60
        return Math.floor(seconds / 60) + ":" + (rest < 10 ? "0" : "") + rest
    }

    function showToolbar() {
        root.toolbarVisible = true
        if (!root.toolbarPinned)
            toolbarHideTimer.restart()
    }

    // Top of the badge and the top controls of a panel: clear of the
    // toolbar while it shows and always clear of the banners, so a coach
    // can still switch or turn a camera while a banner shows.
    function topClearanceFor(index) {
        if (!Layouts.isTopRowPanel(root.layoutId, index))
            return 8
        if (root.bannersBottom > 0)
            return root.bannersBottom + 8
        return root.toolbarVisible ? 48 : 8
    }

    // The saved card's link: the stream address turned into the recordings page.
    function recordingsShareUrl() {
        const url = Engine.sharing && Engine.shareInfo.url ? String(Engine.shareInfo.url) : ""
        return url === "" ? "" : url.replace("live.ts", "recordings")
    }

    onLayoutIdChanged: root.rememberLayout()

    onToolbarPinnedChanged: {
        if (root.toolbarPinned) {
            root.toolbarVisible = true
            toolbarHideTimer.stop()
        } else {
            toolbarHideTimer.restart()
        }
    }

    Component.onCompleted: {
        // Read once: later changes of the initial values change nothing.
        root.layoutId = root.initialLayoutId
        root.captureResolution = root.initialResolution
        // The layout given at creation counts as the last one of its count.
        root.rememberLayout()

        let id = root.initialCameraId
        if (id === "" && Engine.cameras.length > 0)
            id = Engine.cameras[0].id
        root.activeCameraId = id
        if (id !== "")
            root.restartSession([id], root.captureResolution)

        toolbarHideTimer.restart()

        if (root.devOpenSheet === "menu")
            root.menuVisible = true
        else if (root.devOpenSheet === "share")
            root.liveShareVisible = true
        else if (root.devOpenSheet === "session-form")
            root.sessionFormVisible = true
    }

    Component.onDestruction: {
        if (Engine.sessionRunning)
            Engine.stopSession()
    }

    Connections {
        target: Engine

        function onReadyChanged() {
            if (root.activeCameraId !== "" || Engine.cameras.length === 0)
                return
            root.resolveActiveCamera()
            if (!Engine.sessionRunning && !root.captureLocked)
                root.restartSession([root.activeCameraId], root.captureResolution)
        }

        function onRecordingStateChanged() {
            if (Engine.recordingState !== Engine.Stopping)
                return
            root.showTitleCard = false
            root.showClosingCard = true
        }

        function onRecordingSaved(path) {
            root.showClosingCard = false
            root.lastRecordingPath = path
            root.savedCardVisible = true
        }

        function onRecordingFailed(message) {
            root.showClosingCard = false
            root.recordingInterrupted = false
        }

        function onCameraLost() {
            root.cameraLostVisible = true
            const lost = root.lostCameraIds.slice()
            for (const id of root.sessionCameraIds) {
                if (lost.indexOf(id) < 0)
                    lost.push(id)
            }
            root.lostCameraIds = lost
            const state = Engine.recordingState
            if (state === Engine.Recording || state === Engine.Starting) {
                root.recordingInterrupted = true
                Engine.stopRecording()
            }
        }

        function onCameraRecovered() {
            root.cameraLostVisible = false
            root.lostCameraIds = []
        }
    }

    Timer {
        id: toolbarHideTimer
        objectName: "toolbarHideTimer"
        interval: 3000
        onTriggered: {
            if (!root.toolbarPinned)
                root.toolbarVisible = false
        }
    }

    Timer {
        id: titleCardTimer
        objectName: "titleCardTimer"
        interval: 5000
        onTriggered: root.showTitleCard = false
    }

    ClipboardBridge {
        id: clipboard
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    // A pointer moving anywhere over the screen brings the toolbar back.
    // Qt Quick repeats a resting pointer's hover at every repainted frame;
    // only a position not seen before is a movement.
    HoverHandler {
        id: pointerWatch

        property point lastSeen: Qt.point(-1, -1)

        onPointChanged: {
            if (!pointerWatch.hovered)
                return
            const at = pointerWatch.point.scenePosition
            if (at.x === pointerWatch.lastSeen.x && at.y === pointerWatch.lastSeen.y)
                return
            pointerWatch.lastSeen = at
            root.showToolbar()
        }
    }

    Item {
        id: grid
        objectName: "panelGrid"
        anchors.fill: parent

        Repeater {
            model: root.panelCount

            Item {
                id: cell

                required property int index
                readonly property var box: Layouts.panelBox(root.layoutId, cell.index)

                x: cell.box.x * grid.width
                y: cell.box.y * grid.height
                width: cell.box.w * grid.width
                height: cell.box.h * grid.height

                DelayPanel {
                    objectName: "delayPanel" + cell.index
                    anchors.fill: parent
                    anchors.margins: 1
                    index: cell.index
                    layoutId: root.layoutId
                    delaySeconds: root.delays[cell.index]
                    maxDelaySeconds: root.maxDelaySeconds
                    source: root.panelSourceFor(cell.index)
                    sourceLabel: root.dualCamMode && root.panelSourceFor(cell.index) === 1 ? "B" : "A"
                    showSourceButton: Engine.cameras.length > 1
                    rotation: root.panelRotations[cell.index]
                    zoom: root.panelZooms[cell.index]
                    panX: root.panelPans[cell.index].x
                    panY: root.panelPans[cell.index].y
                    locked: root.sessionFormVisible || Engine.recordingState !== Engine.Idle
                    topClearance: root.topClearanceFor(cell.index)
                    //: Shown on a session panel in place of the picture when no camera was found
                    notice: root.noCamera ? qsTr("No camera detected.") : ""

                    onDelayRequested: (value) => root.setPanelEntry("delays", cell.index, value)
                    onSourceRequested: (slot) => root.requestPanelSource(cell.index, slot)
                    onRotationRequested: (value) => root.setPanelEntry("panelRotations", cell.index, value)
                    onZoomRequested: (value) => root.setPanelEntry("panelZooms", cell.index, value)
                    onPanRequested: (x, y) => root.setPanelEntry("panelPans", cell.index, { x: x, y: y })
                }
            }
        }
    }

    Rectangle {
        id: toolbar
        objectName: "toolbar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 44
        z: 10
        visible: root.toolbarVisible
        color: Theme.surfaceTranslucent

        Row {
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 14

            ThemedButton {
                objectName: "tour-menu"
                implicitWidth: 40
                implicitHeight: 34
                font.pixelSize: 18
                text: "\u2630"
                onClicked: root.menuVisible = true
            }
            ThemedButton {
                id: exitButton
                objectName: "exitButton"
                implicitHeight: 34
                enabled: Engine.recordingState === Engine.Idle
                textColor: Theme.error
                font.bold: true
                //: Toolbar button that ends the session and returns to the start screen
                text: qsTr("Exit")
                onClicked: root.exitToStart()
            }
        }

        Row {
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10

            Row {
                objectName: "tour-screens"
                anchors.verticalCenter: parent.verticalCenter
                spacing: 6

                Repeater {
                    model: 4

                    ThemedButton {
                        id: countButton

                        required property int index
                        readonly property int count: countButton.index + 1

                        objectName: "panelCountButton" + countButton.count
                        width: 28
                        height: 28
                        padding: 0
                        checkable: true
                        checked: root.panelCount === countButton.count
                        text: countButton.count
                        onClicked: {
                            root.requestPanelCount(countButton.count)
                            // A click toggles the check; the mark follows the count.
                            countButton.checked = Qt.binding(() => root.panelCount === countButton.count)
                        }
                    }
                }
            }
            ThemedButton {
                objectName: "tour-variant"
                anchors.verticalCenter: parent.verticalCenter
                visible: Layouts.variantsFor(root.panelCount).length > 1
                implicitWidth: 40
                implicitHeight: 34
                textColor: Theme.accent
                font.pixelSize: 18
                text: "\u229E"
                onClicked: root.cycleLayoutVariant()
            }
            ThemedButton {
                objectName: "tour-liveshare"
                anchors.verticalCenter: parent.verticalCenter
                implicitWidth: 40
                implicitHeight: 34
                text: "\uD83D\uDCE1"
                onClicked: root.liveShareVisible = true
            }
            ThemedButton {
                id: recordButton
                objectName: "tour-rec"
                anchors.verticalCenter: parent.verticalCenter
                // Stopping finishes by itself; with no session (no camera)
                // there is nothing to record.
                enabled: Engine.recordingState === Engine.Idle ? Engine.sessionRunning
                                                               : Engine.recordingState !== Engine.Stopping
                implicitHeight: 34
                radius: 14
                leftPadding: 12
                rightPadding: 12
                contentItem: Row {
                    spacing: 8

                    Rectangle {
                        objectName: "recordDot"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 10
                        height: 10
                        radius: Engine.recordingState === Engine.Recording ? 2 : 5
                        color: Theme.error
                    }
                    Text {
                        objectName: "recordLabel"
                        anchors.verticalCenter: parent.verticalCenter
                        color: Theme.text
                        font.pixelSize: 13
                        font.bold: true
                        text: {
                            if (Engine.recordingState === Engine.Recording)
                                //: Toolbar button label while a recording runs. %1 is the elapsed time, e.g. 0:42
                                return qsTr("STOP %1").arg(root.formatElapsed(Engine.recordingElapsedMs))
                            if (Engine.recordingState === Engine.Stopping)
                                //: Toolbar button label while the finished recording is being written to disk
                                return qsTr("SAVING…")
                            //: Toolbar button that starts a recording (short for record)
                            return qsTr("REC")
                        }
                    }
                }
                onClicked: root.toggleRecording()
            }
        }
    }

    Rectangle {
        id: cameraLostBanner
        objectName: "cameraLostBanner"
        x: 16
        y: 60
        width: root.width - 32
        height: 36
        z: 10
        radius: 8
        visible: root.cameraLostVisible
        color: Theme.error

        Text {
            anchors.centerIn: parent
            color: Theme.white
            font.pixelSize: 12
            font.bold: true
            //: Banner while a camera of the session delivers nothing and is being reconnected
            text: qsTr("Camera disconnected — waiting for it to come back")
        }
    }

    Rectangle {
        id: stalledBanner
        objectName: "stalledBanner"
        x: 16
        y: cameraLostBanner.visible ? cameraLostBanner.y + cameraLostBanner.height + 16 : 60
        width: root.width - 32
        height: 36
        z: 10
        radius: 8
        visible: Engine.cameraStalled
        color: Theme.warn

        Text {
            anchors.centerIn: parent
            color: "black"
            font.pixelSize: 12
            font.bold: true
            //: Banner while no camera picture has arrived for a while
            text: qsTr("Camera feed has stalled")
        }
    }

    TitleCard {
        objectName: "titleCard"
        anchors.fill: parent
        z: 20
        visible: root.showTitleCard
        labels: root.activeLabels
    }

    ClosingCard {
        objectName: "closingCard"
        anchors.fill: parent
        z: 20
        visible: root.showClosingCard
        labels: root.activeLabels
        durationMs: Engine.recordingElapsedMs
    }

    SavedCard {
        id: savedCard
        objectName: "savedCard"
        anchors.fill: parent
        z: 20
        visible: root.savedCardVisible
        path: root.lastRecordingPath
        interrupted: root.recordingInterrupted
        shareUrl: root.recordingsShareUrl()
        onOpenFolderRequested: Engine.openRecordingsFolder()
        onCopyPathRequested: clipboard.copyText(root.lastRecordingPath)
        onCopyShareUrlRequested: clipboard.copyText(savedCard.shareUrl)
        onEnableSharingRequested: root.liveShareVisible = true
        onClosed: {
            root.savedCardVisible = false
            root.recordingInterrupted = false
        }
    }

    SessionForm {
        objectName: "sessionForm"
        anchors.fill: parent
        z: 20
        visible: root.sessionFormVisible
        onCancelled: root.sessionFormVisible = false
        onStarted: (labels) => root.startRecording(labels)
    }

    MenuDrawer {
        objectName: "menuDrawer"
        anchors.fill: parent
        z: 20
        visible: root.menuVisible
        dualCameraSupported: Engine.dualCameraSupported && root.secondCameraAvailable
        dualCamMode: root.dualCamMode
        panelCount: root.panelCount
        resolution: root.captureResolution
        maxCaptureHeight: Engine.maxCaptureHeight
        bufferSeconds: root.bufferSeconds
        captureLocked: root.captureLocked

        onClosed: root.menuVisible = false
        onChangePanelCount: (count) => root.requestPanelCount(count)
        onChangeResolution: (height) => {
            if (root.captureLocked)
                return
            root.captureResolution = height
            if (!root.dualCamMode)
                root.restartSession([root.activeCameraId], height)
        }
        onChangeBufferSeconds: (seconds) => {
            if (root.captureLocked)
                return
            root.bufferSeconds = seconds
            if (root.dualCamMode)
                root.restartSession([root.activeCameraId, root.otherCameraId], 720)
            else
                root.restartSession([root.activeCameraId], root.captureResolution)
        }
        onChangeDualCamMode: (value) => {
            if (root.captureLocked)
                return
            root.dualCamFromFlip = false
            root.setDualCamMode(value)
        }
        onOpenLiveShare: {
            root.menuVisible = false
            root.liveShareVisible = true
        }
        onOpenUserGuide: Engine.openUrl(Lang.siteUrl("/manuals/linux/"))
        onOpenPrivacy: Engine.openUrl(Lang.siteUrl("/linux/privacy.html"))
        onOpenAbout: Engine.openUrl(Lang.siteUrl("/linux/"))
        onTakeTour: {
            root.menuVisible = false
            root.tourRequested()
        }
        onOpenLanguage: {
            root.menuVisible = false
            root.languageRequested()
        }
    }

    LiveShareSheet {
        objectName: "liveShareSheet"
        anchors.fill: parent
        z: 20
        visible: root.liveShareVisible
        onClosed: root.liveShareVisible = false
    }

    // Any press or tap, on a control or not, brings the toolbar back too (a
    // touch screen has no hover). Passive: the press still reaches what is
    // beneath.
    Item {
        anchors.fill: parent
        z: 1000

        PointHandler {
            onActiveChanged: {
                if (active)
                    root.showToolbar()
            }
        }
    }
}
