import QtQuick
import QtQuick.Controls
import Tavrix

// One panel of a running session: the delayed camera picture with its delay
// badge, rotate and camera-switch buttons, zoom row, delay slider and
// drag-pan. The panel never changes its own settings: every action is a
// request signal, and the picture follows once the owner assigns the value.
Item {
    id: root

    // Position in the owner's per-panel state; not read here.
    property int index: 0
    property string layoutId: "1"
    property real delaySeconds: 0
    property real maxDelaySeconds: 60
    property int source: 0
    property string sourceLabel: "A"
    property bool showSourceButton: false
    // Turns the picture only; the panel and its controls stay upright.
    property int rotation: 0
    property real zoom: 1
    readonly property real minZoom: 1
    readonly property real maxZoom: 5
    readonly property real zoomStep: 0.25
    // Logical pixels of the panel.
    property real panX: 0
    property real panY: 0
    property bool locked: false
    property real topClearance: 8
    readonly property bool isLive: root.delaySeconds === 0
    // Shown instead of the picture and every control when the panel has
    // nothing to show (no camera); empty in a running session.
    property string notice: ""

    // The pan when the current drag became active.
    property real startX: 0
    property real startY: 0

    signal delayRequested(real value)
    signal sourceRequested(int slot)
    signal rotationRequested(int value)
    signal zoomRequested(real value)
    signal panRequested(real x, real y)

    // The pan limited so that zoom z never uncovers an edge of the panel.
    function clampPan(px, py, z) {
        const maxX = Math.max(0, root.width * (z - 1) / 2)
        const maxY = Math.max(0, root.height * (z - 1) / 2)
        return { x: Math.min(maxX, Math.max(-maxX, px)), y: Math.min(maxY, Math.max(-maxY, py)) }
    }

    clip: true

    VideoPanel {
        id: video
        objectName: "videoPanel"
        anchors.fill: parent
        visible: root.notice === ""
        delayMs: Math.round(root.delaySeconds * 1000)
        source: root.source
        rotationDegrees: root.rotation
        zoom: root.zoom
        panX: root.panX
        panY: root.panY
        mirror: false
    }

    // Takes the drags that start on the picture. A control keeps its press
    // however far the pointer moves: the handler never takes a grab from an
    // item, so a shaky press on "+" stays a press on "+".
    DragHandler {
        id: panDrag
        target: null
        enabled: root.zoom > 1 && !root.locked && root.notice === ""
        grabPermissions: PointerHandler.CanTakeOverFromHandlersOfDifferentType
                         | PointerHandler.ApprovesTakeOverByAnything
        onActiveChanged: {
            if (active) {
                root.startX = root.panX
                root.startY = root.panY
            }
        }
        onTranslationChanged: {
            if (!active)
                return
            const pan = root.clampPan(root.startX + translation.x, root.startY + translation.y, root.zoom)
            root.panRequested(pan.x, pan.y)
        }
    }

    Rectangle {
        id: badge
        objectName: "delayBadge"
        x: 8
        y: root.topClearance
        width: badgeRow.width + 16
        height: badgeRow.height + 8
        visible: root.notice === ""
        radius: 6
        color: Theme.surfaceTranslucent

        Row {
            id: badgeRow
            anchors.centerIn: parent
            spacing: 6

            Rectangle {
                objectName: "delayBadgeDot"
                anchors.verticalCenter: parent.verticalCenter
                width: 8
                height: 8
                radius: 4
                color: root.isLive ? Theme.live : Theme.accent
            }
            Text {
                objectName: "delayBadgeText"
                anchors.verticalCenter: parent.verticalCenter
                color: Theme.text
                font.pixelSize: 12
                font.bold: true
                textFormat: Text.PlainText
                text: root.isLive ? Lang.cardLive : "\u2212" + root.delaySeconds.toFixed(1) + "s"
            }
        }
    }

    Row {
        id: topRightRow
        objectName: "topRightRow"
        anchors.right: parent.right
        anchors.rightMargin: 8
        y: root.topClearance
        visible: root.notice === ""
        spacing: 6

        ThemedButton {
            id: flipButton
            objectName: "tour-flip"
            visible: root.showSourceButton && !root.locked
            tone: "overlay"
            implicitWidth: implicitContentWidth + leftPadding + rightPadding
            implicitHeight: 30
            padding: 8
            font.pixelSize: 12
            font.bold: true
            text: "\u21C4 " + root.sourceLabel
            onClicked: root.sourceRequested(root.source === 1 ? 0 : 1)
        }

        ThemedButton {
            id: rotateButton
            objectName: "tour-rotate"
            visible: !root.locked
            tone: "overlay"
            implicitWidth: implicitContentWidth + leftPadding + rightPadding
            implicitHeight: 30
            padding: 8
            font.pixelSize: 12
            font.bold: true
            text: "\u21BB " + root.rotation + "\u00B0"
            onClicked: root.rotationRequested((root.rotation + 90) % 360)
        }
    }

    Rectangle {
        id: bottomBar
        objectName: "bottomBar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 8 + delaySlider.height + (root.locked ? 0 : zoomRow.height + 6)
        visible: root.notice === ""
        color: Theme.surfaceTranslucent

        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 6
            spacing: 4

            Row {
                id: zoomRow
                objectName: "tour-zoom"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: !root.locked
                height: root.locked ? 0 : 24
                spacing: 10

                ThemedButton {
                    objectName: "zoomOutButton"
                    width: 24
                    height: 24
                    padding: 0
                    font.pixelSize: 14
                    font.bold: true
                    text: "\u2212"
                    onClicked: root.zoomRequested(Math.max(root.minZoom, root.zoom - root.zoomStep))
                }
                Text {
                    objectName: "zoomText"
                    anchors.verticalCenter: parent.verticalCenter
                    color: Theme.accent
                    font.pixelSize: 11
                    font.bold: true
                    textFormat: Text.PlainText
                    text: root.zoom.toFixed(2) + "\u00D7"
                }
                ThemedButton {
                    objectName: "zoomInButton"
                    width: 24
                    height: 24
                    padding: 0
                    font.pixelSize: 14
                    font.bold: true
                    text: "+"
                    onClicked: root.zoomRequested(Math.min(root.maxZoom, root.zoom + root.zoomStep))
                }
                ThemedButton {
                    objectName: "zoomResetButton"
                    width: 24
                    height: 24
                    padding: 0
                    font.pixelSize: 14
                    font.bold: true
                    text: "\u2302"
                    onClicked: {
                        root.zoomRequested(1)
                        root.panRequested(0, 0)
                    }
                }
            }

            ThemedSlider {
                id: delaySlider
                objectName: "tour-delay"
                width: parent.width
                height: 32
                from: 0
                to: root.maxDelaySeconds
                stepSize: 0.5
                snapMode: Slider.SnapAlways
                value: root.delaySeconds
                onMoved: root.delayRequested(value)
            }
        }
    }

    Text {
        objectName: "panelNotice"
        anchors.centerIn: parent
        width: parent.width - 32
        visible: root.notice !== ""
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        color: Theme.textDim
        font.pixelSize: Theme.fontLabel
        textFormat: Text.PlainText
        text: root.notice
    }
}
