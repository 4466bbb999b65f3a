#include "SettingsStore.h"

#include "TestConfigDir.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <limits>
#include <memory>

namespace {
TestConfigDir* g_configDir = nullptr;
}

class SettingsStoreTest : public QObject {
    Q_OBJECT

private:
    // Throws away every setting so each case starts from a fresh installation.
    static void wipe()
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Orvane", "Tavrix");
        settings.clear();
        settings.sync();
    }

    static QString fileText()
    {
        QFile file(g_configDir->settingsFilePath());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

private slots:
    void init() { wipe(); }

    void freshInstallationGivesDefaults()
    {
        SettingsStore store;
        QCOMPARE(store.getString("session/coach"), QString(""));
        QCOMPARE(store.getString("session/sessionType", "Practice"), QString("Practice"));
        QCOMPARE(store.getInt64("tutorial/seen"), 0);
        QCOMPARE(store.getInt64("tutorial/seen", 7), 7);
        QVERIFY(!store.contains("tutorial/seen"));
    }

    void valuesSurviveANewStoreThroughTheFile()
    {
        const QString player = QString::fromUtf8("Zoë “Ace” Łukasz – 東京");
        const qlonglong big = (qlonglong(1) << 53) + 1;
        {
            SettingsStore store;
            store.setInt64("tutorial/seen", 1);
            store.setString("session/player", player);
            store.setString("session/title", "");
            store.setInt64("referral/aliasSetAt", big);
            store.setInt64("test/max", std::numeric_limits<qlonglong>::max());
            store.setInt64("test/min", std::numeric_limits<qlonglong>::min());
        }
        // The first store is gone: everything must be in the file itself.
        const QString text = fileText();
        QVERIFY2(text.contains("[tutorial]") && text.contains("seen=1"), qPrintable(text));

        QSettings fromFile(g_configDir->settingsFilePath(), QSettings::IniFormat);
        QCOMPARE(fromFile.value("session/player").toString(), player);

        SettingsStore reopened;
        QVERIFY(reopened.contains("tutorial/seen"));
        QCOMPARE(reopened.getInt64("tutorial/seen"), 1);
        QCOMPARE(reopened.getString("session/player"), player);
        QVERIFY(reopened.contains("session/title"));
        QCOMPARE(reopened.getString("session/title", "unused"), QString(""));
        QCOMPARE(reopened.getInt64("referral/aliasSetAt"), big);
        QCOMPARE(reopened.getInt64("test/max"), std::numeric_limits<qlonglong>::max());
        QCOMPARE(reopened.getInt64("test/min"), std::numeric_limits<qlonglong>::min());
    }

    void getInt64ReadsStoredText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<qlonglong>("expected");
        QTest::newRow("decimal") << "42" << qlonglong(42);
        QTest::newRow("negative") << "-5" << qlonglong(-5);
        QTest::newRow("largest") << "9223372036854775807" << std::numeric_limits<qlonglong>::max();
        QTest::newRow("word") << "abc" << qlonglong(0);
        QTest::newRow("number then word") << "12abc" << qlonglong(0);
        QTest::newRow("fraction") << "1.5" << qlonglong(0);
        QTest::newRow("too large") << "9223372036854775808" << qlonglong(0);
        QTest::newRow("empty text") << "" << qlonglong(0);
    }

    void getInt64ReadsStoredText()
    {
        QFETCH(QString, stored);
        QFETCH(qlonglong, expected);
        {
            SettingsStore store;
            store.setString("test/value", stored);
        }
        SettingsStore store;
        // A present key never gives the default, even when it is not a number.
        QCOMPARE(store.getInt64("test/value", 99), expected);
    }

    void getStringOfANumberGivesItsDigits()
    {
        SettingsStore store;
        store.setInt64("tutorial/seen", 1);
        QCOMPARE(store.getString("tutorial/seen"), QString("1"));
    }

    void removeTakesOneKeyOrAWholeGroup()
    {
        {
            SettingsStore store;
            store.setString("session/player", "A");
            store.setString("session/coach", "B");
            store.setString("session/sessionType", "Other");
            store.setInt64("tutorial/seen", 1);
            store.remove("session/coach");
            QVERIFY(!store.contains("session/coach"));
            QVERIFY(store.contains("session/player"));
            store.remove("session");
            QVERIFY(!store.contains("session/player"));
            QVERIFY(!store.contains("session/sessionType"));
            store.remove("no/such/key");
        }
        SettingsStore reopened;
        QVERIFY(!reopened.contains("session/player"));
        QVERIFY(!reopened.contains("session/sessionType"));
        QVERIFY(reopened.contains("tutorial/seen"));
    }

    void removeOfAnEmptyKeyKeepsEverything_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("empty") << "";
        QTest::newRow("slash") << "/";
        QTest::newRow("slashes") << "///";
    }

    void removeOfAnEmptyKeyKeepsEverything()
    {
        QFETCH(QString, key);
        {
            SettingsStore store;
            store.setInt64("tutorial/seen", 1);
            store.setString("session/player", "A");
            store.setString("language/ui", "fr");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("SettingsStore::remove: refusing"));
            store.remove(key);
            QVERIFY(store.contains("tutorial/seen"));
        }
        SettingsStore reopened;
        QVERIFY(reopened.contains("tutorial/seen"));
        QCOMPARE(reopened.getString("session/player"), QString("A"));
        QCOMPARE(reopened.getString("language/ui"), QString("fr"));
    }
};

int main(int argc, char** argv)
{
    TestConfigDir configDir;
    g_configDir = &configDir;
    QCoreApplication app(argc, argv);
    SettingsStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsStoreTest.moc"
