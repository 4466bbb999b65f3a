#pragma once

// The render area: draws each panel's decoded picture into its rectangle of
// the window (rotation, zoom, pan, mirror, cover fit), and later composites
// all panels off screen for the recorder and the live share.
//
// Threads: everything runs on the host's render thread with its OpenGL
// context current. Owns the GL entry-point table, the quad renderer and
// their GL objects; GL objects appear lazily on first use and go only
// through releaseGl(), never through the destructor.

#include "DecodedFrame.h"
#include "EngineTypes.h"
#include "GlFunctions.h"
#include "QuadRenderer.h"
#include "RateMeter.h"

namespace lagwell {

class RenderEngine {
public:
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

    // Render thread, context current (scene graph invalidated): deletes every
    // GL object and forgets the entry points; the next draw starts afresh.
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

private:
    // Loads the entry points once per context; false (one notice) when they
    // cannot be had.
    bool ensureGl();

    GlFunctions m_gl;  // before m_quads, which refers to it
    QuadRenderer m_quads;
    GlResolver m_resolver;
    bool m_glNoticePrinted = false;  // the resolver failed; not retried until releaseGl or a new resolver
    RateMeter m_panelDrawMeter;
};

}  // namespace lagwell
