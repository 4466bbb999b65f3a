import QtQuick
import QtQuick.Controls
import Tavrix
import "ModalLayers.js" as ModalLayers

// The interface's drop-down list: outlined like every button, with an arrow
// that reads on the dark surface. An open list takes the keys over the
// layer on top (the tour lets presses through to a list beneath it).
ComboBox {
    id: control

    opacity: control.enabled ? 1.0 : 0.4

    Connections {
        target: control.popup

        function onVisibleChanged() {
            if (control.popup.visible)
                ModalLayers.popupShown(control.popup)
        }
    }

    indicator: Text {
        x: control.mirrored ? control.padding : control.width - width - control.padding - 4
        y: control.topPadding + (control.availableHeight - height) / 2
        text: "\u25BE"
        color: Theme.text
        font.pixelSize: Theme.fontLabel
    }

    background: Rectangle {
        implicitWidth: 140
        implicitHeight: 40
        radius: Theme.radiusSm
        color: control.down ? Qt.lighter(Theme.surface, 1.5) : Theme.surface
        border.width: control.visualFocus ? 2 : 1
        border.color: control.visualFocus ? Theme.white : Theme.textFaint
    }
}
