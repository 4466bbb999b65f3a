#include "Engine.h"

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
#include "TestPatternSource.h"
#include "Transcoder.h"
#include "TripleBuffer.h"
#include "UvcCapture.h"

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
// lock. The overlay lock and the event
// lock are innermost; no handler runs under the event lock.

namespace lagwell {
namespace {

constexpr int kMaxCameras = 2;
constexpr int64_t kDefaultWindowMs = 60000;
constexpr int64_t kHealthyWithinMs = 1500;
constexpr int kCaptureFps = 30;

CaptureRequest defaultRequest()
{
    CaptureRequest request;
    request.width = 1280;
    request.height = 720;
    request.fps = kCaptureFps;
    return request;
}

bool isTestPatternId(const std::string& id)
{
    return id == "test" || id.rfind("test:", 0) == 0;
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

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string fourccText(uint32_t fourcc)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text.push_back(c >= 32 && c < 127 ? c : '?');
    }
    return text;
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
    Capabilities capabilities;
    bool probed = false;

    std::mutex eventMutex;
    // guards: eventHandler
    std::function<void(const EngineEvent&)> eventHandler;

    std::atomic<bool> running {false};  // written under sessionMutex

    mutable std::mutex sessionMutex;
    // guards: activeCameras, config, the slot arrays
    int activeCameras = 0;
    SessionConfig config;
    std::array<std::unique_ptr<CaptureSource>, kMaxCameras> sources;
    std::array<std::unique_ptr<Transcoder>, kMaxCameras> transcoders;
    std::array<std::shared_ptr<FrameRing>, kMaxCameras> rings;
    std::array<CaptureRequest, kMaxCameras> requests {defaultRequest(), defaultRequest()};
    std::array<std::function<void(EncodedFrame&&)>, kMaxCameras> frameCallbacks;

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
    bool startCamera(int slot, const CaptureRequest& request, std::string* error);
    void stopCamera(int slot);
    void startRecoveryThread();
    void stopRecoveryThread();
    void recoveryLoop();
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

bool Engine::Impl::startCamera(int slot, const CaptureRequest& request, std::string* error)
{
    const int64_t windowMs = config.bufferSeconds < 1 ? kDefaultWindowMs : int64_t {config.bufferSeconds} * 1000;
    auto ring = std::make_shared<FrameRing>(windowMs);

    std::unique_ptr<CaptureSource> source;
    if (isTestPatternId(request.deviceId))
        source = std::make_unique<TestPatternSource>();
    else if (v4l2)
        source = std::make_unique<UvcCapture>(*v4l2);
    else
        source = std::make_unique<UvcCapture>();
    CaptureSource* sourcePtr = source.get();

    CaptureRequest working = request;
    std::unique_ptr<Transcoder> transcoder;
    if (capabilities.useH264Transcode) {
        transcoder = std::make_unique<Transcoder>();
        const std::string encoder = capabilities.encoderName.empty() ? "libx264" : capabilities.encoderName;
        Transcoder* transcoderPtr = transcoder.get();
        std::weak_ptr<FrameRing> weakRing = ring;
        auto onEncoded = [weakRing, transcoderPtr](EncodedFrame&& frame) {
            auto target = weakRing.lock();
            if (!target)
                return;
            const bool keyframe = frame.keyframe;
            target->add(std::move(frame));
            if (keyframe) {
                std::vector<uint8_t> config = transcoderPtr->codecConfig();
                if (!config.empty())
                    target->setStream(kFourccH264, target->width(), target->height(), std::move(config));
            }
        };
        std::string transcoderError;
        if (transcoder->start(kFourccMjpeg, request.width, request.height, request.fps, encoder, onEncoded,
                              &transcoderError)) {
            ring->setStream(kFourccH264, request.width, request.height, {});
            working.preferredFourcc = kFourccMjpeg;
        } else {
            // Better a direct stream than no camera at all.
            LW_LOG_WARN("Engine: transcoder failed for '%s' (%s); using the camera's own stream",
                        request.deviceId.c_str(), transcoderError.c_str());
            transcoder.reset();
        }
    }

    // The capture thread routes each frame by what the camera actually
    // delivers: only MJPEG goes through the transcoder.
    Transcoder* transcoderPtr = transcoder.get();
    std::weak_ptr<FrameRing> weakRing = ring;
    std::function<void(EncodedFrame&&)> onFrame = [weakRing, sourcePtr, transcoderPtr](EncodedFrame&& frame) {
        const uint32_t fourcc = sourcePtr->negotiatedFourcc();
        if (transcoderPtr && fourcc == kFourccMjpeg) {
            transcoderPtr->feed(frame);
            return;
        }
        auto target = weakRing.lock();
        if (!target)
            return;
        const bool keyframe = frame.keyframe;
        target->add(std::move(frame));
        if (fourcc == kFourccH264 && keyframe) {
            std::vector<uint8_t> config = sourcePtr->codecConfig();
            if (!config.empty())
                target->setStream(kFourccH264, sourcePtr->negotiatedWidth(), sourcePtr->negotiatedHeight(),
                                  std::move(config));
        }
    };

    const std::string deviceId = request.deviceId;
    source->setLostHandler([this, deviceId] { emit(EngineEvent::Kind::CameraLost, deviceId); });

    std::string sourceError;
    if (!source->start(working, onFrame, &sourceError)) {
        if (transcoder)
            transcoder->stop();
        if (error)
            *error = sourceError;
        return false;
    }

    const bool transcoded = transcoder && source->negotiatedFourcc() == kFourccMjpeg;
    if (transcoder && !transcoded) {
        LW_LOG_WARN("Engine: camera '%s' delivers %s, not MJPEG; storing it without transcoding",
                    request.deviceId.c_str(), fourccText(source->negotiatedFourcc()).c_str());
    }
    if (!transcoded) {
        // The capture thread may already have stored the first keyframe's
        // parameter sets: keep whatever the source has seen.
        ring->setStream(source->negotiatedFourcc(), source->negotiatedWidth(), source->negotiatedHeight(),
                        source->codecConfig());
    }

    requests[static_cast<size_t>(slot)] = working;
    frameCallbacks[static_cast<size_t>(slot)] = onFrame;
    // The old source goes before the old transcoder it may feed.
    sources[static_cast<size_t>(slot)] = std::move(source);
    transcoders[static_cast<size_t>(slot)] = std::move(transcoder);
    rings[static_cast<size_t>(slot)] = std::move(ring);
    return true;
}

void Engine::Impl::stopCamera(int slot)
{
    const size_t i = static_cast<size_t>(slot);
    if (sources[i])
        sources[i]->stop();
    if (transcoders[i])
        transcoders[i]->stop();
    sources[i].reset();
    transcoders[i].reset();
    rings[i].reset();
    frameCallbacks[i] = nullptr;
    requests[i] = defaultRequest();
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
        std::lock_guard lock(sessionMutex);
        if (!running.load())
            continue;
        for (int slot = 0; slot < activeCameras; ++slot) {
            const size_t i = static_cast<size_t>(slot);
            if (!sources[i] || sources[i]->isRunning())
                continue;
            std::string ignored;
            if (sources[i]->start(requests[i], frameCallbacks[i], &ignored)) {
                LW_LOG_INFO("Engine: camera '%s' recovered", requests[i].deviceId.c_str());
                emit(EngineEvent::Kind::CameraRecovered, requests[i].deviceId);
            }
        }
    }
}

std::shared_ptr<FrameRing> Engine::Impl::ringForSourceLocked(int32_t source) const
{
    if (source >= 0 && source < activeCameras)
        return rings[static_cast<size_t>(source)];
    if (activeCameras > 0)
        return rings[0];
    return nullptr;
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
    const CompositeSize size = compositeSizeFor(rects, tier, capabilities.maxCaptureHeight);
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
    m_impl->capabilities = capabilities;
    m_impl->probed = true;
}

Capabilities Engine::capabilities() const
{
    return m_impl->capabilities;
}

void Engine::startSession(const SessionConfig& config)
{
    Impl& d = *m_impl;
    if (!d.probed) {
        d.capabilities = probe();
        d.probed = true;
    }
    if (d.running.load())
        stopSession();

    const size_t requested = config.cameraIds.size();
    if (requested == 0)
        throw std::runtime_error("No camera specified in SessionConfig");
    const int cameras = requested > kMaxCameras ? kMaxCameras : static_cast<int>(requested);

    const int base = std::max(d.capabilities.maxCaptureHeight, 720);
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

    std::lock_guard sessionLock(d.sessionMutex);
    d.config = config;
    for (int slot = 0; slot < cameras; ++slot) {
        CaptureRequest request;
        request.deviceId = config.cameraIds[static_cast<size_t>(slot)];
        request.width = width;
        request.height = height;
        request.fps = kCaptureFps;
        request.preferredFourcc = 0;
        std::string error;
        if (!d.startCamera(slot, request, &error)) {
            for (int k = 0; k < slot; ++k)
                d.stopCamera(k);
            throw std::runtime_error("Failed to start camera " + std::to_string(slot) + ": " + error);
        }
    }
    d.activeCameras = cameras;
    d.running.store(true);
    {
        std::lock_guard panelLock(d.panelMutex);
        for (auto& entry : d.panels) {
            const int32_t source = entry.second->params.source;
            const size_t slot = (source >= 0 && source < cameras) ? static_cast<size_t>(source) : 0;
            entry.second->decoder->setRing(d.rings[slot]);
        }
    }
    d.startRecoveryThread();
    d.emit(EngineEvent::Kind::SessionStarted, {});  // under the session lock, as documented
}

void Engine::stopSession()
{
    Impl& d = *m_impl;
    // The recovery thread takes the session lock: join it before taking it.
    d.stopRecoveryThread();
    std::lock_guard lock(d.sessionMutex);
    if (!d.running.load())
        return;
    for (int slot = 0; slot < d.activeCameras; ++slot)
        d.stopCamera(slot);
    d.activeCameras = 0;
    d.running.store(false);
    d.emit(EngineEvent::Kind::SessionStopped, {});  // under the session lock, as documented
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
        const auto& ring = d.rings[static_cast<size_t>(slot)];
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
        for (int slot = 0; slot < d.activeCameras; ++slot) {
            const size_t i = static_cast<size_t>(slot);
            stats.cameraFps.push_back(d.sources[i] ? d.sources[i]->measuredFps() : 0.0);
            stats.ringFrames.push_back(d.rings[i] ? d.rings[i]->count() : 0);
            stats.ringBytes += d.rings[i] ? d.rings[i]->bytes() : 0;
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
            ring = d.rings[0];
    }
    state->decoder = std::make_unique<PanelDecoder>(ring, state->buffer);
    if (!d.capabilities.hwDecoder.empty())
        state->decoder->setHardwareDecoder(d.capabilities.hwDecoder);
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
