#include "GlTestContext.h"

#define EGL_NO_X11
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
// Mesa's driver is loaded with dlopen and keeps state in dynamic TLS. With
// LeakSanitizer's __tls_get_addr interception its exit-time scan crashes
// ("Tracer caught signal 11") whenever the module count shifts the driver's
// TLS slot, as one more linked library does. ASAN_OPTIONS still adds to this.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
#endif

namespace lagwell {
namespace {

bool hasWord(const char* list, const char* word)
{
    if (!list)
        return false;
    const size_t length = std::strlen(word);
    for (const char* at = std::strstr(list, word); at; at = std::strstr(at + 1, word)) {
        if ((at == list || at[-1] == ' ') && (at[length] == '\0' || at[length] == ' '))
            return true;
    }
    return false;
}

std::string eglErrorText()
{
    char text[32];
    std::snprintf(text, sizeof text, "EGL error 0x%04x", static_cast<unsigned>(eglGetError()));
    return text;
}

GlProc resolveGl(const char* name)
{
    return reinterpret_cast<GlProc>(eglGetProcAddress(name));
}

// The surfaceless display when Mesa offers it, else the default one.
EGLDisplay openDisplay(bool* surfaceless)
{
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    *surfaceless = false;
    if (hasWord(clientExtensions, "EGL_MESA_platform_surfaceless") &&
        hasWord(clientExtensions, "EGL_EXT_platform_base")) {
        const auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay) {
            EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY) {
                *surfaceless = true;
                return display;
            }
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

GlTestContext::~GlTestContext()
{
    destroy();
}

bool GlTestContext::create(int width, int height, Api api, std::string* error)
{
    destroy();
    const auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        destroy();
        return false;
    };
    if (width < 1 || height < 1)
        return fail("The test framebuffer needs a positive size.");

    bool surfaceless = false;
    EGLDisplay display = openDisplay(&surfaceless);
    if (display == EGL_NO_DISPLAY)
        return fail("No EGL display is available (" + eglErrorText() + ").");
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return fail("The EGL display could not be initialised (" + eglErrorText() + ").");
    m_display = display;

    const char* displayExtensions = eglQueryString(display, EGL_EXTENSIONS);
    const bool needSurface = !surfaceless || !hasWord(displayExtensions, "EGL_KHR_surfaceless_context");

    struct Attempt {
        EGLenum api;
        EGLint renderableBit;
        std::vector<EGLint> contextAttributes;
    };
    std::vector<Attempt> attempts;
    if (api == Api::PreferDesktop)
        attempts.push_back({EGL_OPENGL_API, EGL_OPENGL_BIT, {EGL_NONE}});
    attempts.push_back({EGL_OPENGL_ES_API, EGL_OPENGL_ES2_BIT, {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE}});

    std::string lastError = "no attempt was made";
    EGLConfig config = nullptr;
    for (const Attempt& attempt : attempts) {
        if (!eglBindAPI(attempt.api)) {
            lastError = eglErrorText();
            continue;
        }
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                           EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8, EGL_RENDERABLE_TYPE,
                                           attempt.renderableBit, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) {
            lastError = "no matching EGL configuration";
            continue;
        }
        EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attempt.contextAttributes.data());
        if (context == EGL_NO_CONTEXT) {
            lastError = eglErrorText();
            continue;
        }
        m_context = context;
        break;
    }
    if (!m_context)
        return fail("No OpenGL or OpenGL ES context could be created (" + lastError + ").");

    EGLSurface surface = EGL_NO_SURFACE;
    if (needSurface) {
        const EGLint surfaceAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
        if (surface == EGL_NO_SURFACE)
            return fail("No pbuffer surface could be created (" + eglErrorText() + ").");
        m_surface = surface;
    }
    if (!eglMakeCurrent(display, surface, surface, static_cast<EGLContext>(m_context)))
        return fail("The context could not be made current (" + eglErrorText() + ").");

    std::string loadError;
    if (!m_gl.load(resolver(), &loadError))
        return fail(loadError);
    if (!m_gl.glGenFramebuffers || !m_gl.glBindFramebuffer || !m_gl.glFramebufferTexture2D ||
        !m_gl.glCheckFramebufferStatus || !m_gl.glDeleteFramebuffers)
        return fail("The context has no framebuffer objects.");

    m_width = width;
    m_height = height;
    m_gl.glGenTextures(1, &m_colorTexture);
    m_gl.glBindTexture(GL_TEXTURE_2D, m_colorTexture);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    m_gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    m_gl.glGenFramebuffers(1, &m_framebuffer);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    m_gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_colorTexture, 0);
    const GLenum status = m_gl.glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        char text[96];
        std::snprintf(text, sizeof text, "The test framebuffer is incomplete (status 0x%04x).", status);
        return fail(text);
    }
    clear(0.0f, 0.0f, 0.0f, 0.0f);
    return true;
}

void GlTestContext::destroy()
{
    EGLDisplay display = static_cast<EGLDisplay>(m_display);
    if (m_context && display) {
        EGLSurface surface = static_cast<EGLSurface>(m_surface ? m_surface : EGL_NO_SURFACE);
        if (m_gl.isLoaded() &&
            eglMakeCurrent(display, surface, surface, static_cast<EGLContext>(m_context))) {
            if (m_framebuffer) {
                m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
                m_gl.glDeleteFramebuffers(1, &m_framebuffer);
            }
            if (m_colorTexture)
                m_gl.glDeleteTextures(1, &m_colorTexture);
        }
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, static_cast<EGLContext>(m_context));
    }
    if (m_surface && display)
        eglDestroySurface(display, static_cast<EGLSurface>(m_surface));
    // The display stays initialised for the life of the process and is
    // shared by every context: Mesa leaks inside its driver on each
    // eglTerminate and unloads it, and initialising it again per test only
    // costs time.
    if (display)
        eglReleaseThread();
    m_display = nullptr;
    m_context = nullptr;
    m_surface = nullptr;
    m_gl.clear();
    m_framebuffer = 0;
    m_colorTexture = 0;
    m_width = 0;
    m_height = 0;
}

GlResolver GlTestContext::resolver() const
{
    return resolveGl;
}

std::string GlTestContext::version() const
{
    if (!m_gl.isLoaded())
        return {};
    const auto* text = reinterpret_cast<const char*>(m_gl.glGetString(GL_VERSION));
    return text ? text : "";
}

void GlTestContext::bindTarget() const
{
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    m_gl.glViewport(0, 0, m_width, m_height);
}

void GlTestContext::clear(float r, float g, float b, float a) const
{
    bindTarget();
    m_gl.glDisable(GL_SCISSOR_TEST);
    m_gl.glClearColor(r, g, b, a);
    m_gl.glClear(GL_COLOR_BUFFER_BIT);
}

std::vector<uint8_t> GlTestContext::readRgba() const
{
    std::vector<uint8_t> bottomUp(static_cast<size_t>(m_width) * m_height * 4);
    GLint savedFramebuffer = 0;
    GLint savedPackAlignment = 4;
    m_gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &savedFramebuffer);
    m_gl.glGetIntegerv(GL_PACK_ALIGNMENT, &savedPackAlignment);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    m_gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    m_gl.glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    m_gl.glPixelStorei(GL_PACK_ALIGNMENT, savedPackAlignment);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(savedFramebuffer));

    const size_t rowBytes = static_cast<size_t>(m_width) * 4;
    std::vector<uint8_t> topDown(bottomUp.size());
    for (int row = 0; row < m_height; ++row)
        std::memcpy(topDown.data() + static_cast<size_t>(row) * rowBytes,
                    bottomUp.data() + static_cast<size_t>(m_height - 1 - row) * rowBytes, rowBytes);
    return topDown;
}

GlTestContext::Pixel GlTestContext::pixel(int x, int yFromTop) const
{
    return pixelOf(readRgba(), x, yFromTop);
}

GlTestContext::Pixel GlTestContext::pixelOf(const std::vector<uint8_t>& rgba, int x, int yFromTop) const
{
    if (x < 0 || yFromTop < 0 || x >= m_width || yFromTop >= m_height ||
        rgba.size() < static_cast<size_t>(m_width) * m_height * 4)
        return {};
    const uint8_t* p = rgba.data() + (static_cast<size_t>(yFromTop) * m_width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace lagwell
