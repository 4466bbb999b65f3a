#include "WatchedProgram.h"

#include "ToolRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>

namespace {

constexpr int kPollMs = 100;

// Why an X client's run is to be tried again, empty when it is not.
using XRaceCheck = std::function<QString(const ToolRun&)>;

// A window came or went (a drop-down list, a tooltip, one of Qt's helper
// windows) while the client walked the window tree or read a window.
QString xErrorIn(const ToolRun& run)
{
    static const QRegularExpression xError(QStringLiteral("BadWindow|BadDrawable|BadMatch|X Error"));
    return run.exitCode != 0 && xError.match(run.err).hasMatch() ? run.err.trimmed() : QString();
}

// Runs an X client again while `raced` names one of X's races in its run,
// until the step's time runs out; returns the last run.
ToolRun runPastXRaces(const QString& program, const QStringList& arguments, const XRaceCheck& raced = xErrorIn)
{
    const QDeadlineTimer deadline(kStepTimeoutMs);
    for (;;) {
        const ToolRun run = runTool(program, arguments);
        const QString race = raced(run);
        if (race.isEmpty() || deadline.hasExpired())
            return run;
        qInfo("%s %s met an X race, again: %s", qUtf8Printable(program), qUtf8Printable(arguments.join(' ')),
              qUtf8Printable(race));
        QThread::msleep(kPollMs);
    }
}

} // namespace

QProcessEnvironment programEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"TVX_QSG_MODE", "QSG_RHI_BACKEND", "LIBGL_ALWAYS_SOFTWARE", "QT_QUICK_BACKEND",
                             "TAVRIX_KIOSK", "QT_QPA_PLATFORM", "SNAP_REAL_HOME", "XDG_VIDEOS_DIR"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    environment.insert("TAVRIX_TEST_SOURCE", "1");
    environment.insert("TAVRIX_LANG", "en");
    return environment;
}

QString settingsPath(const QString& home)
{
    return home + "/.config/Orvane/Tavrix.conf";
}

WatchedProgram::WatchedProgram(const QString& home, const QStringList& arguments)
    : m_arguments(arguments)
{
    QProcessEnvironment environment = programEnvironment(home);
    environment.insert("QT_PLUGIN_PATH", QStringLiteral(TAVRIX_HOOK_PLUGIN_PATH));
    environment.insert("QT_QPA_GENERIC_PLUGINS", "tavrixtesthook");
    environment.insert("TAVRIX_TEST_HOOK_WATCH", "1");
    m_process.setProcessEnvironment(environment);
}

WatchedProgram::~WatchedProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool WatchedProgram::start()
{
    m_process.start(QStringLiteral(TAVRIX_BINARY), m_arguments);
    return m_process.waitForStarted();
}

QString WatchedProgram::window()
{
    QString found;
    if (!xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(m_process.processId()), "--name",
                  "^Tavrix$"},
                 &found))
        return {};
    found = found.section('\n', 0, 0);
    return xdotool({"windowfocus", "--sync", found}) ? found : QString();
}

QRegularExpressionMatch WatchedProgram::awaitLine(const QString& pattern, qsizetype from, int timeoutMs)
{
    // Whole lines only: a line read in part does not match yet.
    const QRegularExpression expression(QStringLiteral("^test hook: ") + pattern + QStringLiteral("(?=\n)"),
                                        QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QRegularExpressionMatch match = expression.match(m_err, from);
        if (match.hasMatch())
            return match;
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return {};
        m_process.waitForReadyRead(200);
        m_err += QString::fromUtf8(m_process.readAllStandardError());
    }
}

QRegularExpressionMatch WatchedProgram::waitFor(const QString& pattern, int timeoutMs)
{
    const QRegularExpressionMatch match = awaitLine(pattern, m_consumed, timeoutMs);
    if (match.hasMatch())
        m_consumed = match.capturedEnd();
    return match;
}

bool WatchedProgram::waitUntil(const std::function<bool()>& holds, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (holds())
            return true;
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        keepReading(kPollMs);
    }
}

void WatchedProgram::keepReading(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_err += QString::fromUtf8(m_process.readAllStandardError());
    }
}

QRegularExpressionMatch WatchedProgram::ask(const QString& command, const QString& answerPattern)
{
    const qsizetype from = m_err.size();
    m_process.write((command + "\n").toUtf8());
    return awaitLine(answerPattern, from, kStepTimeoutMs);
}

std::optional<QPoint> WatchedProgram::where(const QString& objectName)
{
    const QRegularExpressionMatch match =
        ask("where " + objectName, "where " + QRegularExpression::escape(objectName) + " (none|(-?\\d+) (-?\\d+))");
    if (!match.hasMatch() || match.captured(1) == "none")
        return std::nullopt;
    return QPoint(match.captured(2).toInt(), match.captured(3).toInt());
}

std::optional<QPoint> WatchedProgram::whereShown(const QString& objectName)
{
    std::optional<QPoint> found;
    waitUntil([&] { return (found = where(objectName)).has_value(); });
    return found;
}

std::optional<QRect> WatchedProgram::rect(const QString& objectName)
{
    const QRegularExpressionMatch match =
        ask("rect " + objectName,
            "rect " + QRegularExpression::escape(objectName) + " (none|(-?\\d+) (-?\\d+) (\\d+) (\\d+))");
    if (!match.hasMatch() || match.captured(1) == "none")
        return std::nullopt;
    return QRect(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(),
                 match.captured(5).toInt());
}

QString WatchedProgram::property(const QString& objectName, const QString& name)
{
    const QString request = objectName + ' ' + name;
    const QRegularExpressionMatch match =
        ask("property " + request, "property " + QRegularExpression::escape(request) + " (.*)");
    return match.hasMatch() && match.captured(1) != "none" ? match.captured(1) : QString();
}

qint64 WatchedProgram::recordedMs()
{
    const QRegularExpressionMatch match = ask("recorded", "recorded (\\d+)");
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool WatchedProgram::sync()
{
    return ask("sync", "synced").hasMatch();
}

bool WatchedProgram::waitForFrame()
{
    return ask("frame", "frame").hasMatch();
}

bool WatchedProgram::giveInput(const QStringList& arguments, const QString& kind, int count, int timeoutMs)
{
    qsizetype from = m_err.size();
    if (!xdotool(arguments))
        return false;
    for (int taken = 0; taken < count; ++taken) {
        const QRegularExpressionMatch match = awaitLine("input " + kind, from, timeoutMs);
        if (!match.hasMatch())
            return false;
        from = match.capturedEnd();
    }
    return true;
}

bool WatchedProgram::press(const QString& key)
{
    return giveInput({"key", "--clearmodifiers", key}, "key", 1, kStepTimeoutMs);
}

bool WatchedProgram::click(const QString& window, const QPoint& at)
{
    return giveInput({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()), "click", "1"},
                     "button", 1, kClickAnswerMs);
}

bool WatchedProgram::scroll(const QString& window, const QPoint& at, int turns, const QString& view)
{
    return giveInput({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()), "click",
                      "--repeat", QString::number(turns), "--delay", "50", "5"},
                     "wheel", turns, kStepTimeoutMs)
           && waitUntil([&] { return property(view, "moving") == "false"; });
}

bool WatchedProgram::clickUntil(const QString& window, const QPoint& at, const std::function<bool()>& holds)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Every other click one pixel aside: each arrives by a movement, so
        // what a movement brings back (the session's toolbar) is there for it.
        if (click(window, at + QPoint(attempt % 2, 0)) && waitUntil(holds, kClickAnswerMs))
            return true;
    }
    return false;
}

QImage WatchedProgram::grabUntil(const QString& window, const QString& name,
                                 const std::function<bool(const QImage&)>& holds)
{
    QImage grab;
    waitUntil([&] {
        grab = grabWindow(window, name);
        return holds(grab);
    });
    return grab;
}

bool WatchedProgram::terminatesCleanly()
{
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    return m_process.waitForFinished(60000) && m_process.exitStatus() == QProcess::NormalExit
           && m_process.exitCode() == 0;
}

QString checkOnlyRecording(const QString& home, double minSeconds)
{
    const QDir folder(home + "/Videos/Tavrix");
    const QStringList recordings = folder.entryList({"*.mp4"}, QDir::Files, QDir::Name);
    if (recordings.size() != 1)
        return QStringLiteral("%1 recordings in %2").arg(recordings.size()).arg(folder.path());
    const ToolRun probe = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                              "stream=codec_name,width,height:format=duration", "-of",
                                              "default=noprint_wrappers=1", folder.filePath(recordings.first())});
    if (probe.exitCode != 0 || !probe.err.isEmpty())
        return "ffprobe: " + probe.err;
    if (!probe.out.contains("codec_name=h264\n"))
        return "not H.264: " + probe.out;
    const QRegularExpressionMatch duration = QRegularExpression(QStringLiteral("duration=([0-9.]+)")).match(probe.out);
    if (!duration.hasMatch() || duration.captured(1).toDouble() <= minSeconds)
        return "too short: " + probe.out;
    return {};
}

bool xdotool(const QStringList& arguments, QString* out)
{
    const ToolRun run = runPastXRaces("xdotool", arguments);
    if (out)
        *out = run.out.trimmed();
    if (run.exitCode != 0)
        qWarning("xdotool %s: %s", qUtf8Printable(arguments.join(' ')), qUtf8Printable(run.err));
    return run.exitCode == 0;
}

QImage grabWindow(const QString& window, const QString& name)
{
    const QTemporaryDir directory;
    const QString path = directory.filePath("grab.png");
    QImage grab;
    const ToolRun run = runPastXRaces("import", {"-window", window, path}, [&](const ToolRun& attempt) {
        grab = QImage();
        if (attempt.exitCode != 0)
            return QStringLiteral("import failed (%1)").arg(attempt.err.trimmed());
        grab = QImage(path).convertToFormat(QImage::Format_RGB32);
        if (grab.isNull())
            return QStringLiteral("an empty grab");
        return colourCount(grab) == 1 ? QStringLiteral("a grab of one colour") : QString();
    });
    if (run.exitCode != 0)
        qWarning("import: %s", qUtf8Printable(run.err));
    // Kept for a look; a copy, so a test run beside this one cannot change
    // the grab read above.
    const QString kept = QStringLiteral(TAVRIX_GRAB_DIR "/%1.png").arg(name);
    QFile::remove(kept);
    if (!grab.isNull())
        grab.save(kept);
    return grab;
}

int colourCount(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}
