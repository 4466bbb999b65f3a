pragma Singleton
import QtQuick

// The one palette of the interface (dark throughout) and the shared sizes.
QtObject {
    readonly property color background: "#000000"
    readonly property color surface: "#111111"
    readonly property color border: "#222222"
    readonly property color text: "#e0e0e0"
    readonly property color textDim: "#888888"
    readonly property color textFaint: "#555555"
    readonly property color accent: "#ff6b35"
    readonly property color live: "#4caf50"
    readonly property color warn: "#ff9800"
    readonly property color error: "#e53935"
    readonly property color gold: "#f5c030"
    readonly property color white: "#ffffff"
    readonly property color surfaceTranslucent: Qt.rgba(0.067, 0.067, 0.067, 0.75)
    readonly property color scrim: Qt.rgba(0, 0, 0, 0.7)

    readonly property int spacingXs: 4
    readonly property int spacingSm: 8
    readonly property int spacingMd: 14
    readonly property int spacingLg: 22

    readonly property int fontSmall: 11
    readonly property int fontBody: 14
    readonly property int fontLabel: 15
    readonly property int fontHeading: 19
    readonly property int fontDisplay: 24

    readonly property int radiusSm: 6
    readonly property int radiusMd: 10
    readonly property int radiusLg: 14
}
