import QtQuick
import QtTest
import Tavrix

// The language sheet over the real `Lang`: rows marked from Lang's state,
// choices applied through it, closing only by Done or the dark area.
Item {
    id: window

    width: 800
    height: 1100

    LanguageSheet {
        id: sheet

        anchors.fill: parent
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
            sheet.open = true
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
    }
}
