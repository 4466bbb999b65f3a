import QtQuick
import Tavrix
import "Layouts.js" as Layouts

// One start-screen tile: a miniature of the layout's panel boxes above its
// name. The whole tile is one click target.
Rectangle {
    id: root

    required property string layoutId

    signal clicked()

    width: 140
    height: content.height + 28
    radius: 12
    color: "transparent"
    border.width: 1
    border.color: Theme.border

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
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
