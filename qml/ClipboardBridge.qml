import QtQuick
import Tavrix

// Plain-text access to the system clipboard through a hidden text editor.
// The editor is emptied after every call, so no copied text stays here.
Item {
    id: root

    function copyText(value) {
        const text = value === undefined || value === null ? "" : String(value)
        if (text.length === 0) {
            // An editor copies only a selection, and an empty text has none.
            ClipboardHelper.putEmptyText()
            return
        }
        editor.text = text
        editor.selectAll()
        editor.copy()
        editor.clear()
    }

    function pasteText() {
        editor.clear()
        editor.paste()
        const result = editor.text
        editor.clear()
        return result
    }

    width: 0
    height: 0
    visible: false

    TextEdit {
        id: editor
        objectName: "clipboardEditor"
        textFormat: TextEdit.PlainText
        visible: false
    }
}
