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

        function test_firstOpeningIsEmptyWithPractice() {
            const form = openForm()
            compare([form.player, form.coach, form.title, form.notes], ["", "", "", ""])
            compare(form.sessionType, "Practice")
            verify(child(form, "sessionType_Practice").checked)
            verify(!child(form, "sessionType_Other").checked)
        }

        function test_startStoresAsTypedAndHandsUpTrimmedLabels() {
            const form = openForm()
            typeInto(child(form, "playerField"), " Ann ")
            form.coach = "Bo"
            form.title = "   "
            form.notes = "\n  line one\nline two \n"
            mouseClick(child(form, "sessionType_Competition"))
            Lang.setCardLanguage("fr")
            const labels = startedLabels(form)

            compare(Store.getString("session/player"), " Ann ")
            compare(Store.getString("session/coach"), "Bo")
            compare(Store.getString("session/sessionType"), "Competition")
            compare(Store.getString("session/title"), "   ")
            compare(Object.keys(labels).sort(), ["coach", "date", "notes", "player", "sessionType", "title"])
            compare(labels.player, "Ann")
            compare(labels.title, "")
            compare(labels.notes, "line one\nline two")
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
            compare(form.player, "Ann")
            compare(child(form, "playerField").text, "Ann")
            compare(form.sessionType, "Practice")
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
            compare(form.sessionType, "Warm-up")
            verify(!practice.checked)
            verify(child(form, "sessionType_Warm-up").checked)
        }

        function test_unknownStoredTypePassesThrough() {
            Store.setString("session/sessionType", "Scrimmage")
            const form = openForm()
            for (const type of form.sessionTypes)
                verify(!child(form, "sessionType_" + type.id).checked, type.id)
            compare(startedLabels(form).sessionType, "Scrimmage")
        }

        function test_outsideClicksChangeNothing() {
            const form = openForm()
            const cancelled = createTemporaryObject(spyComponent, host, { target: form, signalName: "cancelled" })
            mouseClick(form, 5, 5)
            compare(cancelled.count, 0)
            verify(form.visible)
        }

        function test_shortCardIsCutOff() {
            host.height = 300
            const form = openForm()
            const card = child(form, "sessionFormCard")
            verify(card.height <= 270)
            verify(card.clip)
            const start = child(form, "startRecordingButton")
            verify(start.mapToItem(card, 0, 0).y > card.height)
            host.height = 700
        }

        // Keys typed into a field stay there; once the form hides, they reach
        // the window again.
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
