import QtQuick
import Tavrix

// One transient message at a time. show() puts it up at full opacity for
// 4000 ms, then it fades out over 300 ms and hides; a new message during the
// display or the fade starts the 4000 ms again. The host places it.
Item {
    id: root

    // Widest the message text may be; longer messages wrap at word boundaries.
    readonly property int wrapWidth: 480

    function show(message) {
        fade.stop()
        label.text = message
        root.opacity = 1
        root.visible = true
        displayTimer.restart()
    }

    // The box hugs the text column: the message's natural width capped at the
    // wrap width, so a long message grows downwards, not sideways.
    width: label.width + 32
    height: label.height + 20
    visible: false
    opacity: 0

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: Theme.surface
        border.width: 1
        border.color: Theme.error
    }

    Text {
        id: label
        objectName: "toastText"
        anchors.centerIn: parent
        width: Math.min(implicitWidth, root.wrapWidth)
        color: Theme.text
        font.pixelSize: 13
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
    }

    Timer {
        id: displayTimer
        interval: 4000
        onTriggered: fade.start()
    }

    NumberAnimation {
        id: fade
        target: root
        property: "opacity"
        to: 0
        duration: 300
        easing.type: Easing.Linear
        // Only a fade that ran to its end hides the toast; show() stops it.
        onFinished: root.visible = false
    }
}
