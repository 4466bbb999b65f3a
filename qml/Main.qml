import QtQuick
import QtQuick.Controls
import Tavrix

// The application window: the start screen or the session screen (one at a
// time, each created afresh on every visit), the toast for engine errors, the
// language sheet and the tour above everything, the window-wide keys and the
// developer start-up screens.
ApplicationWindow {
    id: root

    property string screenName: "start"
    property string pendingLayoutId: "1"
    property string pendingCameraId: ""
    property int pendingResolution: 720

    // A drop-down list (the camera picker's) is open in the window's
    // overlay: Escape is then the list's alone.
    property bool listOpen: false

    readonly property var startScreen: startScreenLoader.item
    readonly property var sessionScreen: sessionScreenLoader.item
    // The developer screen that opens a sheet in every session screen.
    readonly property string devSheet: ["menu", "share", "session-form"].indexOf(devInitialScreen) >= 0
                                       ? devInitialScreen : ""

    // The first-run tour starts by itself once per installation; the key is
    // written before the tour shows, so an abandoned tour never comes back.
    function maybeStartFirstRunTour() {
        if (!tourAutoStart || tour.running)
            return
        if (Store.contains("tutorial/seen"))
            return
        Store.setInt64("tutorial/seen", 1)
        tour.start(true)
    }

    // Escape closes what is on top, and only that: the tour, then the
    // language sheet, then whatever the session screen has open.
    function handleEscape() {
        if (tour.running) {
            tour.skip()
            return
        }
        if (languageSheet.open) {
            languageSheet.close()
            return
        }
        if (root.screenName === "session" && root.sessionScreen)
            root.sessionScreen.handleEscape()
    }

    function requestPanelCount(count) {
        if (root.sessionScreen)
            root.sessionScreen.requestPanelCount(count)
    }

    function toggleRecording() {
        if (root.sessionScreen)
            root.sessionScreen.toggleRecording()
    }

    function toggleFullScreen() {
        if (root.visibility === Window.FullScreen)
            root.showNormal()
        else
            root.showFullScreen()
    }

    function openSession(layoutId, cameraId, resolutionHeight) {
        root.pendingLayoutId = layoutId
        root.pendingCameraId = cameraId
        root.pendingResolution = resolutionHeight
        root.screenName = "session"
    }

    // 1280 x 800, but never larger than the screen's free area (a 1366 x 768
    // laptop, or 1920 x 1080 at scale factor 2).
    width: Math.min(1280, Screen.desktopAvailableWidth > 0 ? Screen.desktopAvailableWidth : 1280)
    height: Math.min(800, Screen.desktopAvailableHeight > 0 ? Screen.desktopAvailableHeight : 800)
    visible: true
    color: Theme.background
    //: Title of the application window
    title: qsTr("Tavrix")

    palette.window: Theme.surface
    palette.windowText: Theme.text
    palette.base: Theme.surface
    palette.text: Theme.text
    palette.button: Theme.surface
    palette.buttonText: Theme.text
    palette.placeholderText: Theme.textFaint
    palette.mid: Theme.border
    palette.dark: Theme.border
    palette.light: Theme.border
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.white
    palette.brightText: Theme.white
    // The colours above hold for every state; a disabled control fades.
    palette.disabled.windowText: Theme.textFaint
    palette.disabled.text: Theme.textFaint
    palette.disabled.buttonText: Theme.textFaint

    Component.onCompleted: {
        switch (devInitialScreen) {
        case "tour":
            devTourTimer.start()
            break
        case "language":
            languageSheet.open = true
            break
        case "session":
        case "menu":
        case "share":
        case "session-form":
        case "tour-session":
            root.pendingLayoutId = devInitialLayoutId.length > 0 ? devInitialLayoutId : "1"
            root.pendingCameraId = devInitialCameraId
            root.screenName = "session"
            break
        }
    }

    // Developer tours: 500 ms after start-up ("tour") or after the first
    // session screen ("tour-session").
    Timer {
        id: devTourTimer
        objectName: "devTourTimer"
        property bool used: false
        interval: 500
        onTriggered: {
            used = true
            tour.start(devInitialScreen === "tour", devTourStep)
        }
    }

    Connections {
        target: root.contentItem.Overlay.overlay

        function onChildrenChanged() {
            root.listOpen = root.contentItem.Overlay.overlay.children.length > 0
        }
    }

    Connections {
        target: Engine
        function onError(message) { toast.show(message) }
        function onRecordingFailed(message) { toast.show(message) }
    }

    Loader {
        id: startScreenLoader
        objectName: "startScreenLoader"
        anchors.fill: parent
        active: root.screenName === "start"
        sourceComponent: Component {
            StartScreen {
                onSessionRequested: (layoutId, cameraId, resolutionHeight) =>
                                    root.openSession(layoutId, cameraId, resolutionHeight)
                onTourRequested: tour.start(true)
                onLanguageRequested: languageSheet.open = true
                onFirstRunReady: root.maybeStartFirstRunTour()
            }
        }
    }

    Loader {
        id: sessionScreenLoader
        objectName: "sessionScreenLoader"
        anchors.fill: parent
        active: root.screenName === "session"
        sourceComponent: Component {
            SessionScreen {
                initialLayoutId: root.pendingLayoutId
                initialCameraId: root.pendingCameraId
                initialResolution: root.pendingResolution
                devOpenSheet: root.devSheet
                tourActive: tour.running
                onTourRequested: tour.start(false)
                onLanguageRequested: languageSheet.open = true
                onExitRequested: root.screenName = "start"
            }
        }
        onLoaded: {
            tour.sessionReady()
            if (devInitialScreen === "tour-session" && !devTourTimer.used && !devTourTimer.running)
                devTourTimer.start()
        }
    }

    Toast {
        id: toast
        objectName: "windowToast"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 32
    }

    LanguageSheet {
        id: languageSheet
        objectName: "languageSheet"
        anchors.fill: parent
        z: 900
    }

    Tour {
        id: tour
        objectName: "tour"
        anchors.fill: parent
        z: 1000
        searchRoot: root.contentItem
        onEnterSessionRequested: {
            if (root.startScreen)
                root.startScreen.startTourSession()
        }
    }

    // F11 and Escape act everywhere, also over a focused text field; 1-4 and
    // R are plain characters that a focused field takes first.
    Shortcut {
        sequence: "F11"
        context: Qt.ApplicationShortcut
        onActivated: root.toggleFullScreen()
    }

    Shortcut {
        sequence: "Escape"
        context: Qt.ApplicationShortcut
        enabled: !root.listOpen
        onActivated: root.handleEscape()
    }

    Repeater {
        model: 4

        delegate: Item {
            required property int index

            Shortcut {
                sequence: String(index + 1)
                context: Qt.ApplicationShortcut
                enabled: !tour.running
                onActivated: root.requestPanelCount(index + 1)
            }
        }
    }

    Shortcut {
        sequence: "R"
        context: Qt.ApplicationShortcut
        enabled: !tour.running
        onActivated: root.toggleRecording()
    }
}
