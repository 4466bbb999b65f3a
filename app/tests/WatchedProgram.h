#pragma once

// The real program under an X server, as the window tests drive it: its
// environment, the test hook's lines (hook/ProgramHookPlugin.cpp) and the
// X clients xdotool and import. Every wait here is for a state (a hook line,
// a window, a grab that shows something), bounded by kStepTimeoutMs; an X
// client that meets one of X's races is run again within that time.

#include <QPoint>
#include <QRect>
#include <QRegularExpressionMatch>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QImage;

inline constexpr int kStepTimeoutMs = 120000;
// How long a click's effect is waited for before the click counts as lost.
inline constexpr int kClickAnswerMs = 15000;

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

    // This program's shown window, found by its process id and focused
    // (empty when there is none).
    QString window();

    // Waits for a hook line matching `pattern` after the last line consumed
    // and consumes it; returns its match (invalid when the program ended or
    // the time ran out).
    QRegularExpressionMatch waitFor(const QString& pattern, int timeoutMs = kStepTimeoutMs);

    // Asks `holds` again, reading what the program writes in between, until
    // it holds, the program ends or `timeoutMs` runs out; true when it held.
    bool waitUntil(const std::function<bool()>& holds, int timeoutMs = kStepTimeoutMs);

    // Reads what the program wrote for `ms` without consuming it.
    void keepReading(int ms);

    // The hook's answers below consume nothing: the lines written before
    // them stay for waitFor() and unconsumed().

    // The middle of the named item in window coordinates while it is shown.
    std::optional<QPoint> where(const QString& objectName);

    // The same, once the item is shown.
    std::optional<QPoint> whereShown(const QString& objectName);

    // The named item's box in window coordinates while it is shown.
    std::optional<QRect> rect(const QString& objectName);

    // A property of the named item as text (empty while it is not shown).
    QString property(const QString& objectName, const QString& name);

    // How long the running recording has recorded (-1 without an answer).
    qint64 recordedMs();

    // Returns once the hook has reported every state change made so far.
    bool sync();

    // Returns once the window has swapped a frame with the state of this
    // call, so a grab then shows that state.
    bool waitForFrame();

    // Input through X, as a user gives it. Each returns once the window has
    // taken it and the hook has reported the state it changed; false when
    // the input never reached the window.
    bool press(const QString& key);
    bool click(const QString& window, const QPoint& at);
    // Turns the wheel down `turns` times at `at`, and returns once the
    // Flickable named `view` has come to rest.
    bool scroll(const QString& window, const QPoint& at, int turns, const QString& view);

    // A click the window was not ready for is lost, as for a user, who clicks
    // again: up to three clicks, each followed by up to kClickAnswerMs of
    // asking `holds`. True when it held.
    bool clickUntil(const QString& window, const QPoint& at, const std::function<bool()>& holds);

    // The window grabbed again until `holds` is true of the grab or the
    // step's time runs out; returns the last grab.
    QImage grabUntil(const QString& window, const QString& name, const std::function<bool(const QImage&)>& holds);

    // SIGTERM, as a desktop's log-out sends it: true when the program then
    // ends normally with exit code 0.
    bool terminatesCleanly();

    // Everything written since the last consumed line.
    QString unconsumed() const { return m_err.mid(m_consumed); }
    const QString& err() const { return m_err; }
    QProcess& process() { return m_process; }

private:
    // The first hook line matching `pattern` that starts at or after `from`
    // in m_err, waited for; consumes nothing.
    QRegularExpressionMatch awaitLine(const QString& pattern, qsizetype from, int timeoutMs);

    // Writes `command` to the hook and waits for its answer.
    QRegularExpressionMatch ask(const QString& command, const QString& answerPattern);

    // Runs xdotool with `arguments`, then waits up to `timeoutMs` for each
    // of `count` hook lines "input <kind>".
    bool giveInput(const QStringList& arguments, const QString& kind, int count, int timeoutMs);

    QProcess m_process;
    QStringList m_arguments;
    QString m_err;
    qsizetype m_consumed = 0;
};

// The one recording in `home`'s recordings folder, read with ffprobe: H.264
// and longer than `minSeconds`. Returns what is wrong; empty when all holds.
QString checkOnlyRecording(const QString& home, double minSeconds);

// xdotool with `arguments`, run again while it meets an X race.
bool xdotool(const QStringList& arguments, QString* out = nullptr);

// The window as X shows it, kept as <grab dir>/<name>.png: grabbed again
// while import fails or the grab is empty or of one colour (the window was
// being mapped or redrawn), until the step's time runs out; then the last
// grab (null when import never succeeded).
QImage grabWindow(const QString& window, const QString& name);

// Distinct colours on a grid of every 4th pixel.
int colourCount(const QImage& image);
