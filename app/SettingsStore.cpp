#include "SettingsStore.h"

#include "AppNames.h"

#include <QDebug>
#include <QVariant>

namespace {

bool namesNothing(const QString& key)
{
    for (const QChar c : key) {
        if (c != QLatin1Char('/'))
            return false;
    }
    return true;
}

}  // namespace

SettingsStore::SettingsStore(QObject* parent)
    : QObject(parent)
    , m_settings(QSettings::NativeFormat, QSettings::UserScope,
                 QString::fromLatin1(tavrix::kOrganisationName),
                 QString::fromLatin1(tavrix::kApplicationName))
{
}

SettingsStore* SettingsStore::create(QQmlEngine*, QJSEngine*)
{
    return new SettingsStore();
}

QString SettingsStore::getString(const QString& key, const QString& defaultValue) const
{
    const QVariant value = m_settings.value(key);
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void SettingsStore::setString(const QString& key, const QString& value)
{
    m_settings.setValue(key, value);
}

qlonglong SettingsStore::getInt64(const QString& key, qlonglong defaultValue) const
{
    const QVariant value = m_settings.value(key);
    if (!value.isValid())
        return defaultValue;
    bool isNumber = false;
    const qlonglong number = value.toLongLong(&isNumber);
    return isNumber ? number : 0;
}

void SettingsStore::setInt64(const QString& key, qlonglong value)
{
    m_settings.setValue(key, value);
}

bool SettingsStore::contains(const QString& key) const
{
    return m_settings.contains(key);
}

void SettingsStore::remove(const QString& key)
{
    if (namesNothing(key)) {
        qWarning("SettingsStore::remove: refusing an empty key (it would remove every setting)");
        return;
    }
    m_settings.remove(key);
}
