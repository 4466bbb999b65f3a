#include "TestConfigDir.h"

#include <QtGlobal>

TestConfigDir::TestConfigDir()
{
    qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
}

QString TestConfigDir::settingsFilePath() const
{
    return m_dir.path() + QStringLiteral("/Orvane/Tavrix.conf");
}
