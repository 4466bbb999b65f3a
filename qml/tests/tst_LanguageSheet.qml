import QtQuick
import QtQuick.Controls
import QtTest
import Tavrix

// The language sheet over the real `Lang`: rows marked from Lang's state,
// choices applied through it, closing only by Done or the dark area.
Item {
    id: window

    width: 800
    height: 1100

    // A screen beneath that scrolls and has a button.
    Flickable {
        id: beneath
        anchors.fill: parent
        contentHeight: 4000

        Button { id: underButton; y: 8; text: "beneath" }
    }

    SignalSpy { id: underClicks; target: underButton; signalName: "clicked" }

    LanguageSheet {
        id: sheet

        width: window.width
        height: window.height
        open: true
    }

    SignalSpy { id: closedSpy; target: sheet; signalName: "closed" }
    SignalSpy { id: uiSpy; target: Lang; signalName: "uiLanguageChanged" }

    TestCase {
        name: "LanguageSheet"
        when: windowShown

        readonly property var codes: ["en", "fr", "de", "es", "it", "nl"]

        function init() {
            Lang.setUiLanguage("en")
            Lang.setCardLanguage("")
            sheet.height = window.height
            sheet.open = true
            beneath.contentY = 0
            underClicks.clear()
            closedSpy.clear()
            uiSpy.clear()
        }

        function row(name) {
            const item = findChild(sheet, name)
            verify(item, name)
            return item
        }

        // The codes marked in one list ("lang-ui-" or "lang-card-").
        function marked(prefix) {
            return codes.filter(code => row(prefix + code).picked)
        }

        function click(name) {
            sheet.Window.window.update()
            waitForRendering(sheet)
            mouseClick(row(name))
        }

        function test_appLanguageCarriesAFollowingCardLanguage() {
            compare(codes.map(code => row("lang-ui-" + code).label),
                    ["English", "Français", "Deutsch", "Español", "Italiano", "Nederlands"])
            compare(marked("lang-ui-"), ["en"])
            // Following the app marks no language of the second list, not even English.
            verify(row("lang-card-same").picked)
            compare(marked("lang-card-"), [])

            click("lang-ui-fr")
            compare(marked("lang-ui-"), ["fr"])
            compare(Lang.cardLive, "EN DIRECT")
            verify(row("lang-card-same").picked)
            compare(marked("lang-card-"), [])

            // The language in use again changes nothing.
            uiSpy.clear()
            click("lang-ui-fr")
            compare(uiSpy.count, 0)
            verify(sheet.open)
        }

        function test_ownCardLanguageStaysAcrossAppChanges() {
            click("lang-ui-de")
            // The app's own language, chosen for the recordings.
            click("lang-card-de")
            verify(!row("lang-card-same").picked)
            compare(marked("lang-card-"), ["de"])

            click("lang-ui-it")
            compare(Lang.cardLanguage, "de")
            compare(marked("lang-card-"), ["de"])

            // Following again: the app's words at once.
            click("lang-card-same")
            verify(row("lang-card-same").picked)
            compare(marked("lang-card-"), [])
            compare(Lang.cardLive, "IN DIRETTA")
        }

        function test_onlyDoneOrTheDarkAreaClose() {
            const card = findChild(sheet, "lang-card")
            // The card's background and its texts keep the sheet open.
            mouseClick(card, card.width / 2, 4)
            mouseClick(card, 4, card.height / 2)
            keyClick(Qt.Key_Escape)
            verify(sheet.open)

            mouseClick(sheet, 8, 8)
            verify(!sheet.visible)
            compare(closedSpy.count, 1)

            sheet.open = true
            click("lang-done")
            verify(!sheet.open)
            compare(closedSpy.count, 2)
        }

        // Tab walks the rows and Done and never a control beneath; Space
        // chooses the row it reached; the wheel moves nothing beneath.
        function test_keysAndWheelStayOnTheSheet() {
            sheet.open = false
            underButton.forceActiveFocus()
            sheet.open = true
            verify(!underButton.activeFocus)
            const order = ["lang-ui-en", "lang-ui-fr", "lang-ui-de", "lang-ui-es", "lang-ui-it", "lang-ui-nl",
                           "lang-card-same", "lang-card-en", "lang-card-fr", "lang-card-de", "lang-card-es",
                           "lang-card-it", "lang-card-nl", "lang-done"]
            const seen = []
            for (let i = 0; i < order.length + 2; ++i) {
                keyClick(Qt.Key_Tab)
                seen.push(window.Window.activeFocusItem.objectName)
            }
            compare(seen, order.concat(order.slice(0, 2)))
            keyClick(Qt.Key_Backtab)
            keyClick(Qt.Key_Backtab)
            keyClick(Qt.Key_Backtab)
            compare(window.Window.activeFocusItem.objectName, "lang-card-nl")
            keyClick(Qt.Key_Space)
            compare(marked("lang-card-"), ["nl"])
            compare(underClicks.count, 0)
            verify(sheet.open)

            const card = findChild(sheet, "lang-card")
            mouseWheel(sheet, 8, 8, 0, -360)
            mouseWheel(card, card.width / 2, 8, 0, -360)
            mouseWheel(card, card.width / 2, card.height - 8, 0, -360)
            wait(50)
            compare(beneath.contentY, 0)
        }

        // At 800 x 480 the list scrolls under a Done that stays in place, and
        // a row reached by Tab scrolls into view.
        function test_shortWindowScrollsToEveryRow() {
            sheet.height = 480
            waitForRendering(sheet)
            const card = findChild(sheet, "lang-card")
            const view = findChild(sheet, "lang-view")
            const done = findChild(sheet, "lang-done")
            verify(card.height <= 480 - 32)
            verify(view.contentHeight > view.height)
            const donePos = done.mapToItem(sheet, 0, 0)
            verify(donePos.y + done.height <= 480)
            row("lang-card-same").forceActiveFocus()
            for (let i = 0; i < 6; ++i)
                keyClick(Qt.Key_Tab)
            const last = row("lang-card-nl")
            verify(last.activeFocus)
            const top = last.mapToItem(view, 0, 0).y
            verify(top >= 0 && top + last.height <= view.height, "row at " + top)
            compare(done.mapToItem(sheet, 0, 0).y, donePos.y)
            // Back to the top by Tab wrapping round.
            keyClick(Qt.Key_Tab)
            keyClick(Qt.Key_Tab)
            const first = row("lang-ui-en")
            verify(first.activeFocus)
            const firstTop = first.mapToItem(view, 0, 0).y
            verify(firstTop >= 0 && firstTop + first.height <= view.height, "row at " + firstTop)
            view.contentY = 0
            // The wheel over the list scrolls the list, and only the list.
            mouseWheel(view, view.width / 2, view.height / 2, 0, -240)
            tryVerify(() => view.contentY > 0)
            compare(beneath.contentY, 0)
        }
    }
}
