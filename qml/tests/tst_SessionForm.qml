import QtQuick
import QtTest
import Tavrix

// The details form on the kiosk's 800x480 screen: remembered answers, the
// stored texts, the labels map, every row within reach, the keyboard it
// leaves to the window, and nothing beneath reached while it shows.
Item {
    id: host

    property int shortcutHits: 0

    width: 800
    height: 480

    // What lies beneath the form: a control and a scrolling view.
    Flickable {
        id: beneath
        anchors.fill: parent
        contentHeight: 4000

        ThemedButton {
            id: under
            text: "under"
        }
    }

    SignalSpy { id: underClicks; target: under; signalName: "clicked" }

    // The window's single-key shortcut, as the main window has it.
    Shortcut {
        sequence: "R"
        onActivated: host.shortcutHits++
    }

    Component {
        id: formComponent
        SessionForm {
            anchors.fill: parent
        }
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    TestCase {
        name: "SessionForm"
        when: windowShown

        function init() {
            for (const key of ["session/player", "session/coach", "session/sessionType", "session/title"])
                Store.remove(key)
            Lang.setCardLanguage("")
            Lang.setUiLanguage("en")
            host.shortcutHits = 0
            beneath.contentY = 0
            underClicks.clear()
        }

        function cleanup() {
            Lang.setUiLanguage("en")
        }

        function openForm() {
            const form = createTemporaryObject(formComponent, host)
            verify(form)
            form.visible = true
            return form
        }

        function child(form, name) {
            const item = findChild(form, name)
            verify(item, name)
            return item
        }

        function typeInto(field, text) {
            mouseClick(field)
            verify(field.activeFocus)
            for (const c of text)
                keyClick(c)
        }

        // Clicks in quick succession would make a double click.
        function clickAgain(item) {
            mouseClick(item, item.width / 2, item.height / 2, Qt.LeftButton, Qt.NoModifier, 600)
        }

        function inView(form, item) {
            const card = child(form, "sessionFormCard")
            const top = item.mapToItem(card, 0, 0).y
            return top >= 0 && top + item.height <= card.height
        }

        // Turns the wheel over the card until the item is wholly in view.
        function scrollTo(form, item) {
            const card = child(form, "sessionFormCard")
            for (let turn = 0; turn < 30 && !inView(form, item); ++turn) {
                const down = item.mapToItem(card, 0, 0).y > 0
                mouseWheel(card, card.width / 2, 8, 0, down ? -120 : 120)
                wait(20)
            }
            verify(inView(form, item), item.objectName)
        }

        function startedLabels(form) {
            const spy = createTemporaryObject(spyComponent, host, { target: form, signalName: "started" })
            const start = child(form, "startRecordingButton")
            scrollTo(form, start)
            mouseClick(start)
            compare(spy.count, 1)
            return spy.signalArguments[0][0]
        }

        function test_startStoresAsTypedAndHandsUpTrimmedLabels() {
            const form = openForm()
            compare([form.player, form.coach, form.sessionType, form.title, form.notes], ["", "", "Practice", "", ""])
            typeInto(child(form, "playerField"), " Ann ")
            form.coach = "Bo"
            form.title = "   "
            form.notes = "\n  line one\nline two \n"
            mouseClick(child(form, "sessionType_Competition"))
            Lang.setCardLanguage("fr")
            const labels = startedLabels(form)

            compare(["player", "coach", "sessionType", "title"].map(key => Store.getString("session/" + key)),
                    [" Ann ", "Bo", "Competition", "   "])
            compare(Object.keys(labels).sort(), ["coach", "date", "notes", "player", "sessionType", "title"])
            compare([labels.player, labels.coach, labels.title, labels.notes], ["Ann", "Bo", "", "line one\nline two"])
            // The type and the date in the card language, not the interface's.
            compare(labels.sessionType, Lang.cardSessionType("Competition"))
            verify(labels.sessionType !== "Competition")
            compare(labels.date, Lang.formatCardDate(new Date()))
        }

        function test_cancelForgetsEditsAndNotesNeverStay() {
            const form = openForm()
            form.player = "Ann"
            form.notes = "kept?"
            startedLabels(form)
            form.visible = false
            form.visible = true
            compare(form.player, "Ann")
            compare(form.notes, "")

            form.player = "Someone else"
            form.sessionType = "Other"
            const spy = createTemporaryObject(spyComponent, host, { target: form, signalName: "cancelled" })
            scrollTo(form, child(form, "cancelButton"))
            clickAgain(child(form, "cancelButton"))
            compare(spy.count, 1)
            compare(Store.getString("session/player"), "Ann")
            form.visible = false
            form.visible = true
            compare([form.player, child(form, "playerField").text, form.sessionType], ["Ann", "Ann", "Practice"])
        }

        function test_typeButtonsFollowTheChoice() {
            const form = openForm()
            const practice = child(form, "sessionType_Practice")
            mouseClick(practice)
            verify(practice.checked)
            clickAgain(practice)
            verify(practice.checked)
            compare(form.sessionType, "Practice")
            clickAgain(child(form, "sessionType_Warm-up"))
            compare([form.sessionType, practice.checked, child(form, "sessionType_Warm-up").checked],
                    ["Warm-up", false, true])
        }

        function test_fieldsKeepKeysOnlyWhileShown() {
            const form = openForm()
            const field = child(form, "playerField")
            typeInto(field, "r2")
            compare(field.text, "r2")
            compare(host.shortcutHits, 0)

            form.visible = false
            verify(!field.activeFocus)
            keyClick("r")
            compare(host.shortcutHits, 1)
            compare(field.text, "r2")
        }

        // On 800x480 the card fits the window, its lower rows out of view
        // until scrolled; Tab brings each control into view in turn.
        function test_everyRowReachableByWheelAndTab() {
            const form = openForm()
            const card = child(form, "sessionFormCard")
            verify(card.y >= 0 && card.y + card.height <= host.height, card.y + "+" + card.height)
            const start = child(form, "startRecordingButton")
            verify(!inView(form, start))
            scrollTo(form, start)
            scrollTo(form, child(form, "playerField"))

            // From the first field to Start Recording with Tab alone; Return
            // on the way starts nothing.
            const spy = createTemporaryObject(spyComponent, host, { target: form, signalName: "started" })
            mouseClick(child(form, "playerField"))
            const seen = []
            for (let i = 0; i < 14 && !start.activeFocus; ++i) {
                keyClick(Qt.Key_Tab)
                const item = host.Window.activeFocusItem
                seen.push(item.objectName)
                verify(inView(form, item === child(form, "notesArea") ? child(form, "notesView") : item),
                       item.objectName)
                keyClick(Qt.Key_Return)
            }
            verify(start.activeFocus, seen.join(","))
            verify(seen.indexOf("notesArea") > seen.indexOf("titleField"))
            compare(spy.count, 0)
            keyClick(Qt.Key_Space)
            compare(spy.count, 1)
        }

        // The two buttons: one height, labels on one line, in every language.
        function test_buttonsOneLineInEveryLanguage() {
            const form = openForm()
            const cancel = child(form, "cancelButton")
            const start = child(form, "startRecordingButton")
            for (const language of Lang.languages) {
                Lang.setUiLanguage(language.code)
                compare(cancel.height, start.height)
                for (const button of [cancel, start]) {
                    compare(button.contentItem.lineCount, 1)
                    verify(!button.contentItem.truncated, language.code + " " + button.text)
                }
            }
        }

        function test_notesKeepTheTypedLineInView() {
            const form = openForm()
            const view = child(form, "notesView")
            const notes = child(form, "notesArea")
            scrollTo(form, view)
            mouseClick(view, 20, 20)
            verify(notes.activeFocus)
            for (let line = 1; line <= 8; ++line) {
                for (const c of "line " + line)
                    keyClick(c)
                if (line < 8)
                    keyClick(Qt.Key_Return)
            }
            compare(form.notes.split("\n").length, 8)
            verify(view.contentHeight > 2 * view.height)
            const cursor = notes.cursorRectangle
            verify(cursor.y >= view.contentY && cursor.y + cursor.height <= view.contentY + view.height,
                   cursor.y + " in " + view.contentY + "+" + view.height)
            // The last line is what shows at the bottom, the first scrolled away.
            verify(view.contentY > 0)
        }

        // Neither the keyboard, nor a press or the wheel reach what lies
        // beneath while the form shows; the same wheel turn scrolls it once
        // the form is gone.
        function test_nothingBeneathIsReached() {
            under.forceActiveFocus()
            const form = openForm()
            keyClick(Qt.Key_Space)
            const card = child(form, "sessionFormCard")
            for (let i = 0; i < 24; ++i) {
                keyClick(i % 5 === 4 ? Qt.Key_Backtab : Qt.Key_Tab)
                verify(!under.activeFocus, i)
                keyClick(Qt.Key_Space)
            }
            compare(underClicks.count, 0)
            for (const at of [Qt.point(5, 5), Qt.point(host.width / 2, card.y + 10), Qt.point(host.width / 2, card.y + card.height - 10)]) {
                mouseWheel(host, at.x, at.y, 0, -240)
                mouseClick(host, at.x, at.y)
            }
            wait(100)
            compare(beneath.contentY, 0)
            compare(underClicks.count, 0)
            verify(form.visible)

            form.visible = false
            mouseWheel(host, 5, 5, 0, -240)
            tryVerify(() => beneath.contentY > 0)
        }
    }
}
