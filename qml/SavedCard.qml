import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal

// Shown once a recording has been saved: its file name and the actions on
// the finished clip. A pure view: every action is reported by a signal and
// the host carries it out, and the host decides when the card shows. The
// dimmed backdrop takes every click. On a host too short for the whole card
// the card's content scrolls, so no button is ever out of reach.
Item {
    id: root

    // Full path of the saved file as the engine reported it.
    property string path: ""
    // The recording was cut short but the file was kept.
    property bool interrupted: false
    // The share server's recordings page; empty while sharing is off.
    property string shareUrl: ""
    // The last piece of the path after "/" or "\"; "" for a path ending in one.
    readonly property string fileName: {
        const pieces = root.path.split(/[\/\\]/)
        return pieces[pieces.length - 1]
    }

    signal openFolderRequested()
    signal copyPathRequested()
    signal copyShareUrlRequested()
    signal enableSharingRequested()
    signal closed()

    visible: false

    // The button the keyboard moves to scrolls into view.
    Connections {
        target: root.Window.window
        enabled: root.visible

        function onActiveFocusItemChanged() {
            FocusReveal.reveal(scroller, root.Window.activeFocusItem, 8)
        }
    }

    // The dimmed backdrop swallows every press and wheel turn: the session
    // behind stays untouched and the card open. The keyboard stays inside.
    ModalLayer {
        id: layer
        objectName: "backdropArea"
        anchors.fill: parent
        shown: root.visible
        scrimColor: Qt.rgba(0, 0, 0, 0.55)

        Rectangle {
            id: card
            objectName: "card"

            readonly property int margin: 24

            anchors.centerIn: parent
            width: Math.min(420, root.width - 2 * card.margin)
            // The whole content when it fits, else as tall as the host allows.
            height: Math.min(content.implicitHeight + 2 * card.margin,
                             Math.max(0, root.height - 2 * card.margin))
            radius: 18
            color: Theme.surface
            border.width: 1
            border.color: Theme.border

            // Presses and wheel turns on the card's empty parts stay here.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: (wheel) => { wheel.accepted = true }
            }

            Flickable {
                id: scroller
                objectName: "scroller"
                anchors.fill: parent
                anchors.topMargin: card.margin
                anchors.bottomMargin: card.margin
                contentWidth: width
                contentHeight: content.implicitHeight
                interactive: contentHeight > height
                boundsBehavior: Flickable.StopAtBounds
                clip: true

                ScrollIndicator.vertical: ScrollIndicator {
                    active: scroller.interactive
                }

                Column {
                    id: content
                    x: 28
                    width: scroller.width - 56
                    spacing: 6

                    Text {
                        width: parent.width
                        text: "\u2713"
                        textFormat: Text.PlainText
                        color: Theme.live
                        font.pixelSize: 34
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                    }

                    Text {
                        objectName: "titleText"
                        width: parent.width
                        text: {
                            if (root.interrupted)
                                //: Saved card title when a lost camera cut the recording short but the file was kept
                                return qsTr("Interrupted — but saved")
                            //: Saved card title after a recording was written to disk
                            return qsTr("Successfully saved")
                        }
                        textFormat: Text.PlainText
                        color: Theme.text
                        font.pixelSize: 19
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.Wrap
                    }

                    Text {
                        objectName: "fileNameText"
                        width: parent.width
                        text: root.fileName
                        textFormat: Text.PlainText
                        color: Theme.textDim
                        font.pixelSize: 12
                        horizontalAlignment: Text.AlignHCenter
                        elide: Text.ElideMiddle
                        bottomPadding: 16
                    }

                    ThemedButton {
                        id: openFolderButton
                        objectName: "openFolderButton"
                        width: parent.width
                        height: 58
                        tone: "primary"
                        radius: 12
                        font.pixelSize: 18
                        font.bold: true
                        //: Saved card button that opens the recordings folder in the file manager
                        text: qsTr("Open folder")
                        onClicked: root.openFolderRequested()
                    }

                    // The outlined buttons sit lower than the column's spacing
                    // alone would put them: each holder adds the gap above its button.
                    Item {
                        width: parent.width
                        height: copyPathButton.height + 10

                        ThemedButton {
                            id: copyPathButton
                            objectName: "copyPathButton"
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: 50
                            radius: 12
                            font.pixelSize: 16
                            font.bold: true
                            //: Saved card button that copies the recording's full file path to the clipboard
                            text: qsTr("Copy path")
                            onClicked: root.copyPathRequested()
                        }
                    }

                    Item {
                        width: parent.width
                        height: shareButton.height + 10

                        ThemedButton {
                            id: shareButton
                            objectName: "shareButton"

                            readonly property bool hasLink: root.shareUrl !== ""

                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: 50
                            radius: 12
                            font.pixelSize: 14
                            font.bold: true
                            // The longer request wraps rather than being cut short.
                            wrapText: true
                            text: {
                                if (shareButton.hasLink)
                                    //: Saved card button that copies the Live Share link to the recordings page
                                    return qsTr("Share link")
                                //: Saved card button shown while Live Share is off; opens the Live Share sheet
                                return qsTr("Turn on Live Share to get a link")
                            }
                            onClicked: {
                                if (shareButton.hasLink)
                                    root.copyShareUrlRequested()
                                else
                                    root.enableSharingRequested()
                            }
                        }
                    }

                    Item {
                        width: parent.width
                        height: closeButton.height + 12

                        ThemedButton {
                            id: closeButton
                            objectName: "closeButton"
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: 54
                            radius: 12
                            font.pixelSize: 17
                            font.bold: true
                            //: Saved card button that closes the card
                            text: qsTr("Close")
                            onClicked: root.closed()
                        }
                    }
                }
            }
        }
    }
}
