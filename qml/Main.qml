import QtQuick
import QtQuick.Controls
import Tavrix

// The application window: one panel replaying the first camera a few seconds
// late. The session starts as soon as the capability probe has found a
// camera; engine errors show as toasts.
ApplicationWindow {
    id: root

    // How late the panel shows the camera.
    readonly property int delayMs: 3000
    readonly property int resolutionHeight: 720
    readonly property int bufferSeconds: 60

    function startFirstCamera() {
        if (!Engine.ready || Engine.sessionRunning || Engine.cameras.length === 0)
            return
        Engine.startSession([Engine.cameras[0].id], root.resolutionHeight, root.bufferSeconds)
    }

    width: 1280
    height: 800
    visible: true
    color: Theme.background
    //: Title of the application window
    title: qsTr("Tavrix")

    Component.onCompleted: root.startFirstCamera()

    Connections {
        target: Engine
        function onReadyChanged() { root.startFirstCamera() }
        function onError(message) { toast.show(message) }
    }

    VideoPanel {
        anchors.fill: parent
        delayMs: root.delayMs
    }

    Label {
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: Theme.spacingMd
        padding: Theme.spacingSm
        background: Rectangle {
            color: Theme.surfaceTranslucent
            radius: Theme.radiusSm
        }
        color: Theme.text
        font.pixelSize: Theme.fontBody
        text: {
            if (!Engine.ready)
                //: Shown while the program looks for cameras at start-up
                return qsTr("Looking for cameras…")
            if (Engine.cameras.length === 0)
                //: Shown when no camera was found; TAVRIX_TEST_SOURCE=1 is a setting, not translated
                return qsTr("No camera found (TAVRIX_TEST_SOURCE=1 shows a test pattern)")
            //: Status line over the replay; %1 is a number of seconds
            return qsTr("%1 s delay").arg(root.delayMs / 1000)
        }
    }

    Toast {
        id: toast
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 32
    }
}
