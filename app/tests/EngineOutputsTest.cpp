// Recording and sharing through the Engine singleton over the real engine:
// a real window composites the test-pattern camera, the recorder writes an
// MP4 with sound from a file-backed ALSA "default", and the share server runs
// in a private network namespace this test makes itself.

#include "EngineBridge.h"

#include "Engine.h"

#include "TestNetwork.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/socket.h>

Q_IMPORT_QML_PLUGIN(TavrixPlugin)

namespace {

constexpr int kProbeTimeoutMs = 120000;
constexpr char kLanAddress[] = "10.211.0.1";

constexpr char kOnePanel[] = R"(
import QtQuick
import QtQuick.Window
import Tavrix

Window {
    width: 640
    height: 360
    visible: true
    VideoPanel { anchors.fill: parent }
}
)";

// Every recording-state value the bridge went through, and the state seen by
// the saved signal's receiver.
struct StateLog {
    QList<int> states;
    QStringList saved;
    int stateAtSaved = -1;
};

// Holds whoever reports the viewer count 0 until released (or 30 s).
class ReportHold {
public:
    void pass()
    {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        if (!m_released.load())
            m_timedOut = !m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_released.load(); });
    }

    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

    bool isEntered()
    {
        std::lock_guard lock(m_mutex);
        return m_entered;
    }

    bool timedOut()
    {
        std::lock_guard lock(m_mutex);
        return m_timedOut;
    }

private:
    std::mutex m_mutex;
    // guards: m_entered, m_timedOut; m_changed waits on it
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_timedOut = false;
    std::atomic<bool> m_released {false};
};

}  // namespace

class EngineOutputsTest : public QObject {
    Q_OBJECT

private:
    // eth0 with kLanAddress, added once.
    bool ensureLanInterface()
    {
        if (m_hasLanInterface)
            return true;
        std::string problem;
        m_hasLanInterface = lagwell::test::addInterface("eth0", std::string(kLanAddress) + "/24", &problem);
        if (!m_hasLanInterface)
            qWarning("%s", problem.c_str());
        return m_hasLanInterface;
    }

    // A start while the last stop still winds down waits up to
    // kStartAfterStopWaitMs for it; a loaded machine may need longer, and
    // the start then fails cleanly. Such a start is tried again until the
    // stop is through; any other failure ends it.
    bool startSharingAfterStop()
    {
        QDeadlineTimer deadline(30000);
        for (;;) {
            QElapsedTimer waited;
            waited.start();
            if (m_bridge->startSharing())
                return true;
            if (m_bridge->sharing() || !m_bridge->shareInfo().isEmpty()) {
                qWarning("a refused start left sharing on");
                return false;
            }
            if (waited.elapsed() < EngineBridge::kStartAfterStopWaitMs || deadline.hasExpired())
                return false;
        }
    }

    bool m_hasLanInterface = false;
    QTemporaryDir m_home;
    std::unique_ptr<QQmlEngine> m_qml;
    std::unique_ptr<QObject> m_host;
    std::unique_ptr<QQuickWindow> m_window;
    EngineBridge* m_bridge = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        // As in a real home, so the room code is kept from one start to the next.
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral(".config")));
        qunsetenv("SNAP_REAL_HOME");
        // "default" reads ten seconds of silence from a file over a null slave.
        const QString raw = m_home.filePath("silence.raw");
        std::ofstream(raw.toStdString(), std::ios::binary)
            .write(std::vector<char>(48000 * 2 * 2 * 10).data(), 48000 * 2 * 2 * 10);
        const QString config = m_home.filePath("asound.conf");
        std::ofstream(config.toStdString()) << "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                            << "  file \"/dev/null\"\n  infile \"" << raw.toStdString()
                                            << "\"\n  format \"raw\"\n}\n";
        qputenv("ALSA_CONFIG_PATH", config.toUtf8());

        m_qml = std::make_unique<QQmlEngine>();
        m_qml->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent host(m_qml.get());
        host.setData("import QtQml\nimport Tavrix\nQtObject { property QtObject engine: Engine }",
                     QUrl(QStringLiteral("file:///Host.qml")));
        m_host.reset(host.create());
        QVERIFY2(m_host, qPrintable(host.errorString()));
        m_bridge = qobject_cast<EngineBridge*>(m_host->property("engine").value<QObject*>());
        QVERIFY(m_bridge);
        QTRY_VERIFY_WITH_TIMEOUT(m_bridge->ready(), kProbeTimeoutMs);

        QQmlComponent component(m_qml.get());
        component.setData(kOnePanel, QUrl(QStringLiteral("file:///Window.qml")));
        m_window.reset(qobject_cast<QQuickWindow*>(component.create()));
        QVERIFY2(m_window, qPrintable(component.errorString()));
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(m_bridge->startSession({QStringLiteral("test")}, 720, 10));
    }

    void cleanupTestCase()
    {
        if (m_bridge)
            m_bridge->stopSession();
        m_window.reset();
        m_host.reset();
        m_qml.reset();
    }

    void stopRecordingWhileIdleStaysIdle()
    {
        QSignalSpy changed(m_bridge, &EngineBridge::recordingStateChanged);
        m_bridge->stopRecording();
        QCOMPARE(m_bridge->recordingState(), EngineBridge::Idle);
        QCOMPARE(changed.size(), 0);
    }

    void recordingRunsThroughItsStatesToASavedFile()
    {
        StateLog log;
        connect(m_bridge, &EngineBridge::recordingStateChanged, this,
                [&] { log.states.append(m_bridge->recordingState()); });
        connect(m_bridge, &EngineBridge::recordingSaved, this, [&](const QString& path) {
            log.saved.append(path);
            log.stateAtSaved = m_bridge->recordingState();
        });
        QSignalSpy failed(m_bridge, &EngineBridge::recordingFailed);
        QSignalSpy elapsed(m_bridge, &EngineBridge::recordingElapsedMsChanged);

        const QString path = m_bridge->recordingsDirectory() + QStringLiteral("/Tavrix test.mp4");
        QVERIFY(QFileInfo(m_bridge->recordingsDirectory()).isDir());
        QVERIFY(m_bridge->startRecording(path, {{QStringLiteral("title"), QStringLiteral("Drill")}}));
        QCOMPARE(m_bridge->recordingState(), EngineBridge::Starting);
        QCOMPARE(elapsed.size(), 1);
        QCOMPARE(m_bridge->recordingElapsedMs(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(m_bridge->recordingState(), EngineBridge::Recording, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_bridge->recordingElapsedMs() >= 1500, 20000);
        m_bridge->stopRecording();
        QCOMPARE(m_bridge->recordingState(), EngineBridge::Stopping);

        QTRY_COMPARE_WITH_TIMEOUT(log.saved.size() + failed.size(), 1, 60000);
        QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed[0][0].toString()));
        QCOMPARE(log.saved, QStringList {path});
        QCOMPARE(log.stateAtSaved, int(EngineBridge::Idle));
        QCOMPARE(log.states, (QList<int> {EngineBridge::Starting, EngineBridge::Recording, EngineBridge::Stopping,
                                          EngineBridge::Idle}));
        QVERIFY(QFileInfo(path).size() > 1000);
    }

    void recordingThatCannotStartReportsAndStaysIdle()
    {
        QSignalSpy errors(m_bridge, &EngineBridge::error);
        QSignalSpy changed(m_bridge, &EngineBridge::recordingStateChanged);
        QVERIFY(!m_bridge->startRecording(m_home.filePath("no/such/folder/x.mp4"), {}));
        QCOMPARE(errors.size(), 1);
        QVERIFY(!errors[0][0].toString().isEmpty());
        QCOMPARE(changed.size(), 0);
        QCOMPARE(m_bridge->recordingState(), EngineBridge::Idle);
    }

    void sharingWithoutALanAddressFails()
    {
        QSignalSpy errors(m_bridge, &EngineBridge::error);
        QVERIFY(!m_bridge->startSharing());
        QCOMPARE(errors.size(), 1);
        QVERIFY(!m_bridge->sharing());
        QVERIFY(m_bridge->shareInfo().isEmpty());
    }

    void sharingShowsItsInformationAndServes()
    {
        QVERIFY(ensureLanInterface());
        QStringList order;
        auto logSharing = connect(m_bridge, &EngineBridge::sharingChanged, this, [&] { order.append("sharing"); });
        auto logInfo = connect(m_bridge, &EngineBridge::shareInfoChanged, this, [&] { order.append("shareInfo"); });

        QVERIFY(m_bridge->startSharing());
        QCOMPARE(order, (QStringList {"sharing", "shareInfo"}));
        QVERIFY(m_bridge->sharing());
        QVariantMap info = m_bridge->shareInfo();
        QCOMPARE(info.keys(), (QStringList {"address", "code", "port", "url", "viewers"}));
        QCOMPARE(info.value("address").toString(), QString::fromLatin1(kLanAddress));
        const int port = info.value("port").toInt();
        QVERIFY(port >= 8080 && port <= 8091);
        const QString code = info.value("code").toString();
        QCOMPARE(code.size(), 3);
        QCOMPARE(info.value("url").toString(),
                 QStringLiteral("http://%1:%2/live.ts?k=%3").arg(kLanAddress).arg(port).arg(code));

        // The server really answers on the LAN address.
        const lagwell::test::HttpResponse page = lagwell::test::get(kLanAddress, port, "/");
        QCOMPARE(page.status, 200);

        // A viewer count event while sharing updates the map.
        lagwell::EngineEvent viewers;
        viewers.kind = lagwell::EngineEvent::Kind::ShareViewers;
        viewers.text = "3";
        order.clear();
        m_bridge->handleEngineEvent(viewers);
        QCOMPARE(order, QStringList {"shareInfo"});
        QCOMPARE(m_bridge->shareInfo().value("viewers").toInt(), 3);

        const QString fresh = m_bridge->regenerateShareCode();
        QCOMPARE(fresh.size(), 3);
        QCOMPARE(m_bridge->shareInfo().value("code").toString(), fresh);

        order.clear();
        m_bridge->stopSharing();
        QCOMPARE(order, (QStringList {"sharing", "shareInfo"}));
        QVERIFY(!m_bridge->sharing());
        QVERIFY(m_bridge->shareInfo().isEmpty());

        // A late count after the stop brings nothing back.
        order.clear();
        m_bridge->handleEngineEvent(viewers);
        QVERIFY(order.isEmpty());
        QVERIFY(m_bridge->shareInfo().isEmpty());
        disconnect(logSharing);
        disconnect(logInfo);
    }

    // The server's stop is held inside its last viewer report (on whatever
    // thread runs it) while a viewer is connected: the interface must not
    // wait for it, and a start meanwhile must not race it.
    void stopSharingReturnsWhileAViewerIsStillConnected()
    {
        QVERIFY(ensureLanInterface());
        auto hold = std::make_shared<ReportHold>();
        QPointer<EngineBridge> bridge(m_bridge);
        m_bridge->engine()->setEventHandler([hold, bridge](const lagwell::EngineEvent& event) {
            if (event.kind == lagwell::EngineEvent::Kind::ShareViewers && event.text == "0")
                hold->pass();
            QMetaObject::invokeMethod(
                bridge, [bridge, event]() {
                    if (bridge)
                        bridge->handleEngineEvent(event);
                },
                Qt::QueuedConnection);
        });

        QVERIFY(startSharingAfterStop());
        const QVariantMap info = m_bridge->shareInfo();
        const int port = info.value("port").toInt();
        const std::string code = info.value("code").toString().toStdString();
        lagwell::UniqueFd viewer = lagwell::test::connectTo(kLanAddress, port);
        QVERIFY(viewer);
        const std::string request = "GET /live.ts?k=" + code + " HTTP/1.0\r\n\r\n";
        QCOMPARE(::send(viewer.get(), request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
        // Listed once the head went out.
        QTRY_COMPARE_WITH_TIMEOUT(m_bridge->shareInfo().value("viewers").toInt(), 1, 10000);

        QElapsedTimer clock;
        clock.start();
        m_bridge->stopSharing();
        const qint64 stopMs = clock.elapsed();
        QVERIFY(!m_bridge->sharing());
        QVERIFY(m_bridge->shareInfo().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(hold->isEntered(), 10000);
        QVERIFY2(!hold->timedOut(), "stopSharing waited for the server's stop");
        QVERIFY2(stopMs < 2000, qPrintable(QString::number(stopMs)));

        // The viewer is cut off at once; the server's wind-down is still held.
        const lagwell::test::HttpResponse cut = lagwell::test::readResponse(viewer.get(), 10000);
        QVERIFY(cut.closedByServer);
        QVERIFY(cut.statusLine.rfind("HTTP/1.0 200", 0) == 0);

        // A start while that stop runs fails cleanly instead of racing it.
        QSignalSpy errors(m_bridge, &EngineBridge::error);
        QVERIFY(!m_bridge->startSharing());
        QCOMPARE(errors.size(), 1);
        QVERIFY(!m_bridge->sharing());
        QVERIFY(m_bridge->shareInfo().isEmpty());
        QVERIFY(!hold->timedOut());

        // Once the stop is through, a start works and keeps its state when
        // the finished stop is reported.
        hold->release();
        QVERIFY(startSharingAfterStop());
        QTest::qWait(50);  // the finished stop is reported
        QVERIFY(m_bridge->sharing());
        QCOMPARE(m_bridge->shareInfo().value("code").toString().toStdString(), code);
        QCOMPARE(m_bridge->shareInfo().value("port").toInt(), port);
        QCOMPARE(lagwell::test::get(kLanAddress, port, "/").status, 200);

        // A start right after an ordinary stop waits for it and works.
        m_bridge->stopSharing();
        QVERIFY(startSharingAfterStop());
        m_bridge->stopSharing();
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists, so every later thread shares the namespace.
    std::string problem;
    if (!lagwell::test::enterFreshNetNamespace(&problem)) {
        fprintf(stderr, "EngineOutputsTest: %s\n", problem.c_str());
        return 1;
    }
    qputenv("TAVRIX_TEST_SOURCE", "1");
    QGuiApplication app(argc, argv);
    EngineOutputsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "EngineOutputsTest.moc"
