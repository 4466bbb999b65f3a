#pragma once

// The referral programme's data and rules, the QML singleton `Referral`: the
// user's own invite code, the code of whoever invited the user (asked once)
// and the public leaderboard alias. Everything lives in the application's
// settings under "referral/"; nothing is sent anywhere and nothing is cached,
// so every answer is read from the settings at the moment of the call.
// GUI thread only; no lock.
//
// An invite code is eight symbols of kAlphabet, always handled in its
// printed form "XXXX-XXXX". Operations that can refuse return a map with
// `ok` and either `error` (a translated sentence) or their payload.

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

class ReferralStore : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Referral)
    QML_SINGLETON

public:
    // The 27 code symbols: no 0, 1, 5, 8, B, I, L, O or S.
    static constexpr char kAlphabet[] = "234679ACDEFGHJKMNPQRTUVWXYZ";
    static constexpr int kCodeSymbols = 8;

    static constexpr char kKeyUserCode[] = "referral/userCode";
    static constexpr char kKeyInvitedBy[] = "referral/invitedBy";
    static constexpr char kKeyInvitedByAsked[] = "referral/invitedByAsked";
    static constexpr char kKeyAlias[] = "referral/alias";
    // Milliseconds since the epoch; 0 or absent means no alias.
    static constexpr char kKeyAliasSetAt[] = "referral/aliasSetAt";

    static constexpr qint64 kAliasLockMs = qint64(182) * 24 * 60 * 60 * 1000;

    explicit ReferralStore(QObject* parent = nullptr);

    // Factory the QML engine calls on first use; the engine owns the result.
    static ReferralStore* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

    Q_PROPERTY(int aliasMinLength READ aliasMinLength CONSTANT)
    int aliasMinLength() const { return 3; }
    Q_PROPERTY(int aliasMaxLength READ aliasMaxLength CONSTANT)
    int aliasMaxLength() const { return 16; }
    // Days an alias stays locked after saving, once the board is live.
    Q_PROPERTY(int aliasLockDays READ aliasLockDays CONSTANT)
    int aliasLockDays() const { return 182; }
    // While false no alias is ever locked.
    Q_PROPERTY(bool leaderboardLive READ leaderboardLive CONSTANT)
    bool leaderboardLive() const { return false; }

    // The own code; made at random and stored on the first call, then
    // returned as stored (unchecked) for ever.
    Q_INVOKABLE QString userCode();
    // The printed form of the code in `raw` (case, blanks and separators
    // forgiven), or empty when its letters and numbers are not exactly eight
    // code symbols.
    Q_INVOKABLE QString normaliseCode(const QString& raw) const;
    // The first code in free text (an invitation message), printed, or empty.
    // A printed code standing alone wins over a run of symbols inside a word.
    Q_INVOKABLE QString findCodeIn(const QString& text) const;

    Q_INVOKABLE QString invitedByCode() const;
    // {ok, code} after storing the inviter's code and marking the question
    // answered, or {ok: false, error} for no code or the user's own code.
    Q_INVOKABLE QVariantMap setInvitedBy(const QString& raw);
    // No inviter stored and the question not answered yet.
    Q_INVOKABLE bool shouldAskForInviteCode() const;
    // The user declined: the question is not asked again.
    Q_INVOKABLE void markInviteCodeAsked();

    // Empty when the trimmed alias is acceptable, else why not.
    Q_INVOKABLE QString validateAlias(const QString& raw) const;
    // {alias, setAt, canChange, daysUntilChange} from the settings.
    Q_INVOKABLE QVariantMap aliasState() const;
    // {ok, state} after storing the trimmed alias with the current time, or
    // {ok: false, error}; a refusal stores nothing.
    Q_INVOKABLE QVariantMap saveAlias(const QString& raw);
    // {ok} after removing the alias (also when there is none), or a refusal.
    Q_INVOKABLE QVariantMap clearAlias();
    // The system locale's long date on which a saved alias's lock ends;
    // empty without an alias time or when that date is out of range.
    Q_INVOKABLE QString unlockDate() const;

    // The alias state record of an alias saved at `setAtMs`; an empty alias
    // or a time not above 0 reads as no alias.
    QVariantMap aliasStateFrom(const QString& alias, qint64 setAtMs) const;

private:
    qint64 storedAliasSetAtMs() const;
    // The refusal of a change to a locked alias, or an empty map.
    QVariantMap lockRefusal() const;

    QSettings m_settings;
};
