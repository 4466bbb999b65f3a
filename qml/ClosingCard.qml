import QtQuick

// Shown while a recording stops, with its labels and length.
Item {
    id: root

    property var labels: null
    property int durationMs: 0

    visible: false
}
