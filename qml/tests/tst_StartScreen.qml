import QtQuick
import QtTest
import Tavrix

// The start screen over the fake engine (cameras and capture heights as the
// probe would report them), the real stores and the real clipboard.
Item {
    id: host

    width: 1280
    height: 900

    Component {
        id: screenComponent
        StartScreen {
            width: host.width
            height: host.height
        }
    }

    SignalSpy {
        id: sessionSpy
        signalName: "sessionRequested"
    }

    SignalSpy {
        id: readySpy
        signalName: "firstRunReady"
    }

    TestCase {
        id: testCase

        name: "StartScreen"
        when: windowShown

        readonly property var twoCameras: [{ name: "Front", id: "usb-1" }, { name: "Side", id: "usb-2" }]

        function init() {
            Engine.reset()
            Store.remove("referral")
            // No invite-code sheet unless a test asks for it.
            Referral.markInviteCodeAsked()
            host.width = 1280
            host.height = 900
            sessionSpy.clear()
            readySpy.clear()
        }

        function cleanup() {
            clipboardProbe.stopOwner()
            Lang.setUiLanguage("en")
        }

        function makeScreen() {
            const screen = createTemporaryObject(screenComponent, host)
            verify(screen)
            sessionSpy.target = screen
            readySpy.target = screen
            waitForRendering(screen)
            return screen
        }

        function part(screen, name) {
            const item = findChild(screen, name)
            verify(item, name)
            return item
        }

        function tiles(screen) {
            const flow = part(screen, "tour-layouts")
            const result = []
            for (let i = 0; i < flow.children.length; ++i) {
                if (flow.children[i].layoutId !== undefined)
                    result.push(flow.children[i])
            }
            return result
        }

        function tile(screen, id) {
            const found = tiles(screen).filter(t => t.layoutId === id)
            compare(found.length, 1, id)
            return found[0]
        }

        // The arguments of the index-th session request, as an array.
        function requested(index) {
            return Array.from(sessionSpy.signalArguments[index])
        }

        function resolutionLabels(screen) {
            const row = part(screen, "resolutionRow")
            const labels = []
            for (let i = 0; i < row.children.length; ++i) {
                if (row.children[i].text !== undefined)
                    labels.push(row.children[i].text)
            }
            return labels
        }

        // Whether the item lies wholly inside the screen's visible area.
        function inView(screen, item) {
            const top = item.mapToItem(screen, 0, 0).y
            return top >= 0 && top + item.height <= screen.height
        }

        // Turns the wheel beside the column until `item` is wholly in view,
        // as a user would.
        function scrollTo(screen, item) {
            const flick = part(screen, "startFlickable")
            for (let turn = 0; turn < 40 && !inView(screen, item); ++turn) {
                const before = flick.contentY
                const up = item.mapToItem(screen, 0, 0).y < 0
                mouseWheel(flick, 8, flick.height / 2, 0, up ? 120 : -120)
                tryVerify(() => flick.contentY !== before, 5000, "the wheel scrolls the screen")
                tryVerify(() => !flick.moving, 5000)
            }
            verify(inView(screen, item), item.objectName + " cannot be scrolled into view")
        }

        function readClipboard() {
            if (clipboardProbe.platformName() !== "xcb")
                skip("needs an X11 display for a clipboard shared between processes")
            clipboardProbe.startRead()
            tryCompare(clipboardProbe, "readDone", true, 20000)
            verify(clipboardProbe.readHadText)
            return clipboardProbe.readText
        }

        function test_tilesInTableOrderEachRequestingItsLayout() {
            const screen = makeScreen()
            compare(part(screen, "startIcon").status, Image.Ready)
            for (const name of ["tour-source", "tour-share", "tour-code", "tour-recordings", "start-language"])
                verify(part(screen, name).visible, name)

            const all = tiles(screen)
            compare(all.map(t => findChild(t, "tileLabel").text),
                    ["1 Screen", "2 Side by Side", "2 Stacked", "3 — 2 Above", "3 — 1 Above", "3 Across", "4 Screens"])

            // The miniatures: one box per panel with a 1 px gap on every side.
            const boxesOf = id => Array.from(findChild(tile(screen, id), "miniature").children)
                                  .filter(box => box.radius === 2)
                                  .map(box => [box.x, box.y, box.width, box.height])
            const across = boxesOf("3-row")
            compare(across.length, 3)
            const expected = [[1, 1, 28, 58], [31, 1, 28, 58], [61, 1, 28, 58]]
            for (let i = 0; i < 3; ++i) {
                for (let k = 0; k < 4; ++k)
                    fuzzyCompare(across[i][k], expected[i][k], 0.01, "3-row box " + i)
            }
            compare(boxesOf("4-grid"), [[1, 1, 43, 28], [46, 1, 43, 28], [1, 31, 43, 28], [46, 31, 43, 28]])
            compare(boxesOf("1"), [[1, 1, 88, 58]])

            // A click anywhere on a tile, also on its miniature, requests that layout.
            mouseClick(tile(screen, "3-bottom"), 3, 3)
            mouseClick(findChild(tile(screen, "4-grid"), "miniature"))
            compare(sessionSpy.count, 2)
            compare(requested(0), ["3-bottom", "test", 720])
            compare(requested(1), ["4-grid", "test", 720])
        }

        function test_tilesFlowInTheCentredColumn_data() {
            return [
                { tag: "1280 wide", width: 1280, columnWidth: 640, columnX: 320, rows: [4, 3] },
                { tag: "600 wide", width: 600, columnWidth: 552, columnX: 24, rows: [3, 3, 1] }
            ]
        }

        function test_tilesFlowInTheCentredColumn(data) {
            host.width = data.width
            const screen = makeScreen()
            const column = part(screen, "startColumn")
            compare(column.width, data.columnWidth)
            compare(column.mapToItem(screen, 0, 0).x, data.columnX)
            compare(part(screen, "tour-layouts").width, data.columnWidth)

            // Tiles of a row share their y; every row starts at the column's left edge.
            const all = tiles(screen)
            let start = 0
            let previousY = -1
            for (const count of data.rows) {
                const row = all.slice(start, start + count)
                compare(row[0].x, 0)
                verify(row[0].y > previousY)
                for (let i = 0; i < row.length; ++i) {
                    compare(row[i].y, row[0].y)
                    compare(row[i].x, i * 156)
                    compare(row[i].width, 140)
                }
                previousY = row[0].y
                start += count
            }
            compare(start, all.length)
        }

        function test_resolutionButtonsFollowTheProbedHeight_data() {
            return [
                { tag: "720", max: 720, labels: ["720p"] },
                { tag: "1080", max: 1080, labels: ["720p", "1080p"] },
                { tag: "1440", max: 1440, labels: ["720p", "1080p"] },
                { tag: "2160", max: 2160, labels: ["720p", "1080p", "2160p"] }
            ]
        }

        function test_resolutionButtonsFollowTheProbedHeight(data) {
            Engine.ready = false
            const screen = makeScreen()
            // Before the probe has finished only 720p is offered.
            compare(resolutionLabels(screen), ["720p"])
            Engine.maxCaptureHeight = data.max
            Engine.ready = true
            compare(resolutionLabels(screen), data.labels)

            const highest = part(screen, "resolution-" + data.labels[data.labels.length - 1].replace("p", ""))
            mouseClick(highest)
            verify(highest.checked)
            compare(screen.selectedResolution, parseInt(highest.text))
            const checked = resolutionLabels(screen).filter(
                              label => part(screen, "resolution-" + label.replace("p", "")).checked)
            compare(checked, [highest.text])
            mouseClick(tile(screen, "2-side"))
            compare(requested(0)[2], parseInt(highest.text))
        }

        function test_everyVisitStartsAt720() {
            Engine.maxCaptureHeight = 2160
            const first = makeScreen()
            mouseClick(part(first, "resolution-1080"))
            compare(first.selectedResolution, 1080)
            first.destroy()
            wait(0)
            const second = makeScreen()
            compare(second.selectedResolution, 720)
            verify(part(second, "resolution-720").checked)
            verify(!part(second, "resolution-1080").checked)
        }

        function test_cameraListFollowsTheProbeThenTheUsersChoice() {
            Engine.ready = false
            Engine.cameras = []
            const screen = makeScreen()
            const box = part(screen, "cameraBox")
            const status = part(screen, "cameraStatus")
            verify(!box.enabled)
            verify(status.visible)
            compare(status.text, "Detecting cameras…")
            compare(screen.selectedCameraId, "")

            // The probe's result: the first camera is shown and selected.
            Engine.cameras = twoCameras
            Engine.ready = true
            verify(box.enabled)
            verify(!status.visible)
            compare(box.currentIndex, 0)
            compare(box.currentText, "Front")
            compare(screen.selectedCameraId, "usb-1")

            // The user picks the second one with the keyboard.
            box.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(box.currentText, "Side")
            compare(screen.selectedCameraId, "usb-2")

            // A refilled list keeps showing the pick, also at another index.
            Engine.cameras = [{ name: "Rear", id: "usb-3" }].concat(twoCameras)
            compare(screen.selectedCameraId, "usb-2")
            compare(box.currentText, "Side")
            Engine.maxCaptureHeight = 1080
            compare(box.currentText, "Side")
            mouseClick(tile(screen, "1"))
            compare(requested(0), ["1", "usb-2", 720])

            // A list without the pick falls back to its first camera, which
            // the screen then also opens.
            Engine.cameras = [{ name: "Rear", id: "usb-3" }, { name: "Front", id: "usb-1" }]
            compare(box.currentText, "Rear")
            compare(screen.selectedCameraId, "usb-3")

            // No camera at all: the tiles still request a session, with no camera.
            Engine.cameras = []
            verify(!box.enabled)
            compare(status.text, "No camera detected.")
            compare(screen.selectedCameraId, "")
            mouseClick(tile(screen, "3-row"))
            compare(requested(1), ["3-row", "", 720])
        }

        function test_tourSessionAsksForTwoSideWithTheSelection() {
            Engine.cameras = twoCameras
            Engine.maxCaptureHeight = 2160
            const screen = makeScreen()
            const box = part(screen, "cameraBox")
            box.forceActiveFocus()
            keyClick(Qt.Key_Down)
            mouseClick(part(screen, "resolution-2160"))
            screen.startTourSession()
            compare(sessionSpy.count, 1)
            compare(requested(0), ["2-side", "usb-2", 2160])
        }

        // On the kiosk's 800 x 480 screen the lower rows lie below the fold:
        // the wheel and the keyboard reach every one of them.
        function test_buttonsReportUpOrOpenTheFolder() {
            host.width = 800
            host.height = 480
            Engine.maxCaptureHeight = 1080
            const screen = makeScreen()
            const tourSpy = signalSpy.createObject(testCase, { target: screen, signalName: "tourRequested" })
            const languageSpy = signalSpy.createObject(testCase, { target: screen, signalName: "languageRequested" })
            compare(part(screen, "start-language").text, "\u{1F310}  Language")
            verify(!inView(screen, part(screen, "start-language")))
            verify(part(screen, "startScrollBar").visible)
            for (const name of ["tour-recordings", "startTourButton", "start-language"]) {
                scrollTo(screen, part(screen, name))
                mouseClick(part(screen, name))
            }
            compare(Engine.callsTo("openRecordingsFolder").length, 1)
            compare(tourSpy.count, 1)
            compare(languageSpy.count, 1)
            compare(sessionSpy.count, 0)
            // The last row too, and back up to the first tile.
            scrollTo(screen, part(screen, "buildLabel"))
            scrollTo(screen, tile(screen, "1"))

            // Tab walks every control, each one scrolled into view, from the
            // first tile (Space opens it) to the language button.
            const language = part(screen, "start-language")
            const seen = []
            tile(screen, "1").forceActiveFocus()
            keyClick(Qt.Key_Space)
            compare(requested(0), ["1", "test", 720])
            for (let i = 0; i < 30 && !language.activeFocus; ++i) {
                keyClick(Qt.Key_Tab)
                const item = screen.Window.activeFocusItem
                seen.push(item.objectName)
                verify(inView(screen, item), item.objectName)
            }
            verify(language.activeFocus)
            for (const name of ["resolution-1080", "tour-share", "copyCodeButton", "aliasButton", "tour-recordings"])
                verify(seen.indexOf(name) >= 0, name + " in " + seen)
            keyClick(Qt.Key_Space)
            compare(languageSpy.count, 2)
        }

        function test_invitationAndCodeReachTheClipboard_data() {
            return [{ tag: "English", language: "en" }, { tag: "French", language: "fr" }]
        }

        function test_invitationAndCodeReachTheClipboard(data) {
            Lang.setUiLanguage(data.language)
            const screen = makeScreen()
            const code = part(screen, "inviteCode").text
            verify(/^[234679ACDEFGHJKMNPQRTUVWXYZ]{4}-[234679ACDEFGHJKMNPQRTUVWXYZ]{4}$/.test(code), code)
            compare(Store.getString("referral/userCode"), code)

            mouseClick(part(screen, "tour-share"))
            const invitation = readClipboard()
            // The link has no language part, whatever the interface language.
            const link = "https://tavrix.app/linux/r/?ref=" + code
            verify(invitation.endsWith("\n\n" + link), invitation)
            if (data.language === "en") {
                compare(invitation, "Watch yourself train, seconds after you do it. Tavrix plays your camera "
                        + "back on a delay so you can check your own technique between reps — no one has to "
                        + "film you.\n\n" + link)
                compare(part(screen, "toastText").text, "Message copied — paste it anywhere")
            }
            verify(part(screen, "toastText").visible)

            mouseClick(part(screen, "copyCodeButton"))
            compare(readClipboard(), code)
            if (data.language === "en")
                compare(part(screen, "toastText").text, "Copied")
            // The code stays the same on the next visit.
            screen.destroy()
            wait(0)
            compare(part(makeScreen(), "inviteCode").text, code)
        }

        function test_firstRunReadyFollowsCreationWithoutTheInviteSheet() {
            const screen = makeScreen()
            const timer = part(screen, "firstRunTimer")
            compare(timer.interval, 700)
            tryCompare(readySpy, "count", 1, 10000)
            verify(!timer.running)
            verify(!part(screen, "inviteCodeField").visible)
        }

        function test_firstRunReadyWaitsForTheInviteSheetToClose() {
            Store.remove("referral/invitedByAsked")
            const screen = makeScreen()
            const timer = part(screen, "firstRunTimer")
            const skipButton = part(screen, "inviteSkipButton")
            verify(skipButton.visible)
            // The sheet is on top: a click on a tile does not get through.
            mouseClick(screen, tile(screen, "1").mapToItem(screen, 70, 40).x, tile(screen, "1").mapToItem(screen, 70, 40).y)
            compare(sessionSpy.count, 0)
            // The first firing finds the sheet open and raises nothing.
            tryCompare(timer, "running", false, 10000)
            compare(readySpy.count, 0)

            mouseClick(skipButton)
            verify(!skipButton.visible)
            verify(timer.running)
            compare(readySpy.count, 0)
            tryCompare(readySpy, "count", 1, 10000)
            verify(!Referral.shouldAskForInviteCode())
        }

        function test_aliasRowSwitchesAfterSaveAndRemoval() {
            const screen = makeScreen()
            const row = part(screen, "aliasButton")
            compare(row.text, "\uFF0B  Add leaderboard alias")
            mouseClick(row)
            const field = part(screen, "aliasField")
            tryCompare(field, "visible", true)
            waitForRendering(screen)
            field.forceActiveFocus()
            for (const c of "Ace Kid")
                keyClick(c)
            mouseClick(part(screen, "aliasConsentBox"))
            mouseClick(part(screen, "aliasSaveButton"))
            compare(Referral.aliasState().alias, "Ace Kid")
            // The same screen, read again after the save.
            compare(row.text, "\u{1F3C6}  Ace Kid")
            verify(!field.visible)

            mouseClick(row)
            waitForRendering(screen)
            mouseClick(part(screen, "aliasRemoveButton"))
            compare(Referral.aliasState().alias, "")
            compare(row.text, "\uFF0B  Add leaderboard alias")
        }
    }

    Component {
        id: signalSpy
        SignalSpy {}
    }
}
