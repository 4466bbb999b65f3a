// Another application on the same display, for the clipboard tests:
//   clipboard_peek get          prints the clipboard's text; exit 3 when it holds no text
//   clipboard_peek own-text T   puts T on the clipboard, prints "ready", serves it until stdin closes
//   clipboard_peek own-image    the same with a picture and no text

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    QClipboard* clipboard = QGuiApplication::clipboard();

    if (mode == QLatin1String("get")) {
        const QMimeData* data = clipboard->mimeData();
        if (!data || !data->hasText())
            return 3;
        const QByteArray text = data->text().toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return 0;
    }

    if (mode == QLatin1String("own-text")) {
        clipboard->setText(args.value(2));
    } else if (mode == QLatin1String("own-image")) {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        auto* data = new QMimeData;
        data->setImageData(picture);
        clipboard->setMimeData(data);
    } else {
        std::fprintf(stderr, "usage: clipboard_peek get | own-text TEXT | own-image\n");
        return 2;
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
