import QtQuick
import Tavrix

// The first-run walkthrough: dims everything but a spotlight around the
// controls of one step and explains them on a card beside it. The steps and
// their words come from TourSteps; the controls are found by objectName under
// `searchRoot`. A tour begun on the start screen crosses into a session at
// the step marked `enter`: it asks its host to open one (enterSessionRequested),
// waits up to cameraWaitMs for sessionReady(), lets the panels settle and goes
// on with the session steps. The host fills the window with it.
// While a card shows the tour keeps the keyboard (a modal layer above every
// sheet): Tab never reaches a control beneath; its buttons never take focus.
ModalLayer {
    id: root

    // Root of the item tree searched for targets (the window's content item).
    property Item searchRoot: null

    // "idle", "showing", "waiting" (a session is opening, card hidden) or
    // "settling" (the session is up; its panels lay out before being measured).
    // Read it; start(), next(), back(), skip() and sessionReady() change it.
    property string phase: "idle"
    readonly property bool running: phase !== "idle"

    // Timings. Writable so that tests can shorten them.
    property int cameraWaitMs: 25000
    property int settleDelayMs: 600
    property int pollIntervalMs: 200

    // The steps being walked, and the index of the step on the card (or of
    // the step that opened the session while waiting or settling).
    property var plan: []
    property int idx: 0
    // Back never walks below this index: the first session step shown after
    // crossing from the start screen, whose steps are gone then.
    property int floorIdx: 0

    // The shown step: clicks pass through its spotlight; Back is offered
    // (an earlier step above the floor can be shown now).
    property bool interactive: false
    property bool canBack: false

    // The card's words, set when a step is shown (in the language of then).
    property string titleText: ""
    property string bodyText: ""
    property string countText: ""
    property string nextLabel: ""

    // The spotlight, whole numbers in this item's coordinates. Without a hole
    // it is a point in the middle where the four dim panels meet.
    property bool hasHole: false
    property real holeX: 0
    property real holeY: 0
    property real holeW: 0
    property real holeH: 0

    // Spotlight and card moves animate; off for the first card on a screen.
    property bool animateMoves: false

    readonly property int pad: 8
    readonly property int gap: 14
    readonly property int edge: 12
    readonly property color dimColor: Qt.rgba(0, 0, 0, 0.74)

    // Bumped by every shown card, so a deferred switch-on of the animations
    // belongs to the card that asked for it.
    property int showSerial: 0

    signal enterSessionRequested()
    signal finished(bool completed)

    // Plans all twelve steps (fromStart) or the session steps only and shows
    // the step at startIndex (0 when missing or negative), skipping forward
    // over steps whose targets are not on screen. Ignored unless idle; when
    // nothing can be shown the tour stays idle and emits nothing.
    function start(fromStart, startIndex) {
        if (phase !== "idle")
            return
        plan = fromStart ? TourSteps.STEPS.slice() : TourSteps.stepsOf("session")
        idx = 0
        floorIdx = 0
        show(typeof startIndex === "number" && startIndex > 0 ? Math.floor(startIndex) : 0, 1, false)
    }

    // Next/Start/Done, Right, Return and Enter.
    function next() {
        if (phase !== "showing")
            return
        if (idx >= plan.length - 1)
            end(true)
        else if (plan[idx].enter)
            enterSession()
        else
            show(idx + 1, 1, false)
    }

    // Back and Left: the nearest earlier step that can be shown, never below
    // the floor nor across the step that opened the session. When none can
    // be shown the card stays (and Back shows disabled).
    function back() {
        if (phase !== "showing")
            return
        const i = earlierStep()
        if (i < 0) {
            canBack = false
            return
        }
        display(i, resolveStep(plan[i], true).rect, false)
    }

    // Index of the nearest earlier step that Back may show, or -1.
    function earlierStep() {
        for (let i = idx - 1; i >= floorIdx && i >= 0 && !plan[i].enter; --i) {
            if (resolveStep(plan[i], false).found)
                return i
        }
        return -1
    }

    // "Skip tour" and Escape.
    function skip() {
        end(false)
    }

    function end(completed) {
        if (phase === "idle")
            return
        phase = "idle"
        animateMoves = false
        waitTimer.stop()
        settleTimer.stop()
        finished(completed === true)
    }

    // The host's notice that the session screen exists (also fired by the wait
    // timer). Acts only while the current step is the one that opens a session,
    // shown or waited on.
    function sessionReady() {
        if (phase === "idle")
            return
        const current = plan[idx]
        if (!current || !current.enter)
            return
        waitTimer.stop()
        plan = plan.slice(0, idx + 1).concat(TourSteps.stepsOf("session"))
        phase = "settling"
        settleTimer.restart()
    }

    // Measures the shown step again without scrolling; a step whose targets
    // are gone keeps its last spotlight.
    function refresh() {
        if (phase !== "showing" || !plan[idx])
            return
        const found = resolveStep(plan[idx], false)
        if (found.found)
            applyResult(found.rect)
        canBack = earlierStep() >= 0
    }

    // The phase and the wait go first: the host may open the session and call
    // sessionReady() inside the emission. Nothing may follow it.
    function enterSession() {
        phase = "waiting"
        waitTimer.restart()
        enterSessionRequested()
    }

    function isShown(item) {
        return item.visible && item.width > 0 && item.height > 0 && item.opacity > 0
    }

    // Every shown item named `name` under `item`, depth first in visual child
    // order, parent first; never looks inside the tour itself.
    function collect(item, name, out) {
        if (!item || item === root)
            return
        if (item.objectName === name && isShown(item))
            out.push(item)
        const kids = item.children
        for (let i = 0; i < kids.length; ++i)
            collect(kids[i], name, out)
    }

    // The item of one target entry: a name, or {name, prefer} taking match
    // number `prefer` (from 0) when there are that many, else the first.
    function resolveSpec(entry) {
        const name = typeof entry === "string" ? entry : (entry ? entry.name : undefined)
        if (typeof name !== "string" || name === "")
            return null
        let prefer = typeof entry === "string" ? 0 : entry.prefer
        if (!Number.isInteger(prefer) || prefer < 0)
            prefer = 0
        const matches = []
        collect(searchRoot, name, matches)
        if (matches.length === 0)
            return null
        return matches.length > prefer ? matches[prefer] : matches[0]
    }

    // Scrolls the nearest flickable ancestor of `item` (and only that one)
    // so the item shows with 16 px to spare.
    function ensureVisible(item) {
        let view = item.parent
        while (view && !(view.contentItem && view.contentY !== undefined && view.contentHeight !== undefined))
            view = view.parent
        if (!view)
            return
        const top = item.mapToItem(view.contentItem, 0, 0).y
        const bottom = top + item.height
        let y = view.contentY
        if (top - 16 < y)
            y = top - 16
        else if (bottom + 16 > view.contentY + view.height)
            y = bottom + 16 - view.height
        view.contentY = Math.max(0, Math.min(Math.max(0, view.contentHeight - view.height), y))
    }

    // {found, rect}: rect is the union of the targets found, in this item's
    // coordinates, or null for a step without targets (a centred card).
    function resolveStep(step, scroll) {
        if (!step.targets)
            return { found: true, rect: null }
        const items = []
        for (let i = 0; i < step.targets.length; ++i) {
            const item = resolveSpec(step.targets[i])
            if (item)
                items.push(item)
        }
        if (items.length === 0)
            return { found: false, rect: null }
        if (scroll)
            ensureVisible(items[0])
        let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity
        for (const item of items) {
            const p = item.mapToItem(root, 0, 0)
            left = Math.min(left, p.x)
            top = Math.min(top, p.y)
            right = Math.max(right, p.x + item.width)
            bottom = Math.max(bottom, p.y + item.height)
        }
        return { found: true, rect: { left: left, top: top, right: right, bottom: bottom } }
    }

    function applyResult(rect) {
        if (!rect) {
            hasHole = false
            holeX = Math.round(width / 2)
            holeY = Math.round(height / 2)
            holeW = 0
            holeH = 0
            return
        }
        const x0 = Math.max(0, rect.left - pad)
        const y0 = Math.max(0, rect.top - pad)
        const x1 = Math.min(width, rect.right + pad)
        const y1 = Math.min(height, rect.bottom + pad)
        hasHole = true
        holeX = Math.round(x0)
        holeY = Math.round(y0)
        holeW = Math.round(x1 - x0)
        holeH = Math.round(y1 - y0)
    }

    // Shows the first step from `i` on in direction `dir` that can be shown;
    // running off either end ends the tour (completed when going forward).
    // `asFloor` makes the shown step the lowest that Back may reach.
    function show(i, dir, asFloor) {
        for (; i >= 0 && i < plan.length; i += dir) {
            const found = resolveStep(plan[i], true)
            if (found.found) {
                display(i, found.rect, asFloor)
                return
            }
        }
        end(dir > 0)
    }

    function display(i, rect, asFloor) {
        const step = plan[i]
        idx = i
        if (phase !== "showing")
            animateMoves = false
        phase = "showing"
        if (asFloor)
            floorIdx = i
        interactive = step.interactive === true
        canBack = earlierStep() >= 0
        applyResult(rect)
        const words = TourSteps.text(step.id, measureMaxDelay())
        const ui = TourSteps.ui()
        titleText = words.title
        bodyText = words.body
        countText = ui.stepOf.arg(i + 1).arg(plan.length)
        nextLabel = i === plan.length - 1 ? ui.done : (step.enter ? ui.start : ui.next)
        root.forceActiveFocus()
        const serial = ++showSerial
        Qt.callLater(function () {
            if (root.phase === "showing" && root.showSerial === serial)
                root.animateMoves = true
        })
    }

    // The largest delay of the first shown delay slider, whole seconds; 60
    // when there is none or it allows nothing.
    function measureMaxDelay() {
        const slider = resolveSpec("tour-delay")
        const seconds = slider ? Math.round(Number(slider.to)) : 0
        return isFinite(seconds) && seconds > 0 ? seconds : 60
    }

    // Top-left corner of the card: below, above, right of, left of the hole,
    // else along the bottom over it; centred without a hole.
    function cardPosition(cw, ch, vw, vh) {
        if (!hasHole)
            return Qt.point((vw - cw) / 2, (vh - ch) / 2)
        const clamp = (v, lo, hi) => Math.max(lo, Math.min(hi, v))
        const l = holeX, t = holeY, r = holeX + holeW, b = holeY + holeH
        const cx = clamp(l + holeW / 2 - cw / 2, edge, vw - cw - edge)
        const cy = clamp(t + holeH / 2 - ch / 2, edge, vh - ch - edge)
        if (vh - b >= ch + gap + edge)
            return Qt.point(cx, b + gap)
        if (t >= ch + gap + edge)
            return Qt.point(cx, t - ch - gap)
        if (vw - r >= cw + gap + edge)
            return Qt.point(r + gap, cy)
        if (l >= cw + gap + edge)
            return Qt.point(l - cw - gap, cy)
        return Qt.point(cx, vh - ch - edge)
    }

    z: 1000
    shown: phase === "showing"
    // Its own dim areas take the pointer; the layer keeps only the keyboard,
    // above the sheets (level 0) that a step may find open.
    blocksPointer: false
    level: 1

    Behavior on holeX { enabled: root.animateMoves; NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
    Behavior on holeY { enabled: root.animateMoves; NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
    Behavior on holeW { enabled: root.animateMoves; NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
    Behavior on holeH { enabled: root.animateMoves; NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }

    Keys.onPressed: (event) => {
        if (root.phase !== "showing")
            return
        switch (event.key) {
        case Qt.Key_Right:
        case Qt.Key_Return:
        case Qt.Key_Enter:
            root.next()
            break
        case Qt.Key_Left:
            root.back()
            break
        case Qt.Key_Escape:
            root.skip()
            break
        default:
            return
        }
        event.accepted = true
    }

    Timer {
        id: waitTimer
        interval: root.cameraWaitMs
        // A session screen that never reports: go on with what is on screen.
        onTriggered: root.sessionReady()
    }

    Timer {
        id: settleTimer
        interval: root.settleDelayMs
        onTriggered: {
            if (root.phase === "settling")
                root.show(root.idx + 1, 1, true)
        }
    }

    Timer {
        id: pollTimer
        interval: root.pollIntervalMs
        repeat: true
        running: root.phase === "showing"
        onTriggered: root.refresh()
    }

    // The four dim panels around the hole swallow every button and the wheel.
    Rectangle {
        objectName: "tourDimTop"
        x: 0
        y: 0
        width: root.width
        height: Math.max(0, root.holeY)
        color: root.dimColor
        MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons; onWheel: (wheel) => wheel.accepted = true }
    }
    Rectangle {
        objectName: "tourDimBottom"
        x: 0
        y: root.holeY + root.holeH
        width: root.width
        height: Math.max(0, root.height - (root.holeY + root.holeH))
        color: root.dimColor
        MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons; onWheel: (wheel) => wheel.accepted = true }
    }
    Rectangle {
        objectName: "tourDimLeft"
        x: 0
        y: root.holeY
        width: Math.max(0, root.holeX)
        height: root.holeH
        color: root.dimColor
        MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons; onWheel: (wheel) => wheel.accepted = true }
    }
    Rectangle {
        objectName: "tourDimRight"
        x: root.holeX + root.holeW
        y: root.holeY
        width: Math.max(0, root.width - (root.holeX + root.holeW))
        height: root.holeH
        color: root.dimColor
        MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons; onWheel: (wheel) => wheel.accepted = true }
    }

    // Over the hole: lets clicks through only on an interactive step.
    MouseArea {
        objectName: "tourHoleBlocker"
        x: root.holeX
        y: root.holeY
        width: root.holeW
        height: root.holeH
        enabled: root.hasHole && !root.interactive
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    Rectangle {
        objectName: "tourOutline"
        x: root.holeX
        y: root.holeY
        width: root.holeW
        height: root.holeH
        visible: root.hasHole
        radius: 10
        color: "transparent"
        border.width: 2
        border.color: Theme.gold
    }

    Rectangle {
        id: card
        objectName: "tourCard"

        readonly property point position: root.cardPosition(width, height, root.width, root.height)

        x: position.x
        y: position.y
        width: Math.min(340, root.width - 24)
        height: content.height + 40
        radius: 12
        color: Theme.surface
        border.width: 1
        border.color: "#3a3a3e"

        Behavior on x { enabled: root.animateMoves; NumberAnimation { duration: 180; easing.type: Easing.OutCubic } }
        Behavior on y { enabled: root.animateMoves; NumberAnimation { duration: 180; easing.type: Easing.OutCubic } }

        // Clicks on the card's own empty space go nowhere.
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            onWheel: (wheel) => wheel.accepted = true
        }

        Rectangle {
            x: 14
            y: 0
            width: parent.width - 28
            height: 3
            color: Theme.gold
        }

        Column {
            id: content
            objectName: "tourContent"
            x: 20
            y: 20
            width: card.width - 40
            spacing: 8

            Text {
                objectName: "tourCounter"
                width: parent.width
                text: root.countText
                color: Theme.textDim
                font.pixelSize: 11
                font.letterSpacing: 1
                font.capitalization: Font.AllUppercase
            }

            Text {
                objectName: "tourTitle"
                width: parent.width
                text: root.titleText
                textFormat: Text.PlainText
                color: Theme.gold
                font.pixelSize: 17
                font.bold: true
                wrapMode: Text.WordWrap
            }

            Text {
                objectName: "tourBody"
                width: parent.width
                text: root.bodyText
                textFormat: Text.PlainText
                color: "#cfcfd4"
                font.pixelSize: 13
                lineHeight: 1.25
                wrapMode: Text.WordWrap
            }

            // "Skip tour" on the left, Back and Next at the right edge. Skip
            // wraps beside the buttons while its widest word fits there, else
            // it takes a line of its own above them; buttons wider than the
            // card share its width. Nothing runs past the card in any language.
            Item {
                id: buttonRow
                objectName: "tourButtonRow"

                readonly property int spacing: 8
                readonly property int buttonHeight: 34
                readonly property real naturalButtonsWidth: backLabel.implicitWidth + 28 + spacing
                                                            + nextText.implicitWidth + 32
                readonly property bool buttonsFit: naturalButtonsWidth <= width
                readonly property real besideButtons: width - Math.min(width, naturalButtonsWidth) - spacing
                readonly property real skipWordWidth: {
                    let widest = 0
                    for (const word of skipLabel.text.split(/\s+/))
                        widest = Math.max(widest, Math.ceil(skipMetrics.advanceWidth(word)))
                    return widest
                }
                // Skip gets a line of its own rather than more than two beside
                // the buttons.
                readonly property bool stacked: skipWordWidth > besideButtons || skipProbe.lineCount > 2
                readonly property real buttonsY: 8 + (stacked ? skipLabel.height + spacing
                                                              : Math.max(0, (skipLabel.height - buttonHeight) / 2))

                width: parent.width
                height: stacked ? buttonsY + buttonHeight
                                : 8 + Math.max(buttonHeight, skipLabel.height)

                FontMetrics {
                    id: skipMetrics
                    font: skipLabel.font
                }

                // The skip text as it would wrap beside the buttons.
                Text {
                    id: skipProbe
                    visible: false
                    width: Math.max(1, buttonRow.besideButtons)
                    text: skipLabel.text
                    font: skipLabel.font
                    textFormat: Text.PlainText
                    wrapMode: Text.WordWrap
                }

                Text {
                    id: skipLabel
                    objectName: "tourSkip"
                    y: 8 + (buttonRow.stacked ? 0 : Math.max(0, (buttonRow.buttonHeight - height) / 2))
                    // Measured, not implicitWidth: a wrapped text's implicit width
                    // follows its width.
                    width: buttonRow.stacked ? buttonRow.width
                                             : Math.min(Math.ceil(skipMetrics.advanceWidth(text)) + 1,
                                                        buttonRow.besideButtons)
                    text: {
                        Lang.uiLanguage
                        return TourSteps.ui().skip
                    }
                    textFormat: Text.PlainText
                    wrapMode: Text.WordWrap
                    color: skipArea.containsMouse ? Theme.gold : Theme.textDim
                    font.pixelSize: 13
                    font.bold: true

                    MouseArea {
                        id: skipArea
                        anchors.fill: parent
                        anchors.margins: -6
                        hoverEnabled: true
                        onClicked: root.skip()
                    }
                }

                Rectangle {
                    id: backButton
                    objectName: "tourBack"
                    x: nextButton.x - buttonRow.spacing - width
                    y: buttonRow.buttonsY
                    width: buttonRow.buttonsFit ? backLabel.implicitWidth + 28
                                                : (buttonRow.width - buttonRow.spacing) / 2
                    height: buttonRow.buttonHeight
                    radius: 8
                    color: "#222222"
                    border.width: 1
                    border.color: "#3a3a3e"
                    enabled: root.canBack
                    opacity: enabled ? 1 : 0.35

                    Text {
                        id: backLabel
                        objectName: "tourBackLabel"
                        anchors.centerIn: parent
                        width: Math.min(implicitWidth, parent.width - 16)
                        text: {
                            Lang.uiLanguage
                            return TourSteps.ui().back
                        }
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        color: "#bbbbbb"
                        font.pixelSize: 13
                        font.bold: true
                    }

                    MouseArea {
                        anchors.fill: parent
                        onClicked: root.back()
                    }
                }

                Rectangle {
                    id: nextButton
                    objectName: "tourNext"
                    x: buttonRow.width - width
                    y: buttonRow.buttonsY
                    width: buttonRow.buttonsFit ? nextText.implicitWidth + 32
                                                : (buttonRow.width - buttonRow.spacing) / 2
                    height: buttonRow.buttonHeight
                    radius: 8
                    gradient: Gradient {
                        orientation: Gradient.Horizontal
                        GradientStop { position: 0; color: Theme.gold }
                        GradientStop { position: 1; color: Theme.accent }
                    }

                    Text {
                        id: nextText
                        objectName: "tourNextLabel"
                        anchors.centerIn: parent
                        width: Math.min(implicitWidth, parent.width - 16)
                        text: root.nextLabel
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        color: "#1a1100"
                        font.pixelSize: 13
                        font.bold: true
                    }

                    MouseArea {
                        anchors.fill: parent
                        onClicked: root.next()
                    }
                }
            }
        }
    }
}
