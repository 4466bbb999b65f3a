#pragma once

// The OpenGL entry points the renderer uses, resolved at run time through a
// resolver the host supplies (QOpenGLContext::getProcAddress inside the
// application, eglGetProcAddress in tests), so the engine links no GL library
// and no Qt. Types and constants come from the ES 3 header without its
// prototypes; the same numbers hold on desktop OpenGL.

#define GL_GLES_PROTOTYPES 0
#include <GLES3/gl3.h>

#include <functional>
#include <string>

namespace lagwell {

// Resolves one GL entry point by name; null when unknown. Called only on the
// render thread with the context current.
using GlProc = void (*)();
using GlResolver = std::function<GlProc(const char* name)>;

// Entry points of OpenGL 2.1 / OpenGL ES 2.0: enough to draw panels.
#define LAGWELL_GL_CORE_FUNCTIONS(X)                                                     \
    X(glGetError, PFNGLGETERRORPROC)                                                     \
    X(glGetString, PFNGLGETSTRINGPROC)                                                   \
    X(glGetIntegerv, PFNGLGETINTEGERVPROC)                                               \
    X(glGetFloatv, PFNGLGETFLOATVPROC)                                                   \
    X(glIsEnabled, PFNGLISENABLEDPROC)                                                   \
    X(glEnable, PFNGLENABLEPROC)                                                         \
    X(glDisable, PFNGLDISABLEPROC)                                                       \
    X(glViewport, PFNGLVIEWPORTPROC)                                                     \
    X(glScissor, PFNGLSCISSORPROC)                                                       \
    X(glClearColor, PFNGLCLEARCOLORPROC)                                                 \
    X(glClear, PFNGLCLEARPROC)                                                           \
    X(glBlendFunc, PFNGLBLENDFUNCPROC)                                                   \
    X(glPixelStorei, PFNGLPIXELSTOREIPROC)                                               \
    X(glFlush, PFNGLFLUSHPROC)                                                           \
    X(glFinish, PFNGLFINISHPROC)                                                         \
    X(glReadPixels, PFNGLREADPIXELSPROC)                                                 \
    X(glGenTextures, PFNGLGENTEXTURESPROC)                                               \
    X(glDeleteTextures, PFNGLDELETETEXTURESPROC)                                         \
    X(glIsTexture, PFNGLISTEXTUREPROC)                                                   \
    X(glBindTexture, PFNGLBINDTEXTUREPROC)                                               \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC)                                           \
    X(glTexImage2D, PFNGLTEXIMAGE2DPROC)                                                 \
    X(glTexSubImage2D, PFNGLTEXSUBIMAGE2DPROC)                                           \
    X(glTexParameteri, PFNGLTEXPARAMETERIPROC)                                           \
    X(glGenBuffers, PFNGLGENBUFFERSPROC)                                                 \
    X(glDeleteBuffers, PFNGLDELETEBUFFERSPROC)                                           \
    X(glIsBuffer, PFNGLISBUFFERPROC)                                                     \
    X(glBindBuffer, PFNGLBINDBUFFERPROC)                                                 \
    X(glBufferData, PFNGLBUFFERDATAPROC)                                                 \
    X(glCreateShader, PFNGLCREATESHADERPROC)                                             \
    X(glShaderSource, PFNGLSHADERSOURCEPROC)                                             \
    X(glCompileShader, PFNGLCOMPILESHADERPROC)                                           \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC)                                               \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC)                                     \
    X(glDeleteShader, PFNGLDELETESHADERPROC)                                             \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC)                                           \
    X(glAttachShader, PFNGLATTACHSHADERPROC)                                             \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC)                                               \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC)                                             \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC)                                   \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC)                                           \
    X(glIsProgram, PFNGLISPROGRAMPROC)                                                   \
    X(glUseProgram, PFNGLUSEPROGRAMPROC)                                                 \
    X(glGetAttribLocation, PFNGLGETATTRIBLOCATIONPROC)                                   \
    X(glGetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC)                                 \
    X(glUniform1i, PFNGLUNIFORM1IPROC)                                                   \
    X(glUniform1f, PFNGLUNIFORM1FPROC)                                                   \
    X(glUniform2f, PFNGLUNIFORM2FPROC)                                                   \
    X(glUniform4f, PFNGLUNIFORM4FPROC)                                                   \
    X(glUniformMatrix4fv, PFNGLUNIFORMMATRIX4FVPROC)                                     \
    X(glEnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC)                       \
    X(glDisableVertexAttribArray, PFNGLDISABLEVERTEXATTRIBARRAYPROC)                     \
    X(glVertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)                               \
    X(glDrawArrays, PFNGLDRAWARRAYSPROC)

// Entry points of the OpenGL 3.0 / ES 3.0 level (or the matching extensions)
// that only off-screen compositing needs: framebuffer objects and
// asynchronous read-back through pixel-pack buffers.
#define LAGWELL_GL_COMPOSITOR_FUNCTIONS(X)                                               \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                                       \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)                                 \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC)                                       \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)                             \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC)                         \
    X(glMapBufferRange, PFNGLMAPBUFFERRANGEPROC)                                         \
    X(glUnmapBuffer, PFNGLUNMAPBUFFERPROC)

// A table of GL entry points for one context. Render thread only.
struct GlFunctions {
#define LAGWELL_GL_DECLARE(name, type) type name = nullptr;
    LAGWELL_GL_CORE_FUNCTIONS(LAGWELL_GL_DECLARE)
    LAGWELL_GL_COMPOSITOR_FUNCTIONS(LAGWELL_GL_DECLARE)
#undef LAGWELL_GL_DECLARE

    // Resolves every entry point with the context current. False (table
    // emptied, error filled) when the resolver is empty or a panel-drawing
    // entry point is missing; a missing compositor entry point only clears
    // hasCompositing().
    bool load(const GlResolver& resolver, std::string* error = nullptr);

    // Forgets every entry point (the next context is resolved afresh).
    void clear();

    bool isLoaded() const { return m_loaded; }
    // The context is OpenGL ES (GL_VERSION begins with "OpenGL ES").
    bool isGles() const { return m_gles; }
    // Framebuffer objects, pixel-pack buffers and glMapBufferRange are usable.
    bool hasCompositing() const { return m_compositing; }

private:
    bool m_loaded = false;
    bool m_gles = false;
    bool m_compositing = false;
};

}  // namespace lagwell
