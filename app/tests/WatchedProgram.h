#pragma once

// The real program under an X server, as the window tests drive it: its
// environment, the test hook's lines (hook/ProgramHookPlugin.cpp) and the
// X client xdotool.

#include <QPoint>
#include <QRegularExpressionMatch>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

class QImage;

inline constexpr int kStepTimeoutMs = 120000;

// An environment without the graphics and platform choices of the caller,
// on the test-pattern camera, in English, with HOME and the settings in `home`.
QProcessEnvironment programEnvironment(const QString& home);

QString settingsPath(const QString& home);

// The program with the test hook watching its window.
class WatchedProgram {
public:
    explicit WatchedProgram(const QString& home, const QStringList& arguments = {});
    ~WatchedProgram();

    bool start();

    // Waits for a hook line matching `pattern` after the last line consumed
    // and consumes it; returns its match (invalid when the program ended or
    // the time ran out).
    QRegularExpressionMatch waitFor(const QString& pattern, int timeoutMs = kStepTimeoutMs);

    // Reads what the program wrote for `ms` without consuming it.
    void keepReading(int ms);

    // The middle of the named item in window coordinates while it is shown.
    std::optional<QPoint> where(const QString& objectName);

    // The same, once the item is shown.
    std::optional<QPoint> whereShown(const QString& objectName);

    // SIGTERM, as a desktop's log-out sends it: true when the program then
    // ends normally with exit code 0.
    bool terminatesCleanly();

    // Everything written since the last consumed line.
    QString unconsumed() const { return m_err.mid(m_consumed); }
    const QString& err() const { return m_err; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_arguments;
    QString m_err;
    qsizetype m_consumed = 0;
};

// The one recording in `home`'s recordings folder, read with ffprobe: H.264
// and longer than `minSeconds`. Returns what is wrong; empty when all holds.
QString checkOnlyRecording(const QString& home, double minSeconds);

bool xdotool(const QStringList& arguments, QString* out = nullptr);

// The X id of the program's shown window (empty when there is none).
QString visibleWindow();

// The window as X shows it, kept as <grab dir>/<name>.png (null on failure).
QImage grabWindow(const QString& window, const QString& name);

// Distinct colours on a grid of every 4th pixel.
int colourCount(const QImage& image);
