import QtQuick

// The black card over the whole screen while a recording is being stopped
// and its file finished: how long the recording is, its title and the people
// in it, every word that is not the user's own in the card language. The host
// shows and hides it and binds the duration; the card only fades itself in.
// It takes no input.
Item {
    id: root

    // The recording labels map, or null; of it only title, player and coach are read.
    property var labels: null
    // Length of the recording, in ms; negative counts as 0.
    property int durationMs: 0

    readonly property string titleText: {
        if (!root.labels)
            return ""
        return d.label("title") || d.label("player") || Lang.cardTrainingSession
    }

    readonly property string peopleLine: {
        if (!root.labels)
            return ""
        const parts = []
        const player = d.label("player")
        if (player)
            parts.push(Lang.cardPlayer + player)
        const coach = d.label("coach")
        if (coach)
            parts.push(Lang.cardCoach + coach)
        return parts.join("       ")
    }

    // Minutes (no hours field, so an hour reads 60:00) and two-digit seconds.
    readonly property string durationText: {
        const seconds = Math.max(0, Math.floor(root.durationMs / 1000))
        const rest = seconds % 60
        return Math.floor(seconds / 60) + ":" + (rest < 10 ? "0" : "") + rest
    }

    visible: false

    // The fade is stopped first: a running one would carry on from where it
    // was instead of from 0.
    onVisibleChanged: {
        fadeUp.stop()
        if (root.visible) {
            root.opacity = 0
            fadeUp.start()
        }
    }
    Component.onCompleted: {
        if (root.visible) {
            root.opacity = 0
            fadeUp.start()
        }
    }

    QtObject {
        id: d

        // The text under `key` of the labels, or "" when it is absent.
        function label(key) {
            const value = root.labels[key]
            if (value === undefined || value === null)
                return ""
            return String(value)
        }
    }

    NumberAnimation {
        id: fadeUp
        objectName: "fadeUp"
        target: root
        property: "opacity"
        to: 1
        duration: 600
        easing.type: Easing.Linear
    }

    Rectangle {
        anchors.fill: parent
        color: "#000000"
    }

    Column {
        anchors.centerIn: parent
        spacing: 10

        Text {
            objectName: "captionText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: Lang.cardSessionDuration
            textFormat: Text.PlainText
            color: "#f5a623"
            font.pixelSize: 13
            font.bold: true
            font.letterSpacing: 1
        }

        Text {
            objectName: "durationText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.durationText
            textFormat: Text.PlainText
            color: "#ffffff"
            font.pixelSize: 48
            font.bold: true
        }

        Text {
            objectName: "titleText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.titleText
            textFormat: Text.PlainText
            color: "#ffffff"
            font.pixelSize: 18
            font.bold: true
        }

        Text {
            objectName: "peopleText"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.peopleLine !== ""
            text: root.peopleLine
            textFormat: Text.PlainText
            color: "#cfcfd4"
            font.pixelSize: 13
        }
    }
}
