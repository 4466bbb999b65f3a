// The program's window as a user meets it, under an X server (Xvfb in CI):
// every developer start-up screen grabbed by screenshot mode, and a first
// start with fresh settings driven by a real X client (xdotool): the invite
// sheet, then the tour, whose Start opens a session, a recording made with
// the keys and the return to the start screen; the session's toolbar under a
// resting pointer; the window on a screen smaller than it. The test hook plugin
// (hook/ProgramHookPlugin.cpp) reports where the window is and where its
// buttons are; it never acts itself.

#include "ToolRun.h"
#include "WatchedProgram.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>


namespace {

// A settings directory in which the invite sheet was answered and the tour
// seen, so nothing opens over the screen asked for.
void answerFirstRun(const QString& home)
{
    QSettings settings(settingsPath(home), QSettings::IniFormat);
    settings.setValue("referral/invitedByAsked", true);
    settings.setValue("tutorial/seen", 1);
}

// Share of the sampled pixels of the top band, between the toolbar's left and
// right groups, that are brighter than the translucent toolbar lets through
// (its fill covers three quarters of the picture with near black).
double brightShareOfTopBand(const QImage& image)
{
    int bright = 0;
    int all = 0;
    for (int y = 4; y < 40; y += 4) {
        for (int x = 150; x < image.width() - 380; x += 6) {
            const QRgb pixel = image.pixel(x, y);
            bright += std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)}) > 120 ? 1 : 0;
            ++all;
        }
    }
    return all ? double(bright) / all : 0;
}

// Keeps a copy beside the test for a look; the test reads its own picture,
// which a run beside it cannot overwrite.
void keepForALook(const QString& path, const QString& name)
{
    const QString kept = QStringLiteral(TAVRIX_GRAB_DIR "/%1.png").arg(name);
    QFile::remove(kept);
    QFile::copy(path, kept);
}

double relativeLuminance(const QColor& colour)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

// The mean colour of a 3 x 5 patch inside a button, left of its label.
QColor buttonFill(const QImage& image, const QRect& box)
{
    int r = 0, g = 0, b = 0;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = 3; dx <= 5; ++dx) {
            const QRgb pixel = image.pixel(box.x() + dx, box.center().y() + dy);
            r += qRed(pixel);
            g += qGreen(pixel);
            b += qBlue(pixel);
        }
    }
    return QColor(r / 15, g / 15, b / 15);
}

}  // namespace


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
        const QString path = home.filePath("window.png");
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
        keepForALook(path, QStringLiteral("window-%1").arg(QTest::currentDataTag()));
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
        // Two seconds with the sheet open, and no change of state.
        program.keepReading(2000);
        QVERIFY(program.sync());
        QVERIFY2(!program.unconsumed().contains("tour="), qUtf8Printable(program.unconsumed()));
        QVERIFY(!QSettings(settingsPath(home.path()), QSettings::IniFormat).contains("tutorial/seen"));

        const QString window = program.window();
        QVERIFY(!window.isEmpty());
        const auto clickUntil = [&](const QPoint& at, const QString& state) {
            return program.clickUntil(window, at, [&] { return program.waitFor(state, 0).hasMatch(); });
        };

        const std::optional<QPoint> skip = program.whereShown("inviteSkipButton");
        QVERIFY(skip);
        // The tour follows the answered sheet, and is marked as seen.
        QVERIFY2(clickUntil(*skip, "state screen=start invite=closed tour=idle recording=0"),
                 qUtf8Printable(program.err()));
        QVERIFY2(program.waitFor("state screen=start invite=closed tour=showing:0 recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QSettings written(settingsPath(home.path()), QSettings::IniFormat);
        QVERIFY(program.waitUntil([&] {
            written.sync();
            return written.value("tutorial/seen").toLongLong() == 1;
        }));
        QVERIFY(written.value("referral/invitedByAsked").toBool());

        // Through the start-screen steps with Return; the layout step's
        // Start opens a two-panel session, and the tour goes on there.
        for (int step = 1; step <= 4; ++step) {
            QVERIFY(program.press("Return"));
            QVERIFY2(program.waitFor(QStringLiteral("state screen=start invite=closed tour=showing:%1 recording=0")
                                         .arg(step))
                         .hasMatch(),
                     qUtf8Printable(program.err()));
        }
        QVERIFY(program.press("Return"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=\\w+:\\d+ recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=showing:\\d+ recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        // R is off while the tour runs; Escape skips the tour and nothing else.
        QVERIFY(program.press("r"));
        QVERIFY(program.press("Escape"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QVERIFY(!program.where("startRecordingButton"));

        // R opens the details form, its Start records, R stops.
        QVERIFY(program.press("r"));
        const std::optional<QPoint> start = program.whereShown("startRecordingButton");
        QVERIFY(start);
        QVERIFY2(clickUntil(*start, "state screen=session invite=none tour=idle recording=2"),
                 qUtf8Printable(program.err()));
        QVERIFY(program.waitUntil([&] { return program.recordedMs() >= 2500; }));
        QVERIFY(program.press("r"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        // Escape leaves the session for a new start screen, without the sheet.
        QVERIFY(program.press("Escape"));
        QVERIFY2(program.waitFor("state screen=start invite=closed tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        const QString wrong = checkOnlyRecording(home.path(), 3.0);
        QVERIFY2(wrong.isEmpty(), qUtf8Printable(wrong));
        QVERIFY(program.terminatesCleanly());
    }

    // The toolbar with a mouse resting over the picture, as on a laptop:
    // gone 3 s after the last movement although the panels repaint every
    // frame, back with the next movement, and kept while a recording runs.
    // Its panel-count buttons tell the chosen count from the others.
    void toolbarUnderARestingPointer()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        answerFirstRun(home.path());
        WatchedProgram program(home.path(), {"--screen", "session", "--layout", "2-side"});
        QVERIFY(program.start());
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        const QString window = program.window();
        QVERIFY(!window.isEmpty());
        const auto moveTo = [&](int x, int y) {
            return xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y)});
        };
        QVERIFY(moveTo(600, 300));
        QVERIFY(moveTo(612, 306));
        QVERIFY(program.whereShown("toolbar"));
        // It hides 3 s after a movement: what needs it shown follows a
        // movement of its own (a pixel aside each time).
        int movements = 0;
        const auto afterAMovement = [&](const std::function<bool()>& holds) {
            return program.waitUntil([&] {
                ++movements;
                return moveTo(612 + movements % 2, 306) && program.whereShown("toolbar") && holds();
            });
        };
        std::optional<QRect> checkedBox;
        std::optional<QRect> uncheckedBox;
        afterAMovement([&] {
            checkedBox = program.rect("panelCountButton2");
            uncheckedBox = program.rect("panelCountButton1");
            return checkedBox && uncheckedBox;
        });
        QVERIFY(checkedBox && uncheckedBox);
        QImage shown;
        afterAMovement([&] {
            shown = grabWindow(window, "toolbar-shown");
            return brightShareOfTopBand(shown) < 0.02;
        });
        QVERIFY2(brightShareOfTopBand(shown) < 0.02, qPrintable(QString::number(brightShareOfTopBand(shown))));

        // The checked count (2) against an unchecked one: at least 3:1.
        const QColor checkedFill = buttonFill(shown, *checkedBox);
        const QColor uncheckedFill = buttonFill(shown, *uncheckedBox);
        const double checked = relativeLuminance(checkedFill);
        const double unchecked = relativeLuminance(uncheckedFill);
        const double contrast = (std::max(checked, unchecked) + 0.05) / (std::min(checked, unchecked) + 0.05);
        QVERIFY2(contrast >= 3.0, qPrintable(QStringLiteral("%1 (%2 against %3)")
                                                 .arg(contrast)
                                                 .arg(checkedFill.name(), uncheckedFill.name())));

        // Left still: the pointer's hover, repeated while the panels
        // repaint, is no movement.
        program.keepReading(5000);
        QVERIFY(program.waitUntil([&] { return !program.where("toolbar"); }));
        const QImage hidden = program.grabUntil(window, "toolbar-hidden",
                                                [](const QImage& grab) { return brightShareOfTopBand(grab) > 0.5; });
        QVERIFY2(brightShareOfTopBand(hidden) > 0.5, qPrintable(QString::number(brightShareOfTopBand(hidden))));

        QVERIFY(moveTo(630, 320));
        QVERIFY(program.whereShown("toolbar"));
        QImage back;
        afterAMovement([&] {
            back = grabWindow(window, "toolbar-back");
            return brightShareOfTopBand(back) < 0.02;
        });
        QVERIFY2(brightShareOfTopBand(back) < 0.02, qPrintable(QString::number(brightShareOfTopBand(back))));

        // A recording keeps it, also once the title card is gone.
        QVERIFY(program.press("r"));
        const std::optional<QPoint> start = program.whereShown("startRecordingButton");
        QVERIFY(start);
        QVERIFY2(program.clickUntil(window, *start, [&] {
            return program.waitFor("state screen=session invite=none tour=idle recording=2", 0).hasMatch();
        }),
                 qUtf8Printable(program.err()));
        program.keepReading(9000);
        QVERIFY(program.waitUntil([&] { return !program.where("titleCard"); }));
        QVERIFY(program.where("toolbar"));
        const QImage recording = program.grabUntil(window, "toolbar-recording",
                                                   [](const QImage& grab) { return brightShareOfTopBand(grab) < 0.02; });
        QVERIFY2(brightShareOfTopBand(recording) < 0.02,
                 qPrintable(QString::number(brightShareOfTopBand(recording))));
        QVERIFY(program.press("r"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
    }

    // On a screen smaller than 1280 x 800 the window opens no larger than it.
    void windowFitsASmallScreen()
    {
        QProcess server;
        server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x600x24", "-nolisten", "tcp"});
        QVERIFY(server.waitForStarted());
        QString display;
        const QDeadlineTimer deadline(kStepTimeoutMs);
        while (!display.contains('\n') && !deadline.hasExpired() && server.state() == QProcess::Running) {
            server.waitForReadyRead(100);
            display += QString::fromLatin1(server.readAllStandardOutput());
        }
        bool numbered = false;
        display.trimmed().toInt(&numbered);
        QVERIFY2(numbered, qPrintable(display));

        QTemporaryDir home;
        QVERIFY(home.isValid());
        answerFirstRun(home.path());
        const QString path = home.filePath("window.png");
        QProcess process;
        QProcessEnvironment environment = programEnvironment(home.path());
        environment.insert("DISPLAY", ":" + display.trimmed());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TAVRIX_BINARY), {"--screenshot", path, "--after", "2000", "--screen", "start"});
        QVERIFY(process.waitForStarted());
        QVERIFY(process.waitForFinished(300000));
        server.terminate();
        server.waitForFinished();
        QVERIFY2(process.exitCode() == 0, qUtf8Printable(QString::fromUtf8(process.readAllStandardError())));
        const QSize size = QImage(path).size();
        keepForALook(path, "window-small-screen");
        QVERIFY2(size.width() > 0 && size.width() <= 1024 && size.height() <= 600,
                 qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
    }
};

QTEST_GUILESS_MAIN(TavrixWindowTest)
#include "TavrixWindowTest.moc"
