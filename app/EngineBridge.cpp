#include "EngineBridge.h"

#include "AppNames.h"
#include "Engine.h"
#include "FfmpegLogBridge.h"
#include "RenderGate.h"

#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QThread>
#include <QUrl>
#include <QtDebug>

#include <charconv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace {

constexpr int kRepaintIntervalMs = 16;
constexpr int kHealthIntervalMs = 2000;
constexpr int kRecordingPollIntervalMs = 200;
constexpr int kSharePollIntervalMs = 2000;
constexpr int kBuildNumber = 4;

EngineBridge* g_instance = nullptr;

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

QVariantMap shareInfoMap(const lagwell::ShareInfo& info)
{
    QVariantMap map;
    map.insert(QStringLiteral("address"), fromUtf8(info.address));
    map.insert(QStringLiteral("port"), int(info.port));
    map.insert(QStringLiteral("code"), fromUtf8(info.code));
    map.insert(QStringLiteral("url"), fromUtf8(info.url));
    map.insert(QStringLiteral("viewers"), int(info.viewers));
    return map;
}

// The whole text as a base-10 int; false for anything else (signs aside, no
// spaces, no trailing characters, no overflow).
bool parseWholeInt(const std::string& text, int* value)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto result = std::from_chars(begin, end, *value, 10);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool drawsWithOpenGl(QQuickWindow* window)
{
    QSGRendererInterface* renderer = window->rendererInterface();
    return renderer && renderer->graphicsApi() == QSGRendererInterface::OpenGL;
}

}  // namespace

// Carries work from other threads (probe, engine threads) to the bridge's
// queue. detach() makes every later post a no-op, so nothing is ever posted
// to a bridge that is gone; a post already queued dies with the bridge.
class EngineBridge::EventRelay {
public:
    explicit EventRelay(EngineBridge* bridge)
        : m_bridge(bridge)
    {
    }

    void detach()
    {
        std::lock_guard lock(m_mutex);
        m_bridge = nullptr;
    }

    // Any thread. The post happens under the lock so detach() cannot finish
    // in between; posting runs no code of ours.
    template <typename Work>
    void post(Work work)
    {
        std::lock_guard lock(m_mutex);
        if (!m_bridge)
            return;
        EngineBridge* bridge = m_bridge;
        QMetaObject::invokeMethod(
            bridge, [bridge, work = std::move(work)]() { work(bridge); }, Qt::QueuedConnection);
    }

private:
    std::mutex m_mutex;
    // guards: m_bridge
    EngineBridge* m_bridge;
};

// The probe's result, kept where the GUI thread can wait for it: a session
// started before the queued result arrives takes it from here.
class EngineBridge::ProbeResult {
public:
    // Probe thread.
    void set(const lagwell::Capabilities& capabilities)
    {
        {
            std::lock_guard lock(m_mutex);
            m_capabilities = capabilities;
        }
        m_arrived.notify_all();
    }

    // GUI thread: blocks until set() ran.
    lagwell::Capabilities wait()
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait(lock, [this] { return m_capabilities.has_value(); });
        return *m_capabilities;
    }

private:
    std::mutex m_mutex;
    // guards: m_capabilities
    std::optional<lagwell::Capabilities> m_capabilities;
    std::condition_variable m_arrived;
};

EngineBridge::EngineBridge(QObject* parent)
    : QObject(parent)
{
    g_instance = this;
    // FFmpeg's own lines go through the log from the probe on.
    lagwell::FfmpegLogBridge::install();
    m_engine = std::make_unique<lagwell::Engine>();
    m_renderGate = std::make_shared<RenderGate>(m_engine.get());
    m_relay = std::make_shared<EventRelay>(this);

    // Only copies the event and queues it, also on the GUI thread, so no
    // signal is ever emitted from inside an engine call (some events are
    // raised under the engine's session lock).
    std::shared_ptr<EventRelay> relay = m_relay;
    m_engine->setEventHandler([relay](const lagwell::EngineEvent& event) {
        relay->post([event](EngineBridge* bridge) { bridge->handleEngineEvent(event); });
    });

    m_probeResult = std::make_shared<ProbeResult>();
    QThread* probeThread = QThread::create([relay, result = m_probeResult]() {
        lagwell::Capabilities capabilities;
        try {
            capabilities = lagwell::Engine::probe();
        } catch (const std::exception& e) {
            qWarning("EngineBridge: capability probe failed: %s", e.what());
        }
        result->set(capabilities);
        relay->post([capabilities](EngineBridge* bridge) { bridge->onProbeFinished(capabilities); });
    });
    probeThread->setObjectName(QStringLiteral("tvx-probe"));
    connect(probeThread, &QThread::finished, probeThread, &QObject::deleteLater);
    m_probeThread = probeThread;
    probeThread->start(QThread::InheritPriority);

    m_repaintPump.setInterval(kRepaintIntervalMs);
    m_healthTimer.setInterval(kHealthIntervalMs);
    m_recordingPoll.setInterval(kRecordingPollIntervalMs);
    m_sharePoll.setInterval(kSharePollIntervalMs);
    connect(&m_repaintPump, &QTimer::timeout, this, &EngineBridge::repaintStep);
    connect(&m_healthTimer, &QTimer::timeout, this, &EngineBridge::healthStep);
    connect(&m_recordingPoll, &QTimer::timeout, this, &EngineBridge::pollRecordingState);
    connect(&m_sharePoll, &QTimer::timeout, this, &EngineBridge::pollShareInfo);
}

EngineBridge::~EngineBridge()
{
    if (g_instance == this)
        g_instance = nullptr;
    m_relay->detach();
    // The probe touches no bridge member, but it must not outlive the program
    // that is shutting down around it: wait for it here.
    if (QThread* probeThread = m_probeThread.data()) {
        probeThread->wait();
        delete probeThread;
    }
    // The engine goes below: its share server must be done stopping first.
    if (m_shareStopThread)
        m_shareStopThread->wait();
    m_shareStopThread.reset();
    m_repaintPump.stop();
    m_healthTimer.stop();
    m_recordingPoll.stop();
    m_sharePoll.stop();
    m_panelItems.clear();
    m_shareInfo.clear();
    m_capabilities = lagwell::Capabilities();
    // No render-thread call reaches the facade from here on.
    m_renderGate->close();
    m_engine.reset();
}

EngineBridge* EngineBridge::create(QQmlEngine*, QJSEngine*)
{
    return new EngineBridge();
}

EngineBridge* EngineBridge::instance()
{
    return g_instance;
}

template <typename Call>
bool EngineBridge::guarded(Call&& call)
{
    QString message;
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    }
    emit error(message);
    return false;
}

int EngineBridge::createPanel()
{
    int panelId = -1;
    guarded([&] { panelId = m_engine->createPanel(); });
    return panelId;
}

void EngineBridge::destroyPanel(int panelId)
{
    guarded([&] { m_engine->destroyPanel(panelId); });
}

void EngineBridge::setPanelParams(int panelId, int delayMs, int source, double rotationDegrees, double zoom,
                                  double panX, double panY, bool mirror)
{
    lagwell::PanelParams params;
    params.delayMs = delayMs;
    params.source = source;
    params.rotationDegrees = static_cast<float>(rotationDegrees);
    params.zoom = static_cast<float>(zoom);
    params.panX = static_cast<float>(panX);
    params.panY = static_cast<float>(panY);
    params.mirror = mirror;
    guarded([&] { m_engine->setPanelParams(panelId, params); });
}

bool EngineBridge::startSession(const QVariantList& cameraIds, int resolutionHeight, int bufferSeconds)
{
    lagwell::SessionConfig config;
    for (const QVariant& id : cameraIds)
        config.cameraIds.push_back(toUtf8(id.toString()));
    config.resolutionTier = resolutionHeight > 2159 ? 2 : (resolutionHeight > 1079 ? 1 : 0);
    config.bufferSeconds = bufferSeconds;

    finishProbe();
    try {
        m_engine->startSession(config);
    } catch (const std::exception& e) {
        // A restart stops the running session before it fails: show what
        // really runs, so no stale session is reported as stalled.
        syncSessionWithEngine();
        emit error(QString::fromUtf8(e.what()));
        return false;
    }

    if (m_cameraStalled) {
        m_cameraStalled = false;
        emit cameraStalledChanged();
    }
    m_sessionRunning = true;
    m_sessionHealthy = true;
    emit sessionRunningChanged();
    emit sessionHealthyChanged();
    m_repaintPump.start();
    m_healthTimer.start();
    return true;
}

void EngineBridge::stopSession()
{
    if (!guarded([&] { m_engine->stopSession(); }) && m_engine->isSessionRunning())
        return;
    m_sessionRunning = false;
    m_cameraStalled = false;
    emit sessionRunningChanged();
    emit cameraStalledChanged();
    m_repaintPump.stop();
    m_healthTimer.stop();
}

void EngineBridge::syncSessionWithEngine()
{
    if (m_engine->isSessionRunning() || !m_sessionRunning)
        return;
    m_sessionRunning = false;
    emit sessionRunningChanged();
    if (m_cameraStalled) {
        m_cameraStalled = false;
        emit cameraStalledChanged();
    }
    m_repaintPump.stop();
    m_healthTimer.stop();
}

bool EngineBridge::startRecording(const QString& outputPath, const QVariantMap& labels)
{
    lagwell::TitleCardLabels cardLabels;
    cardLabels.player = toUtf8(labels.value(QStringLiteral("player")).toString());
    cardLabels.coach = toUtf8(labels.value(QStringLiteral("coach")).toString());
    cardLabels.sessionType = toUtf8(labels.value(QStringLiteral("sessionType")).toString());
    cardLabels.title = toUtf8(labels.value(QStringLiteral("title")).toString());
    cardLabels.notes = toUtf8(labels.value(QStringLiteral("notes")).toString());
    cardLabels.date = toUtf8(labels.value(QStringLiteral("date")).toString());
    const std::string path = toUtf8(outputPath);

    if (!guarded([&] { m_engine->startRecording(path, labels.isEmpty() ? nullptr : &cardLabels); }))
        return false;

    setRecordingUiState(Starting);
    m_recordingElapsedMs = 0;
    emit recordingElapsedMsChanged();
    m_recordingPoll.start();
    return true;
}

void EngineBridge::stopRecording()
{
    int32_t engineState = 0;
    if (!guarded([&] {
            m_engine->stopRecording();
            engineState = m_engine->recordingState();
        }))
        return;
    // Nothing was recording: the recorder will report nothing more, so the
    // interface must not wait in Stopping for it.
    if (engineState == static_cast<int32_t>(lagwell::RecordingState::Idle)) {
        setRecordingUiState(Idle);
        m_recordingPoll.stop();
        return;
    }
    setRecordingUiState(Stopping);
    if (!m_recordingPoll.isActive())
        m_recordingPoll.start();
}

bool EngineBridge::startSharing()
{
    // The server is never started while its last stop still runs.
    if (!finishShareStop(kStartAfterStopWaitMs)) {
        //: Toast when Live Share is started again before its last stop has finished
        emit error(tr("Sharing is still stopping. Try again in a moment."));
        return false;
    }
    lagwell::ShareInfo info;
    if (!guarded([&] { info = m_engine->startSharing(); }))
        return false;
    m_shareInfo = shareInfoMap(info);
    m_sharing = true;
    emit sharingChanged();
    emit shareInfoChanged();
    m_sharePoll.start();
    return true;
}

void EngineBridge::stopSharing()
{
    const bool wasSharing = m_sharing;
    m_sharing = false;
    m_shareInfo.clear();
    m_sharePoll.stop();

    // The server shuts every connection down and then waits for their
    // threads, which may take a while: that wait happens on a worker. It is
    // under way before anyone hears of the change, so a listener that starts
    // sharing again waits for it instead of racing it.
    if (!m_shareStopThread && (wasSharing || m_engine->sharingInfo())) {
        lagwell::Engine* engine = m_engine.get();
        std::shared_ptr<EventRelay> relay = m_relay;
        QThread* thread = QThread::create([engine, relay]() {
            try {
                engine->stopSharing();
            } catch (const std::exception& e) {
                const QString message = QString::fromUtf8(e.what());
                relay->post([message](EngineBridge* bridge) { emit bridge->error(message); });
            }
        });
        thread->setObjectName(QStringLiteral("tvx-share-stop"));
        connect(
            thread, &QThread::finished, this, [this]() { finishShareStop(0); }, Qt::QueuedConnection);
        m_shareStopThread.reset(thread);
        thread->start(QThread::InheritPriority);
        if (!thread->isRunning() && !thread->isFinished()) {
            // No thread to be had: stop here rather than not at all.
            m_shareStopThread.reset();
            guarded([&] { m_engine->stopSharing(); });
        }
    }

    emit sharingChanged();
    emit shareInfoChanged();
}

bool EngineBridge::finishShareStop(int timeoutMs)
{
    if (!m_shareStopThread)
        return true;
    if (!m_shareStopThread->wait(QDeadlineTimer(timeoutMs)))
        return false;
    m_shareStopThread.reset();
    return true;
}

QString EngineBridge::regenerateShareCode()
{
    std::string code;
    if (!guarded([&] { code = m_engine->regenerateShareCode(); }))
        return QString();
    pollShareInfo();
    return fromUtf8(code);
}

void EngineBridge::openRecordingsFolder()
{
    const QString directory = recordingsDirectory();
    if (directory.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(directory));
}

void EngineBridge::openUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode));
}

QString EngineBridge::recordingsDirectory()
{
    std::string directory;
    if (!guarded([&] { directory = m_engine->recordingsDirectory(); }))
        return QString();
    return fromUtf8(directory);
}

QString EngineBridge::capabilitiesSummary() const
{
    return fromUtf8(m_capabilities.summary);
}

QVariantList EngineBridge::cameras() const
{
    QVariantList list;
    for (const lagwell::CameraInfo& camera : m_capabilities.cameras) {
        QVariantMap entry;
        entry.insert(QStringLiteral("name"), fromUtf8(camera.name));
        entry.insert(QStringLiteral("id"), fromUtf8(camera.busInfo.empty() ? camera.path : camera.busInfo));
        list.append(entry);
    }
    return list;
}

QString EngineBridge::buildLabel() const
{
    //: The version line of the start screen; %1 is the version, %2 the build number.
    return tr("Version %1 (build: %2)").arg(QString::fromLatin1(tavrix::kApplicationVersion)).arg(kBuildNumber);
}

void EngineBridge::registerPanelItem(QQuickItem* item)
{
    m_panelItems.insert(item);
}

void EngineBridge::unregisterPanelItem(QQuickItem* item)
{
    m_panelItems.remove(item);
}

void EngineBridge::ensureWindowHooked(QQuickWindow* window)
{
    if (!window || window == m_hookedWindow.data())
        return;
    m_hookedWindow = window;

    // Both run on Qt's render thread. The scene graph records its own GL work
    // and runs it later: the external-commands bracket runs it first and
    // makes Qt re-apply its state afterwards. Without OpenGL (the software
    // scene graph) no GL call is made.
    std::shared_ptr<RenderGate> gate = m_renderGate;
    connect(
        window, &QQuickWindow::afterRendering, this,
        [gate, window]() {
            if (!drawsWithOpenGl(window))
                return;
            window->beginExternalCommands();
            gate->afterFrame();
            window->endExternalCommands();
        },
        Qt::DirectConnection);
    connect(
        window, &QQuickWindow::sceneGraphInvalidated, this,
        [gate, window]() {
            if (!drawsWithOpenGl(window))
                return;
            gate->releaseGl();
        },
        Qt::DirectConnection);

    if (m_sessionRunning)
        m_repaintPump.start();
}

void EngineBridge::finishProbe()
{
    if (m_ready || !m_probeResult)
        return;
    onProbeFinished(m_probeResult->wait());
}

void EngineBridge::onProbeFinished(const lagwell::Capabilities& capabilities)
{
    // A session start may have taken the result before its queued delivery.
    if (m_ready)
        return;
    m_capabilities = capabilities;
    guarded([&] { m_engine->setCapabilities(capabilities); });
    m_ready = true;
    emit readyChanged();
}

void EngineBridge::handleEngineEvent(const lagwell::EngineEvent& event)
{
    using Kind = lagwell::EngineEvent::Kind;
    switch (event.kind) {
    case Kind::SessionStarted:
    case Kind::SessionStopped:
        break;
    case Kind::CameraLost:
        emit cameraLost();
        break;
    case Kind::CameraRecovered:
        emit cameraRecovered();
        break;
    case Kind::RecordingStarted:
        // Queued behind whatever happened since the start: a stop (or an
        // outcome) already moved the state on and must not be undone.
        if (m_recordingState == Starting)
            setRecordingUiState(Recording);
        break;
    case Kind::RecordingSaved:
        setRecordingUiState(Idle);
        m_recordingPoll.stop();
        emit recordingSaved(fromUtf8(event.text));
        break;
    case Kind::RecordingFailed:
        setRecordingUiState(Idle);
        m_recordingPoll.stop();
        emit recordingFailed(fromUtf8(event.text));
        break;
    case Kind::ShareViewers: {
        // A late count from a server that has stopped must not bring back
        // share information while sharing is off.
        int viewers = 0;
        if (!m_sharing || !parseWholeInt(event.text, &viewers))
            break;
        m_shareInfo.insert(QStringLiteral("viewers"), viewers);
        emit shareInfoChanged();
        break;
    }
    case Kind::Error:
        emit error(fromUtf8(event.text));
        break;
    default:
        break;
    }
}

void EngineBridge::pollRecordingState()
{
    if (!m_engine)
        return;
    qlonglong elapsedMs = 0;
    int32_t engineState = -1;
    if (!guarded([&] {
            elapsedMs = m_engine->recordingElapsedMs();
            engineState = m_engine->recordingState();
        }))
        return;
    if (elapsedMs != m_recordingElapsedMs) {
        m_recordingElapsedMs = elapsedMs;
        emit recordingElapsedMsChanged();
    }
    switch (engineState) {
    case 0:
        setRecordingUiState(Idle);
        m_recordingPoll.stop();
        break;
    case 1:
        setRecordingUiState(Starting);
        break;
    case 2:
        setRecordingUiState(Recording);
        break;
    case 3:
        setRecordingUiState(Stopping);
        break;
    default:
        break;
    }
}

void EngineBridge::pollShareInfo()
{
    // While off, a server still winding down must not bring information back.
    if (!m_engine || !m_sharing)
        return;
    std::optional<lagwell::ShareInfo> info;
    if (!guarded([&] { info = m_engine->sharingInfo(); }) || !info)
        return;
    m_shareInfo = shareInfoMap(*info);
    emit shareInfoChanged();
}

void EngineBridge::setRecordingUiState(RecordingUiState state)
{
    if (state == m_recordingState)
        return;
    m_recordingState = state;
    emit recordingStateChanged();
}

void EngineBridge::repaintStep()
{
    for (QQuickItem* item : std::as_const(m_panelItems))
        item->update();
    if (m_hookedWindow)
        m_hookedWindow->update();
}

void EngineBridge::healthStep()
{
    if (!m_engine)
        return;
    const bool running = m_sessionRunning;
    bool healthy = true;
    if (running && !guarded([&] { healthy = m_engine->isSessionHealthy(); }))
        return;
    const bool stalled = running && !healthy;
    if (healthy != m_sessionHealthy) {
        m_sessionHealthy = healthy;
        emit sessionHealthyChanged();
    }
    if (stalled != m_cameraStalled) {
        m_cameraStalled = stalled;
        emit cameraStalledChanged();
    }
}
