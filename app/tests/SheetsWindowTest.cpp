// Escape in the real program under an X server (Xvfb in CI), pressed by
// another X client (xdotool) as a user presses it: over the language sheet
// on a running session it closes the sheet and the session goes on; with the
// camera picker's list open it closes the list and nothing else. Grabs of
// the window are kept beside the test for a look.

#include "WatchedProgram.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>


namespace {

// Answered before: no invite sheet and no first-run tour.
void answerFirstRun(const QString& home)
{
    QSettings settings(settingsPath(home), QSettings::IniFormat);
    settings.setValue("referral/invitedByAsked", true);
    settings.setValue("tutorial/seen", qint64(1));
}

// Pixels that differ between two grabs inside `area`.
int differingPixels(const QImage& a, const QImage& b, const QRect& area)
{
    int count = 0;
    const QRect inside = area.intersected(a.rect()).intersected(b.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                ++count;
        }
    }
    return count;
}

} // namespace

class SheetsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server (xvfb-run)");
        QVERIFY2(QFile::exists(QStringLiteral(TAVRIX_BINARY)), TAVRIX_BINARY);
    }

    // At the kiosk size: the menu's Language button opens the sheet over the
    // running session; Escape closes the sheet and leaves the session.
    void escapeOverTheLanguageSheetKeepsTheSession()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        answerFirstRun(home.path());
        WatchedProgram program(home.path(), {"--screen", "session", "-qwindowgeometry", "800x480"});
        QVERIFY(program.start());
        QVERIFY2(program.waitFor("state screen=session invite=none tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        QVERIFY2(program.waitFor("session running").hasMatch(), qUtf8Printable(program.err()));
        const QString window = program.window();
        QVERIFY(!window.isEmpty());

        const std::optional<QPoint> menu = program.whereShown("tour-menu");
        QVERIFY(menu);
        std::optional<QPoint> language;
        QVERIFY(program.clickUntil(window, *menu, [&] {
            language = program.where("menu-language");
            return language.has_value();
        }));
        grabWindow(window, "sheets-menu");
        // On the short screen the button lies further down the drawer.
        for (int turn = 0; turn < 12 && language && language->y() > 450; ++turn) {
            QVERIFY(program.scroll(window, QPoint(160, 240), 1, "menu-view"));
            language = program.where("menu-language");
        }
        QVERIFY(language);
        QVERIFY2(language->y() < 480, qPrintable(QString::number(language->y())));
        std::optional<QPoint> done;
        QVERIFY(program.clickUntil(window, *language, [&] {
            done = program.where("lang-done");
            return done.has_value();
        }));
        // Done stays inside the 800 x 480 window.
        QVERIFY2(done->y() < 480, qPrintable(QString::number(done->y())));
        grabWindow(window, "sheets-language-over-session");

        QVERIFY(program.press("Escape"));
        QVERIFY2(!program.unconsumed().contains("screen=start"), qUtf8Printable(program.unconsumed()));
        QVERIFY(program.waitUntil([&] { return !program.where("lang-done"); }));
        // The session screen is still there: a movement brings its toolbar back.
        QVERIFY(xdotool({"mousemove", "--window", window, "400", "300"}));
        QVERIFY(program.whereShown("tour-menu"));
        // The panel still plays the test pattern behind what is left open.
        const QImage after = program.grabUntil(window, "sheets-after-escape",
                                               [](const QImage& grab) { return colourCount(grab) >= 16; });
        QVERIFY2(colourCount(after) >= 16, qPrintable(QString::number(colourCount(after))));

        QVERIFY(program.terminatesCleanly());
    }

    // The camera picker's list, opened by a click, closes on Escape; the
    // window's Escape does not act, so the screen is as before the click.
    void escapeWithTheCameraListOpenClosesOnlyTheList()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        answerFirstRun(home.path());
        WatchedProgram program(home.path(), {"--screen", "start"});
        QVERIFY(program.start());
        QVERIFY2(program.waitFor("state screen=start invite=closed tour=idle recording=0").hasMatch(),
                 qUtf8Printable(program.err()));
        const QString window = program.window();
        QVERIFY(!window.isEmpty());
        const std::optional<QPoint> box = program.whereShown("cameraBox");
        QVERIFY(box);
        // The probe has listed the cameras: the box takes clicks, and the
        // notice that stood below it is gone.
        QVERIFY(program.waitUntil([&] { return program.property("cameraBox", "enabled") == "true"; }));
        // The list opens below the box: the rows under it.
        const QRect below(box->x() - 120, box->y() + 24, 240, 90);

        QVERIFY(xdotool({"mousemove", "--window", window, QString::number(box->x()), QString::number(box->y())}));
        QVERIFY(program.waitForFrame());
        const QImage before = grabWindow(window, "sheets-camera-closed");
        QImage open;
        program.clickUntil(window, *box, [&] {
            open = grabWindow(window, "sheets-camera-list");
            return differingPixels(before, open, below) >= 500;
        });
        QVERIFY2(differingPixels(before, open, below) >= 500, "the list did not open");

        QVERIFY(program.press("Escape"));
        const QImage closed = program.grabUntil(window, "sheets-camera-after-escape", [&](const QImage& grab) {
            return differingPixels(before, grab, below) == 0;
        });
        QCOMPARE(differingPixels(before, closed, below), 0);
        // A second Escape finds nothing to close on the start screen.
        QVERIFY(program.press("Escape"));
        QVERIFY2(!program.unconsumed().contains("state "), qUtf8Printable(program.unconsumed()));
        QVERIFY(program.where("cameraBox"));

        QVERIFY(program.terminatesCleanly());
    }
};

QTEST_GUILESS_MAIN(SheetsWindowTest)
#include "SheetsWindowTest.moc"
