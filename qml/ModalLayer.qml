import QtQuick
import QtQuick.Controls
import Tavrix
import "ModalLayers.js" as ModalLayers

// What covers the screen while a sheet, card, drawer or the tour is open.
// The scrim takes every press, hover and wheel turn; the layer keeps the
// keyboard: Tab and Shift+Tab cycle through its own controls and never reach
// one beneath. The last layer opened keeps the keyboard while it is shown.
// The sheet's content goes inside the layer, above the scrim.
FocusScope {
    id: root

    property bool shown: false
    // False for a layer that draws its own dim areas and lets some presses
    // through (the tour); it then keeps only the keyboard.
    property bool blocksPointer: true
    property color scrimColor: Theme.scrim
    // A higher level keeps the keyboard over layers opened later (the tour
    // over the sheets it opens).
    property int level: 0

    // A press on the scrim outside the content.
    signal scrimClicked()

    // The item the keyboard goes to on open (default: the layer itself).
    property Item initialFocusItem: null

    // True while this is the last layer opened: it then keeps the keyboard.
    property bool onTop: false

    function contains(item) {
        for (let it = item; it; it = it.parent) {
            if (it === root)
                return true
        }
        return false
    }

    function inOverlay(item) {
        const overlay = root.Overlay.overlay
        for (let it = item; it; it = it.parent) {
            if (it === overlay)
                return true
        }
        return false
    }

    // Tab and Shift+Tab: the next control of the window's focus chain that
    // lies inside, so the chain wraps within the layer.
    function step(forward) {
        const focused = root.Window.activeFocusItem
        root.stepFrom(focused && focused.visible ? focused : root, forward)
    }

    // False when the layer holds no control the chain reaches.
    function stepFrom(start, forward) {
        let item = start
        for (let steps = 0; steps < 1000; ++steps) {
            item = item.nextItemInFocusChain(forward)
            if (!item || item === start)
                return false
            if (item !== root && root.contains(item)) {
                item.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
                return true
            }
        }
        return false
    }

    function takeKeyboard() {
        const target = root.initialFocusItem ? root.initialFocusItem : root
        target.forceActiveFocus()
        root.dropHiddenFocus()
        // The sheet around the layer may turn visible after it in this turn.
        Qt.callLater(root.dropHiddenFocus)
    }

    // A scope hands focus back to the child that last had it, which may be
    // hidden by now: then the layer itself keeps the keys. Only judged while
    // the layer shows, as a hidden ancestor hides everything inside.
    function dropHiddenFocus() {
        const focused = root.Window.activeFocusItem
        if (!root.shown || !root.visible || !focused || focused === root || !root.contains(focused))
            return
        if (!focused.visible) {
            focused.focus = false
            root.forceActiveFocus()
        }
    }

    // Shown before it takes the keys: focus follows only what is visible.
    function follow() {
        root.visible = root.shown
        root.enabled = root.shown
        if (root.shown) {
            ModalLayers.raise(root)
            root.takeKeyboard()
        } else {
            ModalLayers.lower(root)
        }
    }

    visible: false
    enabled: false

    onShownChanged: root.follow()
    Component.onCompleted: root.follow()
    // A layer being destroyed only leaves the stack: the one beneath takes
    // the keys once the destruction is over, not from inside it.
    Component.onDestruction: ModalLayers.remove(root)

    // Shortcuts come before the focused control, which would otherwise move
    // the focus along the whole window's chain.
    Shortcut {
        sequences: ["Tab"]
        enabled: root.onTop && !root.inOverlay(root.Window.activeFocusItem)
        onActivated: root.step(true)
    }
    Shortcut {
        sequences: ["Shift+Tab", "Backtab", "Shift+Backtab"]
        enabled: root.onTop && !root.inOverlay(root.Window.activeFocusItem)
        onActivated: root.step(false)
    }

    // Whatever else moves the focus beneath (a control that takes it on
    // its own) hands it straight back.
    property Item lastInside: null

    Connections {
        target: root.Window.window
        enabled: root.onTop

        function onActiveFocusItemChanged() {
            const item = root.Window.activeFocusItem
            if (!item)
                return
            if (root.contains(item)) {
                root.lastInside = item
                return
            }
            if (root.inOverlay(item))
                return // an open drop-down list keeps the keys until it closes
            const last = root.lastInside
            if (!last || !last.visible || !root.contains(last)) {
                root.takeKeyboard()
                return
            }
            // Tab reached the window's own chain (the shortcuts above act
            // only while the window is active): go on from where it left,
            // in its direction, back into the layer.
            const forward = last.nextItemInFocusChain(true) === item
            const backward = !forward && last.nextItemInFocusChain(false) === item
            if (!(forward || backward) || !root.stepFrom(item, forward))
                last.forceActiveFocus()
        }
    }

    // A drop-down list opened through the layer (the tour lets presses
    // through its spotlight) draws above it: it takes the keys while open.
    // Each list announces its opening (ThemedComboBox), so the layer
    // follows no object it does not own.
    function yieldToPopup(popup) {
        if (root.onTop && popup.visible)
            popup.forceActiveFocus()
    }

    Rectangle {
        objectName: "modalScrim"
        anchors.fill: parent
        color: root.scrimColor
        visible: root.blocksPointer

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            acceptedButtons: Qt.AllButtons
            onClicked: root.scrimClicked()
            onWheel: (wheel) => { wheel.accepted = true }
        }
    }
}
