// The Engine singleton over the real engine facade, with the test-pattern
// camera offered by the probe: probe hand-over, session flags and the order
// of their signals, failures, engine events and shutdown while the probe
// still runs.

#include "EngineBridge.h"

#include "Engine.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(TavrixPlugin)

namespace {

constexpr int kProbeTimeoutMs = 120000;

// Everything written to standard error (fd 2, where the engine's log goes)
// while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        m_file = ::open(m_path.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ::dup2(m_file, STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QString finish()
    {
        restore();
        QFile file(m_path);
        file.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(file.readAll());
        file.remove();
        return text;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        ::close(m_file);
        m_saved = -1;
    }

    QString m_path = QDir::temp().filePath(QStringLiteral("tvx-bridge-stderr-%1.log").arg(::getpid()));
    int m_saved = -1;
    int m_file = -1;
};

// Every signal of the bridge, by name, in the order it was emitted.
class SignalLog : public QObject {
public:
    explicit SignalLog(EngineBridge* bridge)
    {
        const auto log = [this](const char* name) { return [this, name]() { names.append(QLatin1String(name)); }; };
        connect(bridge, &EngineBridge::readyChanged, this, log("readyChanged"));
        connect(bridge, &EngineBridge::sessionRunningChanged, this, log("sessionRunningChanged"));
        connect(bridge, &EngineBridge::sessionHealthyChanged, this, log("sessionHealthyChanged"));
        connect(bridge, &EngineBridge::cameraStalledChanged, this, log("cameraStalledChanged"));
        connect(bridge, &EngineBridge::recordingStateChanged, this, log("recordingStateChanged"));
        connect(bridge, &EngineBridge::recordingElapsedMsChanged, this, log("recordingElapsedMsChanged"));
        connect(bridge, &EngineBridge::sharingChanged, this, log("sharingChanged"));
        connect(bridge, &EngineBridge::shareInfoChanged, this, log("shareInfoChanged"));
        connect(bridge, &EngineBridge::recordingSaved, this, log("recordingSaved"));
        connect(bridge, &EngineBridge::recordingFailed, this, log("recordingFailed"));
        connect(bridge, &EngineBridge::cameraLost, this, log("cameraLost"));
        connect(bridge, &EngineBridge::cameraRecovered, this, log("cameraRecovered"));
        connect(bridge, &EngineBridge::error, this, [this](const QString& message) {
            names.append(QStringLiteral("error"));
            errors.append(message);
        });
    }

    QStringList names;
    QStringList errors;
};

lagwell::EngineEvent engineEvent(lagwell::EngineEvent::Kind kind, const char* text = "")
{
    lagwell::EngineEvent e;
    e.kind = kind;
    e.text = text;
    return e;
}

}  // namespace

class EngineBridgeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<EngineBridge> readyBridge()
    {
        auto bridge = std::make_unique<EngineBridge>();
        if (!QTest::qWaitFor([&] { return bridge->ready(); }, kProbeTimeoutMs))
            return nullptr;
        return bridge;
    }

private slots:
    void beforeTheProbeAnswersEverythingIsDefault()
    {
        EngineBridge bridge;
        QCOMPARE(EngineBridge::instance(), &bridge);
        QVERIFY(!bridge.ready());
        QVERIFY(bridge.cameras().isEmpty());
        QCOMPARE(bridge.maxCaptureHeight(), 720);
        QVERIFY(!bridge.dualCameraSupported());
        QVERIFY(bridge.capabilitiesSummary().isEmpty());
        QVERIFY(bridge.sessionHealthy());
        QVERIFY(!bridge.cameraStalled());
        QCOMPARE(bridge.recordingState(), EngineBridge::Idle);
        QVERIFY(bridge.shareInfo().isEmpty());
        QCOMPARE(bridge.buildLabel(), QStringLiteral("Version 1.1.1 (build: 4)"));
    }

    void probeMakesReadyAndListsTheTestCamera()
    {
        EngineBridge bridge;
        SignalLog log(&bridge);
        QTRY_VERIFY_WITH_TIMEOUT(bridge.ready(), kProbeTimeoutMs);
        QCOMPARE(log.names, QStringList {"readyChanged"});
        const QVariantList cameras = bridge.cameras();
        QVERIFY(!cameras.isEmpty());
        const QVariantMap last = cameras.last().toMap();
        QCOMPARE(last.value("id").toString(), QStringLiteral("test"));
        QCOMPARE(last.value("name").toString(), QStringLiteral("Test pattern"));
        QVERIFY(!bridge.capabilitiesSummary().isEmpty());
        QVERIFY(bridge.dualCameraSupported());
    }

    void destroyedWhileTheProbeRunsExitsCleanly()
    {
        for (int i = 0; i < 3; ++i) {
            auto bridge = std::make_unique<EngineBridge>();
            bridge.reset();
            QCOMPARE(EngineBridge::instance(), nullptr);
            // A probe result that was on its way must not reach anything.
            QTest::qWait(20);
        }
        // The same through the QML engine that owns the singleton.
        auto qmlEngine = std::make_unique<QQmlEngine>();
        qmlEngine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(qmlEngine.get());
        component.setData("import QtQml\nimport Tavrix\nQtObject { property bool ready: Engine.ready }",
                          QUrl(QStringLiteral("file:///Host.qml")));
        std::unique_ptr<QObject> host(component.create());
        QVERIFY2(host, qPrintable(component.errorString()));
        QVERIFY(EngineBridge::instance());
        host.reset();
        qmlEngine.reset();
        QCOMPARE(EngineBridge::instance(), nullptr);
        QTest::qWait(50);
    }

    // The session screen starts its session while the probe still runs: the
    // start waits for that probe instead of running a second one, so the
    // cameras are looked for (and a missing one reported) once.
    void sessionStartedBeforeTheProbeAnswersProbesOnce()
    {
        StderrCapture capture;
        QString log;
        {
            EngineBridge bridge;
            SignalLog signals_(&bridge);
            QVERIFY(!bridge.ready());
            const bool started = bridge.startSession({QStringLiteral("test")}, 720, 10);
            const bool readyAtOnce = bridge.ready();
            const QStringList atStart = signals_.names;
            // The queued result arrives later and changes nothing.
            QTest::qWait(300);
            bridge.stopSession();
            const QStringList names = signals_.names;
            log = capture.finish();
            QVERIFY(started);
            QVERIFY2(readyAtOnce, qPrintable(log));
            QCOMPARE(atStart.count(QStringLiteral("readyChanged")), 1);
            QCOMPARE(names.count(QStringLiteral("readyChanged")), 1);
        }
        QCOMPARE(log.count(QStringLiteral("Capabilities: ")), 1);
        QCOMPARE(log.count(QStringLiteral("/dev/video* node(s) found")), 1);
        QVERIFY2(log.count(QStringLiteral("no usable camera")) <= 1, qPrintable(log));
    }

    void cameraIdIsTheBusInfoElseThePath()
    {
        EngineBridge bridge;
        lagwell::Capabilities caps;
        caps.cameras.resize(2);
        caps.cameras[0].path = "/dev/video0";
        caps.cameras[0].name = "Front";
        caps.cameras[0].busInfo = "usb-0000:00:14.0-1";
        caps.cameras[1].path = "/dev/video2";
        caps.cameras[1].name = "Side";
        caps.maxCaptureHeight = 1080;
        caps.summary = "two cameras";
        bridge.onProbeFinished(caps);
        QVERIFY(bridge.ready());
        const QVariantList cameras = bridge.cameras();
        QCOMPARE(cameras.size(), 2);
        QCOMPARE(cameras[0].toMap().value("id").toString(), QStringLiteral("usb-0000:00:14.0-1"));
        QCOMPARE(cameras[0].toMap().value("name").toString(), QStringLiteral("Front"));
        QCOMPARE(cameras[1].toMap().value("id").toString(), QStringLiteral("/dev/video2"));
        QCOMPARE(bridge.maxCaptureHeight(), 1080);
        QCOMPARE(bridge.capabilitiesSummary(), QStringLiteral("two cameras"));
    }

    void sessionStartAndStopSignalInOrder()
    {
        auto bridge = readyBridge();
        QVERIFY(bridge);
        SignalLog log(bridge.get());
        QVERIFY(bridge->startSession({QStringLiteral("test")}, 720, 10));
        QCOMPARE(log.names, (QStringList {"sessionRunningChanged", "sessionHealthyChanged"}));
        QVERIFY(bridge->sessionRunning());
        QVERIFY(bridge->sessionHealthy());
        QVERIFY(bridge->engine()->isSessionRunning());

        // Two health samples of a delivering camera: healthy, not stalled.
        QTest::qWait(4500);
        QVERIFY(bridge->sessionHealthy());
        QVERIFY(!bridge->cameraStalled());

        log.names.clear();
        bridge->stopSession();
        QCOMPARE(log.names, (QStringList {"sessionRunningChanged", "cameraStalledChanged"}));
        QVERIFY(!bridge->sessionRunning());
        QVERIFY(!bridge->engine()->isSessionRunning());

        // With no session the notifications still come.
        log.names.clear();
        bridge->stopSession();
        QCOMPARE(log.names, (QStringList {"sessionRunningChanged", "cameraStalledChanged"}));
    }

    void failedStartsReportTheEnginesMessage()
    {
        auto bridge = readyBridge();
        QVERIFY(bridge);
        SignalLog log(bridge.get());
        QVERIFY(!bridge->startSession({}, 720, 60));
        QCOMPARE(log.names, QStringList {"error"});
        QCOMPARE(log.errors, QStringList {"No camera specified in SessionConfig"});
        QVERIFY(!bridge->sessionRunning());
    }

    void failedRestartShowsTheStoppedSession()
    {
        auto bridge = readyBridge();
        QVERIFY(bridge);
        QVERIFY(bridge->startSession({QStringLiteral("test")}, 720, 10));
        SignalLog log(bridge.get());
        QVERIFY(!bridge->startSession({QStringLiteral("/dev/video-none-here")}, 720, 10));
        QVERIFY(!bridge->engine()->isSessionRunning());
        QVERIFY(!bridge->sessionRunning());
        QVERIFY(!bridge->cameraStalled());
        QCOMPARE(log.names, (QStringList {"sessionRunningChanged", "error"}));
        // No health sample may call the stopped session stalled.
        QTest::qWait(2500);
        QVERIFY(!bridge->cameraStalled());
    }

    void recordingOutcomeEventsEndInIdleBeforeTheirSignal()
    {
        QTemporaryDir directory;
        EngineBridge bridge;
        SignalLog log(&bridge);
        EngineBridge::RecordingUiState seen = EngineBridge::Recording;
        connect(&bridge, &EngineBridge::recordingSaved, this, [&](const QString&) { seen = bridge.recordingState(); });
        connect(&bridge, &EngineBridge::recordingFailed, this, [&](const QString&) { seen = bridge.recordingState(); });
        using Kind = lagwell::EngineEvent::Kind;

        // A real start puts the interface in Starting; the engine's own events
        // stay queued while the test hands the bridge these.
        QVERIFY(bridge.startRecording(directory.filePath(QStringLiteral("take.mp4")), {}));
        log.names.clear();
        bridge.handleEngineEvent(engineEvent(Kind::RecordingStarted));
        QCOMPARE(bridge.recordingState(), EngineBridge::Recording);
        bridge.handleEngineEvent(engineEvent(Kind::RecordingStarted));
        QSignalSpy saved(&bridge, &EngineBridge::recordingSaved);
        bridge.handleEngineEvent(engineEvent(Kind::RecordingSaved, "/tmp/Tavrix x.mp4"));
        QCOMPARE(seen, EngineBridge::Idle);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved[0][0].toString(), QStringLiteral("/tmp/Tavrix x.mp4"));
        QCOMPARE(log.names, (QStringList {"recordingStateChanged", "recordingStateChanged", "recordingSaved"}));

        log.names.clear();
        seen = EngineBridge::Recording;
        bridge.pollRecordingState();  // the engine still records
        QCOMPARE(bridge.recordingState(), EngineBridge::Recording);
        bridge.handleEngineEvent(engineEvent(Kind::RecordingFailed, "disk full"));
        QCOMPARE(seen, EngineBridge::Idle);
        QCOMPARE(log.names, (QStringList {"recordingStateChanged", "recordingStateChanged", "recordingFailed"}));
    }

    void aStopWhileStartingIsNotUndoneByTheQueuedStartEvent()
    {
        QTemporaryDir directory;
        EngineBridge bridge;
        QList<int> states;
        connect(&bridge, &EngineBridge::recordingStateChanged, this,
                [&] { states.append(static_cast<int>(bridge.recordingState())); });
        QSignalSpy saved(&bridge, &EngineBridge::recordingSaved);
        QSignalSpy failed(&bridge, &EngineBridge::recordingFailed);

        QVERIFY(bridge.startRecording(directory.filePath(QStringLiteral("take.mp4")), {}));
        // The engine's RecordingStarted waits in the event queue; a stop comes
        // first, as when a camera is lost at that moment.
        bridge.stopRecording();
        QCOMPARE(bridge.recordingState(), EngineBridge::Stopping);
        // No picture is ever composited here: the recording ends without a file.
        QTRY_COMPARE_WITH_TIMEOUT(saved.size() + failed.size(), 1, 30000);
        QCOMPARE(states, (QList<int> {EngineBridge::Starting, EngineBridge::Stopping, EngineBridge::Idle}));
    }

    void eventsBecomeSignalsOrNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("signalNames");
        QTest::newRow("session started") << 0 << "" << QStringList {};
        QTest::newRow("session stopped") << 1 << "" << QStringList {};
        QTest::newRow("camera lost") << 2 << "test" << QStringList {"cameraLost"};
        QTest::newRow("camera recovered") << 3 << "test" << QStringList {"cameraRecovered"};
        QTest::newRow("recording started while idle") << 4 << "" << QStringList {};
        QTest::newRow("viewers while not sharing") << 7 << "3" << QStringList {};
        QTest::newRow("viewers not a number") << 7 << "x" << QStringList {};
        QTest::newRow("error") << 8 << "boom" << QStringList {"error"};
        QTest::newRow("unknown kind") << 42 << "?" << QStringList {};
    }

    void eventsBecomeSignalsOrNothing()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(QStringList, signalNames);
        EngineBridge bridge;
        SignalLog log(&bridge);
        lagwell::EngineEvent e;
        e.kind = static_cast<lagwell::EngineEvent::Kind>(kind);
        e.text = text.toStdString();
        bridge.handleEngineEvent(e);
        QCOMPARE(log.names, signalNames);
        QVERIFY(bridge.shareInfo().isEmpty());
        if (signalNames.contains("error"))
            QCOMPARE(log.errors, QStringList {text});
    }
};

int main(int argc, char** argv)
{
    qputenv("TAVRIX_TEST_SOURCE", "1");
    QGuiApplication app(argc, argv);
    EngineBridgeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "EngineBridgeTest.moc"
