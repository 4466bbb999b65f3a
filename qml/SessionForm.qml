import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal

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
            scroller.contentY = 0
            return
        }
        // A hidden field would keep the keyboard and swallow the window's
        // single-key shortcuts.
        playerField.focus = false
        coachField.focus = false
        titleField.focus = false
        notesArea.focus = false
    }

    // The field or button the keyboard moves to scrolls into view.
    Connections {
        target: root.Window.window
        enabled: root.visible

        function onActiveFocusItemChanged() {
            const item = root.Window.activeFocusItem
            FocusReveal.reveal(scroller, item === notesArea ? notesView : item, 8)
        }
    }

    // The scrim takes every press and wheel turn and does nothing with them;
    // the keyboard stays inside the form (Escape still reaches the window).
    ModalLayer {
        id: layer
        anchors.fill: parent
        shown: root.visible

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

            // Presses and wheel turns on the card's empty parts stay here.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: (wheel) => { wheel.accepted = true }
            }

            // On a window too short for the whole card the content scrolls,
            // so every row, the buttons included, can be reached.
            Flickable {
                id: scroller
                objectName: "sessionFormScroller"
                anchors.fill: parent
                anchors.margins: 1
                contentWidth: width
                contentHeight: content.implicitHeight + 42
                interactive: contentHeight > height
                boundsBehavior: Flickable.StopAtBounds
                clip: true

                ScrollIndicator.vertical: ScrollIndicator {
                    active: scroller.interactive
                }

                Column {
                    id: content
                    x: 21
                    y: 21
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
                    // A fixed height: the lines beyond it scroll, and the one
                    // being typed stays in view.
                    Flickable {
                        id: notesView
                        objectName: "notesView"
                        width: parent.width
                        height: 60
                        clip: true
                        boundsBehavior: Flickable.StopAtBounds

                        TextArea.flickable: TextArea {
                            id: notesArea
                            objectName: "notesArea"
                            wrapMode: TextEdit.Wrap
                            textFormat: TextEdit.PlainText
                            text: root.notes
                            //: Example note shown greyed out in the empty field
                            placeholderText: qsTr("e.g. Working on follow-through and stance")
                            onTextChanged: root.notes = text
                            // Tab leaves the notes like every other field
                            // (a tab character has no place on a card).
                            Keys.onTabPressed: layer.step(true)
                            Keys.onBacktabPressed: layer.step(false)
                            onCursorRectangleChanged: {
                                if (notesArea.activeFocus)
                                    FocusReveal.revealRect(notesView, notesArea.cursorRectangle, notesArea.topPadding)
                            }
                            // The style draws no box of its own around a text area.
                            background: Rectangle {
                                color: notesArea.palette.base
                                border.width: 1
                                border.color: notesArea.activeFocus ? notesArea.palette.highlight : notesArea.palette.mid
                            }
                        }
                    }

                    Row {
                        id: buttonRow

                        readonly property real buttonHeight: Math.max(cancelButton.implicitHeight, startButton.implicitHeight)

                        width: parent.width
                        topPadding: 8
                        spacing: 8

                        // Both one line high, side by side at the same height.
                        ThemedButton {
                            id: cancelButton
                            objectName: "cancelButton"
                            width: (buttonRow.width - buttonRow.spacing) / 3
                            height: buttonRow.buttonHeight
                            //: Closes the form without recording
                            text: qsTr("Cancel")
                            onClicked: root.cancelled()
                        }
                        ThemedButton {
                            id: startButton
                            objectName: "startRecordingButton"
                            width: (buttonRow.width - buttonRow.spacing) * 2 / 3
                            height: buttonRow.buttonHeight
                            tone: "danger"
                            radius: 8
                            font.bold: true
                            //: Button that closes the form and starts the recording
                            text: "\u25CF " + qsTr("Start Recording")
                            onClicked: root.startRecording()
                        }
                    }
                }
            }
        }
    }
}
