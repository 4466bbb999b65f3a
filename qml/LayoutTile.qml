import QtQuick
import Tavrix
import "Layouts.js" as Layouts

// One start-screen tile: a miniature of the layout's panel boxes above its
// name. The whole tile is one click target; with the keyboard, Tab reaches
// it and Space or Return opens it.
Rectangle {
    id: root

    required property string layoutId

    signal clicked()

    width: 140
    height: content.height + 28
    radius: 12
    color: "transparent"
    // Outlined like every button, lit while hovered, white with the keyboard.
    border.width: root.activeFocus ? 2 : 1
    border.color: root.activeFocus ? Theme.white : (tileArea.containsMouse ? Theme.accent : Theme.border)
    activeFocusOnTab: true

    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            event.accepted = true
            root.clicked()
        }
    }

    Column {
        id: content
        anchors.horizontalCenter: parent.horizontalCenter
        y: 14
        spacing: 10

        Rectangle {
            objectName: "miniature"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 90
            height: 60
            radius: 6
            color: "black"
            clip: true

            Repeater {
                model: Layouts.panelCountFor(root.layoutId)

                delegate: Rectangle {
                    required property int index
                    readonly property var box: Layouts.panelBox(root.layoutId, index)
                    x: box.x * 90 + 1
                    y: box.y * 60 + 1
                    width: box.w * 90 - 2
                    height: box.h * 60 - 2
                    radius: 2
                    color: Theme.accent
                    opacity: 0.7
                }
            }
        }

        Text {
            objectName: "tileLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            text: {
                Lang.uiLanguage
                return Layouts.layoutLabel(root.layoutId)
            }
            color: Theme.text
            font.pixelSize: 13
            font.bold: true
        }
    }

    MouseArea {
        id: tileArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
