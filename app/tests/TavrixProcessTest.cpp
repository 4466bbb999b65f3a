// The program as a whole process: --version, --help and a wrong option
// without a display; screenshot mode on each graphics tier under an X server
// (Xvfb in CI, Mesa's llvmpipe for the GL tiers): the PNG, its log line,
// missing directories, the exit codes and the fall-through from tier to tier;
// termination signals ending the program cleanly, a recording in progress
// finished into a whole file (started through a test-only plugin that Qt
// loads into the unchanged program, hook/ProgramHookPlugin.cpp).

#include "ToolRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <signal.h>

namespace {

constexpr int kRunTimeoutMs = 300000;
constexpr char kSavedVia[] = "' (1280x800) via ";
const QString kTier0 = QStringLiteral("opengl (real GL context)");
const QString kTier1 = QStringLiteral("opengl + LIBGL_ALWAYS_SOFTWARE=1 (Mesa software GL)");
const QString kTier2 = QStringLiteral("QSG_RHI_BACKEND=software (no GL; panels are placeholders)");

struct Run {
    int exitCode = -100;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

QString retryLine(const QString& from, const QString& to)
{
    return QStringLiteral("--screenshot: %1 did not produce a usable image, retrying with %2").arg(from, to);
}

const QProcessEnvironment& noDisplay()
{
    static const QProcessEnvironment environment = [] {
        QProcessEnvironment values;
        values.insert("DISPLAY", "");
        values.insert("WAYLAND_DISPLAY", "");
        return values;
    }();
    return environment;
}

QString collapseBlanks(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
}

}  // namespace

class TavrixProcessTest : public QObject {
    Q_OBJECT

private:
    // Runs `program` (the built one unless given) in a clean environment
    // plus `extra`; `onStarted` runs once the process has started.
    Run run(const QStringList& arguments, const QProcessEnvironment& extra = {},
            const std::function<void()>& onStarted = {}, const QString& program = QStringLiteral(TAVRIX_BINARY))
    {
        QProcess process;
        process.setProcessEnvironment(programEnvironment(extra));
        process.start(program, arguments);
        Run result;
        if (!process.waitForStarted()) {
            qWarning("could not start %s", qUtf8Printable(program));
            return result;
        }
        if (onStarted)
            onStarted();
        if (!process.waitForFinished(kRunTimeoutMs)) {
            qWarning("%s did not finish", qUtf8Printable(program));
            process.kill();
            process.waitForFinished();
        }
        result.exitCode = process.exitCode();
        result.exitStatus = process.exitStatus();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // A clean environment plus `extra`.
    QProcessEnvironment programEnvironment(const QProcessEnvironment& extra) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"TVX_QSG_MODE", "QSG_RHI_BACKEND", "LIBGL_ALWAYS_SOFTWARE", "QT_QUICK_BACKEND",
                                 "TAVRIX_KIOSK", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        environment.insert("XDG_CONFIG_HOME", m_configDir.path());
        environment.insert("TAVRIX_TEST_SOURCE", "1");
        environment.insert("TAVRIX_LANG", "en");
        for (const QString& name : extra.keys())
            environment.insert(name, extra.value(name));
        return environment;
    }

    // Starts the program in the normal mode, with the test hook loaded and
    // HOME at `home`, and waits until its standard error shows `marker`
    // (whose line the hook writes). Everything read so far goes to `err`.
    bool startWithHook(QProcess& process, const QString& home, const QProcessEnvironment& extra,
                       const QString& marker, QString& err)
    {
        QProcessEnvironment environment = programEnvironment(extra);
        environment.insert("HOME", home);
        environment.remove("SNAP_REAL_HOME");
        environment.insert("QT_PLUGIN_PATH", QStringLiteral(TAVRIX_HOOK_PLUGIN_PATH));
        environment.insert("QT_QPA_GENERIC_PLUGINS", "tavrixtesthook");
        process.setProcessEnvironment(environment);
        // The window opens a session on the test-pattern camera at once.
        process.start(QStringLiteral(TAVRIX_BINARY), {"--screen", "session"});
        if (!process.waitForStarted())
            return false;
        QDeadlineTimer deadline(kRunTimeoutMs);
        while (!err.contains(marker)) {
            const bool hookFailed =
                err.contains("test hook: error") || err.contains("test hook: startRecording returned false");
            if (hookFailed || deadline.hasExpired() || process.state() != QProcess::Running)
                return false;
            process.waitForReadyRead(500);
            err += QString::fromUtf8(process.readAllStandardError());
        }
        return true;
    }

    // Sends `signalNumber` and waits for the end; the rest of standard error
    // is added to `err`.
    static bool endWith(QProcess& process, int signalNumber, QString& err)
    {
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        const bool ended = process.waitForFinished(kRunTimeoutMs);
        err += QString::fromUtf8(process.readAllStandardError());
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        return ended;
    }

    static QProcessEnvironment environmentOf(std::initializer_list<std::pair<const char*, const char*>> pairs)
    {
        QProcessEnvironment environment;
        for (const auto& [name, value] : pairs)
            environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        return environment;
    }

    QTemporaryDir m_configDir;
    QTemporaryDir m_shotsDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_configDir.isValid());
        QVERIFY(m_shotsDir.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(TAVRIX_BINARY)), TAVRIX_BINARY);
    }

    void versionNeedsNoDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("--version") << QStringList{"--version"};
        QTest::newRow("-v after Qt's own options") << QStringList{"-platform", "xcb", "-reverse", "-v"};
    }
    void versionNeedsNoDisplay()
    {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments, noDisplay());
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QStringLiteral("Tavrix 1.1.1\n"));
        QCOMPARE(result.err, QString());
    }

    void helpShowsTheDescriptionAndEveryOption()
    {
        const Run result = run({"--help"}, noDisplay());
        QCOMPARE(result.exitCode, 0);
        const QString help = collapseBlanks(result.out);
        const QStringList expected = {
            QString::fromUtf8("Tavrix for Linux — a live camera feed replayed on a delay."),
            "--kiosk Start full-screen, e.g. for a Pi kiosk unit (see packaging/pi/). Same as TAVRIX_KIOSK=1 in "
            "the environment.",
            "--screenshot <path> Developer: grab the main window to <path> as a PNG after --after milliseconds, "
            "then quit. Exit code is 0 on success, non-zero if the grab failed or no window appeared. For headless "
            "UI review (WSL2, a Raspberry Pi over SSH).",
            "--after <ms> Developer: milliseconds to wait before the --screenshot grab. Default 1500.",
            QString::fromUtf8(
                "--screen <name> Developer: which screen/sheet to show at startup — start (default), session, "
                "share, menu, session-form, tour, tour-session. \"session\", \"tour-session\" and the sheet names "
                "start a session on the synthetic \"test\" camera so a headless machine with no webcam attached "
                "still has something to show."),
            QString::fromUtf8(
                "--layout <id> Developer: initial panel layout id for --screen session/menu/share/session-form "
                "(e.g. 4-grid, 2-side, 3-row — see qml/Layouts). Defaults to the single-panel layout."),
            "--tour-step <n> Developer: with --screen tour or tour-session, the zero-based step to open the "
            "walkthrough on (see qml/TourSteps). Defaults to 0.",
        };
        for (const QString& text : expected)
            QVERIFY2(help.contains(text), qUtf8Printable(text));
        QVERIFY(help.indexOf("--kiosk") < help.indexOf("--tour-step"));
    }

    // Rejected before anything needs a display, with the reason and the usage.
    void unknownOptionFails_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown") << QStringList{"--bogus"} << "Tavrix: Unknown option 'bogus'.";
        QTest::newRow("beside --help") << QStringList{"--help", "--bogus"} << "Tavrix: Unknown option 'bogus'.";
        QTest::newRow("missing value") << QStringList{"--screen"} << "Tavrix: Missing value after '--screen'.";
        QTest::newRow("among Qt's options") << QStringList{"-platform", "offscreen", "--bogus"}
                                            << "Tavrix: Unknown option 'bogus'.";
    }
    void unknownOptionFails()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        const Run result = run(arguments, noDisplay());
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.startsWith(reason + "\n"), qUtf8Printable(result.err));
        QVERIFY2(result.err.contains("Usage: ") && result.err.contains("--kiosk"), qUtf8Printable(result.err));
        QCOMPARE(result.out, QString());
    }

    void screenshotOnEachTier_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("tierName");
        QTest::newRow("tier 0") << QString() << kTier0;
        QTest::newRow("tier 1") << "gl-soft" << kTier1;
        QTest::newRow("tier 2") << "software" << kTier2;
    }
    void screenshotOnEachTier()
    {
        QFETCH(QString, mode);
        QFETCH(QString, tierName);
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        // Levels that do not exist yet.
        const QString path = m_shotsDir.filePath(QStringLiteral("tier%1/a/b/shot.png").arg(QTest::currentDataTag()));
        QProcessEnvironment extra;
        if (!mode.isNull())
            extra.insert("TVX_QSG_MODE", mode);
        const Run result = run({"--screenshot", path, "--after", "700"}, extra);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QVERIFY2(result.exitCode == 0, qUtf8Printable(result.err));
        QVERIFY2(result.err.contains("--screenshot: saved '" + path + kSavedVia + tierName + "\n"),
                 qUtf8Printable(result.err));
        QVERIFY(!result.err.contains("retrying with"));
        QVERIFY(!result.err.contains("is not one of"));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
        const QImage image(path);
        QCOMPARE(image.size(), QSize(1280, 800));
        // Not a blank grab: the start screen's icon, words and tiles.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 4) {
            for (int x = 0; x < image.width(); x += 4)
                colours.insert(image.pixel(x, y));
        }
        QVERIFY2(colours.size() > 2, "the grab is flat");
    }

    void graphicsFailureFallsThroughToTheSoftwareTier()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        const QString path = m_shotsDir.filePath("fallthrough.png");
        // No GL integration: both GL tiers fail to create a context.
        const Run result = run({"--screenshot", path, "--after", "500"},
                               environmentOf({{"QT_XCB_GL_INTEGRATION", "none"}}));
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QVERIFY2(result.exitCode == 0, qUtf8Printable(result.err));
        const int first = result.err.indexOf(retryLine(kTier0, kTier1));
        const int second = result.err.indexOf(retryLine(kTier1, kTier2));
        const int saved = result.err.indexOf("--screenshot: saved '" + path + kSavedVia + kTier2);
        QVERIFY2(first >= 0 && second > first && saved > second, qUtf8Printable(result.err));
        QVERIFY(result.err.contains("--screenshot: the scene graph failed under " + kTier0));
        QCOMPARE(QImage(path).size(), QSize(1280, 800));
    }

    void saveFailureEndsWithThree_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("tiersTried");
        QTest::newRow("on tier 2 alone") << "software" << 1;
        QTest::newRow("through all three tiers") << QString() << 3;
    }
    void saveFailureEndsWithThree()
    {
        QFETCH(QString, mode);
        QFETCH(int, tiersTried);
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        // A directory level that is a file: unwritable even for root.
        QFile blocker(m_shotsDir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = m_shotsDir.filePath("blocker/shot.png");
        QProcessEnvironment extra;
        if (!mode.isNull())
            extra.insert("TVX_QSG_MODE", mode);
        const Run result = run({"--screenshot", path, "--after", "500"}, extra);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.exitCode, 3);
        QCOMPARE(result.err.count("--screenshot: failed to save '" + path + "'"), tiersTried);
        QCOMPARE(result.err.count("retrying with"), tiersTried - 1);
    }

    void rerunThatCannotStartIsMinusOne()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        // A copy of the program removed while it runs, as by an update: its
        // re-run on the next tier cannot start.
        QTemporaryDir programDir;
        const QString copy = programDir.filePath("tavrix");
        QVERIFY(QFile::copy(QStringLiteral(TAVRIX_BINARY), copy));
        const Run result = run({"--screenshot", m_shotsDir.filePath("never.png"), "--after", "500"},
                               environmentOf({{"QT_XCB_GL_INTEGRATION", "none"}, {"TVX_QSG_MODE", "gl-soft"}}),
                               [&copy] { QFile::remove(copy); }, copy);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.exitCode, 255);  // -1
        QVERIFY2(result.err.contains(retryLine(kTier1, kTier2)), qUtf8Printable(result.err));
        QVERIFY(result.err.contains("--screenshot: could not start the " + kTier2 + " retry process"));
        QVERIFY(!QFile::exists(m_shotsDir.filePath("never.png")));
    }

    void unknownScreenIsLoggedAndTheStartScreenShown()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        const QString path = m_shotsDir.filePath("screen.png");
        const Run result = run({"--screenshot", path, "--after", "300", "--screen", "settings"},
                               environmentOf({{"TVX_QSG_MODE", "software"}}));
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.err.contains("--screen 'settings' is not one of "
                                     "start/session/share/menu/session-form/tour/tour-session; using 'start'"),
                 qUtf8Printable(result.err));
    }

    void terminationSignalsEndWithZero_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("name");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
        QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT";
        QTest::newRow("SIGHUP") << int(SIGHUP) << "SIGHUP";
    }
    void terminationSignalsEndWithZero()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, name);
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        QTemporaryDir home;
        QProcess process;
        QString err;
        QVERIFY2(startWithHook(process, home.path(), {}, "test hook: session running", err), qUtf8Printable(err));
        QVERIFY(endWith(process, signalNumber, err));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(err.contains(name + ": finishing and quitting"), qUtf8Printable(err));
        // The session's camera and panel threads were stopped, not cut off.
        QVERIFY2(err.contains("PanelDecoder: decode thread stopped on request"), qUtf8Printable(err));
    }

    // A kiosk unit is switched off by SIGTERM in the middle of a recording:
    // the file is finished, with its index, and decodes to its end.
    void sigtermFinishesTheRecording()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        QTemporaryDir home;
        const QString path = home.filePath("Tavrix signal.mp4");
        QProcess process;
        QString err;
        QVERIFY2(startWithHook(process, home.path(), environmentOf({{"TAVRIX_TEST_HOOK_RECORD", qPrintable(path)}}),
                               "test hook: recording for", err),
                 qUtf8Printable(err));
        QVERIFY(endWith(process, SIGTERM, err));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const int quitting = err.indexOf("SIGTERM: finishing and quitting");
        const int saved = err.indexOf("CompositeRecorder: saved '" + path + "'");
        QVERIFY2(quitting >= 0 && saved > quitting, qUtf8Printable(err));

        const ToolRun probe = runTool("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                                                  "-show_entries", "stream=codec_name,nb_read_frames", "-of",
                                                  "default=noprint_wrappers=1", path});
        QVERIFY2(probe.exitCode == 0 && probe.err.isEmpty(), qUtf8Printable(probe.err));
        QVERIFY2(probe.out.contains("codec_name=h264\n"), qUtf8Printable(probe.out));
        const QRegularExpressionMatch frames =
            QRegularExpression(QStringLiteral("nb_read_frames=(\\d+)")).match(probe.out);
        QVERIFY2(frames.hasMatch() && frames.captured(1).toInt() >= 10, qUtf8Printable(probe.out));

        const ToolRun decode = runTool("ffmpeg", {"-v", "error", "-xerror", "-i", path, "-f", "null", "-"});
        QVERIFY2(decode.exitCode == 0 && decode.err.isEmpty(), qUtf8Printable(decode.err));
    }
};

QTEST_GUILESS_MAIN(TavrixProcessTest)
#include "TavrixProcessTest.moc"
