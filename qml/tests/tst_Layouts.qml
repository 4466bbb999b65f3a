import QtQuick
import QtTest
import Tavrix

TestCase {
    name: "Layouts"

    readonly property var allIds: ["1", "2-side", "2-stack", "3-top", "3-bottom", "3-row", "4-grid"]

    function boxArray(b) {
        return [b.x, b.y, b.w, b.h]
    }

    function test_tableOrderAndCounts() {
        const ids = Layouts.LAYOUT_SPECS.map(s => s.id)
        compare(ids, allIds)
        compare(Layouts.LAYOUT_SPECS.map(s => s.count), [1, 2, 2, 3, 3, 3, 4])
        for (const s of Layouts.LAYOUT_SPECS)
            compare(s.boxes.length, s.count, s.id)
    }

    function test_boxes_data() {
        const t = Layouts.THIRD
        return [
            { tag: "1", boxes: [[0, 0, 1, 1]] },
            { tag: "2-side", boxes: [[0, 0, 0.5, 1], [0.5, 0, 0.5, 1]] },
            { tag: "2-stack", boxes: [[0, 0, 1, 0.5], [0, 0.5, 1, 0.5]] },
            { tag: "3-top", boxes: [[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 1, 0.5]] },
            { tag: "3-bottom", boxes: [[0, 0, 1, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]] },
            { tag: "3-row", boxes: [[0, 0, t, 1], [t, 0, t, 1], [2 * t, 0, 1 - 2 * t, 1]] },
            { tag: "4-grid", boxes: [[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]] }
        ]
    }

    function test_boxes(data) {
        compare(Layouts.panelCountFor(data.tag), data.boxes.length)
        for (let i = 0; i < data.boxes.length; ++i)
            compare(boxArray(Layouts.panelBox(data.tag, i)), data.boxes[i], data.tag + " box " + i)
    }

    // The boxes cover the unit square exactly: each inside it, no two
    // overlapping, areas adding up to 1; listed in reading order.
    function test_boxesTileTheArea_data() {
        return allIds.map(id => ({ tag: id }))
    }

    function test_boxesTileTheArea(data) {
        const boxes = Layouts.specFor(data.tag).boxes
        let area = 0
        for (let i = 0; i < boxes.length; ++i) {
            const a = boxes[i]
            verify(a.x >= 0 && a.y >= 0 && a.w > 0 && a.h > 0, "box " + i)
            verify(a.x + a.w <= 1 && a.y + a.h <= 1, "box " + i + " inside")
            area += a.w * a.h
            for (let j = i + 1; j < boxes.length; ++j) {
                const b = boxes[j]
                const overlapW = Math.min(a.x + a.w, b.x + b.w) - Math.max(a.x, b.x)
                const overlapH = Math.min(a.y + a.h, b.y + b.h) - Math.max(a.y, b.y)
                verify(overlapW <= 1e-12 || overlapH <= 1e-12, "boxes " + i + " and " + j + " overlap")
                verify(b.y > a.y || (b.y === a.y && b.x > a.x), "box " + j + " out of reading order")
            }
        }
        fuzzyCompare(area, 1, 1e-12)
    }

    function test_threeRowEndsExactlyAtOne() {
        const last = Layouts.panelBox("3-row", 2)
        verify(last.x + last.w === 1)
        verify(last.w > Layouts.THIRD)
    }

    function test_variants_data() {
        return [
            { tag: "1", count: 1, variants: ["1"], first: "1" },
            { tag: "2", count: 2, variants: ["2-side", "2-stack"], first: "2-side" },
            { tag: "3", count: 3, variants: ["3-top", "3-bottom", "3-row"], first: "3-top" },
            { tag: "4", count: 4, variants: ["4-grid"], first: "4-grid" },
            { tag: "0", count: 0, variants: [], first: undefined },
            { tag: "5", count: 5, variants: [], first: undefined },
            { tag: "-1", count: -1, variants: [], first: undefined },
            { tag: "2.5", count: 2.5, variants: [], first: undefined },
            { tag: "text 2", count: "2", variants: [], first: undefined }
        ]
    }

    function test_variants(data) {
        compare(Layouts.variantsFor(data.count), data.variants)
        verify(Layouts.defaultLayoutFor(data.count) === data.first)
        // Cycling from the first variant visits each once and wraps around.
        const variants = data.variants
        for (let i = 0; i < variants.length; ++i)
            compare(Layouts.nextVariant(variants[i]), variants[(i + 1) % variants.length])
    }

    function test_unknownIdsActAsSingleScreen_data() {
        return [
            { tag: "x", id: "x" },
            { tag: "capital S", id: "2-Side" },
            { tag: "empty", id: "" },
            { tag: "number 2", id: 2 },
            { tag: "number 1", id: 1 },
            { tag: "padded", id: " 1 " },
            { tag: "undefined", id: undefined },
            { tag: "null", id: null }
        ]
    }

    function test_unknownIdsActAsSingleScreen(data) {
        verify(Layouts.specFor(data.id) === Layouts.LAYOUT_SPECS[0])
        compare(Layouts.panelCountFor(data.id), 1)
        compare(Layouts.layoutLabel(data.id), "1 Screen")
        compare(Layouts.nextVariant(data.id), "1")
        compare(boxArray(Layouts.panelBox(data.id, 0)), [0, 0, 1, 1])
    }

    function test_missingIndexGivesLastBox_data() {
        return [
            { tag: "2-side at 5", id: "2-side", index: 5, box: [0.5, 0, 0.5, 1] },
            { tag: "2-side at -1", id: "2-side", index: -1, box: [0.5, 0, 0.5, 1] },
            { tag: "4-grid at 1.5", id: "4-grid", index: 1.5, box: [0.5, 0.5, 0.5, 0.5] },
            { tag: "4-grid at undefined", id: "4-grid", index: undefined, box: [0.5, 0.5, 0.5, 0.5] },
            { tag: "4-grid at text 1", id: "4-grid", index: "1", box: [0.5, 0.5, 0.5, 0.5] },
            { tag: "4-grid at NaN", id: "4-grid", index: NaN, box: [0.5, 0.5, 0.5, 0.5] },
            { tag: "3-top at 3", id: "3-top", index: 3, box: [0, 0.5, 1, 0.5] },
            { tag: "unknown id at 1", id: "x", index: 1, box: [0, 0, 1, 1] }
        ]
    }

    function test_missingIndexGivesLastBox(data) {
        compare(boxArray(Layouts.panelBox(data.id, data.index)), data.box)
    }

    function test_rowEdges_data() {
        return [
            { tag: "1", top: [true], bottom: [true] },
            { tag: "2-side", top: [true, true], bottom: [true, true] },
            { tag: "2-stack", top: [true, false], bottom: [false, true] },
            { tag: "3-top", top: [true, true, false], bottom: [false, false, true] },
            { tag: "3-bottom", top: [true, false, false], bottom: [false, true, true] },
            { tag: "3-row", top: [true, true, true], bottom: [true, true, true] },
            { tag: "4-grid", top: [true, true, false, false], bottom: [false, false, true, true] }
        ]
    }

    function test_rowEdges(data) {
        for (let i = 0; i < data.top.length; ++i) {
            compare(Layouts.isTopRowPanel(data.tag, i), data.top[i], "top " + i)
            compare(Layouts.isBottomRowPanel(data.tag, i), data.bottom[i], "bottom " + i)
        }
    }

    function test_rowEdgesPastTheLastIndex() {
        verify(Layouts.isTopRowPanel("3-row", 7))
        verify(!Layouts.isTopRowPanel("2-stack", 1))
        verify(!Layouts.isTopRowPanel("4-grid", 9))
        verify(Layouts.isBottomRowPanel("4-grid", 9))
    }

    function test_sharedTableCannotBeChanged() {
        const box = Layouts.panelBox("2-side", 0)
        try {
            box.w = 0.9
        } catch (e) {
            // strict code throws; either way the table must keep its value
        }
        try {
            Layouts.LAYOUT_SPECS[0].count = 3
        } catch (e) {
        }
        compare(Layouts.panelBox("2-side", 0).w, 0.5)
        compare(Layouts.panelCountFor("1"), 1)
    }
}
