#pragma once

// The program's command line and the start-up choices made from it and from
// the environment. The parser's own options (--help, --version and unknown
// options) are handled by Qt when main processes the command line; the rest
// is plain data so it can be checked without starting the program.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QCommandLineParser;

class StartupOptions {
public:
    static constexpr int kDefaultAfterMs = 1500;
    static constexpr char kDefaultScreen[] = "start";
    static constexpr char kKioskVariable[] = "TAVRIX_KIOSK";

    // The screen names the window knows, compared case-sensitively.
    static const QStringList& knownScreens();

    // Description, help, version and the six options, in that order.
    static void configureParser(QCommandLineParser& parser);
    // Whether the command line (program path first) asks for help or the
    // version, which the parser answers without a window.
    static bool answersWithoutWindow(const QStringList& arguments);
    // The choices from a parser that has parsed the command line, with
    // TAVRIX_KIOSK read from `environment`.
    static StartupOptions fromParser(const QCommandLineParser& parser, const QProcessEnvironment& environment);

    // --after: a base-10 int of at least 1, else the default.
    static int afterMsFromText(const QString& text);
    // --tour-step: an int greater than 0, else 0.
    static int tourStepFromText(const QString& text);

    bool kiosk = false;
    bool screenshotMode = false;
    QString screenshotPath;
    int afterMs = kDefaultAfterMs;
    QString screen = QString::fromLatin1(kDefaultScreen);
    QString layoutId;  // "" when not given
    int tourStep = 0;
    // Messages main logs as warnings (an unknown --screen value).
    QStringList warnings;
};
