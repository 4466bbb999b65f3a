import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrix
import "FocusReveal.js" as FocusReveal

// The side menu of a running session. A pure view: it shows the values its
// host binds in and reports every choice by a signal; the host applies the
// change and the marks follow the bound values. Choosing the option that is
// already in force reports nothing for the capture settings, whose change
// restarts the session and empties the replay buffer.
Item {
    id: root

    property bool dualCameraSupported: false
    property bool dualCamMode: false
    property int panelCount: 1
    property int resolution: 720
    property int maxCaptureHeight: 720
    property int bufferSeconds: 60
    property bool captureLocked: false

    // The capture heights on offer, in rising order.
    readonly property var offeredHeights: [720, 1080, 2160].filter(height => height <= root.maxCaptureHeight)

    signal closed()
    signal changePanelCount(int count)
    signal changeResolution(int height)
    signal changeBufferSeconds(int seconds)
    signal changeDualCamMode(bool value)
    signal openLiveShare()
    signal takeTour()
    signal openLanguage()
    signal openUserGuide()
    signal openPrivacy()
    signal openAbout()

    // A full-width entry whose label wraps instead of widening the column.
    component MenuButton: ThemedButton {
        id: menuButton

        Layout.fillWidth: true
        Layout.minimumWidth: 0
        Layout.preferredWidth: 0
        wrapText: true
    }

    // A section caption; the first one has less room above it.
    component Caption: Text {
        property bool first: false

        Layout.fillWidth: true
        Layout.topMargin: first ? 10 : 14
        color: Theme.textFaint
        font.pixelSize: 11
        wrapMode: Text.WordWrap
    }

    component Description: Text {
        Layout.fillWidth: true
        color: Theme.textDim
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    // An option of a fixed choice: never checkable, so a click cannot move
    // its mark; the mark is bound to the host's value alone.
    component OptionButton: ThemedButton {
        checkable: false
    }

    visible: false

    // The control the keyboard moves to scrolls into view.
    Connections {
        target: root.Window.window
        enabled: root.visible

        function onActiveFocusItemChanged() {
            FocusReveal.reveal(view, root.Window.activeFocusItem, 8)
        }
    }

    // A press on the scrim closes the drawer; nothing beneath is reached by
    // a press, the wheel or the keyboard while it shows.
    ModalLayer {
        id: layer
        objectName: "menu-scrim"
        anchors.fill: parent
        shown: root.visible
        onScrimClicked: root.closed()

        Rectangle {
            id: panel

            objectName: "menu-panel"
            x: 0
            width: Math.min(340, root.width * 0.78)
            height: root.height
            color: Theme.surface
            border.width: 1
            border.color: Theme.border

            // Presses and wheel turns on the panel's background stay here.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.AllButtons
                onWheel: (wheel) => { wheel.accepted = true }
            }

            Flickable {
                id: view

                objectName: "menu-view"
                anchors.fill: parent
                anchors.margins: 16
                clip: true
                contentWidth: width
                contentHeight: column.implicitHeight
                flickableDirection: Flickable.VerticalFlick
                boundsBehavior: Flickable.StopAtBounds

                ColumnLayout {
                    id: column

                    width: view.width
                    spacing: 10

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 8

                        ColumnLayout {
                            Layout.fillWidth: true
                            Layout.minimumWidth: 0
                            spacing: 2

                            Text {
                                Layout.fillWidth: true
                                text: "TAVRIX"
                                color: Theme.accent
                                font.pixelSize: 17
                                font.bold: true
                                elide: Text.ElideRight
                            }

                            Text {
                                Layout.fillWidth: true
                                text: "v" + Qt.application.version
                                color: Theme.textFaint
                                font.pixelSize: 11
                            }
                        }

                        Rectangle {
                            objectName: "menu-close"
                            Layout.preferredWidth: 28
                            Layout.preferredHeight: 28
                            Layout.alignment: Qt.AlignTop
                            radius: 8
                            color: "transparent"
                            border.width: 1
                            border.color: Theme.border

                            Text {
                                anchors.centerIn: parent
                                text: "X"
                                color: Theme.text
                                font.pixelSize: 13
                                font.bold: true
                            }

                            MouseArea {
                                anchors.fill: parent
                                onClicked: root.closed()
                            }
                        }
                    }

                    Caption {
                        first: true
                        //: Menu section caption: how many panels the session shows
                        text: qsTr("DEFAULT PANEL LAYOUT")
                    }

                    Flow {
                        Layout.fillWidth: true
                        spacing: 4

                        Repeater {
                            model: [1, 2, 3, 4]

                            delegate: OptionButton {
                                required property int modelData

                                objectName: "menu-count-" + modelData
                                width: 44
                                height: 44
                                text: String(modelData)
                                checked: root.panelCount === modelData
                                onClicked: root.changePanelCount(modelData)
                            }
                        }
                    }

                    Caption {
                        //: Menu section caption: the camera's capture resolution
                        text: qsTr("CAPTURE QUALITY")
                    }

                    Description {
                        objectName: "menu-quality-text"
                        //: Menu: explains the capture quality buttons
                        text: qsTr("Higher resolution looks sharper but costs more memory and CPU per frame.")
                              //: Menu: added after a description while capture settings cannot change
                              + (root.captureLocked ? " " + qsTr("Locked while recording.") : "")
                    }

                    Flow {
                        Layout.fillWidth: true
                        spacing: 4

                        Repeater {
                            model: root.offeredHeights

                            delegate: OptionButton {
                                required property int modelData

                                objectName: "menu-quality-" + modelData
                                text: modelData + "p"
                                checked: root.resolution === modelData
                                enabled: !root.captureLocked
                                onClicked: {
                                    if (modelData !== root.resolution)
                                        root.changeResolution(modelData)
                                }
                            }
                        }
                    }

                    Caption {
                        //: Menu section caption: how many seconds of video are kept for replay
                        text: qsTr("REPLAY BUFFER")
                    }

                    Description {
                        //: Menu: explains the replay buffer buttons
                        text: qsTr("How far back the delay slider can reach. Longer needs more RAM for the ring buffer.")
                    }

                    Flow {
                        Layout.fillWidth: true
                        spacing: 4

                        Repeater {
                            model: [30, 60, 120]

                            delegate: OptionButton {
                                required property int modelData

                                objectName: "menu-buffer-" + modelData
                                //: Menu: a replay buffer length; %1 is a number of seconds
                                text: qsTr("%1s").arg(modelData)
                                checked: root.bufferSeconds === modelData
                                enabled: !root.captureLocked
                                onClicked: {
                                    if (modelData !== root.bufferSeconds)
                                        root.changeBufferSeconds(modelData)
                                }
                            }
                        }
                    }

                    Caption {
                        visible: root.dualCameraSupported
                        //: Menu section caption: using two cameras at once
                        text: qsTr("DUAL CAMERA")
                    }

                    Description {
                        objectName: "menu-dual-text"
                        visible: root.dualCameraSupported
                        //: Menu: explains the dual camera buttons
                        text: qsTr("Run two cameras together, then set each panel's source with the button on the panel itself. Capture drops to 720p while both are running.")
                              //: Menu: added after a description while capture settings cannot change
                              + (root.captureLocked ? " " + qsTr("Locked while recording.") : "")
                    }

                    Flow {
                        Layout.fillWidth: true
                        visible: root.dualCameraSupported
                        spacing: 8

                        OptionButton {
                            objectName: "menu-dual-one"
                            //: Menu: dual camera option that uses a single camera
                            text: qsTr("One camera")
                            checked: !root.dualCamMode
                            enabled: !root.captureLocked
                            onClicked: {
                                if (root.dualCamMode)
                                    root.changeDualCamMode(false)
                            }
                        }

                        OptionButton {
                            objectName: "menu-dual-both"
                            //: Menu: dual camera option that uses both cameras
                            text: qsTr("Both")
                            checked: root.dualCamMode
                            enabled: !root.captureLocked
                            onClicked: {
                                if (!root.dualCamMode)
                                    root.changeDualCamMode(true)
                            }
                        }
                    }

                    Caption {
                        objectName: "menu-liveshare-caption"
                        //: Menu section caption: streaming the replay on the local network
                        text: qsTr("LIVE SHARE")
                    }

                    MenuButton {
                        objectName: "menu-liveshare"
                        //: Menu entry that opens the Live Share sheet
                        text: "\uD83D\uDCE1  " + qsTr("Show this replay on a computer")
                        onClicked: root.openLiveShare()
                    }

                    Caption {
                        //: Menu section caption: tour, language and web pages
                        text: qsTr("MORE")
                    }

                    MenuButton {
                        objectName: "menu-tour"
                        // The start screen's button of the same name: the tour's
                        // first step tells the user to choose it by that name.
                        //: Button that starts the guided tour of the app
                        text: "\uD83C\uDF93  " + qsTranslate("StartScreen", "Take the tour")
                        onClicked: root.takeTour()
                    }

                    MenuButton {
                        objectName: "menu-language"
                        //: Menu entry that opens the language picker
                        text: "\uD83C\uDF10  " + qsTr("Language")
                        onClicked: root.openLanguage()
                    }

                    MenuButton {
                        objectName: "menu-guide"
                        //: Menu entry that opens the user guide web page
                        text: qsTr("User guide")
                        onClicked: root.openUserGuide()
                    }

                    MenuButton {
                        objectName: "menu-privacy"
                        //: Menu entry that opens the privacy web page
                        text: qsTr("Privacy")
                        onClicked: root.openPrivacy()
                    }

                    MenuButton {
                        objectName: "menu-about"
                        Layout.bottomMargin: 24
                        //: Menu entry that opens the product's web page
                        text: qsTr("About")
                        onClicked: root.openAbout()
                    }
                }
            }
        }
    }
}
