import QtQuick
import QtQuick.Controls
import Tavrix

// The interface's one push button. Every button reads as a button (an
// outline on the surface), a checked option stands out from its neighbours
// (the accent fill against the surface is over 6:1), and a disabled button
// looks disabled. `tone` picks the role:
//   "plain"   outlined on the surface (options, secondary actions)
//   "primary" the accent fill (the one action a sheet or card is for)
//   "danger"  the error fill (record, stop, remove)
//   "overlay" translucent, over the picture (panel controls)
//   "quiet"   text only (links, "Skip"); the outline appears on focus
Button {
    id: control

    property string tone: "plain"
    // Labels wrap inside the button instead of widening it.
    property bool wrapText: false
    property int radius: Theme.radiusSm
    property color fillColor: control.tone === "primary" ? Theme.accent
                            : control.tone === "danger" ? Theme.error
                            : control.tone === "overlay" ? Theme.surfaceTranslucent
                            : control.tone === "quiet" ? "transparent"
                            : Theme.surface
    property color textColor: control.tone === "primary" || control.tone === "danger" ? Theme.white
                            : control.tone === "quiet" ? Theme.textDim
                            : Theme.text

    readonly property bool marked: control.checked || control.highlighted

    contentItem: Text {
        text: control.text
        font: control.font
        textFormat: Text.PlainText
        color: control.marked ? Theme.white : control.textColor
        wrapMode: control.wrapText ? Text.WordWrap : Text.NoWrap
        elide: control.wrapText ? Text.ElideNone : Text.ElideRight
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        implicitWidth: 64
        implicitHeight: 40
        radius: control.radius
        color: control.marked ? Theme.accent
                              : Qt.lighter(control.fillColor, control.down ? 1.5 : (control.hovered ? 1.2 : 1.0))
        border.width: control.visualFocus ? 2 : (control.tone === "quiet" || control.tone === "overlay" ? 0 : 1)
        border.color: control.visualFocus ? Theme.white
                    : control.marked ? Theme.accent
                    : control.tone === "plain" ? Theme.textFaint
                    : Qt.darker(control.fillColor, 1.3)
    }

    // One rule for every disabled button: faded as a whole, text included.
    opacity: control.enabled ? 1.0 : 0.4
}
