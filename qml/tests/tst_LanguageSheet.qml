import QtQuick
import QtTest
import Tavrix

// The language sheet over the real `Lang`: rows picked from Lang's state,
// choices applied through it, and closing only by Done or the dark area.
Item {
    id: window

    width: 800
    height: 900

    LanguageSheet {
        id: sheet

        anchors.fill: parent
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
            window.width = 800
            window.height = 900
            sheet.open = true
            closedSpy.clear()
            uiSpy.clear()
            settle()
        }

        function settle() {
            sheet.Window.window.update()
            waitForRendering(sheet)
        }

        function row(name) {
            const item = findChild(sheet, name)
            verify(item, name)
            return item
        }

        // The codes whose rows of one list are marked.
        function picked(prefix) {
            return codes.filter(code => row(prefix + code).picked)
        }

        function clickRow(name) {
            const item = row(name)
            const view = findChild(sheet, "lang-view")
            const top = item.mapToItem(view.contentItem, 0, 0).y
            view.contentY = Math.max(0, Math.min(top - 8, view.contentHeight - view.height))
            mouseClick(item)
        }

        function test_rowsShowTheLanguagesInTheirOwnNames() {
            const names = ["English", "Français", "Deutsch", "Español", "Italiano", "Nederlands"]
            let lastY = -1
            for (let i = 0; i < codes.length; ++i) {
                for (const prefix of ["lang-ui-", "lang-card-"]) {
                    compare(row(prefix + codes[i]).label, names[i])
                }
                const y = row("lang-ui-" + codes[i]).y
                verify(y > lastY)
                lastY = y
            }
            compare(picked("lang-ui-"), ["en"])
            // Following the app marks the follow row and no language, not even English.
            verify(row("lang-card-same").picked)
            compare(picked("lang-card-"), [])
        }

        function test_appLanguageCarriesAFollowingCardLanguage() {
            clickRow("lang-ui-fr")
            compare(Lang.uiLanguage, "fr")
            compare(picked("lang-ui-"), ["fr"])
            compare(Lang.cardLanguage, "fr")
            compare(Lang.cardLive, "EN DIRECT")
            verify(row("lang-card-same").picked)
            compare(picked("lang-card-"), [])
            verify(sheet.open)

            // The language in use again: nothing happens.
            uiSpy.clear()
            clickRow("lang-ui-fr")
            compare(uiSpy.count, 0)
            compare(picked("lang-ui-"), ["fr"])
            verify(sheet.open)
            compare(closedSpy.count, 0)
        }

        function test_ownCardLanguageStaysAcrossAppChanges() {
            clickRow("lang-ui-de")
            // The same language as the app, but chosen for its own sake.
            clickRow("lang-card-de")
            verify(!Lang.cardFollowsUi)
            verify(!row("lang-card-same").picked)
            compare(picked("lang-card-"), ["de"])

            clickRow("lang-ui-it")
            compare(picked("lang-ui-"), ["it"])
            compare(Lang.cardLanguage, "de")
            compare(picked("lang-card-"), ["de"])
            verify(!row("lang-card-same").picked)

            // Back to following: the card words are the app's at once.
            clickRow("lang-card-same")
            verify(Lang.cardFollowsUi)
            compare(Lang.cardLanguage, "it")
            verify(row("lang-card-same").picked)
            compare(picked("lang-card-"), [])
            compare(Lang.cardLive, "IN DIRETTA")
        }

        function test_onlyDoneOrTheDarkAreaClose() {
            const card = findChild(sheet, "lang-card")
            // The card's background and its texts keep the sheet open.
            mouseClick(card, card.width / 2, 4)
            mouseClick(card, 4, card.height / 2)
            verify(sheet.open)
            compare(closedSpy.count, 0)

            mouseClick(sheet, 8, 8)
            verify(!sheet.open)
            verify(!sheet.visible)
            compare(closedSpy.count, 1)

            sheet.open = true
            settle()
            // Escape is not the sheet's.
            keyClick(Qt.Key_Escape)
            verify(sheet.open)
            mouseClick(row("lang-done"))
            verify(!sheet.open)
            compare(closedSpy.count, 2)
        }

        function test_shortWindowScrollsBetweenFixedDone() {
            window.height = 400
            settle()
            const card = findChild(sheet, "lang-card")
            compare(card.height, 400 - 32)
            const view = findChild(sheet, "lang-view")
            verify(view.contentHeight > view.height)
            const done = row("lang-done")
            const doneBottom = done.mapToItem(card, 0, done.height).y
            compare(doneBottom, card.height - 20)

            // The last row is reachable and works; Done has not moved.
            clickRow("lang-card-nl")
            compare(Lang.cardLanguage, "nl")
            compare(done.mapToItem(card, 0, done.height).y, doneBottom)
        }
    }
}
