import QtQuick
import QtQuick.Controls
import QtTest
import Tavrix

// The invite code sheet over the real store and the real clipboard: another
// process owns the clipboard text the paste button reads (Xvfb in CI).
Item {
    id: host

    width: 800
    height: 700

    // Counts clicks that get through the sheet to the screen beneath.
    MouseArea {
        id: beneath
        property int clicks: 0
        anchors.fill: parent
        onClicked: clicks += 1
    }

    // A scrolling part of the screen beneath, left of the card, with a
    // button such as "Take the tour".
    Flickable {
        id: underList
        x: 0
        y: 200
        width: 180
        height: 200
        contentHeight: 2000
        clip: true

        Button { id: underButton; text: "Take the tour" }
    }

    SignalSpy { id: underClicks; target: underButton; signalName: "clicked" }

    Component {
        id: sheetComponent
        InviteCodeSheet {
            width: host.width
            height: host.height
        }
    }

    TestCase {
        id: testCase

        name: "InviteCodeSheet"
        when: windowShown

        readonly property string noCodeLine:
            "Nothing that looks like a code on your clipboard. You can type it instead."

        function init() {
            Store.remove("referral")
            beneath.clicks = 0
            underList.contentY = 0
            underClicks.clear()
        }

        function cleanup() {
            clipboardProbe.stopOwner()
        }

        function makeSheet() {
            const sheet = createTemporaryObject(sheetComponent, host)
            verify(sheet)
            // Clicks land where the column has placed its rows.
            if (sheet.open)
                waitForRendering(sheet)
            return sheet
        }

        function part(sheet, name) {
            const item = findChild(sheet, name)
            verify(item, name)
            return item
        }

        function putOnClipboard(text) {
            if (clipboardProbe.platformName() !== "xcb")
                skip("needs an X11 display for a clipboard shared between processes")
            clipboardProbe.startOwner(text)
            tryCompare(clipboardProbe, "ownerReady", true, 20000)
        }

        // Types at the end of the field, taking focus back from a button.
        function typeText(sheet, text) {
            const field = part(sheet, "inviteCodeField")
            if (!field.activeFocus) {
                field.forceActiveFocus()
                field.cursorPosition = field.text.length
            }
            verify(field.activeFocus)
            for (let i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function test_asksOnlyUntilAnswered() {
            const first = makeSheet()
            verify(first.open)
            verify(first.visible)
            mouseClick(part(first, "inviteSkipButton"))
            verify(!first.open)
            verify(!first.visible)
            verify(!Referral.shouldAskForInviteCode())
            compare(Referral.invitedByCode(), "")
            // The next visit to the start screen makes a new sheet: it stays shut.
            const second = makeSheet()
            verify(!second.open)
            verify(!second.visible)
        }

        function test_pasteTakesTheCodeOutOfAnInvitation() {
            putOnClipboard("Hunderte trainieren schon underwater mit Tavrix 🎥\n"
                           + "Mein Code: wz9z-3wgp\nhttps://tavrix.app/linux/r/?ref=WZ9Z-3WGP")
            const sheet = makeSheet()
            const pasteButton = part(sheet, "invitePasteButton")
            compare(pasteButton.text, "\uD83D\uDCCB  Paste code")
            mouseClick(pasteButton)
            compare(sheet.draft, "WZ9Z-3WGP")
            compare(part(sheet, "inviteCodeField").text, "WZ9Z-3WGP")
            compare(pasteButton.text, "\u2713  Pasted")
            verify(!part(sheet, "inviteMessage").visible)

            mouseClick(part(sheet, "inviteContinueButton"))
            verify(!sheet.open)
            compare(Referral.invitedByCode(), "WZ9Z-3WGP")
        }

        function test_pasteWithoutACodeKeepsWhatWasTyped() {
            const sheet = makeSheet()
            typeText(sheet, "7qx")
            putOnClipboard("see you at training tomorrow")
            const pasteButton = part(sheet, "invitePasteButton")
            mouseClick(pasteButton)
            const message = part(sheet, "inviteMessage")
            verify(message.visible)
            compare(message.text, noCodeLine)
            compare(sheet.draft, "7QX")
            compare(part(sheet, "inviteCodeField").text, "7QX")
            // Typing on clears the line, and the paste button then reads "Pasted".
            typeText(sheet, "m4hcr")
            verify(!message.visible)
            compare(sheet.draft, "7QXM4HCR")
            compare(pasteButton.text, "\u2713  Pasted")
            mouseClick(part(sheet, "inviteContinueButton"))
            verify(!sheet.open)
            compare(Referral.invitedByCode(), "7QXM-4HCR")
        }

        function test_refusalsKeepTheSheetOpenUntilAnswered() {
            const own = Referral.userCode()
            const sheet = makeSheet()
            const continueButton = part(sheet, "inviteContinueButton")
            const message = part(sheet, "inviteMessage")
            typeText(sheet, own.toLowerCase())
            mouseClick(continueButton)
            verify(sheet.open)
            compare(message.text, "That’s your own code. Ask your mate for theirs.")
            compare(sheet.draft, own)
            // An edit clears the store's message; another bad code brings the next one.
            typeText(sheet, "")
            keyClick(Qt.Key_Backspace)
            verify(!message.visible)
            mouseClick(continueButton)
            compare(message.text, "That doesn’t look like an invite code. They look like WZ9Z-3WGP.")
            verify(Referral.shouldAskForInviteCode())

            // A paste that finds nothing replaces the store's message with its own.
            putOnClipboard("no code here")
            mouseClick(part(sheet, "invitePasteButton"))
            compare(message.text, noCodeLine)

            mouseClick(part(sheet, "inviteSkipButton"))
            verify(!sheet.open)
            compare(Referral.invitedByCode(), "")
            verify(!makeSheet().open)
        }

        function test_onlyItsButtonsAnswerIt() {
            const sheet = makeSheet()
            const continueButton = part(sheet, "inviteContinueButton")
            typeText(sheet, "   ")
            verify(!continueButton.enabled)
            mouseClick(continueButton)
            typeText(sheet, "wz9z3wgp")
            verify(continueButton.enabled)
            keyClick(Qt.Key_Escape)
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Enter)
            // Corners of the sheet, well outside the card.
            mouseClick(host, 10, 10)
            mouseClick(host, host.width - 10, host.height - 10)
            mouseClick(host, host.width / 2, 10, Qt.RightButton)
            verify(sheet.visible)
            compare(beneath.clicks, 0)
            verify(Referral.shouldAskForInviteCode())
        }

        function test_capitalsKeepTheCaretWhereTheUserTypes() {
            const sheet = makeSheet()
            const field = part(sheet, "inviteCodeField")
            typeText(sheet, "wz9z3wgp")
            compare(field.text, "WZ9Z3WGP")
            compare(field.cursorPosition, 8)

            field.cursorPosition = 4
            keyClick("-")
            compare(field.text, "WZ9Z-3WGP")
            compare(field.cursorPosition, 5)

            field.cursorPosition = 1
            keyClick("q")
            keyClick("x")
            compare(field.text, "WQXZ9Z-3WGP")
            compare(sheet.draft, "WQXZ9Z-3WGP")
            compare(field.cursorPosition, 3)

            keyClick(Qt.Key_Backspace)
            keyClick(Qt.Key_Backspace)
            compare(field.text, "WZ9Z-3WGP")
            compare(field.cursorPosition, 1)
        }

        // Open at creation, the sheet takes the keyboard from the screen
        // beneath: Tab and Shift+Tab cycle through its own controls, Space
        // never presses a button beneath, the wheel scrolls nothing there.
        function test_keysAndWheelStayOnTheSheet() {
            underButton.forceActiveFocus()
            const sheet = makeSheet()
            verify(!underButton.activeFocus)
            keyClick(Qt.Key_Space)
            const field = part(sheet, "inviteCodeField")
            const skipButton = part(sheet, "inviteSkipButton")
            const seen = []
            for (let i = 0; i < 8; ++i) {
                keyClick(Qt.Key_Tab)
                seen.push(host.Window.activeFocusItem)
            }
            // Continue is disabled while the field is empty: field, paste, skip.
            compare(seen.slice(0, 3), [field, part(sheet, "invitePasteButton"), skipButton])
            compare(seen.slice(3, 6), seen.slice(0, 3))
            keyClick(Qt.Key_Backtab)
            keyClick(Qt.Key_Backtab)
            compare(host.Window.activeFocusItem, skipButton)
            compare(underClicks.count, 0)

            mouseWheel(host, 90, 300, 0, -360)
            const card = part(sheet, "inviteCard")
            mouseWheel(card, card.width / 2, 6, 0, -360)
            wait(50)
            compare(underList.contentY, 0)
            verify(sheet.open)

            // Space on the sheet's own focused button does answer it.
            keyClick(Qt.Key_Space)
            verify(!sheet.open)
            compare(underClicks.count, 0)
        }

        // On a 800 x 480 screen the card stays inside it and every control,
        // down to "I don't have one", can be reached and scrolled into view.
        function test_shortScreenKeepsEveryControlReachable() {
            const sheet = makeSheet()
            sheet.height = 480
            putOnClipboard("nothing here")
            mouseClick(part(sheet, "invitePasteButton"))
            typeText(sheet, "wz9z3wgp")
            waitForRendering(sheet)
            const card = part(sheet, "inviteCard")
            const view = part(sheet, "inviteView")
            verify(card.mapToItem(sheet, 0, 0).y >= 0)
            verify(card.mapToItem(sheet, 0, 0).y + card.height <= 480)
            const skipButton = part(sheet, "inviteSkipButton")
            for (let i = 0; i < 3 && !skipButton.activeFocus; ++i)
                keyClick(Qt.Key_Tab)
            verify(skipButton.activeFocus)
            const top = skipButton.mapToItem(view, 0, 0).y
            verify(top >= 0 && top + skipButton.height <= view.height, "skip at " + top)
            mouseClick(skipButton)
            verify(!sheet.open)
        }
    }
}
