import QtQuick

// Shown once a recording has been saved; reports the user's actions on it.
Item {
    id: root

    property string path: ""
    property bool interrupted: false
    property string shareUrl: ""

    signal openFolderRequested()
    signal copyPathRequested()
    signal copyShareUrlRequested()
    signal enableSharingRequested()
    signal closed()

    visible: false
}
