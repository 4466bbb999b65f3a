import QtQuick
import QtTest
import Tavrix

// The saved card: file names from odd paths, the share row following the
// engine's sharing while open, one signal per button and none from the
// backdrop, and every button within reach on a short kiosk screen.
Item {
    id: host

    width: 1280
    height: 800

    // What lies beneath the card: a control and a scrolling view.
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

    // As the session screen hosts it: the recordings page while sharing.
    Component {
        id: cardComponent
        SavedCard {
            anchors.fill: parent
            visible: true
            shareUrl: Engine.sharing && Engine.shareInfo.url
                      ? Engine.shareInfo.url.replace("live.ts", "recordings") : ""
        }
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    TestCase {
        name: "SavedCard"
        when: windowShown

        readonly property var signalNames: ["openFolderRequested", "copyPathRequested",
            "copyShareUrlRequested", "enableSharingRequested", "closed"]

        function init() {
            Engine.reset()
            host.height = 800
            beneath.contentY = 0
            underClicks.clear()
        }

        function makeCard(properties) {
            const card = createTemporaryObject(cardComponent, host, properties)
            verify(card)
            return card
        }

        function part(card, name) {
            const found = findChild(card, name)
            verify(found, name)
            return found
        }

        // One spy per signal of the card, by signal name.
        function spiesOn(card) {
            const spies = {}
            for (const name of signalNames)
                spies[name] = createTemporaryObject(spyComponent, host, { target: card, signalName: name })
            return spies
        }

        function counts(spies) {
            return signalNames.map(name => spies[name].count)
        }

        function test_fileName_data() {
            return [
                { tag: "engine path", path: "/home/ann/Videos/Tavrix/Tavrix 2026-03-03_07.05.09.mp4",
                  name: "Tavrix 2026-03-03_07.05.09.mp4" },
                { tag: "back-slashes", path: "C:\\Users\\ann\\clip.mp4", name: "clip.mp4" },
                { tag: "mixed", path: "/srv\\share/a\\b/c.mp4", name: "c.mp4" },
                { tag: "doubled separators", path: "//videos//x.mp4", name: "x.mp4" },
                { tag: "bare name", path: "clip.mp4", name: "clip.mp4" },
                { tag: "empty", path: "", name: "" },
                { tag: "ends in a slash", path: "/home/ann/", name: "" },
                { tag: "ends in a back-slash", path: "dir\\", name: "" },
                { tag: "markup in the name", path: "/tmp/<b>x.mp4", name: "<b>x.mp4" },
            ]
        }

        function test_fileName(row) {
            const card = makeCard({ path: row.path })
            compare(card.fileName, row.name)
            compare(part(card, "fileNameText").text, row.name)
        }

        function test_titleAndLongName() {
            const card = makeCard({ path: "/v/" + "very long name ".repeat(20) + ".mp4" })
            compare(part(card, "titleText").text, "Successfully saved")
            card.interrupted = true
            compare(part(card, "titleText").text, "Interrupted \u2014 but saved")
            const name = part(card, "fileNameText")
            verify(name.truncated)
            compare(name.lineCount, 1)
            verify(name.contentWidth <= name.width + 1)
        }

        function test_buttonsEmitOneSignalEachAndTheBackdropNone() {
            const card = makeCard({ path: "/v/a.mp4" })
            const spies = spiesOn(card)
            mouseClick(card, 5, 5)
            mouseClick(card, card.width - 5, card.height / 2)
            compare(counts(spies), [0, 0, 0, 0, 0])
            verify(card.visible)
            mouseClick(part(card, "openFolderButton"))
            compare(counts(spies), [1, 0, 0, 0, 0])
            mouseClick(part(card, "copyPathButton"))
            compare(counts(spies), [1, 1, 0, 0, 0])
            mouseClick(part(card, "closeButton"))
            compare(counts(spies), [1, 1, 0, 0, 1])
            // The card never hides itself.
            verify(card.visible)
        }

        function test_shareRowFollowsSharingWhileOpen() {
            const card = makeCard({ path: "/v/a.mp4" })
            const spies = spiesOn(card)
            const share = part(card, "shareButton")
            compare(card.shareUrl, "")
            compare(share.text, "Turn on Live Share to get a link")
            mouseClick(share)
            compare(counts(spies), [0, 0, 0, 1, 0])

            verify(Engine.startSharing())
            compare(card.shareUrl, "http://192.168.1.20:8080/recordings?k=AB3")
            compare(share.text, "Share link")
            mouseClick(share)
            compare(counts(spies), [0, 0, 1, 1, 0])

            // A new room code while sharing, then sharing off again.
            Engine.regenerateShareCode()
            compare(card.shareUrl, "http://192.168.1.20:8080/recordings?k=XY7")
            Engine.stopSharing()
            compare(share.text, "Turn on Live Share to get a link")
            mouseClick(share)
            compare(counts(spies), [0, 0, 1, 2, 0])
        }

        // The card stays inside the host, and scrolling brings its last
        // button fully into view, where a click reaches it.
        function test_everyButtonReachableOnAShortScreen_data() {
            return [ { tag: "800", height: 800 }, { tag: "kiosk 440", height: 440 }, { tag: "300", height: 300 } ]
        }

        function test_everyButtonReachableOnAShortScreen(row) {
            host.height = row.height
            const card = makeCard({ path: "/v/a.mp4" })
            const spies = spiesOn(card)
            const box = part(card, "card")
            verify(box.y >= 0 && box.y + box.height <= host.height, "card " + box.y + "+" + box.height)
            const scroller = part(card, "scroller")
            scroller.contentY = Math.max(0, scroller.contentHeight - scroller.height)
            const close = part(card, "closeButton")
            const top = close.mapToItem(box, 0, 0).y
            verify(top >= 0 && top + close.height <= box.height, "close button at " + top + " in " + box.height)
            mouseClick(close)
            compare(spies.closed.count, 1)
        }

        // Tab walks the card's own buttons only, Space never presses the
        // control beneath, and the wheel over the backdrop or the card leaves
        // what lies beneath where it was, on a short screen too.
        function test_nothingBeneathIsReached_data() {
            return [ { tag: "800", height: 800 }, { tag: "kiosk 480", height: 480 } ]
        }

        function test_nothingBeneathIsReached(row) {
            host.height = row.height
            under.forceActiveFocus()
            const card = makeCard({ path: "/v/a.mp4" })
            keyClick(Qt.Key_Space)
            const box = part(card, "card")
            const scroller = part(card, "scroller")
            const seen = new Set()
            for (let i = 0; i < 12; ++i) {
                keyClick(i % 5 === 4 ? Qt.Key_Backtab : Qt.Key_Tab)
                const item = host.Window.activeFocusItem
                verify(item !== under, i)
                seen.add(item.objectName)
                // The focused button is scrolled into view.
                const top = item.mapToItem(box, 0, 0).y
                verify(top >= 0 && top + item.height <= box.height, item.objectName + " at " + top)
            }
            compare([...seen].sort(), ["closeButton", "copyPathButton", "openFolderButton", "shareButton"])
            compare(underClicks.count, 0)
            for (const at of [Qt.point(5, 5), Qt.point(host.width / 2, box.y + 8)]) {
                mouseWheel(host, at.x, at.y, 0, -240)
                mouseClick(host, at.x, at.y)
            }
            wait(100)
            compare(beneath.contentY, 0)
            compare(underClicks.count, 0)

            card.visible = false
            mouseWheel(host, 5, 5, 0, -240)
            tryVerify(() => beneath.contentY > 0)
        }
    }
}
