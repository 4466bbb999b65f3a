.pragma library

// The seven ways a session divides the screen into panels, in tile order
// (which is also the order variants of one panel count cycle in). Boxes are
// fractions of the panel area, origin top left, y downward, listed in reading
// order; together they cover the area without overlap. Shared and stateless:
// it cannot see `Lang`, so a binding that shows layoutLabel() must also read
// Lang.uiLanguage to be evaluated again after a language change.

var THIRD = 1 / 3;
var EPS = 0.001;

function box(x, y, w, h) {
    return Object.freeze({ x: x, y: y, w: w, h: h });
}

function layoutRecord(id, boxes) {
    return Object.freeze({ id: id, count: boxes.length, boxes: Object.freeze(boxes) });
}

// Frozen: every caller shares these records, so none may change them.
var LAYOUT_SPECS = Object.freeze([
    layoutRecord("1", [box(0, 0, 1, 1)]),
    layoutRecord("2-side", [box(0, 0, 0.5, 1), box(0.5, 0, 0.5, 1)]),
    layoutRecord("2-stack", [box(0, 0, 1, 0.5), box(0, 0.5, 1, 0.5)]),
    layoutRecord("3-top", [box(0, 0, 0.5, 0.5), box(0.5, 0, 0.5, 0.5), box(0, 0.5, 1, 0.5)]),
    layoutRecord("3-bottom", [box(0, 0, 1, 0.5), box(0, 0.5, 0.5, 0.5), box(0.5, 0.5, 0.5, 0.5)]),
    // The last box is 1 - 2 * THIRD wide so the row ends exactly at 1.
    layoutRecord("3-row", [box(0, 0, THIRD, 1), box(THIRD, 0, THIRD, 1), box(2 * THIRD, 0, 1 - 2 * THIRD, 1)]),
    layoutRecord("4-grid", [box(0, 0, 0.5, 0.5), box(0.5, 0, 0.5, 0.5), box(0, 0.5, 0.5, 0.5), box(0.5, 0.5, 0.5, 0.5)])
]);

// The record of `id` (strict comparison); layout "1" for any unknown id.
function specFor(id) {
    for (var i = 0; i < LAYOUT_SPECS.length; ++i) {
        if (LAYOUT_SPECS[i].id === id)
            return LAYOUT_SPECS[i];
    }
    return LAYOUT_SPECS[0];
}

function panelCountFor(id) {
    return specFor(id).count;
}

// Box `index` of the layout; its last box for an index it does not have.
function panelBox(id, index) {
    var boxes = specFor(id).boxes;
    if (Number.isInteger(index) && index >= 0 && index < boxes.length)
        return boxes[index];
    return boxes[boxes.length - 1];
}

// The layout's name in the current interface language.
function layoutLabel(id) {
    switch (specFor(id).id) {
    default:
    case "1":
        //: Layout tile name: a single full-size screen
        return qsTr("1 Screen");
    case "2-side":
        //: Layout tile name: two screens next to each other
        return qsTr("2 Side by Side");
    case "2-stack":
        //: Layout tile name: two screens one above the other
        return qsTr("2 Stacked");
    case "3-top":
        //: Layout tile name: three screens, two on the top row and one below
        return qsTr("3 — 2 Above");
    case "3-bottom":
        //: Layout tile name: three screens, one on the top row and two below
        return qsTr("3 — 1 Above");
    case "3-row":
        //: Layout tile name: three screens in one row
        return qsTr("3 Across");
    case "4-grid":
        //: Layout tile name: four screens in a 2 by 2 grid
        return qsTr("4 Screens");
    }
}

// The ids with `count` panels in table order; empty for any other count.
function variantsFor(count) {
    var ids = [];
    for (var i = 0; i < LAYOUT_SPECS.length; ++i) {
        if (LAYOUT_SPECS[i].count === count)
            ids.push(LAYOUT_SPECS[i].id);
    }
    return ids;
}

// The variant after `id` among those of its panel count, wrapping around.
function nextVariant(id) {
    var current = specFor(id);
    var ids = variantsFor(current.count);
    return ids[(ids.indexOf(current.id) + 1) % ids.length];
}

// The first variant of `count` panels; undefined when there is none.
function defaultLayoutFor(count) {
    return variantsFor(count)[0];
}

function isTopRowPanel(id, index) {
    return panelBox(id, index).y <= EPS;
}

function isBottomRowPanel(id, index) {
    var b = panelBox(id, index);
    return b.y + b.h >= 1 - EPS;
}
