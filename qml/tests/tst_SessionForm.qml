import QtQuick
import QtTest
import Tavrix

// The details form: remembered answers, the stored texts, the labels map,
// and the keyboard it leaves to the window.
Item {
    id: host

    property int shortcutHits: 0

    width: 800
    height: 700

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
            host.shortcutHits = 0
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

        function startedLabels(form) {
            const spy = createTemporaryObject(spyComponent, host, { target: form, signalName: "started" })
            mouseClick(child(form, "startRecordingButton"))
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
    }
}
