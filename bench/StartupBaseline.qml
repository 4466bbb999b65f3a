import QtQuick
import QtQuick.Controls

// The plain way: a bare window of the program's size and style.
ApplicationWindow {
    width: 1280
    height: 800
    visible: true
    title: "Startup baseline"
}
