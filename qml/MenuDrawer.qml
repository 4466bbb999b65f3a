import QtQuick

// The session's side menu: shows the bound values, reports every choice.
Item {
    id: root

    property bool dualCameraSupported: false
    property bool dualCamMode: false
    property int panelCount: 1
    property int resolution: 720
    property int maxCaptureHeight: 720
    property int bufferSeconds: 60
    property bool captureLocked: false

    signal closed()
    signal changePanelCount(int count)
    signal changeResolution(int height)
    signal changeBufferSeconds(int seconds)
    signal changeDualCamMode(bool value)
    signal openLiveShare()
    signal takeTour()
    signal openLanguage()
    signal openUserGuide()
    signal openPrivacy()
    signal openAbout()

    visible: false
}
