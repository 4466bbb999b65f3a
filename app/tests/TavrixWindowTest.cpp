// The program's window as a user meets it, under an X server (Xvfb in CI):
// every developer start-up screen grabbed by screenshot mode, and a first
// start with fresh settings driven by a real X client (xdotool): the invite
// sheet, then the tour, whose Start opens a session, a recording made with
// the keys and the return to the start screen. The test hook plugin
// (hook/ProgramHookPlugin.cpp) reports where the window is and where its
// buttons are; it never acts itself.

#include "ToolRun.h"
#include "WatchedProgram.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>


class TavrixWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        QVERIFY2(QFile::exists(QStringLiteral(TAVRIX_BINARY)), TAVRIX_BINARY);
    }

    // Each developer screen opens over the test-pattern camera and draws
    // something; the pictures are kept beside the test for a look.
    void developerScreensAreDrawn_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("start") << QStringList {"--screen", "start"};
        QTest::newRow("session") << QStringList {"--screen", "session", "--layout", "4-grid"};
        QTest::newRow("menu") << QStringList {"--screen", "menu"};
        QTest::newRow("share") << QStringList {"--screen", "share", "--layout", "2-side"};
        QTest::newRow("session-form") << QStringList {"--screen", "session-form"};
        QTest::newRow("language") << QStringList {"--screen", "language"};
        QTest::newRow("tour") << QStringList {"--screen", "tour", "--tour-step", "1"};
        QTest::newRow("tour-session") << QStringList {"--screen", "tour-session", "--layout", "2-side"};
    }
    void developerScreensAreDrawn()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        // Answered before: no invite sheet over the start screen.
        {
            QSettings settings(settingsPath(home.path()), QSettings::IniFormat);
            settings.setValue("referral/invitedByAsked", true);
        }
        const QString path = QStringLiteral(TAVRIX_GRAB_DIR "/window-%1.png").arg(QTest::currentDataTag());
        QFile::remove(path);
        QProcess process;
        process.setProcessEnvironment(programEnvironment(home.path()));
        process.start(QStringLiteral(TAVRIX_BINARY), QStringList {"--screenshot", path, "--after", "3000"} + arguments);
        QVERIFY(process.waitForStarted());
        QVERIFY(process.waitForFinished(300000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qUtf8Printable(err));
        QVERIFY2(!err.contains("retrying with"), qUtf8Printable(err));
        QVERIFY2(!err.contains(".qml:"), qUtf8Printable(err));

        const QImage image(path);
        QCOMPARE(image.size(), QSize(1280, 800));
        QVERIFY2(colourCount(image) >= 16, qPrintable(QString::number(colourCount(image))));
    }

    // A first start with fresh settings, driven by keys and clicks from
    // another X client as a user would.
    void firstStartFromInviteToRecording()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        WatchedProgram program(home.path());
        QVERIFY(program.start());

        // The invite sheet first; the tour waits behind it.
        QVERIFY2(program.waitFor("state screen=start invite=open tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        program.keepReading(2000);
        QVERIFY2(!program.unconsumed().contains("tour="), qUtf8Printable(program.unconsumed()));
        QVERIFY(!QSettings(settingsPath(home.path()), QSettings::IniFormat).contains("tutorial/seen"));

        QString window;
        QVERIFY(xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrix$"}, &window));
        window = window.section('\n', 0, 0);
        QVERIFY(xdotool({"windowfocus", "--sync", window}));
        const auto click = [&](const QPoint& at) {
            return xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()),
                            "click", "1"});
        };
        const auto key = [&](const QString& name) { return xdotool({"key", "--clearmodifiers", name}); };
        // A click the window was not ready for is lost, as for a user, who
        // clicks again: up to three clicks until the state shows.
        const auto clickUntil = [&](const QPoint& at, const QString& state) {
            for (int attempt = 0; attempt < 3; ++attempt) {
                if (click(at) && program.waitFor(state, 15000).hasMatch())
                    return true;
            }
            return false;
        };

        const std::optional<QPoint> skip = program.whereShown("inviteSkipButton");
        QVERIFY(skip);
        // The tour follows the answered sheet, and is marked as seen.
        QVERIFY2(clickUntil(*skip, "state screen=start invite=closed tour=idle recording=0"),
                 qUtf8Printable(program.err()));
        QVERIFY2(program.waitFor("state screen=start invite=closed tour=showing:0 recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QSettings written(settingsPath(home.path()), QSettings::IniFormat);
        QTRY_VERIFY_WITH_TIMEOUT((written.sync(), written.value("tutorial/seen").toLongLong() == 1), 20000);
        QVERIFY(written.value("referral/invitedByAsked").toBool());

        // Through the start-screen steps with Return; the layout step's
        // Start opens a two-panel session, and the tour goes on there.
        for (int step = 1; step <= 4; ++step) {
            QVERIFY(key("Return"));
            QVERIFY2(program.waitFor(QStringLiteral("state screen=start invite=closed tour=showing:%1 recording=0")
                                         .arg(step))
                         .hasMatch(),
                     qUtf8Printable(program.err()));
        }
        QVERIFY(key("Return"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=\\w+:\\d+ recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=showing:\\d+ recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        // R is off while the tour runs; Escape skips the tour and nothing else.
        QVERIFY(key("r"));
        QVERIFY(key("Escape"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QVERIFY(!program.where("startRecordingButton"));

        // R opens the details form, its Start records, R stops.
        QVERIFY(key("r"));
        const std::optional<QPoint> start = program.whereShown("startRecordingButton");
        QVERIFY(start);
        QVERIFY2(clickUntil(*start, "state screen=session invite=none tour=idle recording=2"),
                 qUtf8Printable(program.err()));
        program.keepReading(2500);
        QVERIFY(key("r"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        // Escape leaves the session for a new start screen, without the sheet.
        QVERIFY(key("Escape"));
        QVERIFY2(program.waitFor("state screen=start invite=closed tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        const QStringList recordings =
            QDir(home.filePath("Videos/Tavrix")).entryList({"*.mp4"}, QDir::Files, QDir::Name);
        QCOMPARE(recordings.size(), 1);
        const QString file = home.filePath("Videos/Tavrix/" + recordings.first());
        const ToolRun probe = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "stream=codec_name,width,height:format=duration", "-of",
                                                  "default=noprint_wrappers=1", file});
        QVERIFY2(probe.exitCode == 0 && probe.err.isEmpty(), qUtf8Printable(probe.err));
        QVERIFY2(probe.out.contains("codec_name=h264\n"), qUtf8Printable(probe.out));
        const QRegularExpressionMatch duration =
            QRegularExpression(QStringLiteral("duration=([0-9.]+)")).match(probe.out);
        QVERIFY2(duration.hasMatch() && duration.captured(1).toDouble() > 3.0, qUtf8Printable(probe.out));

        ::kill(static_cast<pid_t>(program.process().processId()), SIGTERM);
        QVERIFY(program.process().waitForFinished(60000));
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TavrixWindowTest)
#include "TavrixWindowTest.moc"
