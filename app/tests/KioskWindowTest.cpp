// The program on the kiosk unit's 800x480 screen, under an X server (Xvfb in
// CI), driven by a real X client (xdotool): R opens the details form, whose
// Start Recording lies below the card's visible part until the card is
// scrolled (by the wheel, or by Tab, which brings the focused control into
// view); it starts a recording, R stops it, and the saved file is read back
// with ffprobe. The windows are grabbed beside the test for a look.

#include "ToolRun.h"
#include "WatchedProgram.h"

#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>


class KioskWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        QVERIFY2(QFile::exists(QStringLiteral(TAVRIX_BINARY)), TAVRIX_BINARY);
    }

    void formRecordsOnTheKioskScreen_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("byTab");
        QTest::newRow("en, wheel") << QStringLiteral("en") << false;
        QTest::newRow("de, Tab") << QStringLiteral("de") << true;
    }

    void formRecordsOnTheKioskScreen()
    {
        QFETCH(QString, language);
        QFETCH(bool, byTab);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        {
            // Answered and seen before: no invite sheet, no tour.
            QSettings settings(settingsPath(home.path()), QSettings::IniFormat);
            settings.setValue("referral/invitedByAsked", true);
            settings.setValue("tutorial/seen", 1);
        }
        WatchedProgram program(home.path(), {"--screen", "session", "--layout", "1", "-qwindowgeometry", "800x480"});
        QProcessEnvironment environment = program.process().processEnvironment();
        environment.insert("TAVRIX_LANG", language);
        program.process().setProcessEnvironment(environment);
        QVERIFY(program.start());
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        const QString window = program.window();
        QVERIFY(!window.isEmpty());
        QString geometry;
        QVERIFY(xdotool({"getwindowgeometry", window}, &geometry));
        QVERIFY2(geometry.contains("Geometry: 800x480"), qUtf8Printable(geometry));
        const auto grab = [&](const QString& what) {
            return grabWindow(window, QStringLiteral("kiosk-%1-%2").arg(language, what)).size() == QSize(800, 480);
        };

        QVERIFY(program.press("r"));
        const std::optional<QPoint> card = program.whereShown("sessionFormCard");
        QVERIFY(card);
        QVERIFY(grab("form"));
        // The card fits the window (24 px above and below); Start Recording
        // starts out below its visible part.
        const std::optional<QPoint> hidden = program.where("startRecordingButton");
        QVERIFY(hidden);
        QVERIFY2(hidden->y() + 20 > 456, qPrintable(QString::number(hidden->y())));

        if (byTab) {
            // Player, coach, six session types, title, notes, Cancel, Start.
            for (int i = 0; i < 12; ++i)
                QVERIFY(program.press("Tab"));
        } else {
            QVERIFY(program.scroll(window, *card, 12, "sessionFormScroller"));
        }
        // Wholly inside the card now.
        std::optional<QPoint> start;
        QVERIFY(program.waitUntil([&] {
            start = program.where("startRecordingButton");
            return start && start->y() + 20 <= 456;
        }));
        QVERIFY(grab("form-scrolled"));

        const QString recording = QStringLiteral("state screen=session invite=none tour=idle recording=2");
        if (byTab) {
            QVERIFY(program.press("space"));
            QVERIFY2(program.waitFor(recording).hasMatch(), qUtf8Printable(program.err()));
        } else {
            QVERIFY2(program.clickUntil(window, *start, [&] { return program.waitFor(recording, 0).hasMatch(); }),
                     qUtf8Printable(program.err()));
        }
        QVERIFY(program.waitUntil([&] { return program.recordedMs() >= 2500; }));
        QVERIFY(program.press("r"));
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));

        // The saved card: its last button within reach on this screen too.
        QVERIFY(program.whereShown("savedCard"));
        const std::optional<QPoint> close = program.whereShown("closeButton");
        QVERIFY(close);
        QVERIFY(grab("saved"));

        const QString wrong = checkOnlyRecording(home.path(), 3.0);
        QVERIFY2(wrong.isEmpty(), qUtf8Printable(wrong));
        QVERIFY(program.terminatesCleanly());
    }
};

QTEST_GUILESS_MAIN(KioskWindowTest)
#include "KioskWindowTest.moc"
