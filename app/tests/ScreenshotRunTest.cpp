// Screenshot mode inside one process: the grab step's outcomes and log
// lines, the event loop ending before the grab or on a scene-graph failure,
// and the decisions that end the program or re-run it on the next tier.

#include "ScreenshotRun.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

constexpr char kRedWindow[] = R"(
import QtQuick
Window {
    width: 320
    height: 200
    visible: true
    color: "red"
}
)";

const QByteArray kSoftwareName = "QSG_RHI_BACKEND=software (no GL; panels are placeholders)";

std::unique_ptr<QQuickWindow> makeWindow(QQmlEngine& engine)
{
    QQmlComponent component(&engine);
    component.setData(kRedWindow, QUrl());
    auto* window = qobject_cast<QQuickWindow*>(component.create());
    if (!window)
        qWarning("%s", qUtf8Printable(component.errorString()));
    return std::unique_ptr<QQuickWindow>(window);
}

}  // namespace

class ScreenshotRunTest : public QObject {
    Q_OBJECT

private slots:
    void nullImageIsCodeTwo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("shot.png");
        QTest::ignoreMessage(QtWarningMsg, "--screenshot: grabWindow() returned a null image under " + kSoftwareName);
        QCOMPARE(ScreenshotRun::saveImage(QImage(), path, GlTier::Software), 2);
        QVERIFY(!QFile::exists(path));
    }

    void savesIntoMissingDirectories()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("one/two/shot.png");
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QTest::ignoreMessage(QtInfoMsg, QByteArray("--screenshot: saved '") + path.toUtf8()
                                            + "' (40x30) via opengl (real GL context)");
        QCOMPARE(ScreenshotRun::saveImage(image, path, GlTier::OpenGl), 0);
        const QImage saved(path, "PNG");
        QCOMPARE(saved.size(), QSize(40, 30));
        QCOMPARE(saved.pixel(5, 5), QColor(Qt::blue).rgb());
    }

    void unwritablePathIsCodeThree()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // A directory level that is a file: neither mkpath nor save can work, even as root.
        const QString path = dir.filePath("file/shot.png");
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::white);
        QTest::ignoreMessage(QtCriticalMsg, QByteArray("--screenshot: failed to save '") + path.toUtf8() + "'");
        QCOMPARE(ScreenshotRun::saveImage(image, path, GlTier::Software), 3);
    }

    void grabsTheWindowAfterTheDelay()
    {
        QQmlEngine engine;
        const std::unique_ptr<QQuickWindow> window = makeWindow(engine);
        QVERIFY(window);
        QTemporaryDir dir;
        const QString path = dir.filePath("shots/window.png");
        QTest::ignoreMessage(QtInfoMsg, QByteArray("--screenshot: saved '") + path.toUtf8() + "' (320x200) via "
                                            + kSoftwareName);
        ScreenshotRun run(window.get(), path, 200, GlTier::Software);
        QCOMPARE(run.exec(), 0);
        const QImage saved(path, "PNG");
        QCOMPARE(saved.size(), QSize(320, 200) * window->devicePixelRatio());
        QCOMPARE(QColor(saved.pixel(10, 10)), QColor(Qt::red));
    }

    void windowClosedBeforeTheGrabIsCodeOne()
    {
        QQmlEngine engine;
        const std::unique_ptr<QQuickWindow> window = makeWindow(engine);
        QVERIFY(window);
        QTemporaryDir dir;
        const QString path = dir.filePath("never.png");
        QTimer::singleShot(100, window.get(), [&window] { window->close(); });
        ScreenshotRun run(window.get(), path, 60000, GlTier::Software);
        QCOMPARE(run.exec(), 1);
        QVERIFY(!QFile::exists(path));
    }

    void sceneGraphFailureEndsTheTierWithCodeOne()
    {
        QQmlEngine engine;
        const std::unique_ptr<QQuickWindow> window = makeWindow(engine);
        QVERIFY(window);
        QTemporaryDir dir;
        const QString path = dir.filePath("never.png");
        QTimer::singleShot(100, window.get(), [&window] {
            emit window->sceneGraphError(QQuickWindow::ContextNotAvailable, QStringLiteral("no context"));
        });
        QTest::ignoreMessage(QtWarningMsg,
                             "--screenshot: the scene graph failed under opengl (real GL context) (error 1: no "
                             "context)");
        ScreenshotRun run(window.get(), path, 60000, GlTier::OpenGl);
        QCOMPARE(run.exec(), 1);
        QVERIFY(!QFile::exists(path));
        // On tier 0 that code leads to tier 1.
        QCOMPARE(ScreenshotRun::retryTierAfter(GlTier::OpenGl, 1), std::optional<GlTier>(GlTier::GlSoft));
    }

    void retryAfterACode_data()
    {
        QTest::addColumn<int>("tier");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("retryTier");  // -1 = the code stands
        QTest::newRow("saved on tier 0") << 0 << 0 << -1;
        QTest::newRow("no window on tier 0") << 0 << 1 << 1;
        QTest::newRow("null grab on tier 0") << 0 << 2 << 1;
        QTest::newRow("save failed on tier 0") << 0 << 3 << 1;
        QTest::newRow("not loaded on tier 0") << 0 << -1 << 1;
        QTest::newRow("save failed on tier 1") << 1 << 3 << 2;
        QTest::newRow("saved on tier 1") << 1 << 0 << -1;
        QTest::newRow("no window on tier 2") << 2 << 1 << -1;
        QTest::newRow("null grab on tier 2") << 2 << 2 << -1;
        QTest::newRow("not loaded on tier 2") << 2 << -1 << -1;
    }
    void retryAfterACode()
    {
        QFETCH(int, tier);
        QFETCH(int, code);
        QFETCH(int, retryTier);
        const std::optional<GlTier> retry = ScreenshotRun::retryTierAfter(GlTier(tier), code);
        QCOMPARE(retry ? int(*retry) : -1, retryTier);
    }

    void outcomeOfAFinishedRerun_data()
    {
        QTest::addColumn<int>("childTier");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<int>("childCode");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("retryTier");  // -1 = none
        QTest::newRow("saved on tier 1") << 1 << false << 0 << 0 << -1;
        QTest::newRow("save failed down the chain") << 1 << false << 3 << 3 << -1;
        QTest::newRow("not loaded down the chain") << 2 << false << 255 << 255 << -1;
        QTest::newRow("crash on tier 1 goes on to tier 2") << 1 << true << 11 << 1 << 2;
        QTest::newRow("crash reporting 0 is still a failure") << 1 << true << 0 << 1 << 2;
        QTest::newRow("crash on tier 2 ends with 1") << 2 << true << 6 << 1 << -1;
    }
    void outcomeOfAFinishedRerun()
    {
        QFETCH(int, childTier);
        QFETCH(bool, crashed);
        QFETCH(int, childCode);
        QFETCH(int, exitCode);
        QFETCH(int, retryTier);
        const ScreenshotRun::ChildOutcome outcome = ScreenshotRun::childOutcome(GlTier(childTier), crashed, childCode);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.retryTier ? int(*outcome.retryTier) : -1, retryTier);
    }
};

QTEST_MAIN(ScreenshotRunTest)
#include "ScreenshotRunTest.moc"
