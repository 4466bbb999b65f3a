#pragma once

// What the QML clipboard bridge cannot do with its text editor: put an empty
// text on the system clipboard (an editor only copies a non-empty selection).
// GUI thread only.

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

class ClipboardHelper : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit ClipboardHelper(QObject* parent = nullptr);

    static ClipboardHelper* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

    // Replaces the clipboard's content with an empty plain text.
    Q_INVOKABLE void putEmptyText();
};
