import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal

// Bottom sheet that sets, changes or removes the public leaderboard alias.
// Every rule and message belongs to `Referral`; the sheet shows the store's
// state and answers, with the publishing warnings and a consent box that
// gates saving. Fills its host; a click on the dimmed area closes it.
Item {
    id: root

    // Visible exactly while true.
    property bool shown: false
    // The text of the alias field.
    property string draft: ""
    // The consent box is ticked.
    property bool understood: false
    // The store's last refusal; shown while not empty.
    property string errorText: ""
    // True for the duration of a store call of the save or remove button.
    property bool saving: false
    // The alias state record as last read from the store.
    property var state: ({ alias: "", setAt: 0, canChange: true, daysUntilChange: 0 })
    readonly property bool locked: root.state.alias !== "" && !root.state.canChange

    // After a successful save or removal, just before the sheet hides.
    signal saved()

    // Every opening starts from the stored alias, unticked and without a message.
    function open() {
        root.errorText = ""
        root.saving = false
        root.understood = false
        root.state = Referral.aliasState()
        root.draft = root.state.alias
        scroller.contentY = 0
        root.shown = true
    }

    function close() {
        root.shown = false
    }

    function doSave() {
        root.saving = true
        const result = Referral.saveAlias(root.draft)
        root.saving = false
        if (!result.ok) {
            root.errorText = result.error
            return
        }
        root.state = result.state
        root.saved()
        root.shown = false
    }

    function doRemove() {
        root.saving = true
        const result = Referral.clearAlias()
        root.saving = false
        if (!result.ok) {
            root.errorText = result.error
            return
        }
        root.draft = ""
        root.state = Referral.aliasState()
        root.saved()
        root.shown = false
    }

    visible: root.shown

    // Keeps the control that Tab reached in view when the panel scrolls.
    Connections {
        target: root.Window.window
        enabled: root.shown

        function onActiveFocusItemChanged() {
            scroller.bringIntoView(root.Window.activeFocusItem)
        }
    }

    // Dims the start screen and keeps every press, wheel turn and key; a
    // click on the dimmed area closes the sheet.
    ModalLayer {
        id: layer

        objectName: "aliasBackdrop"
        anchors.fill: parent
        shown: root.shown
        // On every opening the keyboard starts on the card, not on the
        // control it left last time.
        initialFocusItem: panel
        scrimColor: Qt.rgba(0, 0, 0, 0.85)
        onScrimClicked: root.close()

        Rectangle {
            id: panel
            objectName: "aliasPanel"

            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: Math.min(content.implicitHeight + 44, root.height * 0.92)
            radius: 18
            color: Theme.surface
            border.width: 2
            border.color: Theme.accent

            // Clicks and the wheel on the panel never reach the backdrop.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: wheel => wheel.accepted = true
            }

            Flickable {
                id: scroller

                anchors.fill: parent
                anchors.margins: 22
                clip: true
                contentWidth: width
                contentHeight: content.implicitHeight
                boundsBehavior: Flickable.StopAtBounds
                interactive: contentHeight > height

                function bringIntoView(item) {
                    content.forceLayout()
                    FocusReveal.reveal(scroller, item, 0)
                }

                Column {
                    id: content

                    width: scroller.width
                    spacing: 8

                    Item {
                        width: parent.width
                        height: Math.max(title.implicitHeight, closeButton.height)

                        Text {
                            id: title
                            anchors.left: parent.left
                            anchors.right: closeButton.left
                            anchors.rightMargin: 8
                            anchors.verticalCenter: parent.verticalCenter
                            color: Theme.accent
                            font.pixelSize: 19
                            font.bold: true
                            wrapMode: Text.WordWrap
                            //: Title of the sheet where the user picks a public name for the leaderboard
                            text: qsTr("LEADERBOARD ALIAS")
                        }

                        ThemedButton {
                            id: closeButton
                            objectName: "aliasCloseButton"

                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            width: 36
                            height: 36
                            text: "\u2715"
                            radius: 10
                            font.pixelSize: 15
                            onClicked: root.close()
                        }
                    }

                    Text {
                        width: parent.width
                        color: Theme.text
                        font.pixelSize: 14
                        wrapMode: Text.WordWrap
                        //: Introduction of the leaderboard alias sheet
                        text: qsTr("Your alias is the name shown beside your referral count on the public Tavrix leaderboard. Your invite code is not shown — only this name.")
                    }

                    Rectangle {
                        width: parent.width
                        height: warning.implicitHeight + 28
                        radius: 10
                        color: Qt.rgba(Theme.error.r, Theme.error.g, Theme.error.b, 0.08)
                        border.width: 1
                        border.color: Qt.rgba(Theme.error.r, Theme.error.g, Theme.error.b, 0.45)

                        Column {
                            id: warning
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.top: parent.top
                            anchors.margins: 14
                            spacing: 8

                            Text {
                                width: parent.width
                                color: Theme.error
                                font.pixelSize: 13
                                font.bold: true
                                wrapMode: Text.WordWrap
                                //: Heading of the warning that the leaderboard alias is published
                                text: "\u26A0  " + qsTr("This becomes public and permanent")
                            }
                            Text {
                                width: parent.width
                                color: Theme.text
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                //: First paragraph of the warning about publishing the alias
                                text: qsTr("The leaderboard is a page on the open internet. Anyone can read it, search engines will index it, and copies get cached, archived and screenshotted by people and services we do not control.")
                            }
                            Text {
                                width: parent.width
                                color: Theme.text
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                //: Second paragraph of the warning about publishing the alias
                                text: qsTr("That means removing your alias later does not un-publish it. Assume anything you put here is visible to the world forever.")
                            }
                            Text {
                                width: parent.width
                                color: Theme.text
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                //: Third paragraph of the warning about publishing the alias
                                text: qsTr("Do not use your real full name, an email address, a phone number, a club that identifies where you are, or anything else you would not want a stranger to find. A nickname is the right kind of answer.")
                            }
                        }
                    }

                    Text {
                        width: parent.width
                        color: Theme.textDim
                        font.pixelSize: 10
                        font.bold: true
                        //: Label above the alias field
                        text: qsTr("YOUR ALIAS")
                    }

                    TextField {
                        id: field
                        objectName: "aliasField"

                        width: parent.width
                        text: root.draft
                        maximumLength: Referral.aliasMaxLength
                        enabled: !root.locked && !root.saving
                        // A locked field reads as locked.
                        opacity: enabled ? 1 : 0.4
                        //: Placeholder of the alias field: an example nickname
                        placeholderText: qsTr("e.g. BackyardBaller")
                        color: Theme.text
                        placeholderTextColor: Theme.textFaint
                        font.pixelSize: 15
                        background: Rectangle {
                            radius: 10
                            color: Theme.background
                            border.width: 1
                            border.color: field.activeFocus ? Theme.accent : Theme.border
                        }
                        onTextEdited: {
                            root.draft = field.text
                            root.errorText = ""
                        }
                    }

                    Text {
                        objectName: "aliasHint"
                        width: parent.width
                        color: Theme.textFaint
                        font.pixelSize: 11
                        wrapMode: Text.WordWrap
                        //: Rules of the alias field; %n is the most characters allowed
                        text: qsTr("%n character(s) max. Letters and numbers, with spaces, hyphens or underscores between them.", "", Referral.aliasMaxLength)
                    }

                    Rectangle {
                        objectName: "aliasLockBox"
                        width: parent.width
                        height: lockText.implicitHeight + 24
                        visible: root.locked
                        radius: 10
                        color: Qt.rgba(Theme.warn.r, Theme.warn.g, Theme.warn.b, 0.08)
                        border.width: 1
                        border.color: Qt.rgba(Theme.warn.r, Theme.warn.g, Theme.warn.b, 0.4)

                        Text {
                            id: lockText
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.margins: 12
                            color: Theme.warn
                            font.pixelSize: 12
                            font.bold: true
                            wrapMode: Text.WordWrap
                            //: %n is the number of days the alias stays locked, %1 the date it can change
                            text: qsTr("Locked for another %n day(s) — you can change it from %1.", "",
                                       root.state.daysUntilChange).arg(Referral.unlockDate())
                        }
                    }

                    Text {
                        objectName: "aliasLockNotice"
                        width: parent.width
                        visible: !root.locked
                        color: Theme.textDim
                        font.pixelSize: 12
                        wrapMode: Text.WordWrap
                        //: %n is the number of days between alias changes once the leaderboard is live
                        text: qsTr("Once the leaderboard is live, an alias can only be changed every %n day(s) (about six months), so a name on the board means the same person each time. Choose carefully.", "", Referral.aliasLockDays)
                    }

                    Rectangle {
                        width: parent.width
                        height: rules.implicitHeight + 28
                        radius: 10
                        color: "transparent"
                        border.width: 1
                        border.color: Theme.border

                        Column {
                            id: rules
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.top: parent.top
                            anchors.margins: 14
                            spacing: 8

                            Text {
                                width: parent.width
                                color: Theme.textDim
                                font.pixelSize: 10
                                font.bold: true
                                //: Heading of the referral rules box
                                text: qsTr("RESPONSIBLE USE")
                            }
                            Text {
                                width: parent.width
                                color: Theme.text
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                //: First paragraph of the referral rules box
                                text: qsTr("Referrals are for inviting real people who genuinely want the app. Faking installs, using bots or emulators, buying or trading codes, spamming, or impersonating someone else on the leaderboard is a breach of the referral rules.")
                            }
                            Text {
                                width: parent.width
                                color: Theme.text
                                font.pixelSize: 13
                                wrapMode: Text.WordWrap
                                //: Second paragraph of the referral rules box
                                text: qsTr("If we find that has happened we may remove your alias from the leaderboard and ban the account, and any referrals, bonuses, prizes or rewards you have accrued — earned or pending — are void.")
                            }
                            Text {
                                objectName: "aliasRulesLink"
                                width: parent.width
                                color: Theme.accent
                                font.pixelSize: 13
                                font.bold: true
                                wrapMode: Text.WordWrap
                                //: Link that opens the referral rules web page
                                text: qsTr("Read the full referral rules") + " \u2197"

                                // Reached by Tab too; Return or Space opens it.
                                activeFocusOnTab: true
                                font.underline: activeFocus
                                Keys.onReturnPressed: Engine.openUrl(Lang.siteUrl("/linux/referral-rules.html"))
                                Keys.onEnterPressed: Engine.openUrl(Lang.siteUrl("/linux/referral-rules.html"))
                                Keys.onSpacePressed: Engine.openUrl(Lang.siteUrl("/linux/referral-rules.html"))

                                MouseArea {
                                    anchors.fill: parent
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: Engine.openUrl(Lang.siteUrl("/linux/referral-rules.html"))
                                }
                            }
                        }
                    }

                    // Only while the board is off: its text says nothing is published.
                    Rectangle {
                        objectName: "aliasNotice"
                        width: parent.width
                        height: noticeText.implicitHeight + 24
                        visible: !Referral.leaderboardLive
                        radius: 10
                        color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.08)
                        border.width: 1
                        border.color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.35)

                        Text {
                            id: noticeText
                            objectName: "aliasNoticeText"
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.margins: 12
                            color: Theme.text
                            font.pixelSize: 12
                            wrapMode: Text.WordWrap
                            //: Notice on the alias sheet while the public leaderboard is switched off
                            text: "\uD83D\uDEA7  " + qsTr("The leaderboard is not live yet. Your alias is saved on this device only — nothing is sent anywhere, and nothing is published. While it is off you can change your alias as often as you like; the six-month lock starts once the board goes live.")
                        }
                    }

                    Row {
                        id: consentRow
                        objectName: "aliasConsent"

                        width: parent.width
                        visible: !root.locked
                        spacing: 12

                        Rectangle {
                            id: consentBox
                            objectName: "aliasConsentBox"
                            width: 26
                            height: 26
                            radius: 6
                            border.width: 2
                            border.color: consentBox.activeFocus ? Theme.white
                                        : root.understood ? Theme.accent : Theme.textDim
                            // Reached by Tab and ticked by Space, like a check box.
                            activeFocusOnTab: true
                            Keys.onSpacePressed: root.understood = !root.understood
                            color: root.understood ? Theme.accent : "transparent"

                            Text {
                                anchors.centerIn: parent
                                visible: root.understood
                                text: "\u2713"
                                color: Theme.white
                                font.bold: true
                                font.pixelSize: 16
                            }

                            MouseArea {
                                anchors.fill: parent
                                onClicked: root.understood = !root.understood
                            }
                        }

                        Text {
                            objectName: "aliasConsentText"
                            width: consentRow.width - 26 - consentRow.spacing
                            color: Theme.text
                            font.pixelSize: 13
                            wrapMode: Text.WordWrap
                            //: Consent sentence beside the check box that allows saving the alias
                            text: qsTr("I understand my alias will be published publicly, may be searchable and cached permanently, and I agree to the referral rules.")

                            MouseArea {
                                anchors.fill: parent
                                onClicked: root.understood = !root.understood
                            }
                        }
                    }

                    Text {
                        objectName: "aliasMessage"
                        width: parent.width
                        visible: root.errorText !== ""
                        color: Theme.error
                        font.pixelSize: 13
                        wrapMode: Text.WordWrap
                        text: root.errorText
                    }

                    ThemedButton {
                        id: saveButton
                        objectName: "aliasSaveButton"

                        width: parent.width
                        height: 56
                        visible: !root.locked
                        enabled: root.understood && !root.saving && root.draft.trim() !== ""
                        text: {
                            if (root.saving)
                                //: Save button of the alias sheet while the alias is being stored
                                return qsTr("Saving\u2026")
                            if (root.state.alias !== "")
                                //: Save button when an alias is already stored
                                return qsTr("Change my alias")
                            //: Save button when no alias is stored yet
                            return qsTr("Set my alias")
                        }
                        tone: "primary"
                        radius: 12
                        font.pixelSize: 17
                        font.bold: true
                        onClicked: root.doSave()
                    }

                    ThemedButton {
                        id: removeButton
                        objectName: "aliasRemoveButton"

                        width: parent.width
                        visible: !root.locked && root.state.alias !== ""
                        enabled: !root.saving
                        //: Removes the stored leaderboard alias
                        text: qsTr("Remove my alias")
                        tone: "quiet"
                        textColor: Theme.error
                        font.pixelSize: 14
                        font.bold: true
                        onClicked: root.doRemove()
                    }

                    ThemedButton {
                        id: dismissButton
                        objectName: "aliasDismissButton"

                        width: parent.width
                        text: root.locked
                              //: Closes the alias sheet while the alias cannot be changed
                              ? qsTr("Close")
                              //: Closes the alias sheet without saving
                              : qsTr("Not now")
                        tone: "quiet"
                        font.pixelSize: 15
                        font.bold: true
                        onClicked: root.close()
                    }
                }
            }
        }
    }
}
