#pragma once

// The program's command line and the start-up choices made from it and from
// the environment. The command line is parsed before the GUI application
// exists, so help, the version and a bad option are answered without a
// display; the choices are plain data so they can be checked without
// starting the program.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QCommandLineParser;

class StartupOptions {
public:
    static constexpr int kDefaultAfterMs = 1500;
    static constexpr char kDefaultScreen[] = "start";
    static constexpr char kKioskVariable[] = "TAVRIX_KIOSK";
    // Exit code of a command line the parser rejects.
    static constexpr int kBadCommandLine = 2;

    // What a command line asks for.
    enum class Request { Run, Help, HelpAll, Version, Invalid };

    // The screen names the window knows, compared case-sensitively.
    static const QStringList& knownScreens();

    // Description, help, version and the six options, in that order.
    static void configureParser(QCommandLineParser& parser);
    // Parses `arguments` (program path first) into `parser`, set up by
    // configureParser, leaving out the options Qt's GUI application takes for
    // itself. Invalid: parser.errorText() says why. Needs no application object.
    static Request parseCommandLine(QCommandLineParser& parser, const QStringList& arguments);
    // `arguments` without the options (and their values) that Qt's GUI
    // application and its X11 platform consume, such as "-platform offscreen".
    static QStringList withoutQtOptions(const QStringList& arguments);
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
