import QtQuick
import QtQuick.Controls
import Tavrix
import "FocusReveal.js" as FocusReveal
import "Layouts.js" as Layouts

// The launch screen: layout tiles, camera and capture height, the invitation
// and invite code, the alias row, the recordings folder, the tour and the
// language. A tile asks the window for a session; nothing here starts the
// engine. Created afresh on every visit.
Item {
    id: root

    // The first camera until the user picks one in the list, then that one.
    readonly property string selectedCameraId: chosenCameraId !== ""
                                               ? chosenCameraId
                                               : (Engine.cameras.length > 0 ? Engine.cameras[0].id : "")
    // The id picked in the camera list; empty while the default applies.
    property string chosenCameraId: ""
    property int selectedResolution: 720
    property int aliasRefreshTick: 0

    signal sessionRequested(string layoutId, string cameraId, int resolutionHeight)
    signal tourRequested()
    signal languageRequested()
    signal firstRunReady()

    function startTourSession() {
        root.sessionRequested("2-side", root.selectedCameraId, root.selectedResolution)
    }

    // The same link in every interface language: the site base, no language part.
    function invitationLink() {
        return Lang.siteBase + "/linux/r/?ref=" + Referral.userCode()
    }

    function copyInvitation() {
        //: Invitation text copied to the clipboard and pasted into a message. %1 is the invite link
        const message = qsTr("Watch yourself train, seconds after you do it. Tavrix plays your camera back on a delay so you can check your own technique between reps — no one has to film you.\n\n%1")
            .arg(root.invitationLink())
        clipboard.copyText(message)
        //: Toast after the invitation was copied
        toast.show(qsTr("Message copied — paste it anywhere"))
    }

    function copyCode() {
        clipboard.copyText(Referral.userCode())
        //: Toast after the invite code was copied
        toast.show(qsTr("Copied"))
    }

    // Scrolls the control that has the keyboard (reached with Tab) into
    // view, 16 px clear of the edges.
    function showFocused() {
        FocusReveal.reveal(flick, root.Window.activeFocusItem, 16)
    }

    ClipboardBridge {
        id: clipboard
    }

    Connections {
        target: root.Window.window
        function onActiveFocusItemChanged() {
            root.showFocused()
        }
    }

    // Settled: 700 ms after creation, or after the invite-code sheet closes.
    Timer {
        id: firstRunTimer
        objectName: "firstRunTimer"
        interval: 700
        running: true
        onTriggered: {
            if (!inviteSheet.open)
                root.firstRunReady()
        }
    }

    Flickable {
        id: flick
        objectName: "startFlickable"
        anchors.fill: parent
        contentWidth: width
        contentHeight: column.height + 48
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        // On a short screen (800 x 480) the lower rows are below the fold:
        // the bar shows that the screen scrolls and can be dragged.
        ScrollBar.vertical: ScrollBar {
            objectName: "startScrollBar"
            policy: flick.contentHeight > flick.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            contentItem: Rectangle {
                implicitWidth: 6
                radius: 3
                color: Theme.textDim
                opacity: parent.pressed ? 1.0 : 0.7
            }
        }

        Column {
            id: column
            objectName: "startColumn"
            width: Math.min(root.width - 48, 640)
            x: (flick.width - width) / 2
            y: 24
            spacing: 18

            Image {
                objectName: "startIcon"
                anchors.horizontalCenter: parent.horizontalCenter
                width: 56
                height: 56
                sourceSize.width: 128
                sourceSize.height: 128
                source: "qrc:/qt/qml/Tavrix/icons/tavrix-128.png"
                fillMode: Image.PreserveAspectFit
                smooth: true
            }

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "TAVRIX"
                color: Theme.accent
                font.pixelSize: 16
                font.bold: true
                font.letterSpacing: 2
            }

            Text {
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                color: Theme.text
                font.pixelSize: 15
                //: Heading above the layout tiles. The tour step has the same title
                text: qsTr("Choose your view")
            }

            Flow {
                objectName: "tour-layouts"
                width: parent.width
                spacing: 16

                Repeater {
                    model: Layouts.LAYOUT_SPECS

                    delegate: LayoutTile {
                        required property var modelData
                        layoutId: modelData.id
                        onClicked: root.sessionRequested(layoutId, root.selectedCameraId, root.selectedResolution)
                    }
                }
            }

            Rectangle {
                objectName: "tour-source"
                width: parent.width
                height: sourceColumn.height + 24
                radius: 10
                color: "transparent"
                border.width: 1
                border.color: Theme.border

                Column {
                    id: sourceColumn
                    x: 14
                    y: 12
                    width: parent.width - 28
                    spacing: 8

                    Text {
                        color: Theme.textFaint
                        font.pixelSize: 10
                        font.bold: true
                        //: Caption above the camera list on the start screen
                        text: qsTr("CAMERA")
                    }

                    ThemedComboBox {
                        id: cameraBox
                        objectName: "cameraBox"
                        width: parent.width
                        model: Engine.cameras
                        textRole: "name"
                        valueRole: "id"
                        enabled: Engine.cameras.length > 0
                        // A refilled list shows the camera the screen would
                        // open: the user's pick while the list still has it,
                        // else its first entry, which the default follows.
                        onModelChanged: {
                            const cameras = Engine.cameras
                            let index = -1
                            for (let i = 0; i < cameras.length; ++i) {
                                if (cameras[i].id === root.chosenCameraId)
                                    index = i
                            }
                            if (index < 0)
                                root.chosenCameraId = ""
                            currentIndex = index >= 0 ? index : (cameras.length > 0 ? 0 : -1)
                        }
                        onActivated: (index) => root.chosenCameraId = Engine.cameras[index].id
                    }

                    Text {
                        objectName: "cameraStatus"
                        visible: Engine.cameras.length === 0
                        color: Theme.textDim
                        font.pixelSize: 12
                        text: Engine.ready
                              //: Shown in place of the camera list when the probe found none
                              ? qsTr("No camera detected.")
                              //: Shown in place of the camera list while cameras are being probed
                              : qsTr("Detecting cameras…")
                    }

                    Text {
                        topPadding: 6
                        color: Theme.textFaint
                        font.pixelSize: 10
                        font.bold: true
                        //: Caption above the capture height buttons on the start screen
                        text: qsTr("RESOLUTION")
                    }

                    Row {
                        objectName: "resolutionRow"
                        spacing: 8

                        Repeater {
                            model: [720, 1080, 2160].filter(height => height <= Engine.maxCaptureHeight)

                            delegate: ThemedButton {
                                required property int modelData
                                objectName: "resolution-" + modelData
                                text: modelData + "p"
                                checkable: false
                                checked: modelData === root.selectedResolution
                                onClicked: root.selectedResolution = modelData
                            }
                        }
                    }
                }
            }

            ThemedButton {
                id: shareButton
                objectName: "tour-share"
                width: parent.width
                height: 52
                //: Button on the start screen. The tour step about it has the same title
                text: "\u{1F4E3}  " + qsTr("Share with a mate")
                tone: "primary"
                radius: 12
                font.pixelSize: 16
                font.bold: true
                onClicked: root.copyInvitation()
            }

            Column {
                objectName: "tour-code"
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 4

                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    color: Theme.textFaint
                    font.pixelSize: 10
                    font.bold: true
                    //: Caption above the user's own invite code
                    text: qsTr("YOUR INVITE CODE")
                }

                Row {
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 10

                    Text {
                        objectName: "inviteCode"
                        anchors.verticalCenter: parent.verticalCenter
                        text: Referral.userCode()
                        color: Theme.text
                        font.pixelSize: 17
                        font.bold: true
                        font.letterSpacing: 2
                    }

                    ThemedButton {
                        objectName: "copyCodeButton"
                        //: Button that copies the invite code to the clipboard
                        text: qsTr("Copy")
                        onClicked: root.copyCode()
                    }
                }

                ThemedButton {
                    id: aliasButton
                    objectName: "aliasButton"
                    anchors.horizontalCenter: parent.horizontalCenter
                    // A long alias or language wraps within the column.
                    width: Math.min(implicitWidth, column.width)
                    wrapText: true
                    readonly property string alias: {
                        root.aliasRefreshTick
                        return Referral.aliasState().alias
                    }
                    text: alias.length === 0
                          //: Start-screen button that opens the alias sheet when no alias is set
                          ? "\uFF0B  " + qsTr("Add leaderboard alias")
                          : "\u{1F3C6}  " + alias
                    onClicked: aliasSheet.open()
                }
            }

            ThemedButton {
                objectName: "tour-recordings"
                width: parent.width
                //: Start-screen button that opens the recordings folder
                text: "\u{1F3AC}  " + qsTr("My recordings")
                onClicked: Engine.openRecordingsFolder()
            }

            ThemedButton {
                objectName: "startTourButton"
                width: parent.width
                //: Start-screen button that starts the walkthrough
                text: "\u{1F393}  " + qsTr("Take the tour")
                onClicked: root.tourRequested()
            }

            ThemedButton {
                objectName: "start-language"
                width: parent.width
                //: Start-screen button that opens the language picker
                text: "\u{1F310}  " + qsTr("Language")
                onClicked: root.languageRequested()
            }

            Text {
                objectName: "buildLabel"
                topPadding: 18
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                text: Engine.buildLabel
                color: Theme.textFaint
                font.pixelSize: 10
            }
        }
    }

    Toast {
        id: toast
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
    }

    AliasSheet {
        id: aliasSheet
        anchors.fill: parent
        onSaved: root.aliasRefreshTick += 1
    }

    InviteCodeSheet {
        id: inviteSheet
        objectName: "inviteCodeSheet"
        anchors.fill: parent
        onOpenChanged: {
            if (!open)
                firstRunTimer.restart()
        }
    }
}
