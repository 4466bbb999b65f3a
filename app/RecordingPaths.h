#pragma once

// File names for new recordings, the singleton `RecordingPaths`: a name that
// is already taken on disk is never handed out again, so a new recording
// cannot overwrite an older one (two recordings named for the same second
// after the clock went back). GUI thread only.

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

class RecordingPaths : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    // The most " (n)" names tried before giving up.
    static constexpr int kMaxNumber = 9999;

    explicit RecordingPaths(QObject* parent = nullptr);

    static RecordingPaths* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

    // `path` when nothing exists there (a dangling link counts as taken);
    // else the same name with " (2)", " (3)", ... before its extension (the
    // last "." of the file name; none: at the end), the first one free.
    // Empty when path is empty or kMaxNumber names are all taken.
    Q_INVOKABLE QString unusedPath(const QString& path) const;
};
