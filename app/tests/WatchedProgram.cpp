#include "WatchedProgram.h"

#include "ToolRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <signal.h>

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

QRegularExpressionMatch WatchedProgram::waitFor(const QString& pattern, int timeoutMs)
{
    const QRegularExpression expression(QStringLiteral("^test hook: ") + pattern + QStringLiteral("$"),
                                        QRegularExpression::MultilineOption);
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QRegularExpressionMatch match = expression.match(m_err, m_consumed);
        if (match.hasMatch()) {
            m_consumed = match.capturedEnd();
            return match;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return {};
        m_process.waitForReadyRead(200);
        m_err += QString::fromUtf8(m_process.readAllStandardError());
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

std::optional<QPoint> WatchedProgram::where(const QString& objectName)
{
    m_process.write(("where " + objectName + "\n").toUtf8());
    const QRegularExpressionMatch match = waitFor("where " + objectName + " (none|(\\d+) (\\d+))");
    if (!match.hasMatch() || match.captured(1) == "none")
        return std::nullopt;
    return QPoint(match.captured(2).toInt(), match.captured(3).toInt());
}

std::optional<QPoint> WatchedProgram::whereShown(const QString& objectName)
{
    QDeadlineTimer deadline(kStepTimeoutMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (const std::optional<QPoint> found = where(objectName))
            return found;
        QThread::msleep(200);
    }
    return std::nullopt;
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
    const ToolRun run = runTool("xdotool", arguments);
    if (out)
        *out = run.out.trimmed();
    if (run.exitCode != 0)
        qWarning("xdotool %s: %s", qUtf8Printable(arguments.join(' ')), qUtf8Printable(run.err));
    return run.exitCode == 0;
}

QString visibleWindow()
{
    QString window;
    if (!xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrix$"}, &window))
        return {};
    return window.section('\n', 0, 0);
}

QImage grabWindow(const QString& window, const QString& name)
{
    const QString path = QStringLiteral(TAVRIX_GRAB_DIR "/%1.png").arg(name);
    QFile::remove(path);
    const ToolRun run = runTool("import", {"-window", window, path});
    if (run.exitCode != 0)
        qWarning("import: %s", qUtf8Printable(run.err));
    return QImage(path).convertToFormat(QImage::Format_RGB32);
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
