import QtQuick
import QtQuick.Controls
import Tavrix

// The interface's slider: the part up to the handle in the accent, the rest
// a dim groove, readable on the dark surfaces.
Slider {
    id: control

    opacity: control.enabled ? 1.0 : 0.4

    handle: Rectangle {
        x: control.leftPadding + (control.horizontal ? control.visualPosition * (control.availableWidth - width)
                                                     : (control.availableWidth - width) / 2)
        y: control.topPadding + (control.horizontal ? (control.availableHeight - height) / 2
                                                    : control.visualPosition * (control.availableHeight - height))
        implicitWidth: 22
        implicitHeight: 22
        radius: width / 2
        color: control.pressed ? Theme.accent : Theme.white
        border.width: control.visualFocus ? 3 : 1
        border.color: control.visualFocus ? Theme.accent : Theme.textFaint
    }

    background: Rectangle {
        x: control.leftPadding + (control.horizontal ? 0 : (control.availableWidth - width) / 2)
        y: control.topPadding + (control.horizontal ? (control.availableHeight - height) / 2 : 0)
        implicitWidth: control.horizontal ? 200 : 6
        implicitHeight: control.horizontal ? 6 : 200
        width: control.horizontal ? control.availableWidth : implicitWidth
        height: control.horizontal ? implicitHeight : control.availableHeight
        radius: 3
        color: Theme.textFaint
        scale: control.horizontal && control.mirrored ? -1 : 1

        Rectangle {
            y: control.horizontal ? 0 : control.visualPosition * parent.height
            width: control.horizontal ? control.position * parent.width : parent.width
            height: control.horizontal ? parent.height : control.position * parent.height
            radius: 3
            color: Theme.accent
        }
    }
}
