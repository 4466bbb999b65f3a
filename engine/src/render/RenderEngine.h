#pragma once

// The render area: draws each panel's decoded picture into its rectangle of
// the window (rotation, zoom, pan, mirror, cover fit), and composites all
// panels with the burned-in overlays off screen, at most 30 times a second,
// for the composite sinks (the recorder and the live share).
//
// Threads: drawing and compositing run on the host's render thread with its
// OpenGL context current; the sink list and the overlay state are handed
// over from any thread. Owns the GL entry-point table, the quad renderer,
// the overlay painter, one composite target per requested size (and one
// for the size expected next) and their GL objects; GL objects appear
// lazily on first use or ahead of it, and go only through releaseGl() or
// when no longer wanted, on the render thread, never through the destructor.

#include "CompositePacer.h"
#include "CompositeSink.h"
#include "DecodedFrame.h"
#include "EngineTypes.h"
#include "GlFunctions.h"
#include "GlReadback.h"
#include "OverlayPainter.h"
#include "OverlayState.h"
#include "PanelDraw.h"
#include "QuadRenderer.h"
#include "RateMeter.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace lagwell {

class RenderEngine {
public:
    // Composite pacing: one slot every 1/30 s, and the timestamp step of one slot.
    static constexpr int64_t kCompositePeriodNs = CompositePacer::kSlotNs;
    static constexpr int64_t kPtsStepUs = 33'333;
    static constexpr int64_t kExpectedSizeSettleNs = 500'000'000;

    // Touches no GL. resolver may be empty and set later with setGlResolver.
    explicit RenderEngine(GlResolver resolver = {});
    // Frees memory only; GL objects must already be gone through releaseGl.
    ~RenderEngine() = default;
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    // Render thread. Used at the next resolution of the entry points: the
    // first draw, or the first after releaseGl().
    void setGlResolver(GlResolver resolver);

    // Render thread: draws one panel into the bound framebuffer, whose size
    // is windowWidth x windowHeight device pixels. frame may be null (no
    // picture yet: the panel is filled with its empty colour). rect has its
    // origin at the window's top left; a rectangle or window without area
    // draws nothing and changes no GL state. The program, array buffer,
    // active texture unit, blending, scissor test and box, clear colour and
    // unpack alignment are as before on return; the viewport is the window.
    void drawPanel(int panelId, const DecodedFrame* frame, const PanelParams& params, const PanelRect& rect,
                   int windowWidth, int windowHeight);

    // Render thread: deletes the textures of a panel that no longer exists.
    void forgetPanel(int panelId);

    // Any thread: the sinks the next composites go to (non-owning; each must
    // stay alive until a later call has replaced the list and the render
    // thread's composite in progress, if any, has returned).
    void setCompositeSinks(std::vector<CompositeSink*> sinks);
    // Any thread: the overlays the next composites burn in (a whole copy).
    void setOverlayState(const OverlayState& state);

    // Any thread: the size the composite of a recording or share started now
    // would have (0 x 0: none). While no sink is active and the size has
    // held for kExpectedSizeSettleNs, the render thread keeps a target of
    // this size ready, drawn once and with its read-back memory touched, so
    // that a sink of this size starts without building anything. The target
    // is freed when another size, or none, is expected.
    void expectCompositeSize(int width, int height);

    // Render thread, after every window frame; nowNs is the steady clock.
    // Once per 1/30 s slot of the steady clock, at the window frame nearest
    // it (CompositePacer), and only while a sink is active: draws
    // panels (in the given order) and overlays into one target per size the
    // active sinks want, reads it back asynchronously and hands each sink of
    // that size the picture drawn two composites earlier. A picture's ptsUs
    // is (the slot it was drawn for + 2) x 33,333, slots counted in real time
    // from the first composite of that size, so a stall leaves gaps instead
    // of slowing the recording, and a target re-created by releaseGl()
    // continues its count. Its slotNs is that slot's steady-clock moment. GL state the host relies on (framebuffer,
    // viewport, scissor, blending, program, buffers, clear colour, pack and
    // unpack alignment) is as before on return.
    void compositeIfDue(const std::vector<PanelDraw>& panels, int64_t nowNs);

    // Render thread, context current (scene graph invalidated): deletes every
    // GL object (composite targets, overlay and panel resources) and forgets
    // the entry points; the next draw starts afresh. Pacing, rate meters and
    // the timestamp count of every size still wanted are kept.
    void releaseGl();

    // The panel matrix, column-major for glUniformMatrix4fv without
    // transposition: the quad is sized to cover a rectWidth x rectHeight
    // rectangle with the picture (overflow left to the scissor),
    // mirrored, turned clockwise by the panel's plus the frame's rotation
    // (rounded to whole degrees), zoomed about the centre and moved by the
    // pan times panScale, in pixels of the rectangle.
    static void buildPanelMvp(float* out, int rectWidth, int rectHeight, int frameWidth, int frameHeight,
                              const PanelParams& params, int frameRotation, float panScale);

    // Panel draws per second over all panels (statistics only).
    double panelDrawFps() const { return m_panelDrawMeter.rate(); }
    // Composites per second (statistics only).
    double compositeFps() const { return m_compositeMeter.rate(); }
    // Render thread: composite targets alive now.
    size_t compositeTargetCount() const { return m_targets.size(); }

private:
    using SizeKey = std::pair<int32_t, int32_t>;  // width, height

    struct CompositeTarget {
        explicit CompositeTarget(const GlFunctions& gl) : readback(gl) {}
        GLuint fbo = 0;
        GLuint texture = 0;  // GL_RGBA colour attachment
        int32_t width = 0;
        int32_t height = 0;
        int64_t frameCount = 0;  // composites drawn since (re)created
        bool primed = false;     // drawn into and read back at least once
        GlReadback readback;
    };

    // Loads the entry points once per context; false (one notice) when they
    // cannot be had.
    bool ensureGl();
    void prepareExpectedTarget(const SizeKey& expected, const std::vector<PanelDraw>& panels, int64_t nowNs);
    void ensureCompositeTarget(CompositeTarget& target, int width, int height);
    void deleteTarget(CompositeTarget& target);
    void deleteAllTargets();
    void drawCompositeFrame(CompositeTarget& target, const std::vector<PanelDraw>& panels,
                            const OverlayState& overlay, int left, int top, int boxWidth, int boxHeight,
                            int64_t nowNs);

    GlFunctions m_gl;  // before m_quads and m_overlayPainter, which refer to it
    QuadRenderer m_quads;
    OverlayPainter m_overlayPainter;
    GlResolver m_resolver;
    bool m_glNoticePrinted = false;  // the resolver failed; not retried until releaseGl or a new resolver
    RateMeter m_panelDrawMeter;

    std::mutex m_handOverMutex;
    // guards: m_sinks, m_overlay (replaced whole, never changed in place), m_expectedSize
    std::shared_ptr<const std::vector<CompositeSink*>> m_sinks;
    std::shared_ptr<const OverlayState> m_overlay;
    SizeKey m_expectedSize {0, 0};

    // render thread only
    std::map<SizeKey, CompositeTarget> m_targets;
    // The pacer's slot of each size's first picture, kept while some active
    // sink wants that size, across target re-creation by releaseGl().
    std::map<SizeKey, int64_t> m_slotClocks;
    std::vector<CompositeSink*> m_activeSinks;  // of the current call, kept for its capacity
    std::vector<std::pair<int, PanelRect>> m_placedPanels;  // likewise
    SizeKey m_lastExpectedSize {0, 0};
    int64_t m_expectedSinceNs = 0;  // steady clock when m_lastExpectedSize was first seen
    CompositePacer m_pacer;
    RateMeter m_compositeMeter;
    bool m_compositeNoticePrinted = false;  // no FBO / pack buffers; not repeated
};

}  // namespace lagwell
