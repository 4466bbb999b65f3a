import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrix
import "FocusReveal.js" as FocusReveal

// The bottom sheet that turns Live Share on and off. It calls Engine itself
// and shows Engine.sharing and Engine.shareInfo as they are; its own state
// (busy, a failed start, a fresh copy) lives as long as the session screen.
// Closing the sheet never stops sharing.
Item {
    id: root

    // A start or stop call is running.
    property bool busy: false
    // The latest start attempt failed.
    property bool startFailed: false
    // The address was copied less than 2000 ms ago.
    property bool justCopied: false

    // The number of viewers; 0 when the information has none.
    readonly property int viewerCount: {
        const viewers = Number(root.infoValue("viewers"))
        return viewers > 0 ? Math.floor(viewers) : 0
    }

    signal closed()

    // One field of the share information as text, empty when missing.
    function infoValue(key) {
        const info = Engine.shareInfo
        const value = info ? info[key] : undefined
        return value === undefined || value === null ? "" : String(value)
    }

    // The ready-made message for whoever sets up the stream, in the current
    // interface language.
    function shareMessage() {
        const url = root.infoValue("url")
        const code = root.infoValue("code")
        //: The message copied for someone who sets up OBS. Keep the line breaks: a heading, an empty line, %1 (the stream address), an empty line and the instructions ending with %2 (the room code). "Media Source" and "Local File" are OBS's own names: use OBS's wording in this language.
        const text = qsTr("Tavrix live stream\n\n%1\n\nIn OBS: add a Media Source, untick \"Local File\", and paste that URL. Room code %2.")
        // Both in one pass, so an address holding "%2" stays as it is.
        return text.replace(/%([12])/g, (match, digit) => digit === "1" ? url : code)
    }

    function startSharing() {
        if (root.busy)
            return
        root.busy = true
        root.startFailed = false
        let started = false
        try {
            started = Engine.startSharing()
        } finally {
            root.busy = false
        }
        if (!started)
            root.startFailed = true
    }

    function stopSharing() {
        if (root.busy)
            return
        root.busy = true
        try {
            Engine.stopSharing()
        } finally {
            root.busy = false
        }
    }

    function copyAddress() {
        clipboard.copyText(root.infoValue("url"))
        root.justCopied = true
        copiedResetTimer.restart()
    }

    function copyMessage() {
        clipboard.copyText(root.shareMessage())
    }

    visible: false

    ClipboardBridge {
        id: clipboard
    }

    Timer {
        id: copiedResetTimer

        interval: 2000
        repeat: false
        onTriggered: root.justCopied = false
    }

    // The control the keyboard moves to scrolls into view.
    Connections {
        target: root.Window.window
        enabled: root.visible

        function onActiveFocusItemChanged() {
            FocusReveal.reveal(view, root.Window.activeFocusItem, 8)
        }
    }

    // The backdrop: a press on it closes the sheet, and nothing beneath is
    // reached by a press, the wheel or the keyboard while the sheet shows.
    ModalLayer {
        id: layer
        objectName: "share-backdrop"
        anchors.fill: parent
        shown: root.visible
        scrimColor: Qt.rgba(0, 0, 0, 0.85)
        onScrimClicked: root.closed()

        Rectangle {
            id: panel

            objectName: "share-panel"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: Math.min(column.implicitHeight + 44, root.height * 0.92)
            color: Theme.surface
            radius: 18
            border.width: 2
            border.color: Theme.accent

            // Presses and wheel turns on the panel's empty parts stay here.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: (wheel) => { wheel.accepted = true }
            }

            Flickable {
                id: view

                objectName: "share-view"
                anchors.fill: parent
                anchors.margins: 22
                clip: true
                contentWidth: width
                contentHeight: column.implicitHeight
                flickableDirection: Flickable.VerticalFlick
                boundsBehavior: Flickable.StopAtBounds
                interactive: contentHeight > height

                ColumnLayout {
                    id: column

                    width: view.width
                    spacing: 10

                    RowLayout {
                        Layout.fillWidth: true

                        Text {
                            Layout.fillWidth: true
                            //: Title of the Live Share sheet
                            text: qsTr("LIVE SHARE")
                            color: Theme.accent
                            font.pixelSize: 19
                            font.bold: true
                        }

                        ThemedButton {
                            id: closeButton

                            objectName: "share-close"
                            text: "\u2715"
                            radius: 10
                            onClicked: root.closed()
                        }
                    }

                    ColumnLayout {
                        objectName: "share-off-group"
                        // A hidden button must not keep the sheet's keyboard.
                        onVisibleChanged: {
                            if (!visible)
                                startButton.focus = false
                        }
                        Layout.fillWidth: true
                        visible: !Engine.sharing
                        spacing: 10

                        Text {
                            Layout.fillWidth: true
                            Layout.topMargin: 10
                            //: Live Share: what sharing does, before it is started
                            text: qsTr("Show this computer's replay on a laptop on the same network — for OBS, a stream, or a big screen in the clubhouse.")
                            color: Theme.text
                            font.pixelSize: 14
                            wrapMode: Text.WordWrap
                        }

                        Rectangle {
                            Layout.fillWidth: true
                            implicitHeight: warning.implicitHeight + 20
                            radius: 10
                            color: Qt.rgba(1, 0.596, 0, 0.08)
                            border.width: 1
                            border.color: Qt.rgba(1, 0.596, 0, 0.45)

                            Text {
                                id: warning

                                objectName: "share-warning"
                                anchors.left: parent.left
                                anchors.right: parent.right
                                anchors.verticalCenter: parent.verticalCenter
                                anchors.leftMargin: 12
                                anchors.rightMargin: 12
                                //: Live Share: the privacy warning shown before sharing starts
                                text: "\u26A0  " + qsTr("Anyone on this network who has the room code can watch your camera. This opens a port on whatever network you're on. Turn sharing off when you're done.")
                                color: Theme.warn
                                font.pixelSize: 13
                                font.bold: true
                                wrapMode: Text.WordWrap
                            }
                        }

                        ThemedButton {
                            id: startButton

                            objectName: "share-start"
                            Layout.fillWidth: true
                            Layout.preferredHeight: 56
                            tone: "primary"
                            radius: 12
                            font.pixelSize: 17
                            font.bold: true
                            enabled: !root.busy
                            text: root.busy
                                  //: Live Share: the start button while sharing starts
                                  ? qsTr("Starting…")
                                  //: Live Share: the button that starts sharing
                                  : qsTr("Start sharing")
                            onClicked: root.startSharing()
                        }
                    }

                    ColumnLayout {
                        objectName: "share-on-group"
                        onVisibleChanged: {
                            if (!visible) {
                                copyAddressButton.focus = false
                                copyMessageButton.focus = false
                                stopButton.focus = false
                            }
                        }
                        Layout.fillWidth: true
                        visible: Engine.sharing
                        spacing: 6

                        RowLayout {
                            Layout.fillWidth: true
                            Layout.topMargin: 12
                            spacing: 6

                            Rectangle {
                                Layout.preferredWidth: 10
                                Layout.preferredHeight: 10
                                radius: 5
                                color: Theme.error
                            }

                            Text {
                                objectName: "share-status"
                                Layout.fillWidth: true
                                //: Live Share status; %n is the number of people watching the stream
                                text: qsTr("SHARING · %n watching", "", root.viewerCount)
                                color: Theme.error
                                font.pixelSize: 12
                                font.bold: true
                                wrapMode: Text.WordWrap
                            }
                        }

                        Text {
                            Layout.topMargin: 12
                            //: Live Share: label above the room code
                            text: qsTr("ROOM CODE")
                            color: Theme.textDim
                            font.pixelSize: 10
                            font.bold: true
                        }

                        Text {
                            objectName: "share-code"
                            text: root.infoValue("code")
                            color: Theme.white
                            font.pixelSize: 40
                            font.bold: true
                            font.letterSpacing: 8
                        }

                        Text {
                            Layout.fillWidth: true
                            //: Live Share: note under the room code
                            text: qsTr("Not case sensitive, and it stays the same every session — so the address you put into OBS keeps working.")
                            color: Theme.textFaint
                            font.pixelSize: 11
                            wrapMode: Text.WordWrap
                        }

                        // A text link that the keyboard reaches too.
                        ThemedButton {
                            id: changeCodeButton
                            objectName: "share-change-code"
                            Layout.topMargin: 4
                            Layout.preferredHeight: changeCodeButton.implicitContentHeight + 8
                            tone: "quiet"
                            leftPadding: 2
                            rightPadding: 2
                            topPadding: 4
                            bottomPadding: 4
                            font.pixelSize: 13
                            font.underline: true
                            //: Live Share: link that makes a new room code
                            text: qsTr("Change code")
                            onClicked: Engine.regenerateShareCode()
                        }

                        Text {
                            Layout.topMargin: 14
                            //: Live Share: label above the stream address; OBS is a streaming application
                            text: qsTr("ADDRESS FOR OBS")
                            color: Theme.textDim
                            font.pixelSize: 10
                            font.bold: true
                        }

                        Rectangle {
                            Layout.fillWidth: true
                            implicitHeight: address.implicitHeight + 24
                            color: "black"
                            radius: 10
                            border.width: 1
                            border.color: Theme.border

                            Text {
                                id: address

                                objectName: "share-address"
                                anchors.fill: parent
                                anchors.margins: 12
                                text: root.infoValue("url")
                                color: Theme.text
                                font.pixelSize: 14
                                font.bold: true
                                wrapMode: Text.WrapAnywhere
                            }
                        }

                        Rectangle {
                            Layout.fillWidth: true
                            Layout.topMargin: 12
                            implicitHeight: steps.implicitHeight + 24
                            color: "transparent"
                            radius: 10
                            border.width: 1
                            border.color: Theme.border

                            ColumnLayout {
                                id: steps

                                anchors.left: parent.left
                                anchors.right: parent.right
                                anchors.top: parent.top
                                anchors.leftMargin: 14
                                anchors.rightMargin: 14
                                anchors.topMargin: 12
                                spacing: 4

                                Text {
                                    //: Live Share: heading of the OBS steps; OBS is a streaming application
                                    text: qsTr("IN OBS")
                                    color: Theme.textDim
                                    font.pixelSize: 10
                                    font.bold: true
                                }

                                Text {
                                    Layout.fillWidth: true
                                    //: OBS step 1. "Sources" and "Media Source" are OBS's own names: use OBS's wording in this language
                                    text: qsTr("1. Sources → + → Media Source")
                                    color: Theme.text
                                    font.pixelSize: 13
                                    elide: Text.ElideRight
                                }

                                Text {
                                    Layout.fillWidth: true
                                    //: OBS step 2. "Local File" is OBS's own name: use OBS's wording in this language
                                    text: qsTr("2. Untick “Local File”")
                                    color: Theme.text
                                    font.pixelSize: 13
                                    elide: Text.ElideRight
                                }

                                Text {
                                    Layout.fillWidth: true
                                    //: OBS step 3. "Input" is OBS's own name: use OBS's wording in this language
                                    text: qsTr("3. Paste the address into Input")
                                    color: Theme.text
                                    font.pixelSize: 13
                                    elide: Text.ElideRight
                                }

                                Text {
                                    Layout.fillWidth: true
                                    //: OBS step 4. "Network Buffering" is OBS's own name: use OBS's wording in this language
                                    text: qsTr("4. Drag Network Buffering down to 0 MB")
                                    color: Theme.text
                                    font.pixelSize: 13
                                    elide: Text.ElideRight
                                }

                                Text {
                                    Layout.fillWidth: true
                                    //: Live Share: why OBS step 4 matters
                                    text: qsTr("Step 4 matters: OBS defaults to a 2 MB buffer, which at this bitrate is several seconds of delay. Video only — add your microphone in OBS as its own source.")
                                    color: Theme.textDim
                                    font.pixelSize: 12
                                    wrapMode: Text.WordWrap
                                }
                            }
                        }

                        ThemedButton {
                            id: copyAddressButton
                            objectName: "share-copy-address"
                            Layout.fillWidth: true
                            Layout.topMargin: 12
                            text: root.justCopied
                                  //: Live Share: the copy button just after the address was copied
                                  ? "\u2713  " + qsTr("Copied")
                                  //: Live Share: button that copies the stream address
                                  : qsTr("Copy address")
                            onClicked: root.copyAddress()
                        }

                        ThemedButton {
                            id: copyMessageButton
                            objectName: "share-copy-message"
                            Layout.fillWidth: true
                            //: Live Share: button that copies a message with the address and the OBS steps
                            text: qsTr("Copy a message to send")
                            onClicked: root.copyMessage()
                        }

                        ThemedButton {
                            id: stopButton

                            objectName: "share-stop"
                            Layout.fillWidth: true
                            Layout.preferredHeight: 48
                            tone: "danger"
                            radius: 12
                            font.pixelSize: 16
                            font.bold: true
                            Layout.topMargin: 8
                            Layout.bottomMargin: 8
                            enabled: !root.busy
                            text: root.busy
                                  //: Live Share: the stop button while sharing stops
                                  ? qsTr("Stopping…")
                                  //: Live Share: the button that stops sharing
                                  : qsTr("Stop sharing")
                            onClicked: root.stopSharing()
                        }
                    }

                    Text {
                        objectName: "share-failed"
                        Layout.fillWidth: true
                        visible: root.startFailed
                        //: Live Share: shown under the button when sharing could not start
                        text: qsTr("Could not start sharing.")
                        color: Theme.error
                        font.pixelSize: 13
                        wrapMode: Text.WordWrap
                    }
                }
            }
        }
    }
}
