// One recording end to end through the session screen in a real window over
// the real engine and the test-pattern camera: R opens the details form,
// Start Recording records, R stops, and an MP4 that ffprobe reads appears in
// the recordings directory under a temporary HOME, beside (never over) files
// that already carry the names of the coming seconds. Needs a display with
// OpenGL (Xvfb with Mesa), since the recording is the window's composite.

#include "EngineBridge.h"
#include "LanguageManager.h"
#include "TestConfigDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <fstream>
#include <memory>
#include <vector>

Q_IMPORT_QML_PLUGIN(TavrixPlugin)

namespace {

constexpr int kProbeTimeoutMs = 120000;
// Placeholders cover this many seconds from the press of Start on.
constexpr int kTakenSeconds = 180;
constexpr char kPlaceholder[] = "an older recording";

// The session screen as the main window hosts it, with the window's keys.
constexpr char kWindow[] = R"(
import QtQuick
import QtQuick.Window
import Tavrix

Window {
    width: 960
    height: 600
    visible: true
    color: "black"

    SessionScreen {
        id: screen
        objectName: "screen"
        anchors.fill: parent
        initialLayoutId: "2-side"
    }
    Shortcut { sequence: "R"; onActivated: screen.toggleRecording() }
    Shortcut { sequence: "Escape"; onActivated: screen.handleEscape() }
}
)";

QString probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=codec_name:format=duration"), QStringLiteral("-of"),
                   QStringLiteral("default=noprint_wrappers=1"), path});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return QStringLiteral("ffprobe failed: ") + QString::fromUtf8(ffprobe.readAllStandardError());
    return QString::fromUtf8(ffprobe.readAllStandardOutput());
}

}  // namespace

class SessionRecordingTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<QQmlEngine> m_qml;
    std::unique_ptr<QQuickWindow> m_window;

    QQuickItem* item(const char* name) const { return m_window->findChild<QQuickItem*>(QLatin1String(name)); }

    void click(QQuickItem* target)
    {
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centre.toPoint());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qunsetenv("SNAP_REAL_HOME");
        // The microphone: "default" reads silence from a file over a null slave.
        const QString raw = m_home.filePath(QStringLiteral("silence.raw"));
        std::ofstream(raw.toStdString(), std::ios::binary)
            .write(std::vector<char>(48000 * 2 * 2 * 20).data(), 48000 * 2 * 2 * 20);
        const QString config = m_home.filePath(QStringLiteral("asound.conf"));
        std::ofstream(config.toStdString()) << "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                            << "  file \"/dev/null\"\n  infile \"" << raw.toStdString()
                                            << "\"\n  format \"raw\"\n}\n";
        qputenv("ALSA_CONFIG_PATH", config.toUtf8());

        m_qml = std::make_unique<QQmlEngine>();
        m_qml->addImportPath(QStringLiteral("qrc:/qt/qml"));
        LanguageManager* lang = LanguageManager::instance();
        lang->init(m_qml.get());
        m_qml->rootContext()->setContextProperty(QStringLiteral("Lang"), lang);
    }

    void cleanupTestCase()
    {
        m_window.reset();
        m_qml.reset();
    }

    void recordThroughTheScreenWithKeys()
    {
        // Made at once, before the probe has listed the cameras: the screen
        // starts its session when it has.
        QQmlComponent component(m_qml.get());
        component.setData(kWindow, QUrl(QStringLiteral("file:///SessionWindow.qml")));
        m_window.reset(qobject_cast<QQuickWindow*>(component.create()));
        QVERIFY2(m_window, qPrintable(component.errorString()));
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        if (m_window->rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL)
            QSKIP("the recording needs the OpenGL scene graph");
        EngineBridge* bridge = EngineBridge::instance();
        QVERIFY(bridge);
        QTRY_VERIFY_WITH_TIMEOUT(bridge->sessionRunning(), kProbeTimeoutMs);
        QObject* screen = item("screen");
        QVERIFY(screen);

        const QDir directory(bridge->recordingsDirectory());
        QCOMPARE(directory.absolutePath(), m_home.filePath(QStringLiteral("Videos/Tavrix")));
        const QDateTime from = QDateTime::currentDateTime();
        QStringList taken;
        for (int second = -1; second < kTakenSeconds; ++second) {
            const QString name = QStringLiteral("Tavrix %1.mp4")
                                     .arg(from.addSecs(second).toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss")));
            QFile file(directory.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kPlaceholder);
            taken.append(file.fileName());
        }

        QTest::keyClick(m_window.get(), Qt::Key_R);
        QVERIFY(screen->property("sessionFormVisible").toBool());
        auto* player = item("playerField");
        QVERIFY(player);
        click(player);
        QTRY_VERIFY(player->hasActiveFocus());
        for (const char c : {'A', 'n', 'n', ' ', 'R'})
            QTest::keyClick(m_window.get(), c);
        QCOMPARE(player->property("text").toString(), QStringLiteral("Ann R"));
        QVERIFY(screen->property("sessionFormVisible").toBool());

        QSignalSpy saved(bridge, &EngineBridge::recordingSaved);
        QSignalSpy failed(bridge, &EngineBridge::recordingFailed);
        QSignalSpy errors(bridge, &EngineBridge::error);
        click(item("startRecordingButton"));
        QVERIFY(!screen->property("sessionFormVisible").toBool());
        QVERIFY(!player->hasActiveFocus());
        QVERIFY2(errors.isEmpty(), errors.isEmpty() ? "" : qPrintable(errors[0][0].toString()));
        QTRY_COMPARE_WITH_TIMEOUT(bridge->recordingState(), EngineBridge::Recording, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(bridge->recordingElapsedMs() >= 1500, 30000);

        // The key reaches the window again now that the form is gone.
        QTest::keyClick(m_window.get(), Qt::Key_R);
        QCOMPARE(bridge->recordingState(), EngineBridge::Stopping);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size() + failed.size(), 1, 90000);
        QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed[0][0].toString()));

        const QString path = saved[0][0].toString();
        QCOMPARE(screen->property("lastRecordingPath").toString(), path);
        QVERIFY(screen->property("savedCardVisible").toBool());
        QVERIFY2(path.endsWith(QStringLiteral(" (2).mp4")), qPrintable(path));
        QVERIFY(taken.contains(path.left(path.size() - 8) + QStringLiteral(".mp4")));
        for (const QString& old : taken) {
            QFile file(old);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray(kPlaceholder));
        }
        const QString streams = probe(path);
        QVERIFY2(streams.contains(QStringLiteral("codec_name=h264")), qPrintable(streams));
        const int at = streams.indexOf(QStringLiteral("duration="));
        QVERIFY2(at >= 0, qPrintable(streams));
        QVERIFY2(streams.mid(at + 9).section(QLatin1Char('\n'), 0, 0).toDouble() > 1.0, qPrintable(streams));

        // Escape with nothing open and nothing recording leaves the session.
        QSignalSpy exits(screen, SIGNAL(exitRequested()));
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QCOMPARE(exits.size(), 1);
        QVERIFY(!bridge->sessionRunning());
    }
};

int main(int argc, char** argv)
{
    TestConfigDir configDir;
    qputenv("TAVRIX_TEST_SOURCE", "1");
    qputenv("TAVRIX_LANG", "en");
    QGuiApplication app(argc, argv);
    SessionRecordingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SessionRecordingTest.moc"
