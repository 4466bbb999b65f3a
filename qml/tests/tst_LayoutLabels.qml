import QtQuick
import QtTest
import Tavrix

TestCase {
    id: testCase

    name: "LayoutLabels"

    readonly property var ids: ["1", "2-side", "2-stack", "3-top", "3-bottom", "3-row", "4-grid"]

    // A tile name bound the way the screens bind it: reading Lang.uiLanguage
    // makes the binding run again after a language change.
    Text {
        id: tileName
        text: {
            Lang.uiLanguage
            return Layouts.layoutLabel("3-top")
        }
    }

    // A translated text of the document itself; the engine's retranslation
    // alone must refresh it.
    Text {
        id: translated
        text: qsTranslate("Layouts", "4 Screens")
    }

    function cleanup() {
        Lang.setUiLanguage("en")
    }

    function test_labels_data() {
        return [
            { tag: "en", labels: ["1 Screen", "2 Side by Side", "2 Stacked", "3 — 2 Above", "3 — 1 Above", "3 Across", "4 Screens"] },
            { tag: "fr", labels: ["1 écran", "2 côte à côte", "2 superposés", "3 — 2 en haut", "3 — 1 en haut", "3 en ligne", "4 écrans"] },
            { tag: "de", labels: ["1 Bildschirm", "2 nebeneinander", "2 übereinander", "3 — 2 oben", "3 — 1 oben", "3 in einer Reihe", "4 Bildschirme"] },
            { tag: "es", labels: ["1 pantalla", "2 lado a lado", "2 apiladas", "3 — 2 arriba", "3 — 1 arriba", "3 en fila", "4 pantallas"] },
            { tag: "it", labels: ["1 schermo", "2 affiancati", "2 in colonna", "3 — 2 sopra", "3 — 1 sopra", "3 in fila", "4 schermi"] },
            { tag: "nl", labels: ["1 scherm", "2 naast elkaar", "2 boven elkaar", "3 — 2 boven", "3 — 1 boven", "3 op een rij", "4 schermen"] }
        ]
    }

    function test_labels(data) {
        if (data.tag !== "en") {
            Lang.setUiLanguage("en")
            compare(tileName.text, "3 — 2 Above")
        }
        Lang.setUiLanguage(data.tag)
        compare(Lang.uiLanguage, data.tag)
        for (let i = 0; i < ids.length; ++i)
            compare(Layouts.layoutLabel(ids[i]), data.labels[i], ids[i])
        compare(tileName.text, data.labels[3])
        compare(translated.text, data.labels[6])
        // Ids are data: they never change with the language.
        compare(Layouts.LAYOUT_SPECS.map(s => s.id), ids)
        compare(Layouts.nextVariant("3-top"), "3-bottom")
    }

    function test_emDashIsTheRealOne() {
        compare(Layouts.layoutLabel("3-bottom").charCodeAt(2), 0x2014)
        compare(Layouts.layoutLabel("3-bottom").charAt(1), " ")
        compare(Layouts.layoutLabel("3-bottom").charAt(3), " ")
    }
}
