import QtQuick
import QtQuick.Controls
import QtTest
import Tavrix

// A layer over a live screen: the keyboard, presses and the wheel stop at it,
// Tab cycles inside it both ways, and the last layer opened keeps the keys.
Item {
    id: window

    width: 400
    height: 300

    Flickable {
        id: beneath
        anchors.fill: parent
        contentHeight: 2000

        Column {
            Button { id: under1; objectName: "under1"; text: "under 1" }
            Button { id: under2; objectName: "under2"; text: "under 2" }
        }
    }

    SignalSpy { id: underClicks; target: under1; signalName: "clicked" }

    // A screen of its own with two layers, the upper one holding a list.
    Component {
        id: screenWithLayers

        Item {
            property alias list: list
            property alias lower: lower
            property alias upper: upper
            anchors.fill: parent

            ModalLayer {
                id: lower
                anchors.fill: parent
            }
            ModalLayer {
                id: upper
                anchors.fill: parent

                ThemedComboBox {
                    id: list
                    anchors.centerIn: parent
                    model: ["one", "two", "three"]
                }
            }
        }
    }

    ModalLayer {
        id: first
        anchors.fill: parent

        Column {
            anchors.centerIn: parent
            Button { id: a1; text: "a1" }
            Button { id: a2; text: "a2" }
            Button { id: a3; text: "a3"; enabled: false }
        }
    }

    ModalLayer {
        id: second
        anchors.fill: parent

        Button { id: b1; anchors.centerIn: parent; text: "b1" }
    }

    TestCase {
        name: "ModalLayer"
        when: windowShown

        function init() {
            second.shown = false
            first.shown = false
            beneath.contentY = 0
            underClicks.clear()
            under1.forceActiveFocus()
        }

        function test_tabCyclesInsideBothWays() {
            first.shown = true
            verify(first.activeFocus)
            const seen = []
            for (let i = 0; i < 6; ++i) {
                keyClick(Qt.Key_Tab)
                seen.push(window.Window.activeFocusItem)
            }
            // a3 is disabled: only a1 and a2, in turn, never a control beneath.
            compare(seen.filter(item => item !== a1 && item !== a2).length, 0)
            verify(seen[0] !== seen[1] && seen[0] === seen[2])
            keyClick(Qt.Key_Backtab)
            const back = window.Window.activeFocusItem
            verify(back === a1 || back === a2)
            verify(back !== seen[5])
            keyClick(Qt.Key_Space)
            compare(underClicks.count, 0)
        }

        // Where the window is not active its shortcuts do not act, and Tab
        // moves the focus along the window's chain: out of the layer it
        // comes back in, in the same direction.
        function test_tabOutOfAnInactiveWindowComesBackIn() {
            first.shown = true
            a2.forceActiveFocus()
            const after = a2.nextItemInFocusChain(true)
            verify(!first.contains(after))
            after.forceActiveFocus(Qt.TabFocusReason)
            compare(window.Window.activeFocusItem, a1)
            const before = a1.nextItemInFocusChain(false)
            verify(!first.contains(before))
            before.forceActiveFocus(Qt.BacktabFocusReason)
            compare(window.Window.activeFocusItem, a2)
            // Focus taken beneath by anything else stays where it was.
            under2.forceActiveFocus()
            compare(window.Window.activeFocusItem, a2)
        }

        // Reopened after the focused control was hidden: the keys stay with
        // the layer and Tab goes on to a control that is shown.
        function test_reopenedAfterItsFocusedControlHid() {
            first.shown = true
            a2.forceActiveFocus()
            first.shown = false
            a2.visible = false
            first.shown = true
            verify(first.activeFocus && !a2.activeFocus)
            keyClick(Qt.Key_Tab)
            compare(window.Window.activeFocusItem, a1)
            a2.visible = true
        }

        function test_pressesAndWheelStopAtTheScrim() {
            first.shown = true
            mouseClick(window, 20, 20)
            mouseWheel(window, 20, 20, 0, -240)
            compare(underClicks.count, 0)
            compare(beneath.contentY, 0)
            // Closed, the same turn scrolls what lies beneath.
            first.shown = false
            mouseWheel(window, 20, 20, 0, -240)
            tryVerify(() => beneath.contentY > 0)
        }

        function test_lastOpenedKeepsTheKeyboard() {
            first.shown = true
            second.shown = true
            verify(second.activeFocus)
            keyClick(Qt.Key_Tab)
            keyClick(Qt.Key_Tab)
            compare(window.Window.activeFocusItem, b1)
            // A layer of a higher level keeps the keys over one opened later.
            second.shown = false
            first.level = 1
            second.shown = true
            verify(first.onTop && !second.onTop)
            first.level = 0
            second.shown = false
            first.shown = false
            first.shown = true
            // Closing the top one hands the keys back to the one beneath.
            second.shown = false
            a2.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            verify(window.Window.activeFocusItem === a1)
        }
    
        // An open list takes the keys over the layer on top; a screen torn
        // down with its layers and the list still open hands the keys back
        // to the layer beneath, which goes on working.
        function test_screenDestroyedWithItsLayersAndListOpen() {
            first.shown = true
            for (let round = 0; round < 3; ++round) {
                const screen = createTemporaryObject(screenWithLayers, window)
                screen.lower.shown = true
                screen.upper.shown = true
                verify(screen.upper.onTop && !first.onTop)
                screen.list.popup.open()
                tryCompare(screen.list.popup, "opened", true)
                verify(screen.list.popup.activeFocus)
                screen.destroy()
                tryVerify(() => first.onTop)
                a2.forceActiveFocus()
                keyClick(Qt.Key_Tab)
                compare(window.Window.activeFocusItem, a1)
            }
        }
    }
}
