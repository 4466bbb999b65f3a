#pragma once

// Points XDG_CONFIG_HOME at a fresh temporary directory for the life of the
// object. Qt reads that variable once, on the first settings access, so make
// one of these at the start of main, before the application object.

#include <QString>
#include <QTemporaryDir>

class TestConfigDir {
public:
    TestConfigDir();

    QString path() const { return m_dir.path(); }
    // The file Qt writes the application's settings to.
    QString settingsFilePath() const;

private:
    QTemporaryDir m_dir;
};
