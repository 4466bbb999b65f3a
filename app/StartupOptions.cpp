#include "StartupOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

constexpr char kKiosk[] = "kiosk";
constexpr char kScreenshot[] = "screenshot";
constexpr char kAfter[] = "after";
constexpr char kScreen[] = "screen";
constexpr char kLayout[] = "layout";
constexpr char kTourStep[] = "tour-step";

// Qt's own options, which QGuiApplication and the xcb platform take out of
// the command line when they start, with one dash or two.
constexpr const char* kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "name", "visual",
};
constexpr const char* kQtFlags[] = {"reverse", "testability", "nograb", "dograb"};
constexpr char kQmlDebuggerPrefix[] = "qmljsdebugger=";

// The option name of a single- or double-dash argument, "" for anything else.
QString qtStyleName(const QString& argument)
{
    if (argument.startsWith(QLatin1String("--")))
        return argument.mid(2);
    if (argument.startsWith(QLatin1Char('-')))
        return argument.mid(1);
    return QString();
}

bool isOneOf(const QString& name, const auto& names)
{
    for (const char* candidate : names) {
        if (name == QLatin1String(candidate))
            return true;
    }
    return false;
}

}  // namespace

const QStringList& StartupOptions::knownScreens()
{
    static const QStringList kKnownScreens = {
        QStringLiteral("start"),        QStringLiteral("session"), QStringLiteral("share"),
        QStringLiteral("menu"),         QStringLiteral("session-form"),
        QStringLiteral("tour"),         QStringLiteral("tour-session"),
        QStringLiteral("language"),
    };
    return kKnownScreens;
}

void StartupOptions::configureParser(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QString::fromUtf8("Tavrix for Linux \u2014 a live camera feed replayed on a delay."));
    parser.addHelpOption();
    parser.addVersionOption();

    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kKiosk),
        QStringLiteral("Start full-screen, e.g. for a Pi kiosk unit (see packaging/pi/). "
                       "Same as TAVRIX_KIOSK=1 in the environment.")));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kScreenshot),
        QStringLiteral("Developer: grab the main window to <path> as a PNG after --after milliseconds, then "
                       "quit. Exit code is 0 on success, non-zero if the grab failed or no window appeared. "
                       "For headless UI review (WSL2, a Raspberry Pi over SSH)."),
        QStringLiteral("path")));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kAfter),
        QStringLiteral("Developer: milliseconds to wait before the --screenshot grab. Default 1500."),
        QStringLiteral("ms"), QString::number(kDefaultAfterMs)));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kScreen),
        QString::fromUtf8("Developer: which screen/sheet to show at startup \u2014 start (default), session, "
                          "share, menu, session-form, tour, tour-session. \"session\", \"tour-session\" and "
                          "the sheet names start a session on the synthetic \"test\" camera so a headless "
                          "machine with no webcam attached still has something to show."),
        QStringLiteral("name"), QString::fromLatin1(kDefaultScreen)));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kLayout),
        QString::fromUtf8("Developer: initial panel layout id for --screen session/menu/share/session-form "
                          "(e.g. 4-grid, 2-side, 3-row \u2014 see qml/Layouts). Defaults to the single-panel "
                          "layout."),
        QStringLiteral("id")));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kTourStep),
        QStringLiteral("Developer: with --screen tour or tour-session, the zero-based step to open the "
                       "walkthrough on (see qml/TourSteps). Defaults to 0."),
        QStringLiteral("n"), QStringLiteral("0")));
}

QStringList StartupOptions::withoutQtOptions(const QStringList& arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (i == 0) {
            kept << argument;  // the program path
            continue;
        }
        if (argument == QLatin1String("--")) {
            kept << arguments.mid(i);  // positional from here on
            break;
        }
        const QString name = qtStyleName(argument);
        if (isOneOf(name, kQtOptionsWithValue)) {
            ++i;  // its value, when there is one
            continue;
        }
        if (isOneOf(name, kQtFlags) || name.startsWith(QLatin1String(kQmlDebuggerPrefix)))
            continue;
        kept << argument;
    }
    return kept;
}

StartupOptions::Request StartupOptions::parseCommandLine(QCommandLineParser& parser, const QStringList& arguments)
{
    if (!parser.parse(withoutQtOptions(arguments)))
        return Request::Invalid;
    if (parser.isSet(QStringLiteral("help")))
        return Request::Help;
    if (parser.isSet(QStringLiteral("help-all")))
        return Request::HelpAll;
    if (parser.isSet(QStringLiteral("version")))
        return Request::Version;
    return Request::Run;
}

bool StartupOptions::answersWithoutWindow(const QStringList& arguments)
{
    QCommandLineParser parser;
    configureParser(parser);
    const Request request = parseCommandLine(parser, arguments);
    return request == Request::Help || request == Request::HelpAll || request == Request::Version;
}

StartupOptions StartupOptions::fromParser(const QCommandLineParser& parser, const QProcessEnvironment& environment)
{
    StartupOptions options;
    options.kiosk = parser.isSet(QString::fromLatin1(kKiosk))
        || environment.value(QString::fromLatin1(kKioskVariable)) == QLatin1String("1");

    options.screenshotMode = parser.isSet(QString::fromLatin1(kScreenshot));
    options.screenshotPath = parser.value(QString::fromLatin1(kScreenshot));
    options.afterMs = afterMsFromText(parser.value(QString::fromLatin1(kAfter)));

    const QString screen = parser.value(QString::fromLatin1(kScreen));
    if (knownScreens().contains(screen)) {
        options.screen = screen;
    } else {
        if (parser.isSet(QString::fromLatin1(kScreen))) {
            options.warnings << QStringLiteral(
                                    "--screen '%1' is not one of "
                                    "start/session/share/menu/session-form/tour/tour-session; using 'start'")
                                    .arg(screen);
        }
        options.screen = QString::fromLatin1(kDefaultScreen);
    }

    options.layoutId = parser.value(QString::fromLatin1(kLayout));
    options.tourStep = tourStepFromText(parser.value(QString::fromLatin1(kTourStep)));
    return options;
}

int StartupOptions::afterMsFromText(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok && value >= 1 ? value : kDefaultAfterMs;
}

int StartupOptions::tourStepFromText(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok && value > 0 ? value : 0;
}
