// Grabs a real window showing a Toast and checks what was drawn: the box
// hugs the wrapped text, sits centred above the bottom edge, and shows its
// border, background and text in the theme's colours. The grabs are saved
// beside the test program for a look by eye.

#include "LanguageManager.h"
#include "TestConfigDir.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(TavrixPlugin)

namespace {

constexpr char kHostDocument[] = R"(
import QtQuick
import QtQuick.Window
import Tavrix

Window {
    width: 1280
    height: 800
    visible: true
    color: Theme.background

    Toast {
        objectName: "toast"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 32
    }
}
)";

constexpr char kLongMessage[] =
    "Recording failed: the disk is full. Free some space in your Videos folder or choose "
    "another place for recordings, then start the recording again. Nothing was lost from "
    "the replay buffer.";

bool near(QRgb pixel, QColor expected, int tolerance = 12)
{
    return qAbs(qRed(pixel) - expected.red()) <= tolerance && qAbs(qGreen(pixel) - expected.green()) <= tolerance
        && qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

// The 1 px border may straddle two pixels when the box sits at a half pixel.
bool borderNear(const QImage& image, int x, int y, bool vertical)
{
    for (int d = -1; d <= 1; ++d) {
        const QRgb pixel = vertical ? image.pixel(x + d, y) : image.pixel(x, y + d);
        if (qRed(pixel) > 100 && qRed(pixel) > 2 * qGreen(pixel) && qRed(pixel) > 2 * qBlue(pixel))
            return true;
    }
    return false;
}

QString describe(QRgb pixel)
{
    return QColor(pixel).name();
}

}  // namespace

class ToastGrabTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QQuickItem* m_toast = nullptr;

    // The toast's box in the grabbed image's pixels.
    QRect boxInImage(const QImage& image) const
    {
        const QPointF topLeft = m_toast->mapToScene(QPointF(0, 0));
        const qreal scale = image.width() / qreal(m_window->width());
        return QRectF(topLeft * scale, QSizeF(m_toast->width(), m_toast->height()) * scale).toAlignedRect();
    }

    QImage showAndGrab(const QString& message, const QString& fileName)
    {
        QMetaObject::invokeMethod(m_toast, "show", Q_ARG(QVariant, message));
        QTest::qWait(50);
        const QImage image = m_window->grabWindow();
        image.save(QStringLiteral(TAVRIX_GRAB_DIR "/") + fileName);
        return image;
    }

private slots:
    void initTestCase()
    {
        m_engine = std::make_unique<QQmlEngine>();
        m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        LanguageManager::instance()->init(m_engine.get());
        m_engine->rootContext()->setContextProperty(QStringLiteral("Lang"), LanguageManager::instance());
        QQmlComponent component(m_engine.get());
        component.setData(kHostDocument, QUrl(QStringLiteral("file:///ToastHost.qml")));
        m_window.reset(qobject_cast<QQuickWindow*>(component.create()));
        QVERIFY2(m_window, qPrintable(component.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_toast = m_window->findChild<QQuickItem*>(QStringLiteral("toast"));
        QVERIFY(m_toast);
    }

    void cleanupTestCase()
    {
        m_window.reset();
        m_engine.reset();
    }

    void longMessageBoxStaysInItsColumn()
    {
        const QImage image = showAndGrab(QString::fromUtf8(kLongMessage), QStringLiteral("toast-long.png"));
        QVERIFY(!image.isNull());

        QVERIFY2(m_toast->width() <= 480 + 32, qPrintable(QString::number(m_toast->width())));
        QVERIFY(m_toast->height() > 2 * 13 + 20);
        QCOMPARE(m_toast->x(), (m_window->width() - m_toast->width()) / 2);
        QCOMPARE(m_toast->y() + m_toast->height(), m_window->height() - 32.0);

        const QRect box = boxInImage(image);
        const int midY = box.center().y();
        // Outside: the window background; edge: the red border; just inside: the surface.
        QVERIFY2(near(image.pixel(box.left() - 3, midY), QColor("#000000")), qPrintable(describe(image.pixel(box.left() - 3, midY))));
        QVERIFY2(near(image.pixel(box.right() + 3, midY), QColor("#000000")), qPrintable(describe(image.pixel(box.right() + 3, midY))));
        QVERIFY(borderNear(image, box.left(), midY, true));
        QVERIFY(borderNear(image, box.right(), midY, true));
        QVERIFY(borderNear(image, box.center().x(), box.top(), false));
        QVERIFY2(near(image.pixel(box.left() + 5, midY), QColor("#111111")), qPrintable(describe(image.pixel(box.left() + 5, midY))));

        // Text: light pixels inside the box, away from the border.
        int lightPixels = 0;
        for (int y = box.top() + 8; y < box.bottom() - 8; ++y) {
            for (int x = box.left() + 12; x < box.right() - 12; ++x) {
                if (qGray(image.pixel(x, y)) > 150)
                    ++lightPixels;
            }
        }
        QVERIFY2(lightPixels > 500, qPrintable(QString::number(lightPixels)));

        // Nothing of the toast beyond its box: a row through its middle is
        // black from the window's edge to the box.
        for (int x = 0; x < box.left() - 1; x += 7)
            QVERIFY(near(image.pixel(x, midY), QColor("#000000")));
    }

    void shortMessageBoxHugsItsText()
    {
        const QImage image = showAndGrab(QStringLiteral("Link copied"), QStringLiteral("toast-short.png"));
        QVERIFY(m_toast->width() < 200);
        const QRect box = boxInImage(image);
        QVERIFY(borderNear(image, box.left(), box.center().y(), true));
        QVERIFY(borderNear(image, box.center().x(), box.bottom(), false));
        QVERIFY(near(image.pixel(box.left() - 3, box.center().y()), QColor("#000000")));
    }

    void fadedToastLeavesNothingOnScreen()
    {
        QMetaObject::invokeMethod(m_toast, "show", Q_ARG(QVariant, QStringLiteral("Gone soon")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_toast->isVisible(), 15000);
        const QImage image = m_window->grabWindow();
        int litPixels = 0;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                if (!near(image.pixel(x, y), QColor("#000000"), 2))
                    ++litPixels;
            }
        }
        QCOMPARE(litPixels, 0);
    }
};

int main(int argc, char** argv)
{
    TestConfigDir configDir;
    qputenv("TAVRIX_LANG", "en");
    QGuiApplication app(argc, argv);
    ToastGrabTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ToastGrabTest.moc"
