#pragma once

// The language service `Lang`: the interface language (the catalogue
// installed for every translated text of the scene) and the recording-card
// language (the words burned into recordings and shown on the cards), which
// follows the interface language unless the user chose one of its own. One
// process-wide instance, published as a root-context property; it pushes the
// card words to the engine's overlay painter and builds localised addresses
// of the product web site. GUI thread only.

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <QVariantList>

class QQmlEngine;

class LanguageManager : public QObject {
    Q_OBJECT

public:
    // The root address of the product web site, without a trailing slash.
    static constexpr char kSiteBase[] = "https://tavrix.app";

    // The program uses instance(); tests may make their own objects.
    explicit LanguageManager(QObject* parent = nullptr);
    ~LanguageManager() override;

    // The process-wide instance, created without parent on the first call and
    // kept until the process ends.
    static LanguageManager* instance();

    // Picks both languages (TAVRIX_LANG, then the stored choice, then the
    // system languages, then English), installs the catalogue and pushes the
    // card words. Call once, before any document loads; emits nothing.
    void init(QQmlEngine* engine);

    Q_PROPERTY(QString uiLanguage READ uiLanguage WRITE setUiLanguage NOTIFY uiLanguageChanged)
    QString uiLanguage() const { return m_uiLanguage; }
    // Ignores empty, unsupported and unchanged codes; otherwise stores the
    // choice, swaps the catalogue, retranslates the scene and emits
    // uiLanguageChanged (then cardLanguageChanged when the card follows).
    Q_INVOKABLE void setUiLanguage(const QString& code);

    Q_PROPERTY(QString cardLanguage READ cardLanguage NOTIFY cardLanguageChanged)
    QString cardLanguage() const { return m_cardLanguage; }
    Q_PROPERTY(bool cardFollowsUi READ cardFollowsUi NOTIFY cardLanguageChanged)
    bool cardFollowsUi() const { return m_cardFollowsUi; }
    // A supported code pins the card language; an empty or unsupported one
    // makes it follow the interface again. Always emits cardLanguageChanged.
    Q_INVOKABLE void setCardLanguage(const QString& code);

    // Six maps {code, name} in the picker's order.
    Q_PROPERTY(QVariantList languages READ languages CONSTANT)
    QVariantList languages() const;

    // The card words in the card language (English for an unknown code).
    Q_PROPERTY(QString cardLive READ cardLive NOTIFY cardLanguageChanged)
    QString cardLive() const;
    Q_PROPERTY(QString cardTrainingSession READ cardTrainingSession NOTIFY cardLanguageChanged)
    QString cardTrainingSession() const;
    Q_PROPERTY(QString cardPlayer READ cardPlayer NOTIFY cardLanguageChanged)
    QString cardPlayer() const;
    Q_PROPERTY(QString cardCoach READ cardCoach NOTIFY cardLanguageChanged)
    QString cardCoach() const;
    Q_PROPERTY(QString cardSessionDuration READ cardSessionDuration NOTIFY cardLanguageChanged)
    QString cardSessionDuration() const;
    Q_PROPERTY(QString cardTagline READ cardTagline NOTIFY cardLanguageChanged)
    QString cardTagline() const;

    // The label of a session-type id in the card language; any text that is
    // not one of the six ids (compared exactly) comes back unchanged.
    Q_INVOKABLE QString cardSessionType(const QString& id) const;
    // The site's root address with no language part (invitation links).
    Q_PROPERTY(QString siteBase READ siteBase CONSTANT)
    QString siteBase() const { return QString::fromLatin1(kSiteBase); }
    // kSiteBase, then "/<ui code>" unless English, then path (a "/" added in front when missing).
    Q_INVOKABLE QString siteUrl(const QString& path) const;
    // The date part of `when` in the card language's own format.
    Q_INVOKABLE QString formatCardDate(const QDateTime& when) const;

    // The supported code for a locale name ("fr_CA", "FR", "fr-FR" give
    // "fr"), or "" when its first two letters name no supported language.
    static QString codeFromLocaleName(const QString& name);
    // The first of `localeNames` that gives a supported code, else "en".
    static QString codeFromLocaleList(const QStringList& localeNames);
    static QStringList supportedCodes();
    QString detectSystemLanguage() const;

signals:
    void uiLanguageChanged();
    void cardLanguageChanged();

private:
    void installTranslator(const QString& code);
    void pushCardStringsToEngine();

    QPointer<QQmlEngine> m_engine;
    QTranslator m_translator;
    bool m_translatorInstalled = false;
    // Qt's own catalogue for the same language (standard texts of Qt's controls).
    QTranslator m_qtTranslator;
    bool m_qtTranslatorInstalled = false;
    QString m_uiLanguage = QStringLiteral("en");
    QString m_cardLanguage = QStringLiteral("en");
    bool m_cardFollowsUi = true;
};
