import QtQuick

// The band over the running session for the first five seconds of a
// recording: brand, tagline and the recording's labels, every word that is
// not the user's own in the card language. The host shows and hides it; the
// card only fades its band out over the last second. It takes no input.
Item {
    id: root

    // The recording labels map, or null; a missing, null or empty key is absent.
    property var labels: null
    readonly property int totalMs: 5000
    readonly property int fadeStartMs: 4000

    readonly property string titleText: {
        if (!root.labels)
            return ""
        return d.label(root.labels, "title") || d.label(root.labels, "player") || Lang.cardTrainingSession
    }

    readonly property string subLine: {
        // Read so that a new card language translates an English session-type id.
        const language = Lang.cardLanguage
        if (!root.labels)
            return ""
        const parts = []
        const sessionType = d.label(root.labels, "sessionType")
        if (sessionType)
            parts.push(Lang.cardSessionType(sessionType))
        const date = d.dateText(root.labels.date)
        if (date)
            parts.push(date)
        return parts.join("   \u00B7   ")
    }

    readonly property string peopleLine: {
        if (!root.labels)
            return ""
        const parts = []
        const player = d.label(root.labels, "player")
        // Without a title the player already is the title line.
        if (player && d.label(root.labels, "title"))
            parts.push(Lang.cardPlayer + player)
        const coach = d.label(root.labels, "coach")
        if (coach)
            parts.push(Lang.cardCoach + coach)
        return parts.join("       ")
    }

    visible: false

    // Each showing, and each new set of labels while shown (a new recording
    // started within the previous card's five seconds), starts the clock anew.
    onVisibleChanged: root.visible ? d.restartClock() : d.stopClock()
    onLabelsChanged: {
        if (root.visible)
            d.restartClock()
    }
    Component.onCompleted: {
        if (root.visible)
            d.restartClock()
    }

    QtObject {
        id: d

        // The text under `key`, or "" when it is absent.
        function label(labels, key) {
            const value = labels[key]
            if (value === undefined || value === null)
                return ""
            return String(value)
        }

        // A date given as text stays as it is; a date value is formatted in
        // the card language.
        function dateText(value) {
            if (value === undefined || value === null || value === "")
                return ""
            if (typeof value === "string")
                return value
            if (value instanceof Date)
                return isNaN(value.getTime()) ? "" : Lang.formatCardDate(value)
            return String(value)
        }

        // A fade still running would otherwise carry on from where it was and
        // overwrite the reset opacity.
        function restartClock() {
            fadeOut.stop()
            band.opacity = 1
            fadeTimer.restart()
        }

        function stopClock() {
            fadeTimer.stop()
            fadeOut.stop()
        }
    }

    Timer {
        id: fadeTimer
        objectName: "fadeTimer"
        interval: root.fadeStartMs
        onTriggered: fadeOut.start()
    }

    NumberAnimation {
        id: fadeOut
        objectName: "fadeOut"
        target: band
        property: "opacity"
        to: 0
        duration: root.totalMs - root.fadeStartMs
        easing.type: Easing.Linear
    }

    Item {
        id: band
        objectName: "band"

        readonly property int ruleHeight: 3
        readonly property int innerMargin: 14

        y: Math.round(root.height * 0.32)
        width: root.width
        height: column.implicitHeight + 2 * (band.ruleHeight + band.innerMargin)

        Rectangle {
            id: panel
            anchors.fill: parent
            anchors.topMargin: band.ruleHeight
            anchors.bottomMargin: band.ruleHeight
            color: Qt.rgba(0.039, 0.039, 0.047, 0.76)
        }

        Rectangle {
            anchors.top: parent.top
            width: parent.width
            height: band.ruleHeight
            color: "#f5a623"
        }

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: band.ruleHeight
            color: "#f5a623"
        }

        Column {
            id: column
            objectName: "column"
            anchors.centerIn: panel
            width: Math.round(band.width * 0.8)
            spacing: 6

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 8

                Image {
                    id: icon
                    objectName: "brandIcon"
                    width: 22
                    height: 22
                    source: "../icons/tavrix.png"
                    sourceSize.width: 22
                    sourceSize.height: 22
                    fillMode: Image.PreserveAspectFit
                    smooth: true
                }

                Text {
                    anchors.verticalCenter: icon.verticalCenter
                    text: "TAVRIX"
                    textFormat: Text.PlainText
                    color: "#f5a623"
                    font.pixelSize: 16
                    font.bold: true
                }
            }

            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                width: Math.round(column.width * 0.6)
                height: 1
                color: Qt.rgba(0.961, 0.651, 0.137, 0.45)
            }

            Text {
                objectName: "taglineText"
                anchors.horizontalCenter: parent.horizontalCenter
                text: Lang.cardTagline
                textFormat: Text.PlainText
                color: "#e8e8ea"
                font.pixelSize: 11
                font.bold: true
            }

            // Text.Wrap: a word longer than the column breaks inside it.
            Text {
                objectName: "titleText"
                width: column.width
                text: root.titleText
                textFormat: Text.PlainText
                color: "#ffffff"
                font.pixelSize: 20
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                maximumLineCount: 2
            }

            Text {
                objectName: "subLineText"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: root.subLine !== ""
                text: root.subLine
                textFormat: Text.PlainText
                color: "#f5a623"
                font.pixelSize: 13
                font.bold: true
            }

            Text {
                objectName: "peopleText"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: root.peopleLine !== ""
                text: root.peopleLine
                textFormat: Text.PlainText
                color: "#cfcfd4"
                font.pixelSize: 12
            }

            Text {
                objectName: "notesText"

                readonly property string notes: root.labels ? d.label(root.labels, "notes") : ""

                width: column.width
                visible: notes !== ""
                text: "\u201C" + notes + "\u201D"
                textFormat: Text.PlainText
                color: "#e8e8ea"
                font.pixelSize: 12
                font.italic: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                maximumLineCount: 2
            }
        }
    }
}
