.pragma library

// Scrolls a Flickable so that `item`, somewhere inside its content, is in
// view with `margin` to spare. An item outside the content is left alone.
function reveal(flickable, item, margin) {
    if (!flickable || !item)
        return
    const content = flickable.contentItem
    let inside = false
    for (let it = item.parent; it; it = it.parent) {
        if (it === content) {
            inside = true
            break
        }
    }
    if (!inside)
        return
    const top = item.mapToItem(content, 0, 0).y - margin
    const bottom = top + item.height + 2 * margin
    const maxY = Math.max(0, flickable.contentHeight - flickable.height)
    let y = flickable.contentY
    if (bottom > y + flickable.height)
        y = bottom - flickable.height
    if (top < y)
        y = top
    flickable.contentY = Math.max(0, Math.min(maxY, y))
}

// The same for a rectangle in the content's coordinates (a text cursor).
function revealRect(flickable, rect, margin) {
    const maxY = Math.max(0, flickable.contentHeight - flickable.height)
    let y = flickable.contentY
    if (rect.y + rect.height + margin > y + flickable.height)
        y = rect.y + rect.height + margin - flickable.height
    if (rect.y - margin < y)
        y = rect.y - margin
    flickable.contentY = Math.max(0, Math.min(maxY, y))
}
