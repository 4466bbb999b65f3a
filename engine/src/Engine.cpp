#include "Engine.h"

#include "CameraSlot.h"
#include "CapabilityProbe.h"
#include "CompositeRecorder.h"
#include "CompositeSize.h"
#include "FrameRing.h"
#include "Log.h"
#include "OverlayState.h"
#include "PanelDecoder.h"
#include "PanelDraw.h"
#include "RenderEngine.h"
#include "ShareServer.h"
#include "SteadyClock.h"
#include "TripleBuffer.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

// Lock order: the session lock, then the panel lock, then a triple buffer's
// lock. The capabilities, overlay and event locks are innermost. No event
// handler runs under an engine lock, and no engine lock is held while a
// thread that may raise events (capture, recovery) is joined.

namespace lagwell {
namespace {

constexpr int kMaxCameras = 2;
constexpr int64_t kDefaultWindowMs = 60000;
constexpr int64_t kHealthyWithinMs = 1500;
constexpr int kCaptureFps = 30;

int64_t windowMsFor(int32_t bufferSeconds)
{
    return bufferSeconds < 1 ? kDefaultWindowMs : int64_t {bufferSeconds} * 1000;
}

// The camera slot a panel's `source` reads while `cameras` are active.
int slotForSource(int32_t source, int cameras)
{
    return source >= 0 && source < cameras ? source : 0;
}

int64_t systemNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Opened once a recording's RecordingStarted has been raised; its completion
// waits here first, so an outcome never overtakes its start. One per recording,
// so a completion never waits on a later recording's start.
class StartedGate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_opened.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    // guards: m_open
    std::condition_variable m_opened;
    bool m_open = false;
};

struct PanelState {
    PanelParams params;
    TripleBuffer buffer;
    std::unique_ptr<PanelDecoder> decoder;
    PanelRect lastRect;
};

}  // namespace

struct Engine::Impl {
    V4l2Io* v4l2 = nullptr;  // null: the kernel's interface

    mutable std::mutex capabilitiesMutex;
    // guards: capabilities, probed
    Capabilities capabilities;
    bool probed = false;

    std::mutex eventMutex;
    // guards: eventHandler
    std::function<void(const EngineEvent&)> eventHandler;

    std::atomic<bool> running {false};  // written under sessionMutex

    mutable std::mutex sessionMutex;
    // guards: activeCameras, config, slots. Only the controlling thread and
    // the recovery thread (which it joins before touching a slot) replace a
    // slot's parts, so either may use them outside the lock.
    int activeCameras = 0;
    SessionConfig config;
    std::array<CameraSlot, kMaxCameras> slots;

    std::atomic<bool> recoveryRunning {false};
    std::thread recoveryThread;  // GUI thread starts and joins it

    mutable std::mutex panelMutex;
    // guards: panels, nextPanelId, forgottenPanelIds
    std::map<int32_t, std::unique_ptr<PanelState>> panels;
    int32_t nextPanelId = 1;
    std::vector<int32_t> forgottenPanelIds;  // destroyed panels whose textures the render thread still holds

    std::mutex overlayMutex;
    // guards: overlay and every hand-over of it to the renderer
    OverlayState overlay;

    // Destroyed in reverse: the recorder first (its completion still uses the
    // overlay, the renderer's sink list and the share server), then the share
    // server, then the renderer.
    RenderEngine renderer;
    ShareServer shareServer;
    CompositeRecorder recorder;

    void emit(EngineEvent::Kind kind, std::string text);
    Capabilities capabilitiesCopy() const;
    // Starts the camera of `request` into the empty `slot`; no lock held.
    bool startCamera(const CaptureRequest& request, int64_t windowMs, CameraSlot* slot, std::string* error);
    void startRecoveryThread();
    void stopRecoveryThread();
    void recoveryLoop();
    void restartStoppedCameras();
    std::shared_ptr<FrameRing> ringForSourceLocked(int32_t source) const;
    void forgetDestroyedPanels();
    void computeCompositeSize(int32_t* width, int32_t* height) const;
    void refreshCompositeSinks();
    void handOverOverlayLocked();
    void onRecordingFinished(bool ok, std::string text);
};

void Engine::Impl::emit(EngineEvent::Kind kind, std::string text)
{
    std::function<void(const EngineEvent&)> handler;
    {
        std::lock_guard lock(eventMutex);
        handler = eventHandler;
    }
    if (!handler)
        return;
    EngineEvent event;
    event.kind = kind;
    event.text = std::move(text);
    handler(event);
}

Capabilities Engine::Impl::capabilitiesCopy() const
{
    std::lock_guard lock(capabilitiesMutex);
    return capabilities;
}

bool Engine::Impl::startCamera(const CaptureRequest& request, int64_t windowMs, CameraSlot* slot,
                               std::string* error)
{
    const std::string deviceId = request.deviceId;
    return slot->start(request, windowMs, capabilitiesCopy(), v4l2,
                       [this, deviceId] { emit(EngineEvent::Kind::CameraLost, deviceId); }, error);
}

void Engine::Impl::startRecoveryThread()
{
    if (recoveryThread.joinable())
        return;
    recoveryRunning.store(true);
    recoveryThread = std::thread([this] {
        pthread_setname_np(pthread_self(), "tvx-recovery");
        recoveryLoop();
    });
}

void Engine::Impl::stopRecoveryThread()
{
    recoveryRunning.store(false);
    if (recoveryThread.joinable())
        recoveryThread.join();
}

void Engine::Impl::recoveryLoop()
{
    while (recoveryRunning.load()) {
        // Sleep one second in short steps so stopSession is answered quickly.
        for (int step = 0; step < 20 && recoveryRunning.load(); ++step) {
            timespec request {0, 50'000'000};
            timespec remaining {};
            while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
                request = remaining;
        }
        if (!recoveryRunning.load())
            return;
        restartStoppedCameras();
    }
}

void Engine::Impl::restartStoppedCameras()
{
    // A slot keeps its place in the array, and only this thread or the
    // controlling thread (after joining this one) replaces what it holds.
    std::vector<std::pair<int, CameraSlot*>> stopped;
    int64_t windowMs = kDefaultWindowMs;
    {
        std::lock_guard lock(sessionMutex);
        if (!running.load())
            return;
        windowMs = windowMsFor(config.bufferSeconds);
        for (int i = 0; i < activeCameras; ++i) {
            CameraSlot& slot = slots[static_cast<size_t>(i)];
            if (slot.hasStopped())
                stopped.emplace_back(i, &slot);
        }
    }

    // Restarting joins the ended capture thread, which may still be in its
    // CameraLost handler: no lock is held here.
    for (const auto& [index, slot] : stopped) {
        const std::string deviceId = slot->request().deviceId;
        const CameraSlot::Restart outcome = slot->restart();
        if (outcome == CameraSlot::Restart::StillAway)
            continue;  // the next pass tries again
        if (outcome == CameraSlot::Restart::OtherStream) {
            // Another camera on the same port: a ring of its own, and the
            // panels reading this slot follow it.
            CameraSlot fresh;
            std::string error;
            if (!startCamera(slot->request(), windowMs, &fresh, &error))
                continue;  // the old source stays stopped; the next pass tries again
            CameraSlot old;
            {
                // Both assignments find an empty slot: nothing stops under the lock.
                std::lock_guard lock(sessionMutex);
                old = std::move(*slot);
                *slot = std::move(fresh);
                std::lock_guard panelLock(panelMutex);
                for (auto& entry : panels) {
                    if (slotForSource(entry.second->params.source, activeCameras) == index)
                        entry.second->decoder->setRing(slot->ring());
                }
            }
            old.release();
        }
        LW_LOG_INFO("Engine: camera '%s' recovered", deviceId.c_str());
        emit(EngineEvent::Kind::CameraRecovered, deviceId);
    }
}

std::shared_ptr<FrameRing> Engine::Impl::ringForSourceLocked(int32_t source) const
{
    if (activeCameras == 0)
        return nullptr;
    return slots[static_cast<size_t>(slotForSource(source, activeCameras))].ring();
}

void Engine::Impl::forgetDestroyedPanels()
{
    std::vector<int32_t> ids;
    {
        std::lock_guard lock(panelMutex);
        ids.swap(forgottenPanelIds);
    }
    for (int32_t id : ids)
        renderer.forgetPanel(id);
}

void Engine::Impl::computeCompositeSize(int32_t* width, int32_t* height) const
{
    int32_t tier = 0;
    {
        std::lock_guard lock(sessionMutex);
        tier = config.resolutionTier;
    }
    std::vector<PanelRect> rects;
    {
        std::lock_guard lock(panelMutex);
        for (const auto& entry : panels)
            rects.push_back(entry.second->lastRect);
    }
    // Called after every window frame while idle: read the one field, not
    // a copy of the whole capabilities.
    int32_t maxCaptureHeight = 0;
    {
        std::lock_guard lock(capabilitiesMutex);
        maxCaptureHeight = capabilities.maxCaptureHeight;
    }
    const CompositeSize size = compositeSizeFor(rects, tier, maxCaptureHeight);
    *width = size.width;
    *height = size.height;
}

void Engine::Impl::refreshCompositeSinks()
{
    std::vector<CompositeSink*> sinks;
    if (recorder.state() != CompositeRecorder::kIdle)
        sinks.push_back(&recorder);
    if (CompositeSink* share = shareServer.sink())
        sinks.push_back(share);
    renderer.setCompositeSinks(std::move(sinks));
}

void Engine::Impl::handOverOverlayLocked()
{
    renderer.setOverlayState(overlay);
}

void Engine::Impl::onRecordingFinished(bool ok, std::string text)
{
    // The file is final now: the share server may list and serve it.
    shareServer.setRecordingInProgress({});
    {
        std::lock_guard lock(overlayMutex);
        overlay = OverlayState {};
        handOverOverlayLocked();
    }
    refreshCompositeSinks();
    emit(ok ? EngineEvent::Kind::RecordingSaved : EngineEvent::Kind::RecordingFailed, std::move(text));
}

Engine::Engine() : m_impl(std::make_unique<Impl>()) {}

Engine::Engine(V4l2Io& v4l2) : m_impl(std::make_unique<Impl>())
{
    m_impl->v4l2 = &v4l2;
}

Engine::~Engine()
{
    m_impl->shareServer.stop();
    m_impl->refreshCompositeSinks();
    if (m_impl->recorder.state() != CompositeRecorder::kIdle)
        stopRecording();
    stopSession();
    std::map<int32_t, std::unique_ptr<PanelState>> panels;
    {
        std::lock_guard lock(m_impl->panelMutex);
        panels.swap(m_impl->panels);
    }
    // Decoders are stopped outside the panel lock.
    for (auto& entry : panels)
        entry.second->decoder->stop();
    panels.clear();
    m_impl->stopRecoveryThread();
}

void Engine::setEventHandler(std::function<void(const EngineEvent&)> handler)
{
    std::lock_guard lock(m_impl->eventMutex);
    // The previous handler is destroyed while the lock is still held.
    m_impl->eventHandler.swap(handler);
    handler = nullptr;
}

Capabilities Engine::probe()
{
    return CapabilityProbe::probe();
}

void Engine::setCapabilities(const Capabilities& capabilities)
{
    std::lock_guard lock(m_impl->capabilitiesMutex);
    m_impl->capabilities = capabilities;
    m_impl->probed = true;
}

Capabilities Engine::capabilities() const
{
    return m_impl->capabilitiesCopy();
}

void Engine::startSession(const SessionConfig& config)
{
    Impl& d = *m_impl;
    bool probed = false;
    {
        std::lock_guard lock(d.capabilitiesMutex);
        probed = d.probed;
    }
    if (!probed) {
        Capabilities probedNow = probe();
        std::lock_guard lock(d.capabilitiesMutex);
        d.capabilities = std::move(probedNow);
        d.probed = true;
    }
    if (d.running.load())
        stopSession();

    const size_t requested = config.cameraIds.size();
    if (requested == 0)
        throw std::runtime_error("No camera specified in SessionConfig");
    const int cameras = requested > kMaxCameras ? kMaxCameras : static_cast<int>(requested);

    const int base = std::max(d.capabilitiesCopy().maxCaptureHeight, 720);
    int width = 1280;
    int height = 720;
    if (config.resolutionTier == 1 || config.resolutionTier == 2) {
        height = std::min(base, config.resolutionTier == 1 ? 1080 : 2160);
        width = height * 16 / 9;
    }
    LW_LOG_INFO("Session starting: %zu camera(s), first '%s', %dp, buffer %d s", requested,
                config.cameraIds.front().c_str(), height, config.bufferSeconds);
    if (cameras == 2) {
        width = 1280;
        height = 720;
    }

    {
        std::lock_guard lock(d.sessionMutex);
        d.config = config;
    }
    // Cameras start outside the session lock: a failure stops the ones
    // already started, which joins their capture threads.
    std::array<CameraSlot, kMaxCameras> started;
    for (int slot = 0; slot < cameras; ++slot) {
        CaptureRequest request;
        request.deviceId = config.cameraIds[static_cast<size_t>(slot)];
        request.width = width;
        request.height = height;
        request.fps = kCaptureFps;
        request.preferredFourcc = 0;
        std::string error;
        if (!d.startCamera(request, windowMsFor(config.bufferSeconds), &started[static_cast<size_t>(slot)], &error)) {
            for (CameraSlot& done : started)
                done.release();
            throw std::runtime_error("Failed to start camera " + std::to_string(slot) + ": " + error);
        }
    }

    std::array<CameraSlot, kMaxCameras> previous;  // empty unless a handler started a session meanwhile
    {
        std::lock_guard sessionLock(d.sessionMutex);
        previous.swap(d.slots);
        d.slots.swap(started);
        d.activeCameras = cameras;
        d.running.store(true);
        std::lock_guard panelLock(d.panelMutex);
        for (auto& entry : d.panels) {
            const int slot = slotForSource(entry.second->params.source, cameras);
            entry.second->decoder->setRing(d.slots[static_cast<size_t>(slot)].ring());
        }
    }
    for (CameraSlot& slot : previous)
        slot.release();
    d.startRecoveryThread();
    d.emit(EngineEvent::Kind::SessionStarted, {});
}

void Engine::stopSession()
{
    Impl& d = *m_impl;
    // The recovery thread restarts cameras: it is joined before any slot is
    // touched.
    d.stopRecoveryThread();
    std::array<CameraSlot, kMaxCameras> stopped;
    {
        std::lock_guard lock(d.sessionMutex);
        if (!d.running.load())
            return;
        stopped.swap(d.slots);
        d.activeCameras = 0;
        d.running.store(false);
    }
    // Joins the capture threads, which may be inside an event handler that
    // calls back into the engine: no lock is held.
    for (CameraSlot& slot : stopped)
        slot.release();
    d.emit(EngineEvent::Kind::SessionStopped, {});
}

bool Engine::isSessionRunning() const
{
    return m_impl->running.load();
}

bool Engine::isSessionHealthy() const
{
    const Impl& d = *m_impl;
    if (!d.running.load())
        return false;
    std::lock_guard lock(d.sessionMutex);
    const int64_t nowMs = systemNowMs();
    for (int slot = 0; slot < d.activeCameras; ++slot) {
        const auto& ring = d.slots[static_cast<size_t>(slot)].ring();
        if (!ring)
            continue;
        const int64_t newest = ring->newestWallMs();
        if (newest != 0 && nowMs - newest < kHealthyWithinMs)
            return true;
    }
    return false;
}

EngineStats Engine::stats() const
{
    const Impl& d = *m_impl;
    EngineStats stats;
    {
        std::lock_guard lock(d.sessionMutex);
        for (int i = 0; i < d.activeCameras; ++i) {
            const CameraSlot& slot = d.slots[static_cast<size_t>(i)];
            stats.cameraFps.push_back(slot.measuredFps());
            stats.ringFrames.push_back(slot.ring() ? slot.ring()->count() : 0);
            stats.ringBytes += slot.ring() ? slot.ring()->bytes() : 0;
        }
    }
    stats.panelDrawsPerSecond = d.renderer.panelDrawFps();
    stats.compositesPerSecond = d.renderer.compositeFps();
    return stats;
}

int Engine::createPanel()
{
    Impl& d = *m_impl;
    auto state = std::make_unique<PanelState>();
    std::shared_ptr<FrameRing> ring;
    {
        std::lock_guard lock(d.sessionMutex);
        if (d.activeCameras > 0)
            ring = d.slots[0].ring();
    }
    state->decoder = std::make_unique<PanelDecoder>(ring, state->buffer);
    const std::string hwDecoder = d.capabilitiesCopy().hwDecoder;
    if (!hwDecoder.empty())
        state->decoder->setHardwareDecoder(hwDecoder);
    state->decoder->start();

    std::lock_guard lock(d.panelMutex);
    const int32_t id = d.nextPanelId++;
    d.panels.emplace(id, std::move(state));
    return id;
}

void Engine::destroyPanel(int panelId)
{
    Impl& d = *m_impl;
    std::unique_ptr<PanelState> state;
    {
        std::lock_guard lock(d.panelMutex);
        auto it = d.panels.find(panelId);
        if (it == d.panels.end())
            return;
        state = std::move(it->second);
        d.panels.erase(it);
        d.forgottenPanelIds.push_back(panelId);
    }
    {
        std::lock_guard lock(d.overlayMutex);
        d.overlay.panelDelayMs.erase(panelId);
    }
    state->decoder->stop();
    state.reset();
}

void Engine::setPanelParams(int panelId, const PanelParams& params)
{
    Impl& d = *m_impl;
    std::shared_ptr<FrameRing> ring;
    {
        std::lock_guard lock(d.sessionMutex);
        ring = d.ringForSourceLocked(params.source);
    }
    {
        std::lock_guard lock(d.panelMutex);
        auto it = d.panels.find(panelId);
        if (it == d.panels.end())
            return;
        PanelState& panel = *it->second;
        const int32_t oldSource = panel.params.source;
        panel.params = params;
        panel.decoder->setDelayMs(params.delayMs);
        if (params.source != oldSource)
            panel.decoder->setRing(ring);
    }
    std::lock_guard lock(d.overlayMutex);
    d.overlay.panelDelayMs[panelId] = params.delayMs;
    // A running recording shows the new badge at once.
    if (d.recorder.state() != CompositeRecorder::kIdle)
        d.handOverOverlayLocked();
}

PanelParams Engine::panelParams(int panelId) const
{
    const Impl& d = *m_impl;
    std::lock_guard lock(d.panelMutex);
    auto it = d.panels.find(panelId);
    return it == d.panels.end() ? PanelParams {} : it->second->params;
}

void Engine::renderPanel(int panelId, const PanelRect& rect, int targetWidth, int targetHeight)
{
    Impl& d = *m_impl;
    d.forgetDestroyedPanels();
    std::shared_ptr<const DecodedFrame> picture;
    PanelParams params;
    {
        std::lock_guard lock(d.panelMutex);
        auto it = d.panels.find(panelId);
        if (it == d.panels.end())
            return;
        it->second->lastRect = rect;
        params = it->second->params;
        picture = it->second->buffer.acquire();
    }
    d.renderer.drawPanel(panelId, picture.get(), params, rect, targetWidth, targetHeight);
}

void Engine::afterFrame()
{
    Impl& d = *m_impl;
    d.forgetDestroyedPanels();
    if (d.recorder.state() != CompositeRecorder::kIdle) {
        std::lock_guard lock(d.overlayMutex);
        d.overlay.elapsedMs = d.recorder.elapsedMs();
        d.handOverOverlayLocked();
    }
    std::vector<PanelDraw> draws;
    {
        std::lock_guard lock(d.panelMutex);
        draws.reserve(d.panels.size());
        for (auto& entry : d.panels) {
            PanelDraw draw;
            draw.panelId = entry.first;
            draw.picture = entry.second->buffer.acquire();
            draw.frame = draw.picture.get();
            draw.params = entry.second->params;
            draw.rect = entry.second->lastRect;
            draws.push_back(std::move(draw));
        }
    }
    // While a session runs, the target a recording would start with is
    // built ahead, not at its first picture.
    if (d.recorder.state() == CompositeRecorder::kIdle) {
        int32_t expectedWidth = 0;
        int32_t expectedHeight = 0;
        if (d.running.load())
            d.computeCompositeSize(&expectedWidth, &expectedHeight);
        d.renderer.expectCompositeSize(expectedWidth, expectedHeight);
    }
    d.renderer.compositeIfDue(draws, steadyNowNs());
}

void Engine::setGlResolver(GlEntryResolver resolver)
{
    m_impl->renderer.setGlResolver(std::move(resolver));
}

void Engine::releaseGl()
{
    Impl& d = *m_impl;
    {
        // Everything goes now, so pending forgets are moot.
        std::lock_guard lock(d.panelMutex);
        d.forgottenPanelIds.clear();
    }
    d.renderer.releaseGl();
}

void Engine::startRecording(const std::string& outputPath, const TitleCardLabels* labels)
{
    Impl& d = *m_impl;
    int32_t width = 0;
    int32_t height = 0;
    d.computeCompositeSize(&width, &height);
    std::string error;
    Impl* impl = m_impl.get();
    auto started = std::make_shared<StartedGate>();
    const auto completion = [impl, started](bool ok, std::string text) {
        started->wait();
        impl->onRecordingFinished(ok, std::move(text));
    };
    if (!d.recorder.start(outputPath, width, height, 30, completion, &error))
        throw std::runtime_error(error.empty() ? "Failed to start recording" : error);
    // Not listed nor served on the LAN until it is finished.
    d.shareServer.setRecordingInProgress(outputPath);

    std::map<int32_t, int32_t> delays;
    {
        std::lock_guard lock(d.panelMutex);
        for (const auto& entry : d.panels)
            delays[entry.first] = entry.second->params.delayMs;
    }
    {
        std::lock_guard lock(d.overlayMutex);
        d.overlay = OverlayState {};
        if (labels)
            d.overlay.labels = *labels;
        d.overlay.panelDelayMs = std::move(delays);
        d.handOverOverlayLocked();
    }
    d.refreshCompositeSinks();
    d.emit(EngineEvent::Kind::RecordingStarted, {});
    started->open();
}

void Engine::stopRecording()
{
    Impl& d = *m_impl;
    // Only a running recording gets its closing card: a second stop while
    // stopping changes nothing.
    if (d.recorder.state() != CompositeRecorder::kRecording)
        return;
    {
        std::lock_guard lock(d.overlayMutex);
        d.overlay.closing = true;
        d.overlay.closingStartMs = steadyNowMs();
        d.overlay.finalDurationMs = d.recorder.elapsedMs() + 3000;
        d.handOverOverlayLocked();
    }
    d.recorder.stop();
}

int32_t Engine::recordingState() const
{
    return m_impl->recorder.state();
}

int64_t Engine::recordingElapsedMs() const
{
    return m_impl->recorder.elapsedMs();
}

std::string Engine::recordingsDirectory() const
{
    std::string home = "/tmp";
    const char* snapHome = std::getenv("SNAP_REAL_HOME");
    const char* plainHome = std::getenv("HOME");
    if (snapHome && *snapHome)
        home = snapHome;
    else if (plainHome)
        home = plainHome;
    const std::string videos = home + "/Videos";
    const std::string directory = videos + "/Tavrix";
    // In the /tmp fallback every user of the machine could read the recordings.
    const bool inTmp = !(snapHome && *snapHome) && !plainHome;
    const mode_t mode = inTmp ? 0700 : 0755;
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        ::mkdir(videos.c_str(), mode);
        ::mkdir(directory.c_str(), mode);
    }
    return directory;
}

ShareInfo Engine::startSharing()
{
    Impl& d = *m_impl;
    int32_t width = 0;
    int32_t height = 0;
    d.computeCompositeSize(&width, &height);
    d.shareServer.setCompositeSize(width, height, 30);
    d.shareServer.setRecordingsDirectory(recordingsDirectory());
    std::string error;
    if (!d.shareServer.start(&error))
        throw std::runtime_error(error.empty() ? "Failed to start sharing" : error);
    Impl* impl = m_impl.get();
    d.shareServer.setViewerCountHandler(
        [impl](int viewers) { impl->emit(EngineEvent::Kind::ShareViewers, std::to_string(viewers)); });
    // A share stream that fails is reported rather than silently frozen.
    d.shareServer.setErrorHandler(
        [impl](const std::string& message) { impl->emit(EngineEvent::Kind::Error, message); });
    d.refreshCompositeSinks();
    if (std::optional<ShareInfo> info = d.shareServer.info())
        return *info;
    d.shareServer.stop();
    d.refreshCompositeSinks();
    throw std::runtime_error("Sharing started but reported no address");
}

void Engine::stopSharing()
{
    m_impl->shareServer.stop();
    m_impl->refreshCompositeSinks();
}

std::optional<ShareInfo> Engine::sharingInfo() const
{
    return m_impl->shareServer.info();
}

std::string Engine::regenerateShareCode()
{
    return m_impl->shareServer.regenerateCode();
}

}  // namespace lagwell
