import QtQuick
import QtTest
import Tavrix

TestCase {
    name: "Store"

    function init() {
        Store.remove("session")
        Store.remove("tutorial")
        Store.remove("test")
    }

    function test_freshKeysGiveDefaults() {
        compare(Store.getString("session/coach"), "")
        compare(Store.getString("session/sessionType", "Practice"), "Practice")
        compare(Store.getInt64("tutorial/seen"), 0)
        compare(Store.getInt64("tutorial/seen", 5), 5)
        verify(!Store.contains("tutorial/seen"))
    }

    function test_roundTrip() {
        Store.setInt64("tutorial/seen", 1)
        verify(Store.contains("tutorial/seen"))
        compare(Store.getInt64("tutorial/seen"), 1)
        Store.setString("session/player", "Zoë “Ace”")
        compare(Store.getString("session/player"), "Zoë “Ace”")
        Store.setString("test/number", "42")
        compare(Store.getInt64("test/number"), 42)
        Store.setString("test/word", "abc")
        compare(Store.getInt64("test/word", 9), 0)
    }

    function test_emptyKeyRemovesNothing() {
        Store.setString("session/coach", "Kim")
        ignoreWarning(/SettingsStore::remove: refusing/)
        Store.remove("")
        compare(Store.getString("session/coach"), "Kim")
    }

    function test_groupRemoval() {
        Store.setString("session/coach", "Kim")
        Store.setString("session/title", "Final")
        Store.setInt64("tutorial/seen", 1)
        Store.remove("session")
        verify(!Store.contains("session/coach"))
        verify(!Store.contains("session/title"))
        verify(Store.contains("tutorial/seen"))
    }

    function test_langIsPublished() {
        compare(Lang.uiLanguage, "en")
        compare(Lang.languages.length, 6)
        compare(Lang.cardSessionType("Other"), "Other")
    }
}
