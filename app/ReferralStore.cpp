#include "ReferralStore.h"

#include "AppNames.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator64>
#include <QRegularExpression>
#include <QVariant>

namespace {

constexpr int kAlphabetSize = int(sizeof(ReferralStore::kAlphabet)) - 1;
static_assert(kAlphabetSize == 27);

bool isCodeSymbol(char32_t c)
{
    for (int i = 0; i < kAlphabetSize; ++i) {
        if (c == char32_t(ReferralStore::kAlphabet[i]))
            return true;
    }
    return false;
}

// Four symbols, "-", four symbols; `symbols` are the eight symbols.
QString printedForm(const QString& symbols)
{
    return symbols.left(4) + QLatin1Char('-') + symbols.mid(4);
}

// A code printed as "XXXX-XXXX" with no letter or number touching either
// end, so a word that happens to use only code symbols ("UNDERWATER") is not
// taken for a code when a real one stands in the text. The text is
// upper-cased before the search, so the match is case-sensitive: a caseless
// match would let U+212A KELVIN SIGN stand in for "K".
const QRegularExpression& standalonePrintedCode()
{
    static const QRegularExpression pattern(QStringLiteral(
        "(?<![\\p{L}\\p{N}])[234679ACDEFGHJKMNPQRTUVWXYZ]{4}-[234679ACDEFGHJKMNPQRTUVWXYZ]{4}(?![\\p{L}\\p{N}])"));
    return pattern;
}

// Any run of four symbols, an optional "-" and four more.
const QRegularExpression& symbolRun()
{
    static const QRegularExpression pattern(
        QStringLiteral("[234679ACDEFGHJKMNPQRTUVWXYZ]{4}-?[234679ACDEFGHJKMNPQRTUVWXYZ]{4}"));
    return pattern;
}

const QRegularExpression& aliasShape()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9]+(?:[ _-][A-Za-z0-9]+)*$"));
    return pattern;
}

const QRegularExpression& webWords()
{
    static const QRegularExpression pattern(QStringLiteral("\\b(www|https?|\\.com|\\.au|\\.net)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

}  // namespace

// The settings opened by name rather than through the application's names,
// so the store is the same file as `Store`'s even where no name is set yet.
ReferralStore::ReferralStore(QObject* parent)
    : QObject(parent)
    , m_settings(QSettings::NativeFormat, QSettings::UserScope,
                 QString::fromLatin1(tavrix::kOrganisationName),
                 QString::fromLatin1(tavrix::kApplicationName))
{
}

ReferralStore* ReferralStore::create(QQmlEngine*, QJSEngine*)
{
    return new ReferralStore();
}

QString ReferralStore::userCode()
{
    const QString stored = m_settings.value(QLatin1String(kKeyUserCode)).toString();
    if (!stored.isEmpty())
        return stored;

    // Masked rejection: five bits cover 0..31, values 27 and up are drawn again.
    QRandomGenerator64* random = QRandomGenerator64::global();
    QString symbols;
    symbols.reserve(kCodeSymbols);
    while (symbols.size() < kCodeSymbols) {
        const quint64 index = random->generate64() & 31u;
        if (index < quint64(kAlphabetSize))
            symbols.append(QLatin1Char(kAlphabet[index]));
    }
    const QString code = printedForm(symbols);
    m_settings.setValue(QLatin1String(kKeyUserCode), code);
    return code;
}

QString ReferralStore::normaliseCode(const QString& raw) const
{
    QString symbols;
    // Whole code points, so a letter outside the BMP counts as one letter.
    const QList<uint> codePoints = raw.toUpper().toUcs4();
    for (const uint c : codePoints) {
        if (!QChar::isLetterOrNumber(char32_t(c)))
            continue;
        if (!isCodeSymbol(char32_t(c)) || symbols.size() == kCodeSymbols)
            return QString();
        symbols.append(QLatin1Char(char(c)));
    }
    if (symbols.size() != kCodeSymbols)
        return QString();
    return printedForm(symbols);
}

QString ReferralStore::findCodeIn(const QString& text) const
{
    if (text.isEmpty())
        return QString();
    const QString upper = text.toUpper();

    const QRegularExpressionMatch printed = standalonePrintedCode().match(upper);
    if (printed.hasMatch())
        return printed.captured(0);

    const QString whole = normaliseCode(text);
    if (!whole.isEmpty())
        return whole;

    QRegularExpressionMatchIterator runs = symbolRun().globalMatch(upper);
    while (runs.hasNext()) {
        const QString code = normaliseCode(runs.next().captured(0));
        if (!code.isEmpty())
            return code;
    }
    return QString();
}

QString ReferralStore::invitedByCode() const
{
    return m_settings.value(QLatin1String(kKeyInvitedBy)).toString();
}

QVariantMap ReferralStore::setInvitedBy(const QString& raw)
{
    const QString code = normaliseCode(raw);
    if (code.isEmpty()) {
        //: Refusal of an inviter's code; WZ9Z-3WGP is an example code, keep it as it is
        const QString message = tr("That doesn’t look like an invite code. They look like WZ9Z-3WGP.");
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
    }
    if (code == userCode()) {
        //: Refusal when the user enters their own invite code as the inviter's
        const QString message = tr("That’s your own code. Ask your mate for theirs.");
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
    }
    m_settings.setValue(QLatin1String(kKeyInvitedBy), code);
    m_settings.setValue(QLatin1String(kKeyInvitedByAsked), true);
    return {{QStringLiteral("ok"), true}, {QStringLiteral("code"), code}};
}

bool ReferralStore::shouldAskForInviteCode() const
{
    return invitedByCode().isEmpty() && !m_settings.value(QLatin1String(kKeyInvitedByAsked), false).toBool();
}

void ReferralStore::markInviteCodeAsked()
{
    m_settings.setValue(QLatin1String(kKeyInvitedByAsked), true);
}

QString ReferralStore::validateAlias(const QString& raw) const
{
    const QString value = raw.trimmed();
    if (value.size() < aliasMinLength()) {
        //: Refusal of a leaderboard alias; %1 is the fewest characters allowed
        return tr("Aliases need at least %1 characters.").arg(aliasMinLength());
    }
    if (value.size() > aliasMaxLength()) {
        //: Refusal of a leaderboard alias; %1 is the most characters allowed
        return tr("Aliases can be at most %1 characters.").arg(aliasMaxLength());
    }
    if (!aliasShape().match(value).hasMatch()) {
        //: Refusal of a leaderboard alias with characters or separators not allowed
        return tr("Use letters and numbers only, with single spaces, hyphens or underscores between them.");
    }
    int digits = 0;
    for (const QChar c : value) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
    }
    if (digits >= 7 || webWords().match(value).hasMatch()) {
        //: Refusal of a leaderboard alias that looks like an email, phone number or web address
        return tr("That looks like contact details. Your alias is public — pick something that is not an email, "
                  "phone number or web address.");
    }
    return QString();
}

qint64 ReferralStore::storedAliasSetAtMs() const
{
    bool isNumber = false;
    const qint64 value = m_settings.value(QLatin1String(kKeyAliasSetAt)).toLongLong(&isNumber);
    return isNumber ? value : 0;
}

QVariantMap ReferralStore::aliasState() const
{
    return aliasStateFrom(m_settings.value(QLatin1String(kKeyAlias)).toString(), storedAliasSetAtMs());
}

QVariantMap ReferralStore::aliasStateFrom(const QString& alias, qint64 setAtMs) const
{
    // No alias is locked while the leaderboard is not live.
    const bool hasAlias = !alias.isEmpty() && setAtMs > 0;
    return {
        {QStringLiteral("alias"), hasAlias ? alias : QString()},
        {QStringLiteral("setAt"), hasAlias ? QVariant(double(setAtMs)) : QVariant(0)},
        {QStringLiteral("canChange"), true},
        {QStringLiteral("daysUntilChange"), 0},
    };
}

QVariantMap ReferralStore::lockRefusal() const
{
    const QVariantMap state = aliasState();
    if (state.value(QStringLiteral("alias")).toString().isEmpty() || state.value(QStringLiteral("canChange")).toBool())
        return {};
    const int days = state.value(QStringLiteral("daysUntilChange")).toInt();
    //: Refusal to change or remove a locked leaderboard alias; %n is the number of days left
    const QString message = tr("This alias is locked for another %n day(s).", nullptr, days);
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

QVariantMap ReferralStore::saveAlias(const QString& raw)
{
    const QVariantMap refusal = lockRefusal();
    if (!refusal.isEmpty())
        return refusal;
    const QString value = raw.trimmed();
    const QString message = validateAlias(value);
    if (!message.isEmpty())
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    m_settings.setValue(QLatin1String(kKeyAlias), value);
    m_settings.setValue(QLatin1String(kKeyAliasSetAt), nowMs);
    return {{QStringLiteral("ok"), true}, {QStringLiteral("state"), aliasStateFrom(value, nowMs)}};
}

QVariantMap ReferralStore::clearAlias()
{
    const QVariantMap refusal = lockRefusal();
    if (!refusal.isEmpty())
        return refusal;
    m_settings.remove(QLatin1String(kKeyAlias));
    m_settings.remove(QLatin1String(kKeyAliasSetAt));
    return {{QStringLiteral("ok"), true}};
}

QString ReferralStore::unlockDate() const
{
    const qint64 setAtMs = storedAliasSetAtMs();
    if (setAtMs <= 0)
        return QString();
    // The time comes from a file the user can edit: a sum past the 64-bit
    // range, or a moment no date can hold, gives no date.
    qint64 unlockMs = 0;
    if (qAddOverflow(setAtMs, kAliasLockMs, &unlockMs))
        return QString();
    const QDateTime unlockAt = QDateTime::fromMSecsSinceEpoch(unlockMs, Qt::LocalTime);
    if (!unlockAt.isValid() || !unlockAt.date().isValid())
        return QString();
    return QLocale::system().toString(unlockAt.date(), QLocale::LongFormat);
}
