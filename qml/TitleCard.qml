import QtQuick

// Shown for the first seconds of a recording with its labels.
Item {
    id: root

    property var labels: null

    visible: false
}
