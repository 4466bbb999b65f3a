import QtQuick

// Turns Live Share on and off; the owner only shows and hides it.
Item {
    id: root

    signal closed()

    visible: false
}
