import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal

// The language picker: the app's language and, apart from it, the language
// of the words printed on recordings. Every choice goes straight to Lang and
// every mark is a binding to Lang, so the sheet keeps no choice of its own.
Item {
    id: root

    property bool open: false

    signal closed()

    function close() {
        root.open = false
        root.closed()
    }

    // One selectable row: a radio dot and a label. Tab reaches it; Space or
    // Return chooses it like a click.
    component LanguageRow: Rectangle {
        id: row

        property string label: ""
        property bool picked: false

        signal activated()

        height: 44
        radius: 10
        color: row.picked ? Qt.rgba(1, 0.42, 0.21, 0.16) : "transparent"
        border.width: row.activeFocus ? 2 : 1
        border.color: row.activeFocus ? Theme.white : (row.picked ? Theme.accent : Theme.border)
        activeFocusOnTab: true
        Keys.onSpacePressed: row.activated()
        Keys.onReturnPressed: row.activated()
        Keys.onEnterPressed: row.activated()

        Rectangle {
            id: dot

            x: 14
            anchors.verticalCenter: parent.verticalCenter
            width: 18
            height: 18
            radius: 9
            color: "transparent"
            border.width: 2
            border.color: row.picked ? Theme.accent : Theme.textFaint

            Rectangle {
                anchors.centerIn: parent
                width: 8
                height: 8
                radius: 4
                color: Theme.accent
                visible: row.picked
            }
        }

        Text {
            anchors.left: dot.right
            anchors.leftMargin: 12
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: row.label
            color: Theme.text
            font.pixelSize: 16
            elide: Text.ElideRight
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: row.activated()
        }
    }

    component Heading: Text {
        width: parent ? parent.width : 0
        color: Theme.textDim
        font.pixelSize: 12
        font.bold: true
        font.letterSpacing: 1
        wrapMode: Text.WordWrap
    }

    visible: root.open

    // Keeps the row that Tab reached in view when the list scrolls.
    Connections {
        target: root.Window.window
        enabled: root.open

        function onActiveFocusItemChanged() {
            view.bringIntoView(root.Window.activeFocusItem)
        }
    }

    // Dims the window and keeps every press, wheel turn and key; a click on
    // the dark area closes the sheet.
    ModalLayer {
        id: layer

        objectName: "lang-scrim"
        anchors.fill: parent
        shown: root.open
        // On every opening the keyboard starts on the card, not on the
        // control it left last time.
        initialFocusItem: card
        scrimColor: Qt.rgba(0, 0, 0, 0.88)
        onScrimClicked: root.close()

        Rectangle {
            id: card

            objectName: "lang-card"
            anchors.centerIn: parent
            width: Math.min(420, root.width - 32)
            height: Math.min(root.height - 32, content.implicitHeight + 100)
            radius: 18
            color: Theme.surface
            border.width: 1
            border.color: Theme.border

            // Clicks and the wheel on the card never reach the scrim.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: wheel => wheel.accepted = true
            }

            Flickable {
                id: view

                objectName: "lang-view"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.bottom: doneButton.top
                anchors.leftMargin: 20
                anchors.rightMargin: 20
                anchors.topMargin: 20
                anchors.bottomMargin: 12
                clip: true
                contentWidth: width
                contentHeight: content.implicitHeight
                flickableDirection: Flickable.VerticalFlick
                boundsBehavior: Flickable.StopAtBounds

                function bringIntoView(item) {
                    content.forceLayout()
                    FocusReveal.reveal(view, item, 0)
                }

                Column {
                    id: content

                    width: view.width
                    spacing: 8

                    Text {
                        width: parent.width
                        //: Title of the language picker
                        text: qsTr("Language")
                        color: Theme.text
                        font.pixelSize: 22
                        font.bold: true
                        wrapMode: Text.WordWrap
                    }

                    Heading {
                        topPadding: 6
                        //: Language picker: heading of the interface languages
                        text: qsTr("APP LANGUAGE")
                    }

                    Repeater {
                        model: Lang.languages

                        delegate: LanguageRow {
                            required property var modelData

                            objectName: "lang-ui-" + modelData.code
                            width: content.width
                            label: modelData.name
                            picked: Lang.uiLanguage === modelData.code
                            onActivated: Lang.setUiLanguage(modelData.code)
                        }
                    }

                    Heading {
                        topPadding: 12
                        //: Language picker: heading of the languages for words printed on recordings
                        text: qsTr("RECORDING LANGUAGE")
                    }

                    Text {
                        width: parent.width
                        //: Language picker: explains the recording language
                        text: qsTr("The words printed on your recordings: the title card, the closing card and the LIVE badge.")
                        color: Theme.textDim
                        font.pixelSize: 13
                        wrapMode: Text.WordWrap
                    }

                    LanguageRow {
                        objectName: "lang-card-same"
                        width: content.width
                        //: Language picker: the recording language follows the app language
                        label: qsTr("Same as the app")
                        picked: Lang.cardFollowsUi
                        onActivated: Lang.setCardLanguage("")
                    }

                    Repeater {
                        model: Lang.languages

                        delegate: LanguageRow {
                            required property var modelData

                            objectName: "lang-card-" + modelData.code
                            width: content.width
                            label: modelData.name
                            picked: !Lang.cardFollowsUi && Lang.cardLanguage === modelData.code
                            onActivated: Lang.setCardLanguage(modelData.code)
                        }
                    }
                }
            }

            ThemedButton {
                id: doneButton

                objectName: "lang-done"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 20
                height: 48
                //: Language picker: closes it
                text: qsTr("Done")
                tone: "primary"
                radius: 12
                font.pixelSize: 16
                font.bold: true
                onClicked: root.close()
            }
        }
    }
}
