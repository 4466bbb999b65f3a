#pragma once

// The way from Qt's render thread into the engine facade's drawing entry
// points. The bridge owns the facade; the window hooks and every panel render
// node share this gate, so the GUI thread can retire the facade while a frame
// is being drawn: close() waits for a call in progress and refuses all later
// ones. The gate also hands the facade its OpenGL entry-point resolver before
// the first GL call.

#include "EngineTypes.h"

#include <mutex>

namespace lagwell {
class Engine;
}

class RenderGate {
public:
    explicit RenderGate(lagwell::Engine* engine);

    RenderGate(const RenderGate&) = delete;
    RenderGate& operator=(const RenderGate&) = delete;

    // GUI thread. After it returns no call reaches the facade.
    void close();

    // Render thread, the scene graph's OpenGL context current. Each does
    // nothing once the gate is closed.
    void renderPanel(int panelId, const lagwell::PanelRect& rect, int targetWidth, int targetHeight);
    void afterFrame();
    void releaseGl();

private:
    void ensureResolverLocked();

    std::mutex m_mutex;
    // guards: m_engine, m_hasResolver
    lagwell::Engine* m_engine;  // not owned; null once closed
    bool m_hasResolver = false;
};
