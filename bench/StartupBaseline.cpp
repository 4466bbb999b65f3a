// The baseline of bench_startup: a bare Qt Quick ApplicationWindow, built
// with the same Qt, style and QML cache as the program, that grabs its first
// picture the way the program's screenshot mode does (a timer of `ms` after
// the event loop starts, grabWindow, save the image, one line on standard error)
// and exits. Usage: bench_startup_baseline <path> <ms>

#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <path> <ms>\n", argv[0]);
        return 1;
    }
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int afterMs = QString::fromLatin1(argv[2]).toInt();

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/StartupBaseline/StartupBaseline.qml")));
    QQuickWindow* window = engine.rootObjects().isEmpty()
                               ? nullptr
                               : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window) {
        std::fprintf(stderr, "baseline: no window\n");
        return 1;
    }
    int code = 1;
    QTimer::singleShot(afterMs, &app, [&] {
        const QImage image = window->grabWindow();
        code = !image.isNull() && image.save(path) ? 0 : 2;
        if (code == 0)
            qInfo("--screenshot: saved '%s' (%dx%d)", qUtf8Printable(path), image.width(), image.height());
        QCoreApplication::exit(code);
    });
    QCoreApplication::exec();
    return code;
}
