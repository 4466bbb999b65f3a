import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal

// Asks a new user once for the code of whoever invited them. Opens itself at
// creation while `Referral` says the question is still to be asked, and
// closes only through its own buttons: a code the store accepts, or "I don't
// have one". Fills its host; clicks outside the card reach nothing.
Item {
    id: root

    // Visible exactly while true; set only by the sheet itself.
    property bool open: false
    // The code in the field, in capitals.
    property string draft: ""
    // The store's last refusal, shown under the paste button.
    property string errorText: ""
    // True for the duration of the store call of Continue.
    property bool saving: false
    property bool pasteTried: false
    // The last paste found no code (a flag, so the line follows the language).
    property bool clipboardEmpty: false

    function paste() {
        root.pasteTried = true
        const code = Referral.findCodeIn(clipboard.pasteText())
        root.errorText = ""
        if (code === "") {
            root.clipboardEmpty = true
            return
        }
        root.draft = code
        root.clipboardEmpty = false
    }

    function save() {
        root.saving = true
        root.clipboardEmpty = false
        const result = Referral.setInvitedBy(root.draft)
        root.saving = false
        if (!result.ok) {
            root.errorText = result.error
            return
        }
        root.open = false
    }

    function skip() {
        Referral.markInviteCodeAsked()
        root.open = false
    }

    visible: root.open

    Component.onCompleted: {
        if (Referral.shouldAskForInviteCode())
            root.open = true
    }

    ClipboardBridge {
        id: clipboard
    }

    // Keeps the control that Tab reached in view when the card scrolls.
    Connections {
        target: root.Window.window
        enabled: root.open

        function onActiveFocusItemChanged() {
            view.bringIntoView(root.Window.activeFocusItem)
        }
    }

    // Dims the start screen and keeps every press, wheel turn and key: a
    // click outside the card does nothing, Tab stays inside the card.
    ModalLayer {
        id: layer

        anchors.fill: parent
        shown: root.open
        // On every opening the keyboard starts on the card, not on the
        // control it left last time.
        initialFocusItem: card
        scrimColor: Qt.rgba(0, 0, 0, 0.88)

        Rectangle {
            id: card

            objectName: "inviteCard"
            anchors.centerIn: parent
            width: Math.min(380, root.width - 48)
            // On a short screen the card stops short of the edges and scrolls.
            height: Math.min(content.implicitHeight + 48, root.height - 16)
            radius: 18
            color: Theme.surface
            border.width: 1
            border.color: Theme.border

            // Presses and the wheel on the card's own empty areas stop here.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: wheel => wheel.accepted = true
            }

            Flickable {
                id: view

                objectName: "inviteView"
                anchors.fill: parent
                anchors.topMargin: 24
                anchors.bottomMargin: 24
                clip: true
                contentWidth: width
                contentHeight: content.implicitHeight
                boundsBehavior: Flickable.StopAtBounds
                interactive: contentHeight > height

                function bringIntoView(item) {
                    content.forceLayout()
                    FocusReveal.reveal(view, item, 0)
                }

                Column {
                    id: content

                    x: 24
                    width: card.width - 48
                    spacing: 10

                    Text {
                        width: parent.width
                        color: Theme.text
                        font.pixelSize: 22
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        //: Heading of the sheet that asks a new user for the code of whoever invited them
                        text: qsTr("Got an invite code?")
                    }

                    Text {
                        width: parent.width
                        color: Theme.textDim
                        font.pixelSize: 14
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        //: Under the heading of the invite code sheet; a mate is a friend
                        text: qsTr("Paste your mate's code so they get credit.")
                    }

                    TextField {
                        id: field
                        objectName: "inviteCodeField"

                        width: parent.width
                        text: root.draft
                        enabled: !root.saving
                        opacity: enabled ? 1 : 0.4
                        //: Placeholder of the invite code field: the shape of a code, keep it as it is
                        placeholderText: qsTr("XXXX-XXXX")
                        horizontalAlignment: TextInput.AlignHCenter
                        font.pixelSize: 20
                        font.bold: true
                        color: Theme.text
                        placeholderTextColor: Theme.textFaint
                        inputMethodHints: Qt.ImhPreferUppercase | Qt.ImhNoPredictiveText
                        background: Rectangle {
                            radius: 10
                            color: Theme.background
                            border.width: 1
                            border.color: field.activeFocus ? Theme.accent : Theme.border
                        }

                        // The field shows capitals as the user types; the caret stays
                        // after the typed character, not at the end of the field.
                        onTextEdited: {
                            const upper = field.text.toUpperCase()
                            const caret = field.text.slice(0, field.cursorPosition).toUpperCase().length
                            root.draft = upper
                            root.errorText = ""
                            root.clipboardEmpty = false
                            field.cursorPosition = caret
                        }
                    }

                    ThemedButton {
                        id: pasteButton
                        objectName: "invitePasteButton"

                        width: parent.width
                        height: 52
                        enabled: !root.saving
                        text: root.pasteTried && root.draft !== ""
                              //: Paste button after a paste or typing filled the field
                              ? "\u2713  " + qsTr("Pasted")
                              //: Button that takes an invite code from the clipboard
                              : "\uD83D\uDCCB  " + qsTr("Paste code")
                        tone: "primary"
                        radius: 12
                        font.pixelSize: 17
                        font.bold: true
                        onClicked: root.paste()
                    }

                    Text {
                        objectName: "inviteMessage"

                        width: parent.width
                        visible: root.clipboardEmpty || root.errorText !== ""
                        color: Theme.error
                        font.pixelSize: 13
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        text: root.clipboardEmpty
                              //: Shown when the clipboard holds nothing shaped like an invite code
                              ? qsTr("Nothing that looks like a code on your clipboard. You can type it instead.")
                              : root.errorText
                    }

                    ThemedButton {
                        id: continueButton
                        objectName: "inviteContinueButton"

                        width: parent.width
                        height: 52
                        enabled: root.draft.trim() !== "" && !root.saving
                        text: root.saving
                              //: Continue button of the invite code sheet while the code is being stored
                              ? qsTr("Saving\u2026")
                              //: Button that stores the entered invite code
                              : qsTr("Continue")
                        radius: 12
                        font.pixelSize: 16
                        font.bold: true
                        onClicked: root.save()
                    }

                    ThemedButton {
                        id: skipButton
                        objectName: "inviteSkipButton"

                        width: parent.width
                        height: 44
                        //: Declines the invite code question for good
                        text: qsTr("I don't have one")
                        tone: "quiet"
                        font.pixelSize: 14
                        font.bold: true
                        onClicked: root.skip()
                    }
                }
            }
        }
    }
}
