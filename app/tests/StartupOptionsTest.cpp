// The command line and the start-up choices made from it: defaults, the
// fallbacks for bad values, kiosk from the flag or the environment, the
// screen warning, and which command lines need no window.

#include "StartupOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QtTest>

namespace {

QProcessEnvironment environmentWith(const QString& name, const QString& value)
{
    QProcessEnvironment environment;
    if (!name.isEmpty())
        environment.insert(name, value);
    return environment;
}

QString screenWarning(const char* value)
{
    return QStringLiteral("--screen '%1' is not one of start/session/share/menu/session-form/tour/tour-session; "
                          "using 'start'")
        .arg(QLatin1String(value));
}

StartupOptions parse(const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QCommandLineParser parser;
    StartupOptions::configureParser(parser);
    if (!parser.parse(QStringList{QStringLiteral("tavrix")} + arguments))
        qWarning("parse failed: %s", qUtf8Printable(parser.errorText()));
    return StartupOptions::fromParser(parser, environment);
}

}  // namespace

class StartupOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void noArgumentsGiveTheDefaults()
    {
        const StartupOptions options = parse({});
        QCOMPARE(options.kiosk, false);
        QCOMPARE(options.screenshotMode, false);
        QCOMPARE(options.screenshotPath, QString());
        QCOMPARE(options.afterMs, 1500);
        QCOMPARE(options.screen, QStringLiteral("start"));
        QCOMPARE(options.layoutId, QString());
        QCOMPARE(options.tourStep, 0);
        QVERIFY(options.warnings.isEmpty());
    }

    void everyOptionIsRead()
    {
        const StartupOptions options = parse({"--kiosk", "--screenshot", "out/shot.png", "--after", "250", "--screen",
                                              "session", "--layout", "3-row", "--tour-step", "3"});
        QCOMPARE(options.kiosk, true);
        QCOMPARE(options.screenshotMode, true);
        QCOMPARE(options.screenshotPath, QStringLiteral("out/shot.png"));
        QCOMPARE(options.afterMs, 250);
        QCOMPARE(options.screen, QStringLiteral("session"));
        QCOMPARE(options.layoutId, QStringLiteral("3-row"));
        QCOMPARE(options.tourStep, 3);
    }

    void optionsAreListedInOrderAfterHelpAndVersion()
    {
        QCommandLineParser parser;
        StartupOptions::configureParser(parser);
        const QString help = parser.helpText();
        const QStringList expected = {"--help", "--version", "--kiosk", "--screenshot <path>", "--after <ms>",
                                      "--screen <name>", "--layout <id>", "--tour-step <n>"};
        qsizetype previous = -1;
        for (const QString& option : expected) {
            const qsizetype at = help.indexOf(option);
            QVERIFY2(at > previous, qUtf8Printable(option));
            previous = at;
        }
        QCOMPARE(parser.applicationDescription(),
                 QString::fromUtf8("Tavrix for Linux \u2014 a live camera feed replayed on a delay."));
    }

    void afterFallsBackForBadValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("afterMs");
        QTest::newRow("zero") << "0" << 1500;
        QTest::newRow("negative") << "-5" << 1500;
        QTest::newRow("not a number") << "abc" << 1500;
        QTest::newRow("too big for an int") << "4294967296" << 1500;
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("plain") << "2500" << 2500;
        QTest::newRow("hexadecimal is not base 10") << "0x10" << 1500;
    }
    void afterFallsBackForBadValues()
    {
        QFETCH(QString, text);
        QFETCH(int, afterMs);
        QCOMPARE(StartupOptions::afterMsFromText(text), afterMs);
        QCOMPARE(parse({"--after", text}).afterMs, afterMs);
    }

    void tourStepIsZeroUnlessPositive_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tourStep");
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-1" << 0;
        QTest::newRow("not a number") << "x" << 0;
        QTest::newRow("three") << "3" << 3;
    }
    void tourStepIsZeroUnlessPositive()
    {
        QFETCH(QString, text);
        QFETCH(int, tourStep);
        QCOMPARE(parse({"--tour-step", text}).tourStep, tourStep);
    }

    void kioskFromFlagOrEnvironment_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("kioskVariable");  // null = unset
        QTest::addColumn<bool>("kiosk");
        QTest::newRow("neither") << QStringList{} << QString() << false;
        QTest::newRow("flag") << QStringList{"--kiosk"} << QString() << true;
        QTest::newRow("variable 1") << QStringList{} << "1" << true;
        QTest::newRow("variable yes") << QStringList{} << "yes" << false;
        QTest::newRow("variable 0") << QStringList{} << "0" << false;
        QTest::newRow("variable empty") << QStringList{} << "" << false;
        QTest::newRow("flag and variable 0") << QStringList{"--kiosk"} << "0" << true;
    }
    void kioskFromFlagOrEnvironment()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, kioskVariable);
        QFETCH(bool, kiosk);
        const QProcessEnvironment environment = kioskVariable.isNull()
            ? QProcessEnvironment()
            : environmentWith(QString::fromLatin1(StartupOptions::kKioskVariable), kioskVariable);
        QCOMPARE(parse(arguments, environment).kiosk, kiosk);
    }

    void screenIsValidated_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("warning");  // empty = none
        QTest::newRow("not given") << QStringList{} << "start" << "";
        QTest::newRow("session") << QStringList{"--screen", "session"} << "session" << "";
        QTest::newRow("tour-session") << QStringList{"--screen", "tour-session"} << "tour-session" << "";
        QTest::newRow("language, not listed in the warning") << QStringList{"--screen", "language"} << "language"
                                                             << "";
        QTest::newRow("unknown") << QStringList{"--screen", "settings"} << "start" << screenWarning("settings");
        QTest::newRow("other case") << QStringList{"--screen", "Session"} << "start" << screenWarning("Session");
        QTest::newRow("empty") << QStringList{"--screen", ""} << "start" << screenWarning("");
    }
    void screenIsValidated()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, screen);
        QFETCH(QString, warning);
        const StartupOptions options = parse(arguments);
        QCOMPARE(options.screen, screen);
        QCOMPARE(options.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    }

    void helpAndVersionNeedNoWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withoutWindow");
        QTest::newRow("nothing") << QStringList{} << false;
        QTest::newRow("--help") << QStringList{"--help"} << true;
        QTest::newRow("-h") << QStringList{"-h"} << true;
        QTest::newRow("--help-all") << QStringList{"--help-all"} << true;
        QTest::newRow("--version") << QStringList{"--version"} << true;
        QTest::newRow("-v") << QStringList{"-v"} << true;
        QTest::newRow("--version after Qt's -platform") << QStringList{"-platform", "xcb", "--version"} << true;
        QTest::newRow("Qt's -platform alone") << QStringList{"-platform", "xcb"} << false;
        QTest::newRow("--version as a screenshot path") << QStringList{"--screenshot", "--version"} << false;
        QTest::newRow("unknown option") << QStringList{"--bogus"} << false;
    }
    void helpAndVersionNeedNoWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withoutWindow);
        QCOMPARE(StartupOptions::answersWithoutWindow(QStringList{QStringLiteral("tavrix")} + arguments),
                 withoutWindow);
    }

    // Decided before any display exists, so Qt's own GUI options (taken out
    // later by the GUI application) must neither fail the parse nor hide ours.
    void commandLineRequests_data()
    {
        using Request = StartupOptions::Request;
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Request>("request");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing") << QStringList{} << Request::Run << "";
        QTest::newRow("--help") << QStringList{"--help"} << Request::Help << "";
        QTest::newRow("--help-all") << QStringList{"--help-all"} << Request::HelpAll << "";
        QTest::newRow("-v") << QStringList{"-v"} << Request::Version << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << Request::Invalid << "Unknown option 'bogus'.";
        QTest::newRow("unknown beside --help") << QStringList{"--help", "--bogus"} << Request::Invalid
                                               << "Unknown option 'bogus'.";
        QTest::newRow("missing value") << QStringList{"--kiosk", "--after"} << Request::Invalid
                                       << "Missing value after '--after'.";
        QTest::newRow("unknown short option") << QStringList{"-x"} << Request::Invalid << "Unknown option 'x'.";
        QTest::newRow("Qt's options around ours")
            << QStringList{"-platform", "offscreen", "--kiosk", "--qwindowtitle", "T", "-reverse",
                           "-qmljsdebugger=port:1", "-nograb", "-display", ":9"}
            << Request::Run << "";
        QTest::newRow("--version after Qt's -platform") << QStringList{"-platform", "xcb", "--version"}
                                                        << Request::Version << "";
        QTest::newRow("a Qt option's value is its own") << QStringList{"-name", "--bogus"} << Request::Run << "";
        QTest::newRow("Qt option lacking its value") << QStringList{"--kiosk", "-platform"} << Request::Run << "";
        QTest::newRow("after --, nothing is an option") << QStringList{"--", "--bogus", "-platform"}
                                                        << Request::Run << "";
    }
    void commandLineRequests()
    {
        QFETCH(QStringList, arguments);
        QFETCH(StartupOptions::Request, request);
        QFETCH(QString, error);
        QCommandLineParser parser;
        StartupOptions::configureParser(parser);
        QCOMPARE(StartupOptions::parseCommandLine(parser, QStringList{QStringLiteral("tavrix")} + arguments), request);
        if (request == StartupOptions::Request::Invalid)
            QCOMPARE(parser.errorText(), error);
    }

    void optionsAmongQtOptionsAreRead()
    {
        QCommandLineParser parser;
        StartupOptions::configureParser(parser);
        const QStringList arguments = {"tavrix", "-platform", "offscreen", "--screen", "menu", "-geometry",
                                       "100x100", "--layout", "2-side", "--kiosk"};
        QCOMPARE(StartupOptions::parseCommandLine(parser, arguments), StartupOptions::Request::Run);
        const StartupOptions options = StartupOptions::fromParser(parser, {});
        QCOMPARE(options.screen, QStringLiteral("menu"));
        QCOMPARE(options.layoutId, QStringLiteral("2-side"));
        QVERIFY(options.kiosk);
        QVERIFY(options.warnings.isEmpty());
    }
};

QTEST_GUILESS_MAIN(StartupOptionsTest)
#include "StartupOptionsTest.moc"
