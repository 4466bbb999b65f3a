import QtQuick
import QtQuick.Controls
import Tavrix

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

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.88)
    }

    // Swallows every click, wheel and hover outside the card.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        onWheel: wheel => wheel.accepted = true
    }

    Rectangle {
        id: card

        anchors.centerIn: parent
        width: Math.min(380, root.width - 48)
        height: content.implicitHeight + 48
        radius: 18
        color: Theme.surface
        border.width: 1
        border.color: Theme.border

        Column {
            id: content

            anchors.top: parent.top
            anchors.topMargin: 24
            anchors.horizontalCenter: parent.horizontalCenter
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
                background: Rectangle {
                    radius: 12
                    color: Theme.accent
                    opacity: pasteButton.enabled ? 1 : 0.5
                }
                contentItem: Text {
                    text: pasteButton.text
                    color: Theme.white
                    font.pixelSize: 17
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
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
                background: Rectangle {
                    radius: 12
                    color: "transparent"
                    border.width: 1
                    border.color: Theme.border
                }
                contentItem: Text {
                    text: continueButton.text
                    color: Theme.text
                    opacity: continueButton.enabled ? 1 : 0.4
                    font.pixelSize: 16
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
                onClicked: root.save()
            }

            ThemedButton {
                id: skipButton
                objectName: "inviteSkipButton"

                width: parent.width
                height: 44
                flat: true
                //: Declines the invite code question for good
                text: qsTr("I don't have one")
                background: Item {}
                contentItem: Text {
                    text: skipButton.text
                    color: Theme.textDim
                    font.pixelSize: 14
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
                onClicked: root.skip()
            }
        }
    }
}
