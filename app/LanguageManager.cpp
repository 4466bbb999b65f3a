#include "LanguageManager.h"

#include "AppNames.h"
#include "CardWords.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QQmlEngine>
#include <QSettings>
#include <QVariantMap>

#include <array>

namespace {

struct LangRow {
    const char* code;
    const char* name;
    const char* live;
    const char* trainingSession;
    const char* playerPrefix;
    const char* coachPrefix;
    const char* sessionDuration;
    const char* tagline;
    const char* dateFormat;
    QLocale::Language locale;
};

// The supported languages, in the order the language picker lists them. The
// first row is the fallback for any code that matches none.
constexpr std::array<LangRow, 6> kLangs = {{
    {"en", "English", "LIVE", "Training Session", "Player: ", "Coach: ", "SESSION DURATION",
     "RECORD  •  REVIEW  •  REFINE", "d MMMM yyyy", QLocale::English},
    {"fr", "Français", "EN DIRECT", "Séance d’entraînement", "Joueur : ", "Coach : ", "DURÉE DE LA SÉANCE",
     "ENREGISTRER  •  REVOIR  •  AFFINER", "d MMMM yyyy", QLocale::French},
    {"de", "Deutsch", "LIVE", "Trainingseinheit", "Spieler/in: ", "Trainer/in: ", "DAUER DER EINHEIT",
     "AUFNEHMEN  •  ANSEHEN  •  VERFEINERN", "d. MMMM yyyy", QLocale::German},
    {"es", "Español", "EN VIVO", "Sesión de entrenamiento", "Jugador: ", "Entrenador: ", "DURACIÓN DE LA SESIÓN",
     "GRABAR  •  REVISAR  •  MEJORAR", "d 'de' MMMM 'de' yyyy", QLocale::Spanish},
    {"it", "Italiano", "IN DIRETTA", "Sessione di allenamento", "Giocatore: ", "Allenatore: ", "DURATA DELLA SESSIONE",
     "REGISTRA  •  RIVEDI  •  PERFEZIONA", "d MMMM yyyy", QLocale::Italian},
    {"nl", "Nederlands", "LIVE", "Training", "Speler: ", "Trainer: ", "DUUR VAN DE TRAINING",
     "OPNEMEN  •  BEKIJKEN  •  VERFIJNEN", "d MMMM yyyy", QLocale::Dutch},
}};

// A session-type id and its label per language, columns in kLangs order.
struct SessionTypeRow {
    const char* id;
    std::array<const char*, kLangs.size()> labels;
};

constexpr std::array<SessionTypeRow, 6> kSessionTypes = {{
    {"Practice", {"Practice", "Entraînement", "Training", "Práctica", "Allenamento", "Oefenen"}},
    {"Assessment", {"Assessment", "Évaluation", "Leistungstest", "Evaluación", "Valutazione", "Beoordeling"}},
    {"Competition", {"Competition", "Compétition", "Wettkampf", "Competición", "Gara", "Wedstrijd"}},
    {"Warm-up", {"Warm-up", "Échauffement", "Aufwärmen", "Calentamiento", "Riscaldamento", "Warming-up"}},
    {"Technique drill",
     {"Technique drill", "Exercice technique", "Technikübung", "Ejercicio de técnica", "Esercizio tecnico",
      "Techniekoefening"}},
    {"Other", {"Other", "Autre", "Sonstiges", "Otro", "Altro", "Overig"}},
}};

// Index of the row for `code`; 0 (English) when none matches.
std::size_t rowIndexFor(const QString& code)
{
    for (std::size_t i = 0; i < kLangs.size(); ++i) {
        if (code == QLatin1String(kLangs[i].code))
            return i;
    }
    return 0;
}

QString utf8(const char* text)
{
    return QString::fromUtf8(text);
}

QSettings openSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(tavrix::kOrganisationName),
                     QString::fromLatin1(tavrix::kApplicationName));
}

}  // namespace

LanguageManager::LanguageManager(QObject* parent)
    : QObject(parent)
{
}

LanguageManager::~LanguageManager()
{
    if (m_translatorInstalled)
        QCoreApplication::removeTranslator(&m_translator);
    if (m_qtTranslatorInstalled)
        QCoreApplication::removeTranslator(&m_qtTranslator);
}

LanguageManager* LanguageManager::instance()
{
    static LanguageManager* const theInstance = new LanguageManager();
    return theInstance;
}

void LanguageManager::init(QQmlEngine* engine)
{
    m_engine = engine;

    const QSettings settings = openSettings();
    QString ui = codeFromLocaleName(qEnvironmentVariable("TAVRIX_LANG"));
    const QString card = codeFromLocaleName(settings.value(QLatin1String(tavrix::kKeyLanguageCard)).toString());
    if (ui.isEmpty())
        ui = codeFromLocaleName(settings.value(QLatin1String(tavrix::kKeyLanguageUi)).toString());
    if (ui.isEmpty())
        ui = detectSystemLanguage();

    m_uiLanguage = ui;
    m_cardFollowsUi = card.isEmpty();
    m_cardLanguage = card.isEmpty() ? ui : card;

    installTranslator(m_uiLanguage);
    pushCardStringsToEngine();
}

void LanguageManager::setUiLanguage(const QString& requested)
{
    const QString code = codeFromLocaleName(requested);
    if (code.isEmpty() || code == m_uiLanguage)
        return;

    m_uiLanguage = code;
    QSettings settings = openSettings();
    settings.setValue(QLatin1String(tavrix::kKeyLanguageUi), code);

    installTranslator(code);
    if (m_engine)
        m_engine->retranslate();
    emit uiLanguageChanged();

    if (m_cardFollowsUi) {
        m_cardLanguage = code;
        pushCardStringsToEngine();
        emit cardLanguageChanged();
    }
}

void LanguageManager::setCardLanguage(const QString& requested)
{
    const QString code = codeFromLocaleName(requested);
    QSettings settings = openSettings();
    if (!code.isEmpty()) {
        settings.setValue(QLatin1String(tavrix::kKeyLanguageCard), code);
        m_cardFollowsUi = false;
        m_cardLanguage = code;
    } else {
        settings.remove(QLatin1String(tavrix::kKeyLanguageCard));
        m_cardFollowsUi = true;
        m_cardLanguage = m_uiLanguage;
    }
    pushCardStringsToEngine();
    emit cardLanguageChanged();
}

QVariantList LanguageManager::languages() const
{
    QVariantList list;
    for (const LangRow& row : kLangs) {
        QVariantMap entry;
        entry.insert(QStringLiteral("code"), QString::fromLatin1(row.code));
        entry.insert(QStringLiteral("name"), utf8(row.name));
        list.append(entry);
    }
    return list;
}

QString LanguageManager::cardLive() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].live);
}

QString LanguageManager::cardTrainingSession() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].trainingSession);
}

QString LanguageManager::cardPlayer() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].playerPrefix);
}

QString LanguageManager::cardCoach() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].coachPrefix);
}

QString LanguageManager::cardSessionDuration() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].sessionDuration);
}

QString LanguageManager::cardTagline() const
{
    return utf8(kLangs[rowIndexFor(m_cardLanguage)].tagline);
}

QString LanguageManager::cardSessionType(const QString& id) const
{
    for (const SessionTypeRow& row : kSessionTypes) {
        if (id == QLatin1String(row.id))
            return utf8(row.labels[rowIndexFor(m_cardLanguage)]);
    }
    return id;
}

QString LanguageManager::siteUrl(const QString& path) const
{
    const QString p = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    const QString base = QString::fromLatin1(kSiteBase);
    if (m_uiLanguage == QLatin1String("en"))
        return base + p;
    return base + QLatin1Char('/') + m_uiLanguage + p;
}

QString LanguageManager::formatCardDate(const QDateTime& when) const
{
    const LangRow& row = kLangs[rowIndexFor(m_cardLanguage)];
    return QLocale(row.locale).toString(when.date(), QString::fromLatin1(row.dateFormat));
}

QString LanguageManager::codeFromLocaleName(const QString& name)
{
    const QString code = name.left(2).toLower();
    for (const LangRow& row : kLangs) {
        if (code == QLatin1String(row.code))
            return code;
    }
    return QString();
}

QString LanguageManager::codeFromLocaleList(const QStringList& localeNames)
{
    for (const QString& name : localeNames) {
        const QString code = codeFromLocaleName(name);
        if (!code.isEmpty())
            return code;
    }
    return QStringLiteral("en");
}

QStringList LanguageManager::supportedCodes()
{
    QStringList codes;
    for (const LangRow& row : kLangs)
        codes.append(QString::fromLatin1(row.code));
    return codes;
}

QString LanguageManager::detectSystemLanguage() const
{
    return codeFromLocaleList(QLocale::system().uiLanguages());
}

void LanguageManager::installTranslator(const QString& code)
{
    if (m_translatorInstalled) {
        QCoreApplication::removeTranslator(&m_translator);
        m_translatorInstalled = false;
    }
    if (m_translator.load(QStringLiteral(":/i18n/tavrix_%1.qm").arg(code))) {
        QCoreApplication::installTranslator(&m_translator);
        m_translatorInstalled = true;
    } else {
        qWarning("LanguageManager: no translation file for '%s'", qUtf8Printable(code));
    }

    // Qt's own catalogue is optional (a distribution may leave it out), so a
    // missing one is not reported.
    if (m_qtTranslatorInstalled) {
        QCoreApplication::removeTranslator(&m_qtTranslator);
        m_qtTranslatorInstalled = false;
    }
    if (m_qtTranslator.load(QStringLiteral("qt_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&m_qtTranslator);
        m_qtTranslatorInstalled = true;
    }
}

void LanguageManager::pushCardStringsToEngine()
{
    const LangRow& row = kLangs[rowIndexFor(m_cardLanguage)];
    lagwell::CardStrings words;
    words.live = row.live;
    words.trainingSession = row.trainingSession;
    words.playerPrefix = row.playerPrefix;
    words.coachPrefix = row.coachPrefix;
    words.sessionDuration = row.sessionDuration;
    lagwell::setCardStrings(words);
}
