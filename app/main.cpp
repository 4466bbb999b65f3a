// The program's entry: picks the graphics tier, reads the command line
// (answering help, the version and a bad option before anything needs a
// display), names the application, starts the QML engine with the language
// service and the root-context properties, loads the window `Main` of the
// module Tavrix and either runs the event loop or, in screenshot mode, grabs
// the window and exits with a code that says how that went. SIGTERM, SIGINT
// and SIGHUP end the event loop, so the teardown finishes a recording being
// written and stops sharing and the session before the program exits with 0.

#include "AppNames.h"
#include "GraphicsTier.h"
#include "LanguageManager.h"
#include "ScreenshotRun.h"
#include "StartupOptions.h"
#include "TerminationSignals.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QIcon>
#include <QProcessEnvironment>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <memory>

Q_IMPORT_QML_PLUGIN(TavrixPlugin)

namespace {

constexpr char kOrganisationDomain[] = "tavrix.app";
constexpr char kStyle[] = "Basic";
constexpr char kImportPath[] = "qrc:/qt/qml";
constexpr char kMainDocument[] = "qrc:/qt/qml/Tavrix/qml/Main.qml";
// The synthetic test-pattern camera.
constexpr char kTestCameraId[] = "test";

QStringList argumentList(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(tavrix::kApplicationName));
    QCoreApplication::setOrganizationName(QString::fromLatin1(tavrix::kOrganisationName));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(kOrganisationDomain));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tavrix::kApplicationVersion));
}

void setWindowIcon(QGuiApplication& app)
{
    // With their sizes given, the pictures are read when the window shows
    // them, not here before anything is on screen.
    struct IconFile {
        const char* path;
        int side;
    };
    QIcon icon;
    for (const IconFile& file : {IconFile {":/qt/qml/Tavrix/icons/tavrix.png", 48},
                                 IconFile {":/qt/qml/Tavrix/icons/tavrix-128.png", 128},
                                 IconFile {":/qt/qml/Tavrix/icons/tavrix-256.png", 256}})
        icon.addFile(QString::fromLatin1(file.path), QSize(file.side, file.side));
    app.setWindowIcon(icon);
}

void setRootContextProperties(QQmlContext* context, const StartupOptions& options)
{
    context->setContextProperty(QStringLiteral("Lang"), LanguageManager::instance());
    context->setContextProperty(QStringLiteral("kioskMode"), options.kiosk);
    context->setContextProperty(QStringLiteral("devInitialScreen"), options.screen);
    context->setContextProperty(QStringLiteral("devInitialLayoutId"), options.layoutId);
    context->setContextProperty(QStringLiteral("devTourStep"), options.tourStep);
    context->setContextProperty(QStringLiteral("tourAutoStart"), !options.screenshotMode);
    context->setContextProperty(QStringLiteral("devInitialCameraId"), QString::fromLatin1(kTestCameraId));
}

QQuickWindow* firstWindow(const QQmlApplicationEngine& engine)
{
    for (QObject* object : engine.rootObjects()) {
        if (auto* window = qobject_cast<QQuickWindow*>(object))
            return window;
    }
    return nullptr;
}

// Help, the version or a bad command line, answered without a display.
int answerWithoutWindow(int argc, char* argv[], QCommandLineParser& parser, StartupOptions::Request request,
                        const QStringList& arguments)
{
    QCoreApplication app(argc, argv);
    setApplicationNames();
    if (request == StartupOptions::Request::Invalid) {
        std::fprintf(stderr, "%s: %s\n\n%s", tavrix::kApplicationName, qUtf8Printable(parser.errorText()),
                     qUtf8Printable(parser.helpText()));
        return StartupOptions::kBadCommandLine;
    }
    parser.process(StartupOptions::withoutQtOptions(arguments));  // prints and ends the process
    return 0;
}

// The result of screenshot mode on this tier: `code` stands, or the next
// tier's run decides.
int finishScreenshot(GlTier tier, int code, const QStringList& arguments)
{
    if (const std::optional<GlTier> next = ScreenshotRun::retryTierAfter(tier, code))
        return ScreenshotRun::runNextTier(*next, arguments);
    return code;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The scene graph reads these when it starts, so they precede the application.
    const GlTier tier = GraphicsTier::currentTier();
    GraphicsTier::applyEnvironment(tier);

    // Help, the version and a bad option need no display.
    QCommandLineParser parser;
    StartupOptions::configureParser(parser);
    const QStringList commandLine = argumentList(argc, argv);
    const StartupOptions::Request request = StartupOptions::parseCommandLine(parser, commandLine);
    if (request != StartupOptions::Request::Run)
        return answerWithoutWindow(argc, argv, parser, request, commandLine);

    QGuiApplication app(argc, argv);
    setApplicationNames();
    QGuiApplication::setDesktopFileName(QStringLiteral("tavrix"));
    setWindowIcon(app);
    GraphicsTier::applySceneGraph(tier);
    QQuickStyle::setStyle(QString::fromLatin1(kStyle));

    // Kept for a re-run on another tier.
    const QStringList arguments = QCoreApplication::arguments().mid(1);

    const StartupOptions options = StartupOptions::fromParser(parser, QProcessEnvironment::systemEnvironment());
    for (const QString& warning : options.warnings)
        qWarning("%s", qUtf8Printable(warning));

    // Outside screenshot mode a termination signal ends the event loop, from
    // the start on. Screenshot mode keeps the default: it records nothing, and
    // its chain of re-runs waits for its child outside the event loop.
    std::unique_ptr<TerminationSignals> terminationSignals;
    if (!options.screenshotMode) {
        terminationSignals = std::make_unique<TerminationSignals>();
        QObject::connect(terminationSignals.get(), &TerminationSignals::received, &app, [](int signalNumber) {
            qInfo("%s: finishing and quitting", TerminationSignals::nameOf(signalNumber));
            QCoreApplication::exit(0);
        });
    }

    QQmlApplicationEngine engine;
    LanguageManager::instance()->init(&engine);
    setRootContextProperties(engine.rootContext(), options);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app, [] { QCoreApplication::exit(-1); },
        Qt::QueuedConnection);

    engine.addImportPath(QString::fromLatin1(kImportPath));
    engine.load(QUrl(QString::fromLatin1(kMainDocument)));
    if (engine.rootObjects().isEmpty()) {
        qCritical("Failed to load Main");
        return options.screenshotMode ? finishScreenshot(tier, ScreenshotRun::kNotLoaded, arguments)
                                      : ScreenshotRun::kNotLoaded;
    }

    QQuickWindow* window = firstWindow(engine);
    if (!window) {
        // An event loop without a window would run unseen until killed.
        if (options.screenshotMode) {
            qCritical("--screenshot: no QQuickWindow appeared");
            return finishScreenshot(tier, ScreenshotRun::kNoImage, arguments);
        }
        qCritical("Main is not a window: nothing to show");
        return 1;
    }

    if (options.kiosk)
        window->showFullScreen();
    else if (!window->isVisible())
        window->show();

    if (!options.screenshotMode) {
        // Without a receiver Qt aborts; end with a hint instead.
        QObject::connect(window, &QQuickWindow::sceneGraphError, &app,
                         [tier](QQuickWindow::SceneGraphError, const QString& message) {
                             qCritical("The scene graph failed under %s: %s (TVX_QSG_MODE=gl-soft or "
                                       "TVX_QSG_MODE=software selects a more conservative tier)",
                                       qUtf8Printable(GraphicsTier::tierName(tier)), qUtf8Printable(message));
                             QCoreApplication::exit(1);
                         });
        return QCoreApplication::exec();
    }

    ScreenshotRun run(window, options.screenshotPath, options.afterMs, tier);
    return finishScreenshot(tier, run.exec(), arguments);
}
