#pragma once

// The delay engine's facade. Control operations run on the GUI thread; the
// three drawing entry points (renderPanel, afterFrame, releaseGl) on the
// render thread with the OpenGL context current. Asynchronous outcomes come
// back only through the event handler. Public operations throw
// std::runtime_error with an English message.

#include "EngineTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lagwell {

// Finds an OpenGL entry point by name in the current context; null when unknown.
using GlEntryResolver = std::function<void (*(const char* name))()>;

struct EngineStats {
    std::vector<double> cameraFps;       // per active camera
    std::vector<uint64_t> ringFrames;    // per active camera
    uint64_t ringBytes = 0;              // all active rings
    double panelDrawsPerSecond = 0.0;
    double compositesPerSecond = 0.0;
};

class V4l2Io;

class Engine {
public:
    Engine();
    // Cameras are opened through `v4l2` (which must outlive the engine)
    // instead of the kernel's interface.
    explicit Engine(V4l2Io& v4l2);
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Any thread. The handler is called on the raising thread with no engine
    // lock held: it may call every query and the panel operations. The
    // operations that join engine threads (startSession, stopSession,
    // stopSharing, destruction) are for the controlling thread; call them from
    // a handler only when it runs there (SessionStarted, SessionStopped,
    // RecordingStarted), never from a capture, recovery, recorder or share
    // thread.
    void setEventHandler(std::function<void(const EngineEvent&)> handler);

    // The capability probe; touches no engine state. Any thread.
    static Capabilities probe();
    void setCapabilities(const Capabilities& capabilities);
    Capabilities capabilities() const;

    // Sessions (GUI thread).
    void startSession(const SessionConfig& config);
    void stopSession();
    bool isSessionRunning() const;
    bool isSessionHealthy() const;
    EngineStats stats() const;

    // Panels (GUI thread).
    int createPanel();
    void destroyPanel(int panelId);
    void setPanelParams(int panelId, const PanelParams& params);
    PanelParams panelParams(int panelId) const;

    // Render thread, GL context current. The resolver finds OpenGL entry
    // points by name in the current context (the host's getProcAddress); set
    // it before the first draw.
    void setGlResolver(GlEntryResolver resolver);
    void renderPanel(int panelId, const PanelRect& rect, int targetWidth, int targetHeight);
    void afterFrame();
    void releaseGl();

    // Recording (GUI thread). labels may be null (no title band).
    void startRecording(const std::string& outputPath, const TitleCardLabels* labels);
    void stopRecording();
    int32_t recordingState() const;  // a RecordingState value: Idle, Recording or Stopping
    int64_t recordingElapsedMs() const;
    // "<home>/Videos/Tavrix", created when missing.
    std::string recordingsDirectory() const;

    // Live sharing (GUI thread).
    ShareInfo startSharing();
    void stopSharing();
    std::optional<ShareInfo> sharingInfo() const;  // empty while sharing is off
    std::string regenerateShareCode();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace lagwell
