#include "ReferralStore.h"

#include "TestConfigDir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QSettings>
#include <QtTest>

#include <limits>

namespace {
const QString kExcluded = QStringLiteral("0158BILOS");

// The application's settings, as the store opens them.
class AppSettings : public QSettings {
public:
    AppSettings()
        : QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvane", "Tavrix")
    {
    }
};

const QString kOwnCodeMessage = QString::fromUtf8("That’s your own code. Ask your mate for theirs.");
const QString kNotACodeMessage = QString::fromUtf8("That doesn’t look like an invite code. They look like WZ9Z-3WGP.");
}  // namespace

class ReferralStoreTest : public QObject {
    Q_OBJECT

private slots:
    // Each case starts from a fresh installation.
    void init()
    {
        AppSettings settings;
        settings.clear();
        settings.sync();
    }

    void ownCodeIsMadeOnceAndSurvivesANewInstance()
    {
        QString code;
        {
            ReferralStore store;
            QVERIFY(!AppSettings().contains(ReferralStore::kKeyUserCode));
            code = store.userCode();
            QCOMPARE(store.userCode(), code);
        }
        QCOMPARE(code.size(), 9);
        QCOMPARE(code.at(4), QLatin1Char('-'));
        QCOMPARE(ReferralStore().normaliseCode(code), code);
        QCOMPARE(AppSettings().value(ReferralStore::kKeyUserCode).toString(), code);
        QCOMPARE(ReferralStore().userCode(), code);

        // A hand-edited code is returned as it stands, not replaced.
        AppSettings().setValue(ReferralStore::kKeyUserCode, "hand made");
        QCOMPARE(ReferralStore().userCode(), QString("hand made"));
    }

    void codeDrawsCoverTheAlphabetEvenly()
    {
        ReferralStore store;
        AppSettings settings;
        QHash<QChar, int> counts;
        const int codes = 3000;
        for (int i = 0; i < codes; ++i) {
            settings.remove(ReferralStore::kKeyUserCode);
            const QString code = store.userCode();
            QCOMPARE(code.size(), 9);
            QCOMPARE(code.at(4), QLatin1Char('-'));
            for (const QChar c : code) {
                if (c != QLatin1Char('-'))
                    ++counts[c];
            }
        }
        const QString alphabet = QString::fromLatin1(ReferralStore::kAlphabet);
        QCOMPARE(alphabet.size(), 27);
        for (const QChar c : kExcluded)
            QVERIFY2(!counts.contains(c) && !alphabet.contains(c), qPrintable(QString(c)));
        QCOMPARE(counts.size(), 27);
        // 24000 symbols, about 889 each; a biased draw (a modulo over five
        // bits) would give some symbols twice as many.
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            QVERIFY2(alphabet.contains(it.key()), qPrintable(QString(it.key())));
            QVERIFY2(it.value() > 650 && it.value() < 1150,
                     qPrintable(QStringLiteral("%1 drawn %2 times").arg(it.key()).arg(it.value())));
        }
    }

    void normaliseCode_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("printed") << "WZ9Z-3WGP" << "WZ9Z-3WGP";
        QTest::newRow("lower case, no dash") << "wz9z3wgp" << "WZ9Z-3WGP";
        QTest::newRow("separators anywhere") << " w.z 9/z-_3 w\tg,p! " << "WZ9Z-3WGP";
        QTest::newRow("symbols dropped") << QString::fromUtf8("WZ9Z 🎥 3WGP") << "WZ9Z-3WGP";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("seven symbols") << "WZ9Z-3WG" << "";
        QTest::newRow("nine symbols") << "WZ9Z-3WGPA" << "";
        for (const QChar c : kExcluded)
            QTest::addRow("excluded %c", c.toLatin1()) << QStringLiteral("wz9z-3wg") + c.toLower() << "";
        QTest::newRow("accented ninth letter") << QString::fromUtf8("WZ9Z-3WGPé") << "";
        QTest::newRow("letter outside the BMP") << QString::fromUtf8("WZ9Z-3WGP𝐀") << "";
        QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("WZ9Z-3WGP٣") << "";
        QTest::newRow("Kelvin sign for K") << QString::fromUtf8("WZ9Z-3WG\u212A") << "";
    }

    void normaliseCode()
    {
        QFETCH(QString, raw);
        QFETCH(QString, expected);
        QCOMPARE(ReferralStore().normaliseCode(raw), expected);
    }

    void findCodeIn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("lower case in a sentence")
            << "Train with me on Tavrix! Use my code wz9z-3wgp when you start." << "WZ9Z-3WGP";
        QTest::newRow("eight in a row") << "code:WZ9Z3WGP." << "WZ9Z-3WGP";
        QTest::newRow("leftmost eight of nine") << "WZ9Z3WGPA" << "WZ9Z-3WGP";
        QTest::newRow("whole text is a code") << "wz9-z3wgp" << "WZ9Z-3WGP";
        QTest::newRow("nothing") << "Hello there, my friend" << "";
        QTest::newRow("too short") << "ABCD-EFG" << "";
        QTest::newRow("separated halves") << "ACDE and FGHJ" << "";
        // Words made only of code symbols must not win over a real code.
        QTest::newRow("underwater")
            << "Come train underwater with me! Code: WZ9Z-3WGP" << "WZ9Z-3WGP";
        QTest::newRow("Hunderte")
            << QString::fromUtf8("Hunderte Sportler nutzen Tavrix. Mein Code: wz9z-3wgp") << "WZ9Z-3WGP";
        QTest::newRow("mantener") << "Para mantener la racha usa WZ9Z-3WGP" << "WZ9Z-3WGP";
        QTest::newRow("dash inside a longer run")
            << "UNDERWATER-RACE tomorrow, code 7QXM-4HCR" << "7QXM-4HCR";
        QTest::newRow("code at both ends of the text") << "7QXM-4HCR" << "7QXM-4HCR";
        // A lone word is still taken when nothing better stands in the text.
        QTest::newRow("only a word") << "underwater" << "UNDE-RWAT";
        // U+212A must not pass for K and end the search early.
        QTest::newRow("Kelvin signs before a code")
            << QString::fromUtf8("\u212A\u212A\u212A\u212A-\u212A\u212A\u212A\u212A then wz9z3wgp") << "WZ9Z-3WGP";
        QTest::newRow("Kelvin signs alone") << QString::fromUtf8("\u212A\u212A\u212A\u212A\u212A\u212A\u212A\u212A") << "";
    }

    void findCodeIn()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ReferralStore().findCodeIn(text), expected);
    }

    void inviterCodeIsStoredPrintedAndCreatesTheOwnCodeFirst()
    {
        ReferralStore store;
        QVERIFY(store.shouldAskForInviteCode());
        QVariantMap result = store.setInvitedBy("nonsense");
        QCOMPARE(result.value("ok").toBool(), false);
        QCOMPARE(result.value("error").toString(), kNotACodeMessage);
        QVERIFY(store.shouldAskForInviteCode());
        QVERIFY(!AppSettings().contains(ReferralStore::kKeyInvitedBy));
        QVERIFY(!AppSettings().contains(ReferralStore::kKeyInvitedByAsked));

        result = store.setInvitedBy("wz9z 3wgp");
        QCOMPARE(result.value("ok").toBool(), true);
        QCOMPARE(result.value("code").toString(), QString("WZ9Z-3WGP"));
        QVERIFY(AppSettings().contains(ReferralStore::kKeyUserCode));
        QCOMPARE(ReferralStore().invitedByCode(), QString("WZ9Z-3WGP"));
        QVERIFY(!ReferralStore().shouldAskForInviteCode());
        QCOMPARE(AppSettings().value(ReferralStore::kKeyInvitedByAsked).toBool(), true);
    }

    void ownCodeIsRefusedInAnySpelling()
    {
        ReferralStore store;
        const QString own = store.userCode();
        QString spaced = own.toLower();
        spaced.replace("-", " ").insert(2, " . ");
        for (const QString& raw : {own, own.toLower(), spaced}) {
            const QVariantMap result = store.setInvitedBy(raw);
            QCOMPARE(result.value("ok").toBool(), false);
            QCOMPARE(result.value("error").toString(), kOwnCodeMessage);
        }
        QVERIFY(store.shouldAskForInviteCode());
        QCOMPARE(store.invitedByCode(), QString());
        QVERIFY(!AppSettings().contains(ReferralStore::kKeyInvitedByAsked));

        // A good code after the refusals is taken, and a later one replaces it.
        const QString other = own.startsWith('2') ? QStringLiteral("3333-3333") : QStringLiteral("2222-2222");
        QCOMPARE(store.setInvitedBy(other).value("ok").toBool(), true);
        QCOMPARE(store.setInvitedBy("7QXM4HCR").value("code").toString(), QString("7QXM-4HCR"));
        QCOMPARE(store.invitedByCode(), QString("7QXM-4HCR"));
    }

    void validateAlias_data()
    {
        const QString atLeast = "Aliases need at least 3 characters.";
        const QString atMost = "Aliases can be at most 16 characters.";
        const QString shape = "Use letters and numbers only, with single spaces, hyphens or underscores between them.";
        const QString contact = QString::fromUtf8(
            "That looks like contact details. Your alias is public — pick something that is not an email, "
            "phone number or web address.");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two letters") << "ab" << atLeast;
        QTest::newRow("three letters padded") << "  abc  " << "";
        QTest::newRow("seventeen") << "abcdefghijklmnopq" << atMost;
        QTest::newRow("two blanks") << "ab  cd" << shape;
        QTest::newRow("trailing hyphen") << "abc-" << shape;
        QTest::newRow("non-ASCII letter") << QString::fromUtf8("Zoë") << shape;
        QTest::newRow("seven digits") << "abc 1234567" << contact;
        QTest::newRow("six scattered digits") << "a1b2c3d4e5f6" << "";
        QTest::newRow("www between blanks") << "my www site" << contact;
        QTest::newRow("www after a hyphen") << "my-www-site" << contact;
        QTest::newRow("www after an underscore") << "my_www_site" << "";
        QTest::newRow("HTTPS in capitals") << "Go HTTPS Kid" << contact;
    }

    void validateAlias()
    {
        QFETCH(QString, raw);
        QFETCH(QString, expected);
        QCOMPARE(ReferralStore().validateAlias(raw), expected);
    }

    void aliasIsStoredTrimmedAndARefusalStoresNothing()
    {
        ReferralStore store;
        const QVariantMap saved = store.saveAlias("  Backyard Baller  ").value("state").toMap();
        QCOMPARE(saved.value("alias").toString(), QString("Backyard Baller"));
        QCOMPARE(AppSettings().value(ReferralStore::kKeyAliasSetAt).toLongLong(),
                 qint64(saved.value("setAt").toDouble()));
        QCOMPARE(store.saveAlias("x").value("ok").toBool(), false);
        QCOMPARE(ReferralStore().aliasState(), saved);
        QCOMPARE(store.clearAlias(), QVariantMap({{"ok", true}}));
        QCOMPARE(store.clearAlias(), QVariantMap({{"ok", true}}));
        QVERIFY(!AppSettings().contains(ReferralStore::kKeyAliasSetAt));
    }

    void aliasWithoutATimeReadsAsNone_data()
    {
        QTest::addColumn<QVariant>("setAt");
        QTest::newRow("absent") << QVariant();
        QTest::newRow("zero") << QVariant(0);
        QTest::newRow("not a number") << QVariant("yesterday");
    }

    void aliasWithoutATimeReadsAsNone()
    {
        QFETCH(QVariant, setAt);
        AppSettings settings;
        settings.setValue(ReferralStore::kKeyAlias, "Ace");
        if (setAt.isValid())
            settings.setValue(ReferralStore::kKeyAliasSetAt, setAt);
        settings.sync();
        ReferralStore store;
        const QVariantMap expected{{"alias", ""}, {"setAt", 0}, {"canChange", true}, {"daysUntilChange", 0}};
        QCOMPARE(store.aliasState(), expected);
        QCOMPARE(store.unlockDate(), QString());
    }

    void unlockDateIsHalfAYearLaterAndSafeAgainstEditedTimes()
    {
        AppSettings settings;
        const QDateTime savedAt(QDate(2025, 3, 1), QTime(12, 0));
        settings.setValue(ReferralStore::kKeyAliasSetAt, savedAt.toMSecsSinceEpoch());
        settings.sync();
        // 182 days after 1 March is 30 August.
        QCOMPARE(ReferralStore().unlockDate(), QLocale::system().toString(QDate(2025, 8, 30), QLocale::LongFormat));

        // Hand-edited times near the top of the range would overflow the sum.
        for (const qint64 edited : {std::numeric_limits<qint64>::max(),
                                    std::numeric_limits<qint64>::max() - ReferralStore::kAliasLockMs + 1}) {
            settings.setValue(ReferralStore::kKeyAliasSetAt, edited);
            settings.sync();
            QCOMPARE(ReferralStore().unlockDate(), QString());
        }
    }
};

int main(int argc, char** argv)
{
    TestConfigDir configDir;
    QCoreApplication app(argc, argv);
    ReferralStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ReferralStoreTest.moc"
