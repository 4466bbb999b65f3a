import QtQuick
import QtQuick.Controls
import Tavrix

// The details asked before every recording: player, coach, session type,
// title and notes. Opening loads the answers of the last started recording;
// Start Recording stores them and hands up the recording labels map. The
// owner shows and hides the form.
Item {
    id: root

    property string player: ""
    property string coach: ""
    // An English id from sessionTypes (what the settings keep).
    property string sessionType: "Practice"
    property string title: ""
    property string notes: ""
    readonly property var sessionTypes: [
        //: Session type choice on the session form
        { id: "Practice", label: qsTr("Practice") },
        //: Session type choice on the session form
        { id: "Assessment", label: qsTr("Assessment") },
        //: Session type choice on the session form
        { id: "Competition", label: qsTr("Competition") },
        //: Session type choice on the session form
        { id: "Warm-up", label: qsTr("Warm-up") },
        //: Session type choice on the session form
        { id: "Technique drill", label: qsTr("Technique drill") },
        //: Session type choice on the session form (anything else)
        { id: "Other", label: qsTr("Other") }
    ]

    signal started(var labels)
    signal cancelled()

    function loadRemembered() {
        root.player = Store.getString("session/player", "")
        root.coach = Store.getString("session/coach", "")
        root.sessionType = Store.getString("session/sessionType", "Practice")
        root.title = Store.getString("session/title", "")
        root.notes = ""
    }

    // The user's texts trimmed; the type and the date in the card language.
    function buildLabels() {
        return {
            player: root.player.trim(),
            coach: root.coach.trim(),
            sessionType: Lang.cardSessionType(root.sessionType),
            title: root.title.trim(),
            notes: root.notes.trim(),
            date: Lang.formatCardDate(new Date())
        }
    }

    function startRecording() {
        Store.setString("session/player", root.player)
        Store.setString("session/coach", root.coach)
        Store.setString("session/sessionType", root.sessionType)
        Store.setString("session/title", root.title)
        root.started(root.buildLabels())
    }

    visible: false

    onVisibleChanged: {
        if (visible) {
            root.loadRemembered()
            return
        }
        // A hidden field would keep the keyboard and swallow the window's
        // single-key shortcuts.
        playerField.focus = false
        coachField.focus = false
        titleField.focus = false
        notesArea.focus = false
    }

    // Clicks outside the card neither reach the panels nor close the form.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.scrim
    }

    Rectangle {
        id: card
        objectName: "sessionFormCard"
        anchors.centerIn: parent
        width: Math.min(460, root.width - 40)
        height: Math.min(content.implicitHeight + 44, 0.9 * root.height)
        radius: 14
        color: Theme.surface
        border.width: 1
        border.color: Theme.border
        clip: true

        Column {
            id: content
            x: 22
            y: 22
            width: card.width - 44
            spacing: 6

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                color: Theme.accent
                font.pixelSize: 15
                font.bold: true
                //: Heading of the form asked before a recording
                text: "\uD83C\uDFAC " + qsTr("SESSION DETAILS")
            }
            Text {
                width: parent.width
                bottomPadding: 6
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                color: Theme.textDim
                font.pixelSize: 12
                //: Explains where the form's answers appear
                text: qsTr("Shown on the video for the first 5 seconds, then fades.")
            }

            Text {
                color: Theme.textDim
                font.pixelSize: 11
                //: Caption of the player name field
                text: qsTr("Player / participant")
            }
            TextField {
                id: playerField
                objectName: "playerField"
                width: parent.width
                text: root.player
                //: Example name shown greyed out in the empty field
                placeholderText: qsTr("e.g. John Smith")
                onTextEdited: root.player = text
            }

            Text {
                topPadding: 2
                color: Theme.textDim
                font.pixelSize: 11
                //: Caption of the coach name field
                text: qsTr("Coach (optional)")
            }
            TextField {
                id: coachField
                objectName: "coachField"
                width: parent.width
                text: root.coach
                //: Example name shown greyed out in the empty field
                placeholderText: qsTr("e.g. Jane Doe")
                onTextEdited: root.coach = text
            }

            Text {
                topPadding: 2
                color: Theme.textDim
                font.pixelSize: 11
                //: Caption of the session type buttons
                text: qsTr("Session type")
            }
            Flow {
                width: parent.width
                spacing: 6

                Repeater {
                    model: root.sessionTypes

                    ThemedButton {
                        id: typeButton

                        required property var modelData

                        objectName: "sessionType_" + typeButton.modelData.id
                        checkable: true
                        checked: typeButton.modelData.id === root.sessionType
                        text: typeButton.modelData.label
                        onClicked: {
                            root.sessionType = typeButton.modelData.id
                            // A click toggles the check; the mark follows the choice.
                            typeButton.checked = Qt.binding(() => typeButton.modelData.id === root.sessionType)
                        }
                    }
                }
            }

            Text {
                topPadding: 2
                color: Theme.textDim
                font.pixelSize: 11
                //: Caption of the custom title field
                text: qsTr("Custom title (optional)")
            }
            TextField {
                id: titleField
                objectName: "titleField"
                width: parent.width
                text: root.title
                //: Example title shown greyed out in the empty field
                placeholderText: qsTr("e.g. Tuesday doubles practice")
                onTextEdited: root.title = text
            }

            Text {
                topPadding: 2
                color: Theme.textDim
                font.pixelSize: 11
                //: Caption of the notes field
                text: qsTr("Notes (optional)")
            }
            TextArea {
                id: notesArea
                objectName: "notesArea"
                width: parent.width
                height: 60
                wrapMode: TextEdit.Wrap
                textFormat: TextEdit.PlainText
                text: root.notes
                //: Example note shown greyed out in the empty field
                placeholderText: qsTr("e.g. Working on follow-through and stance")
                onTextChanged: root.notes = text
                // The style draws no box of its own around a text area.
                background: Rectangle {
                    color: notesArea.palette.base
                    border.width: 1
                    border.color: notesArea.activeFocus ? notesArea.palette.highlight : notesArea.palette.mid
                }
            }

            Row {
                id: buttonRow
                width: parent.width
                topPadding: 8
                spacing: 8

                ThemedButton {
                    objectName: "cancelButton"
                    width: (buttonRow.width - buttonRow.spacing) / 3
                    //: Closes the form without recording
                    text: qsTr("Cancel")
                    onClicked: root.cancelled()
                }
                ThemedButton {
                    objectName: "startRecordingButton"
                    width: (buttonRow.width - buttonRow.spacing) * 2 / 3
                    contentItem: Text {
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        color: Theme.white
                        font.bold: true
                        //: Button that closes the form and starts the recording
                        text: "\u25CF " + qsTr("Start Recording")
                    }
                    background: Rectangle {
                        radius: 8
                        color: Theme.error
                    }
                    onClicked: root.startRecording()
                }
            }
        }
    }
}
