#pragma once

// Persistent key-value settings for the scene, the singleton `Store`: a thin
// wrapper over the application's Qt settings ("Orvane"/"Tavrix", native
// format; on Linux a text file under the user's configuration directory).
// Keys are "group/name"; values are strings or 64-bit integers. GUI thread only.

#include <QObject>
#include <QSettings>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

class SettingsStore : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Store)
    QML_SINGLETON

public:
    explicit SettingsStore(QObject* parent = nullptr);

    // Factory the QML engine calls on first use; the engine owns the result.
    static SettingsStore* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

    // The stored value as text, or defaultValue when the key is absent.
    Q_INVOKABLE QString getString(const QString& key, const QString& defaultValue = QString()) const;
    Q_INVOKABLE void setString(const QString& key, const QString& value);

    // The stored value as a 64-bit integer, defaultValue when the key is
    // absent, 0 when the stored value is not a number.
    Q_INVOKABLE qlonglong getInt64(const QString& key, qlonglong defaultValue = 0) const;
    Q_INVOKABLE void setInt64(const QString& key, qlonglong value);

    Q_INVOKABLE bool contains(const QString& key) const;

    // Removes the key, or every key under a group name. A key that names no
    // group or entry (empty, or only slashes) is refused: Qt would read it as
    // "everything" and empty the whole settings file.
    Q_INVOKABLE void remove(const QString& key);

private:
    QSettings m_settings;
};
