.pragma library

// The layers that cover the screen now, by level and then in the order they
// opened; the last one keeps the keyboard. Shared by every ModalLayer of one
// QML engine.
var shown = []

function update() {
    for (let i = 0; i < shown.length; ++i)
        shown[i].onTop = i === shown.length - 1
}

function raise(layer) {
    lower(layer)
    let index = shown.length
    while (index > 0 && shown[index - 1].level > layer.level)
        --index
    shown.splice(index, 0, layer)
    update()
}

function lower(layer) {
    const index = shown.indexOf(layer)
    if (index >= 0)
        shown.splice(index, 1)
    layer.onTop = false
    update()
}

// For a layer being destroyed: out of the stack now, the others follow on
// the next turn of the event loop. Changing them from inside a destruction
// would run their bindings while the tree around them is torn down.
function remove(layer) {
    const index = shown.indexOf(layer)
    if (index < 0)
        return
    shown.splice(index, 1)
    Qt.callLater(update)
}

// A drop-down list that opened: the layer on top lets it take the keys.
function popupShown(popup) {
    if (shown.length > 0)
        shown[shown.length - 1].yieldToPopup(popup)
}
