import QtQuick
import QtQuick.Controls
import QtTest
import Tavrix

// The alias sheet over the real store, hosted as the start screen hosts it:
// the host re-reads the store on `saved`.
Item {
    id: host

    width: 900
    height: 1400

    // The start screen beneath: it scrolls and has a button.
    Flickable {
        id: beneath
        anchors.fill: parent
        contentHeight: 5000

        Button { id: underButton; y: 8; text: "Take the tour" }
    }

    SignalSpy { id: underClicks; target: underButton; signalName: "clicked" }

    Component {
        id: sheetComponent
        AliasSheet {
            id: sheet

            // What the host saw at each `saved`: the sheet still shown, and
            // the alias the store reports by then.
            property var savedLog: []

            width: host.width
            height: host.height
            onSaved: sheet.savedLog = sheet.savedLog.concat(
                         [{ shown: sheet.shown, alias: Referral.aliasState().alias }])
        }
    }

    TestCase {
        id: testCase

        name: "AliasSheet"
        when: windowShown

        function init() {
            Store.remove("referral")
            beneath.contentY = 0
            underClicks.clear()
        }

        function openSheet() {
            const sheet = createTemporaryObject(sheetComponent, host)
            verify(sheet)
            verify(!sheet.visible)
            sheet.open()
            verify(sheet.visible)
            // Clicks land where the columns have placed their rows.
            waitForRendering(sheet)
            return sheet
        }

        function part(sheet, name) {
            const item = findChild(sheet, name)
            verify(item, name)
            return item
        }

        function typeText(sheet, text) {
            const field = part(sheet, "aliasField")
            if (!field.activeFocus) {
                field.forceActiveFocus()
                field.cursorPosition = field.text.length
            }
            for (let i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function tick(sheet) {
            mouseClick(part(sheet, "aliasConsentBox"))
        }

        function test_setChangeAndRemoveEachReportOnceBeforeHiding() {
            const sheet = openSheet()
            const save = part(sheet, "aliasSaveButton")
            compare(save.text, "Set my alias")
            verify(!part(sheet, "aliasRemoveButton").visible)
            typeText(sheet, "  Ace Kid ")
            tick(sheet)
            mouseClick(save)
            compare(sheet.savedLog.length, 1)
            compare(sheet.savedLog[0].shown, true)
            compare(sheet.savedLog[0].alias, "Ace Kid")
            verify(!sheet.visible)
            compare(sheet.state.alias, "Ace Kid")

            // Opened again: the stored alias, the consent box cleared.
            sheet.open()
            waitForRendering(sheet)
            compare(sheet.draft, "Ace Kid")
            compare(part(sheet, "aliasField").text, "Ace Kid")
            verify(!sheet.understood)
            compare(save.text, "Change my alias")
            verify(!save.enabled)

            // Removal needs no consent.
            const remove = part(sheet, "aliasRemoveButton")
            verify(remove.visible)
            mouseClick(remove)
            compare(sheet.savedLog.length, 2)
            compare(sheet.savedLog[1].shown, true)
            compare(sheet.savedLog[1].alias, "")
            verify(!sheet.visible)
            compare(sheet.draft, "")
            compare(Referral.aliasState().alias, "")
        }

        function test_refusalStaysUntilTheNextEdit() {
            const sheet = openSheet()
            typeText(sheet, "ab")
            tick(sheet)
            mouseClick(part(sheet, "aliasSaveButton"))
            const message = part(sheet, "aliasMessage")
            verify(sheet.visible)
            verify(message.visible)
            compare(message.text, "Aliases need at least 3 characters.")
            compare(sheet.draft, "ab")
            verify(sheet.understood)
            compare(sheet.savedLog.length, 0)
            compare(Referral.aliasState().alias, "")
            // The consent box does not clear the message; a keystroke does.
            tick(sheet)
            tick(sheet)
            verify(message.visible)
            typeText(sheet, "c")
            verify(!message.visible)
            mouseClick(part(sheet, "aliasSaveButton"))
            compare(sheet.savedLog.length, 1)
            compare(Referral.aliasState().alias, "abc")
        }

        function test_saveNeedsConsentAndTextOfAtMostSixteen() {
            const sheet = openSheet()
            const save = part(sheet, "aliasSaveButton")
            typeText(sheet, "   ")
            mouseClick(part(sheet, "aliasConsentText"))
            verify(sheet.understood)
            verify(!save.enabled)
            typeText(sheet, "abcdefghijklmnopq")
            compare(sheet.draft, "   abcdefghijklm")
            tick(sheet)
            verify(!save.enabled)
            mouseClick(save)
            compare(sheet.savedLog.length, 0)
            tick(sheet)
            mouseClick(save)
            compare(Referral.aliasState().alias, "abcdefghijklm")

            // An edit abandoned with "Not now" is gone at the next opening.
            sheet.open()
            waitForRendering(sheet)
            typeText(sheet, "X")
            tick(sheet)
            mouseClick(part(sheet, "aliasDismissButton"))
            verify(!sheet.visible)
            sheet.open()
            compare(part(sheet, "aliasField").text, "abcdefghijklm")
            verify(!sheet.understood)
            compare(sheet.savedLog.length, 1)
        }

        function test_keysNeverCloseItButTheBackdropDoes() {
            const sheet = openSheet()
            typeText(sheet, "Ace")
            tick(sheet)
            part(sheet, "aliasField").forceActiveFocus()
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Escape)
            verify(sheet.visible)
            compare(Referral.aliasState().alias, "")
            // Clicks on the panel (its notice, its margin) keep it; the dimmed area above closes it.
            mouseClick(part(sheet, "aliasNotice"))
            mouseClick(part(sheet, "aliasPanel"), 8, 40)
            verify(sheet.visible)
            mouseClick(host, host.width / 2, 5)
            verify(!sheet.visible)
            compare(sheet.savedLog.length, 0)
            compare(Referral.aliasState().alias, "")
        }

        function test_viewsWhileTheBoardIsOff() {
            verify(!Referral.leaderboardLive)
            const sheet = openSheet()
            const notice = part(sheet, "aliasNotice")
            verify(notice.visible)
            verify(part(sheet, "aliasNoticeText").text.indexOf("change your alias as often as you like") > 0)
            verify(part(sheet, "aliasLockNotice").visible)
            verify(!part(sheet, "aliasLockBox").visible)
            verify(part(sheet, "aliasConsent").visible)
            compare(part(sheet, "aliasDismissButton").text, "Not now")

            // A record that says the alias is locked shows the locked view.
            sheet.state = { alias: "Ace", setAt: Date.now(), canChange: false, daysUntilChange: 3 }
            verify(sheet.locked)
            verify(!part(sheet, "aliasField").enabled)
            verify(part(sheet, "aliasLockBox").visible)
            verify(!part(sheet, "aliasLockNotice").visible)
            verify(!part(sheet, "aliasConsent").visible)
            verify(!part(sheet, "aliasSaveButton").visible)
            verify(!part(sheet, "aliasRemoveButton").visible)
            compare(part(sheet, "aliasDismissButton").text, "Close")
        }

        // With the keyboard alone: Tab never leaves the sheet, Space ticks
        // the consent box and saves; the field has no focus on opening; the
        // wheel moves nothing beneath. On a 800 x 480 screen the panel
        // scrolls to every control Tab reaches.
        function test_keyboardAloneOnAShortScreen() {
            underButton.forceActiveFocus()
            const sheet = openSheet()
            sheet.height = 480
            waitForRendering(sheet)
            verify(!underButton.activeFocus)
            const field = part(sheet, "aliasField")
            verify(!field.activeFocus)
            keyClick(Qt.Key_Space)
            compare(underClicks.count, 0)

            const close = part(sheet, "aliasCloseButton")
            const box = part(sheet, "aliasConsentBox")
            const dismiss = part(sheet, "aliasDismissButton")
            const panel = part(sheet, "aliasPanel")
            verify(panel.height <= 480)
            // The save button is disabled: close, field, rules link,
            // consent, dismiss.
            const link = part(sheet, "aliasRulesLink")
            const seen = []
            for (let i = 0; i < 10; ++i) {
                keyClick(Qt.Key_Tab)
                const item = host.Window.activeFocusItem
                seen.push(item)
                const top = item.mapToItem(sheet, 0, 0).y
                verify(top >= panel.y && top + item.height <= 480, item.objectName + " at " + top)
            }
            compare(seen.slice(0, 5), [close, field, link, box, dismiss])
            compare(seen.slice(5, 10), seen.slice(0, 5))
            compare(underClicks.count, 0)

            mouseWheel(sheet, sheet.width / 2, 10, 0, -360)
            mouseWheel(panel, panel.width / 2, 6, 0, -360)
            wait(50)
            compare(beneath.contentY, 0)

            // Typed into the field, ticked and saved from the keyboard.
            compare(host.Window.activeFocusItem, dismiss)
            keyClick(Qt.Key_Tab)
            keyClick(Qt.Key_Tab)
            verify(field.activeFocus)
            keyClick("A")
            keyClick("c")
            keyClick("e")
            keyClick(Qt.Key_Tab)
            keyClick(Qt.Key_Tab)
            verify(box.activeFocus)
            keyClick(Qt.Key_Space)
            verify(sheet.understood)
            keyClick(Qt.Key_Tab)
            const save = part(sheet, "aliasSaveButton")
            verify(save.activeFocus)
            keyClick(Qt.Key_Space)
            compare(Referral.aliasState().alias, "Ace")
            verify(!sheet.visible)
            compare(underClicks.count, 0)

            // Opened again, the keyboard starts on the panel, not the field.
            field.forceActiveFocus()
            sheet.close()
            sheet.open()
            verify(!field.activeFocus)
            verify(panel.activeFocus)
        }
    }
}
