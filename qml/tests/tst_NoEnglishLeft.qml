import QtQuick
import QtTest
import Tavrix

// Every text on screen changes language with the app: each main document is
// shown in a number of states, its visible texts are read in English, the
// language is switched, and every text that still reads as before must be a
// name, a number or data the user or the device gave.
Item {
    id: host

    width: 1280
    height: 800

    Component {
        id: sessionComponent
        SessionScreen {
            anchors.fill: parent
            initialLayoutId: "4-grid"
        }
    }

    Component {
        id: startComponent
        StartScreen {
            anchors.fill: parent
        }
    }

    Component {
        id: languageComponent
        LanguageSheet {
            anchors.fill: parent
        }
    }

    Component {
        id: aliasComponent
        AliasSheet {
            anchors.fill: parent
        }
    }

    TestCase {
        id: testCase

        name: "NoEnglishLeft"
        when: windowShown

        readonly property var languages: ["fr", "de", "es", "it", "nl"]
        // Words each language writes as English does.
        readonly property var sameInLanguage: ({ "de": ["IN OBS"], "it": ["Privacy", "IN OBS"],
                                                 "nl": ["Privacy", "IN OBS", "CAMERA"] })

        // Texts that read the same in every language.
        function isNameOrData(text) {
            let rest = text.replace(/https?:\/\/\S+/g, " ")           // addresses
            for (const name of ["Tavrix", "OBS Studio", "OBS", "Live Share", "LIVE",
                                "Test Pattern", "test build", "Esc", "F11", "Ana", "Ben",
                                // each language under its own name
                                "English", "Français", "Deutsch", "Español", "Italiano", "Nederlands"])
                rest = rest.replace(new RegExp(name, "gi"), " ")
            rest = rest.replace(/\S+\.mp4\b/g, " ")                 // file names
                       .replace(/\b[0-9A-Z]{3,4}(-[0-9A-Z]{4})?\b/g, " ") // codes
                       .replace(/\b\d+p\b/g, " ")                   // capture heights
            return !/[A-Za-z]{2,}/.test(rest)
        }

        // [{ item, name, text }] of every visible text under `root`.
        function visibleTexts(root) {
            const found = []
            const walk = (item, depth) => {
                if (!item || !item.visible || depth > 60)
                    return
                for (const property of ["text", "placeholderText", "title"]) {
                    const value = item[property]
                    if (typeof value === "string" && value.length > 0)
                        found.push({ item: item, name: property, text: value })
                }
                for (let i = 0; i < item.children.length; ++i)
                    walk(item.children[i], depth + 1)
            }
            walk(root, 0)
            return found
        }

        // Switches through every language and lists the texts on screen that
        // read exactly as one of the English texts did. Compared as texts, not
        // per item: a repeater may build its items anew for the new language.
        function englishLeftIn(root) {
            const english = new Set(visibleTexts(root).map(entry => entry.text))
            verify(english.size > 0, "nothing to read")
            const left = []
            for (const code of languages) {
                Lang.setUiLanguage(code)
                wait(0)
                const allowed = sameInLanguage[code] || []
                for (const entry of visibleTexts(root)) {
                    if (english.has(entry.text) && !isNameOrData(entry.text)
                            && allowed.indexOf(entry.text) < 0 && left.indexOf(code + ": " + entry.text) < 0)
                        left.push(code + ": " + entry.text)
                }
                Lang.setUiLanguage("en")
                wait(0)
            }
            return left
        }

        function checkNoEnglish(root, what) {
            const left = englishLeftIn(root)
            verify(left.length === 0, what + " keeps English texts:\n" + left.join("\n"))
        }

        function init() {
            Engine.reset()
            Lang.setUiLanguage("en")
            Lang.setCardLanguage("")
        }

        function cleanup() {
            Lang.setUiLanguage("en")
        }

        function makeSession() {
            const screen = createTemporaryObject(sessionComponent, host)
            verify(screen)
            tryVerify(() => Engine.sessionRunning)
            return screen
        }

        function test_sessionScreen() {
            const screen = makeSession()
            checkNoEnglish(screen, "the session screen")
            Engine.cameraLost()
            screen.cameraLostVisible = true
            checkNoEnglish(screen, "the camera-lost banner")
        }

        function test_sessionOverlays_data() {
            return [
                { tag: "menu", flag: "menuVisible" },
                { tag: "share sheet", flag: "liveShareVisible" },
                { tag: "session form", flag: "sessionFormVisible" },
            ]
        }

        function test_sessionOverlays(data) {
            const screen = makeSession()
            screen[data.flag] = true
            checkNoEnglish(screen, data.tag)
            if (data.tag === "share sheet") {
                verify(Engine.startSharing())
                checkNoEnglish(screen, "the share sheet while sharing")
            }
        }

        function test_recordingStates() {
            const screen = makeSession()
            screen.startRecording({ player: "Ana", coach: "Ben", sessionType: "Practice",
                                    title: "", notes: "", date: "1 May 2026" })
            Engine.recordingState = Engine.Recording
            checkNoEnglish(screen, "a recording")
            Engine.recordingState = Engine.Stopping
            screen.showClosingCard = true
            checkNoEnglish(screen, "the closing card")
            Engine.recordingState = Engine.Idle
            Engine.recordingSaved(Engine.recordingsDir + "/Tavrix 2026-05-01_10.00.00.mp4")
            tryVerify(() => screen.savedCardVisible)
            checkNoEnglish(screen, "the saved card")
        }

        // Fresh settings: the invite-code sheet opens over the start screen.
        function test_startScreen() {
            const screen = createTemporaryObject(startComponent, host)
            verify(screen)
            checkNoEnglish(screen, "the start screen with the invite sheet")
        }

        function test_sheets() {
            const languageSheet = createTemporaryObject(languageComponent, host)
            languageSheet.open = true
            checkNoEnglish(languageSheet, "the language sheet")
            const aliasSheet = createTemporaryObject(aliasComponent, host)
            aliasSheet.open()
            checkNoEnglish(aliasSheet, "the alias sheet")
        }
    }
}
