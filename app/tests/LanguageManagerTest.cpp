#include "LanguageManager.h"

#include "AppNames.h"
#include "CardWords.h"
#include "TestConfigDir.h"

#include <QCoreApplication>
#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QtTest>

namespace {

// What the system reports as its interface languages in this program: the
// first is unsupported, so detection must take the second.
constexpr char kSystemLanguages[] = "pt_BR:it_IT";

QSettings appSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Orvane", "Tavrix");
}

void store(const char* key, const QString& value)
{
    QSettings settings = appSettings();
    if (value.isNull())
        settings.remove(key);
    else
        settings.setValue(key, value);
    settings.sync();
}

QString stored(const char* key)
{
    return appSettings().value(key).toString();
}

// Records the order of the two change signals.
struct SignalLog {
    explicit SignalLog(LanguageManager& lang)
    {
        QObject::connect(&lang, &LanguageManager::uiLanguageChanged, [this] { names << "ui"; });
        QObject::connect(&lang, &LanguageManager::cardLanguageChanged, [this] { names << "card"; });
    }
    QStringList names;
};

QString engineWord(std::string lagwell::CardStrings::*field)
{
    return QString::fromStdString(lagwell::currentCardStrings().*field);
}

}  // namespace

class LanguageManagerTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QSettings settings = appSettings();
        settings.clear();
        settings.sync();
        qunsetenv("TAVRIX_LANG");
        lagwell::setCardStrings({});
    }

    void codeFromLocaleName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        QTest::newRow("fr_CA") << "fr_CA" << "fr";
        QTest::newRow("FR") << "FR" << "fr";
        QTest::newRow("fr-FR") << "fr-FR" << "fr";
        QTest::newRow("de_DE.UTF-8") << "de_DE.UTF-8" << "de";
        QTest::newRow("Nl") << "Nl" << "nl";
        QTest::newRow("es") << "es" << "es";
        QTest::newRow("it_CH") << "it_CH" << "it";
        QTest::newRow("en_GB") << "en_GB" << "en";
        QTest::newRow("pt_BR") << "pt_BR" << "";
        QTest::newRow("one letter") << "f" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("C locale") << "C" << "";
    }

    void codeFromLocaleName()
    {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(LanguageManager::codeFromLocaleName(name), code);
    }

    void codeFromLocaleListTakesFirstSupported_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("code");
        QTest::newRow("none") << QStringList{} << "en";
        QTest::newRow("only unsupported") << QStringList{"pt_BR", "ja_JP", "C"} << "en";
        QTest::newRow("second supported") << QStringList{"pt-BR", "nl-NL", "de"} << "nl";
        QTest::newRow("first supported") << QStringList{"es-MX", "fr"} << "es";
    }

    void codeFromLocaleListTakesFirstSupported()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, code);
        QCOMPARE(LanguageManager::codeFromLocaleList(names), code);
    }

    void systemLanguageSkipsUnsupportedEntries()
    {
        LanguageManager lang;
        QCOMPARE(lang.detectSystemLanguage(), QString("it"));
    }

    void supportedCodesAndLanguagesInTableOrder()
    {
        QCOMPARE(LanguageManager::supportedCodes(), (QStringList{"en", "fr", "de", "es", "it", "nl"}));
        LanguageManager lang;
        const QVariantList languages = lang.languages();
        const QStringList names{"English", "Français", "Deutsch", "Español", "Italiano", "Nederlands"};
        QCOMPARE(languages.size(), 6);
        for (int i = 0; i < languages.size(); ++i) {
            const QVariantMap entry = languages[i].toMap();
            QCOMPARE(entry.value("code").toString(), LanguageManager::supportedCodes()[i]);
            QCOMPARE(entry.value("name").toString(), names[i]);
        }
    }

    void initDetectsLanguages_data()
    {
        QTest::addColumn<QString>("env");  // null: TAVRIX_LANG unset
        QTest::addColumn<QString>("storedUi");
        QTest::addColumn<QString>("storedCard");
        QTest::addColumn<QString>("ui");
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("follows");
        const QString none;
        QTest::newRow("environment wins over stored") << "de_DE" << "fr" << none << "de" << "de" << true;
        QTest::newRow("unsupported environment, stored") << "pt" << "fr" << none << "fr" << "fr" << true;
        QTest::newRow("unsupported environment, system") << "pt" << none << none << "it" << "it" << true;
        QTest::newRow("empty environment, stored") << "" << "nl" << none << "nl" << "nl" << true;
        QTest::newRow("stored only") << none << "es" << none << "es" << "es" << true;
        QTest::newRow("stored unsupported, system") << none << "xx" << none << "it" << "it" << true;
        QTest::newRow("stored in other case") << none << "FR_fr" << none << "fr" << "fr" << true;
        QTest::newRow("card of its own") << none << "fr" << "es" << "fr" << "es" << false;
        QTest::newRow("environment and own card") << "nl" << "fr" << "de" << "nl" << "de" << false;
        QTest::newRow("unsupported card follows") << none << "fr" << "zz" << "fr" << "fr" << true;
    }

    void initDetectsLanguages()
    {
        QFETCH(QString, env);
        QFETCH(QString, storedUi);
        QFETCH(QString, storedCard);
        QFETCH(QString, ui);
        QFETCH(QString, card);
        QFETCH(bool, follows);
        if (!env.isNull())
            qputenv("TAVRIX_LANG", env.toUtf8());
        store(tavrix::kKeyLanguageUi, storedUi);
        store(tavrix::kKeyLanguageCard, storedCard);

        LanguageManager lang;
        SignalLog log(lang);
        lang.init(nullptr);
        QCOMPARE(lang.uiLanguage(), ui);
        QCOMPARE(lang.cardLanguage(), card);
        QCOMPARE(lang.cardFollowsUi(), follows);
        QCOMPARE(log.names, QStringList{});

        LanguageManager reference;
        reference.setCardLanguage(card);
        QCOMPARE(engineWord(&lagwell::CardStrings::trainingSession), reference.cardTrainingSession());
    }

    void cardWordsInEveryLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("words");  // live, title, player, coach, duration, tagline
        QTest::newRow("en") << "en"
                            << QStringList{"LIVE", "Training Session", "Player: ", "Coach: ", "SESSION DURATION",
                                           "RECORD  •  REVIEW  •  REFINE"};
        QTest::newRow("fr") << "fr"
                            << QStringList{"EN DIRECT", "Séance d’entraînement", "Joueur : ", "Coach : ",
                                           "DURÉE DE LA SÉANCE", "ENREGISTRER  •  REVOIR  •  AFFINER"};
        QTest::newRow("de") << "de"
                            << QStringList{"LIVE", "Trainingseinheit", "Spieler/in: ", "Trainer/in: ",
                                           "DAUER DER EINHEIT", "AUFNEHMEN  •  ANSEHEN  •  VERFEINERN"};
        QTest::newRow("es") << "es"
                            << QStringList{"EN VIVO", "Sesión de entrenamiento", "Jugador: ", "Entrenador: ",
                                           "DURACIÓN DE LA SESIÓN", "GRABAR  •  REVISAR  •  MEJORAR"};
        QTest::newRow("it") << "it"
                            << QStringList{"IN DIRETTA", "Sessione di allenamento", "Giocatore: ", "Allenatore: ",
                                           "DURATA DELLA SESSIONE", "REGISTRA  •  RIVEDI  •  PERFEZIONA"};
        QTest::newRow("nl") << "nl"
                            << QStringList{"LIVE", "Training", "Speler: ", "Trainer: ", "DUUR VAN DE TRAINING",
                                           "OPNEMEN  •  BEKIJKEN  •  VERFIJNEN"};
    }

    void cardWordsInEveryLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QStringList, words);
        LanguageManager lang;
        lang.init(nullptr);
        lang.setCardLanguage(code);
        QCOMPARE(lang.cardLanguage(), code);
        const QStringList shown{lang.cardLive(), lang.cardTrainingSession(), lang.cardPlayer(),
                                lang.cardCoach(), lang.cardSessionDuration(), lang.cardTagline()};
        QCOMPARE(shown, words);

        const lagwell::CardStrings pushed = lagwell::currentCardStrings();
        const QStringList inEngine{QString::fromStdString(pushed.live),
                                   QString::fromStdString(pushed.trainingSession),
                                   QString::fromStdString(pushed.playerPrefix),
                                   QString::fromStdString(pushed.coachPrefix),
                                   QString::fromStdString(pushed.sessionDuration)};
        QCOMPARE(inEngine, words.mid(0, 5));
    }

    void cardDateInEveryLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("march5");
        QTest::addColumn<QString>("december31");
        QTest::newRow("en") << "en" << "5 March 2025" << "31 December 2024";
        QTest::newRow("fr") << "fr" << "5 mars 2025" << "31 décembre 2024";
        QTest::newRow("de") << "de" << "5. März 2025" << "31. Dezember 2024";
        QTest::newRow("es") << "es" << "5 de marzo de 2025" << "31 de diciembre de 2024";
        QTest::newRow("it") << "it" << "5 marzo 2025" << "31 dicembre 2024";
        QTest::newRow("nl") << "nl" << "5 maart 2025" << "31 december 2024";
    }

    void cardDateInEveryLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QString, march5);
        QFETCH(QString, december31);
        LanguageManager lang;
        lang.init(nullptr);
        lang.setCardLanguage(code);
        // Late in the evening: only the date part counts.
        QCOMPARE(lang.formatCardDate(QDateTime(QDate(2025, 3, 5), QTime(23, 59, 59))), march5);
        QCOMPARE(lang.formatCardDate(QDateTime(QDate(2024, 12, 31), QTime(0, 0))), december31);
    }

    void cardSessionType_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("label");
        QTest::newRow("nl warm-up") << "nl" << "Warm-up" << "Warming-up";
        QTest::newRow("lower-case id unchanged") << "nl" << "warm-up" << "warm-up";
        QTest::newRow("free text unchanged") << "de" << "Sprint work" << "Sprint work";
        QTest::newRow("empty unchanged") << "fr" << "" << "";
        QTest::newRow("en practice") << "en" << "Practice" << "Practice";
        QTest::newRow("fr assessment") << "fr" << "Assessment" << "Évaluation";
        QTest::newRow("de technique drill") << "de" << "Technique drill" << "Technikübung";
        QTest::newRow("es competition") << "es" << "Competition" << "Competición";
        QTest::newRow("it other") << "it" << "Other" << "Altro";
        QTest::newRow("fr warm-up") << "fr" << "Warm-up" << "Échauffement";
        QTest::newRow("id with blank") << "it" << "Practice " << "Practice ";
    }

    void cardSessionType()
    {
        QFETCH(QString, code);
        QFETCH(QString, id);
        QFETCH(QString, label);
        LanguageManager lang;
        lang.init(nullptr);
        lang.setCardLanguage(code);
        QCOMPARE(lang.cardSessionType(id), label);
    }

    void pinnedCardLanguageStaysWhenInterfaceChanges()
    {
        store(tavrix::kKeyLanguageUi, "fr");
        store(tavrix::kKeyLanguageCard, "es");
        LanguageManager lang;
        lang.init(nullptr);
        QVERIFY(!lang.cardFollowsUi());
        QCOMPARE(lang.cardLive(), QString("EN VIVO"));

        SignalLog log(lang);
        lang.setUiLanguage("it");
        QCOMPARE(log.names, QStringList{"ui"});
        QCOMPARE(lang.uiLanguage(), QString("it"));
        QCOMPARE(lang.cardLanguage(), QString("es"));
        QCOMPARE(engineWord(&lagwell::CardStrings::live), QString("EN VIVO"));
        QCOMPARE(stored(tavrix::kKeyLanguageUi), QString("it"));
        QCOMPARE(stored(tavrix::kKeyLanguageCard), QString("es"));
    }

    void followingCardChangesWithInterface()
    {
        LanguageManager lang;
        lang.init(nullptr);
        QCOMPARE(lang.uiLanguage(), QString("it"));
        QVERIFY(lang.cardFollowsUi());

        SignalLog log(lang);
        lang.setUiLanguage("nl");
        QCOMPARE(log.names, (QStringList{"ui", "card"}));
        QCOMPARE(lang.cardLanguage(), QString("nl"));
        QCOMPARE(lang.cardTrainingSession(), QString("Training"));
        QCOMPARE(engineWord(&lagwell::CardStrings::trainingSession), QString("Training"));
        QCOMPARE(engineWord(&lagwell::CardStrings::playerPrefix), QString("Speler: "));
        QCOMPARE(stored(tavrix::kKeyLanguageUi), QString("nl"));
        QVERIFY(!appSettings().contains(tavrix::kKeyLanguageCard));
    }

    void ignoredInterfaceCodes_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("same in other case") << "IT";
        QTest::newRow("same with territory") << "it_CH";
        QTest::newRow("unsupported") << "pt";
        QTest::newRow("empty") << "";
    }

    void ignoredInterfaceCodes()
    {
        QFETCH(QString, code);
        LanguageManager lang;
        lang.init(nullptr);
        QCOMPARE(lang.uiLanguage(), QString("it"));
        SignalLog log(lang);
        lang.setUiLanguage(code);
        QCOMPARE(log.names, QStringList{});
        QCOMPARE(lang.uiLanguage(), QString("it"));
        QVERIFY(!appSettings().contains(tavrix::kKeyLanguageUi));
    }

    void interfaceCodeIsNormalised()
    {
        LanguageManager lang;
        lang.init(nullptr);
        SignalLog log(lang);
        lang.setUiLanguage("DE_at");
        QCOMPARE(lang.uiLanguage(), QString("de"));
        QCOMPARE(stored(tavrix::kKeyLanguageUi), QString("de"));
        QCOMPARE(log.names, (QStringList{"ui", "card"}));
    }

    void clearingCardLanguageFollowsInterface_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("empty") << "";
        QTest::newRow("unsupported") << "pt_BR";
    }

    void clearingCardLanguageFollowsInterface()
    {
        QFETCH(QString, code);
        store(tavrix::kKeyLanguageUi, "de");
        store(tavrix::kKeyLanguageCard, "fr");
        LanguageManager lang;
        lang.init(nullptr);
        QCOMPARE(lang.cardLanguage(), QString("fr"));

        SignalLog log(lang);
        lang.setCardLanguage(code);
        QCOMPARE(log.names, QStringList{"card"});
        QVERIFY(lang.cardFollowsUi());
        QCOMPARE(lang.cardLanguage(), QString("de"));
        QVERIFY(!appSettings().contains(tavrix::kKeyLanguageCard));
        QCOMPARE(engineWord(&lagwell::CardStrings::trainingSession), QString("Trainingseinheit"));

        // Nothing left to change: the signal still comes.
        lang.setCardLanguage(code);
        QCOMPARE(log.names, (QStringList{"card", "card"}));

        // Following again: the next interface change takes the card along.
        lang.setUiLanguage("es");
        QCOMPARE(lang.cardLanguage(), QString("es"));
    }

    void choosingCardLanguagePinsIt()
    {
        LanguageManager lang;
        lang.init(nullptr);
        SignalLog log(lang);
        lang.setCardLanguage("FR_be");
        QCOMPARE(log.names, QStringList{"card"});
        QVERIFY(!lang.cardFollowsUi());
        QCOMPARE(stored(tavrix::kKeyLanguageCard), QString("fr"));

        LanguageManager restarted;
        restarted.init(nullptr);
        QCOMPARE(restarted.cardLanguage(), QString("fr"));
        QVERIFY(!restarted.cardFollowsUi());
    }

    void siteUrl_data()
    {
        QTest::addColumn<QString>("ui");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("url");
        const QString base = LanguageManager::kSiteBase;
        QTest::newRow("en with slash") << "en" << "/linux/" << base + "/linux/";
        QTest::newRow("en without slash") << "en" << "linux/privacy.html" << base + "/linux/privacy.html";
        QTest::newRow("de without slash") << "de" << "manuals/linux/" << base + "/de/manuals/linux/";
        QTest::newRow("fr with query") << "fr" << "/linux/r/?ref=AB12-CD34" << base + "/fr/linux/r/?ref=AB12-CD34";
        QTest::newRow("nl empty") << "nl" << "" << base + "/nl/";
    }

    void siteUrl()
    {
        QFETCH(QString, ui);
        QFETCH(QString, path);
        QFETCH(QString, url);
        qputenv("TAVRIX_LANG", ui.toUtf8());
        LanguageManager lang;
        lang.init(nullptr);
        QCOMPARE(lang.siteUrl(path), url);
    }

    void everyCatalogueIsInTheResources()
    {
        QTest::failOnWarning(QRegularExpression("no translation file"));
        LanguageManager lang;
        qputenv("TAVRIX_LANG", "en");
        lang.init(nullptr);
        for (const QString& code : LanguageManager::supportedCodes()) {
            QVERIFY2(QFile::exists(QStringLiteral(":/i18n/tavrix_%1.qm").arg(code)), qPrintable(code));
            lang.setUiLanguage(code);
        }
        QCOMPARE(lang.uiLanguage(), QString("nl"));
    }
};

int main(int argc, char** argv)
{
    TestConfigDir configDir;
    // The system's interface languages, read once when the application starts.
    qputenv("LANGUAGE", kSystemLanguages);
    qputenv("LC_ALL", "pt_BR.UTF-8");
    QCoreApplication app(argc, argv);
    LanguageManagerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LanguageManagerTest.moc"
