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
#include <QThread>
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
        QString window;
        QVERIFY(windowId(program, &window));

        const std::optional<QPoint> menu = program.whereShown("tour-menu");
        QVERIFY(menu);
        // A click the window was not ready for is lost, as for a user, who
        // clicks again. The drawer slides in: where its button comes to rest.
        std::optional<QPoint> language;
        for (int attempt = 0; attempt < 3 && !language; ++attempt) {
            QVERIFY(click(window, *menu));
            program.keepReading(1500);
            language = program.where("menu-language");
        }
        QVERIFY(language);
        grabWindow(window, "sheets-menu");
        // On the short screen the button lies further down the drawer.
        for (int turn = 0; turn < 12 && language && language->y() > 450; ++turn) {
            QVERIFY(xdotool({"mousemove", "--window", window, "160", "240", "click", "5"}));
            program.keepReading(200);
            language = program.where("menu-language");
        }
        QVERIFY(language);
        QVERIFY2(language->y() < 480, qPrintable(QString::number(language->y())));
        std::optional<QPoint> done;
        for (int attempt = 0; attempt < 3 && !done; ++attempt) {
            QVERIFY(click(window, *language));
            program.keepReading(1000);
            done = program.where("lang-done");
        }
        QVERIFY(done);
        // Done stays inside the 800 x 480 window.
        QVERIFY2(done->y() < 480, qPrintable(QString::number(done->y())));
        grabWindow(window, "sheets-language-over-session");

        QVERIFY(xdotool({"key", "--clearmodifiers", "Escape"}));
        program.keepReading(2500);
        QVERIFY2(!program.unconsumed().contains("screen=start"), qUtf8Printable(program.unconsumed()));
        QVERIFY(!program.where("lang-done"));
        // The session screen is still there: a movement brings its toolbar back.
        QVERIFY(xdotool({"mousemove", "--window", window, "400", "300"}));
        QVERIFY(program.whereShown("tour-menu"));
        // The panel still plays the test pattern behind what is left open.
        const QImage after = grabWindow(window, "sheets-after-escape");
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
        QString window;
        QVERIFY(windowId(program, &window));
        const std::optional<QPoint> box = program.whereShown("cameraBox");
        QVERIFY(box);
        // The list opens below the box: the rows under it.
        const QRect below(box->x() - 120, box->y() + 24, 240, 90);

        QVERIFY(xdotool({"mousemove", "--window", window, QString::number(box->x()), QString::number(box->y())}));
        program.keepReading(800);
        const QImage before = grabWindow(window, "sheets-camera-closed");
        QImage open;
        for (int attempt = 0; attempt < 3 && differingPixels(before, open, below) < 500; ++attempt) {
            QVERIFY(click(window, *box));
            program.keepReading(1000);
            open = grabWindow(window, "sheets-camera-list");
        }
        QVERIFY2(differingPixels(before, open, below) >= 500, "the list did not open");

        QVERIFY(xdotool({"key", "--clearmodifiers", "Escape"}));
        program.keepReading(1500);
        const QImage closed = grabWindow(window, "sheets-camera-after-escape");
        QCOMPARE(differingPixels(before, closed, below), 0);
        // A second Escape finds nothing to close on the start screen.
        QVERIFY(xdotool({"key", "--clearmodifiers", "Escape"}));
        program.keepReading(1500);
        QVERIFY2(!program.unconsumed().contains("state "), qUtf8Printable(program.unconsumed()));
        QVERIFY(program.where("cameraBox"));

        QVERIFY(program.terminatesCleanly());
    }

private:
    // This program's window, not another test's on the same X server.
    static bool windowId(WatchedProgram& program, QString* window)
    {
        if (!xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(program.process().processId()),
                      "--name", "^Tavrix$"},
                     window))
            return false;
        *window = window->section('\n', 0, 0);
        return xdotool({"windowfocus", "--sync", *window});
    }

    static bool click(const QString& window, const QPoint& at)
    {
        return xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()), "click",
                        "1"});
    }
};

QTEST_GUILESS_MAIN(SheetsWindowTest)
#include "SheetsWindowTest.moc"
