#pragma once

// A real OpenGL context for tests, with no display: EGL on Mesa's surfaceless
// platform (a pbuffer on the default display where that platform is missing),
// desktop OpenGL when the driver offers it, else OpenGL ES. Drawing goes into
// an off-screen RGBA framebuffer of the requested size that stands in for the
// window, and is read back with glReadPixels.
//
// Owns its context and framebuffer; the context is current on the creating
// thread from create() until destruction. One thread only. The EGL display is
// initialised once and kept for the life of the process. Whatever a test
// creates in the context must be released (releaseGl) before the context goes.

#include "GlFunctions.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace lagwell {

class GlTestContext {
public:
    enum class Api {
        PreferDesktop,  // desktop OpenGL (compatibility profile), else OpenGL ES
        Gles,           // OpenGL ES 2.0 or later only
    };

    struct Pixel {
        uint8_t r = 0;
        uint8_t g = 0;
        uint8_t b = 0;
        uint8_t a = 0;
    };

    GlTestContext() = default;
    ~GlTestContext();
    GlTestContext(const GlTestContext&) = delete;
    GlTestContext& operator=(const GlTestContext&) = delete;

    // Creates the context, makes it current and binds a width x height
    // framebuffer cleared to transparent black. False with a sentence in
    // error when no context can be had.
    bool create(int width, int height, Api api = Api::PreferDesktop, std::string* error = nullptr);

    // The entry points of this context, and the resolver they came from
    // (for the code under test).
    const GlFunctions& gl() const { return m_gl; }
    GlResolver resolver() const;
    bool isGles() const { return m_gl.isGles(); }
    // GL_VERSION of the context.
    std::string version() const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    GLuint framebuffer() const { return m_framebuffer; }

    // Binds the stand-in window framebuffer with a full viewport.
    void bindTarget() const;
    // Clears the whole target to one colour (scissor test off afterwards).
    void clear(float r, float g, float b, float a) const;
    // The target's pixels, R, G, B, A per pixel, top row first.
    std::vector<uint8_t> readRgba() const;
    // One pixel of the target, y counted from the top.
    Pixel pixel(int x, int yFromTop) const;
    // One pixel of a picture returned by readRgba.
    Pixel pixelOf(const std::vector<uint8_t>& rgba, int x, int yFromTop) const;

private:
    void destroy();

    void* m_display = nullptr;  // EGLDisplay
    void* m_context = nullptr;  // EGLContext
    void* m_surface = nullptr;  // EGLSurface, only on the pbuffer fallback
    GlFunctions m_gl;
    GLuint m_framebuffer = 0;
    GLuint m_colorTexture = 0;
    int m_width = 0;
    int m_height = 0;
};

// Names the API in test output ("Desktop", "Gles").
inline void PrintTo(GlTestContext::Api api, std::ostream* out)
{
    *out << (api == GlTestContext::Api::Gles ? "Gles" : "Desktop");
}

}  // namespace lagwell
