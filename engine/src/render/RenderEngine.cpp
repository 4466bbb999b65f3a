#include "RenderEngine.h"

#include "Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace lagwell {
namespace {

using Matrix = std::array<float, 16>;  // column-major

constexpr float kPi = 3.1415927f;
constexpr Matrix kIdentity {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix multiply(const Matrix& a, const Matrix& b)
{
    Matrix out {};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
    }
    return out;
}

Matrix scale(float x, float y)
{
    Matrix out = kIdentity;
    out[0] = x;
    out[5] = y;
    return out;
}

Matrix translation(float x, float y)
{
    Matrix out = kIdentity;
    out[12] = x;
    out[13] = y;
    return out;
}

Matrix rotation(int degrees)
{
    const float radians = static_cast<float>(degrees) * kPi / 180.0f;
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    Matrix out = kIdentity;
    out[0] = c;
    out[1] = s;
    out[4] = -s;
    out[5] = c;
    return out;
}

// Whole degrees in 0..359. Reduced before rounding so that no rotation,
// however large or not finite, overflows an integer.
int effectiveAngle(float panelDegrees, int frameRotation)
{
    const float reduced = std::isfinite(panelDegrees) ? std::fmod(panelDegrees, 360.0f) : 0.0f;
    int angle = (static_cast<int>(std::lroundf(reduced)) + frameRotation % 360) % 360;
    if (angle < 0)
        angle += 360;
    return angle;
}

int64_t steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RenderEngine::RenderEngine(GlResolver resolver) : m_quads(m_gl), m_resolver(std::move(resolver)) {}

void RenderEngine::setGlResolver(GlResolver resolver)
{
    m_resolver = std::move(resolver);
    m_glNoticePrinted = false;
}

bool RenderEngine::ensureGl()
{
    if (m_gl.isLoaded())
        return true;
    if (m_glNoticePrinted)
        return false;
    std::string error;
    if (m_gl.load(m_resolver, &error))
        return true;
    logPlain("RenderEngine: %s", error.c_str());
    m_glNoticePrinted = true;
    return false;
}

void RenderEngine::drawPanel(int panelId, const DecodedFrame* frame, const PanelParams& params, const PanelRect& rect,
                             int windowWidth, int windowHeight)
{
    if (windowWidth <= 0 || windowHeight <= 0 || rect.width <= 0 || rect.height <= 0)
        return;
    if (!ensureGl())
        return;

    GLint savedProgram = 0;
    GLint savedArrayBuffer = 0;
    GLint savedActiveTexture = GL_TEXTURE0;
    GLint savedScissorBox[4] = {};
    GLfloat savedClearColor[4] = {};
    GLint savedUnpackAlignment = 4;
    m_gl.glGetIntegerv(GL_CURRENT_PROGRAM, &savedProgram);
    m_gl.glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &savedArrayBuffer);
    m_gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &savedActiveTexture);
    m_gl.glGetIntegerv(GL_SCISSOR_BOX, savedScissorBox);
    m_gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, savedClearColor);
    m_gl.glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedUnpackAlignment);
    const bool blendWasOn = m_gl.glIsEnabled(GL_BLEND) == GL_TRUE;
    const bool scissorWasOn = m_gl.glIsEnabled(GL_SCISSOR_TEST) == GL_TRUE;

    // The window's top-left origin becomes OpenGL's bottom-left one.
    const GLint viewportY = windowHeight - rect.y - rect.height;
    m_gl.glViewport(rect.x, viewportY, rect.width, rect.height);
    m_gl.glEnable(GL_SCISSOR_TEST);
    m_gl.glScissor(rect.x, viewportY, rect.width, rect.height);
    m_gl.glClearColor(0.02f, 0.02f, 0.02f, 1.0f);
    m_gl.glClear(GL_COLOR_BUFFER_BIT);

    bool drewPicture = false;
    if (frame) {
        m_quads.upload(panelId, *frame);
        if (m_quads.hasTexture(panelId)) {
            float mvp[16];
            buildPanelMvp(mvp, rect.width, rect.height, frame->width, frame->height, params, frame->rotationDeg,
                          1.0f);
            m_quads.drawPanel(panelId, mvp);
            drewPicture = true;
        }
    }
    if (!drewPicture) {
        m_quads.ensureInit();
        m_quads.drawSolid(0.1f, 0.1f, 0.11f, 1.0f, kIdentity.data());
    }
    m_panelDrawMeter.count(steadyNowMs());

    m_gl.glDisable(GL_SCISSOR_TEST);
    m_gl.glViewport(0, 0, windowWidth, windowHeight);
    m_gl.glScissor(savedScissorBox[0], savedScissorBox[1], savedScissorBox[2], savedScissorBox[3]);
    if (scissorWasOn)
        m_gl.glEnable(GL_SCISSOR_TEST);
    if (blendWasOn)
        m_gl.glEnable(GL_BLEND);
    else
        m_gl.glDisable(GL_BLEND);
    m_gl.glClearColor(savedClearColor[0], savedClearColor[1], savedClearColor[2], savedClearColor[3]);
    m_gl.glPixelStorei(GL_UNPACK_ALIGNMENT, savedUnpackAlignment);
    m_gl.glActiveTexture(static_cast<GLenum>(savedActiveTexture));
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(savedArrayBuffer));
    m_gl.glUseProgram(static_cast<GLuint>(savedProgram));
}

void RenderEngine::forgetPanel(int panelId)
{
    m_quads.forget(panelId);
}

void RenderEngine::releaseGl()
{
    m_quads.releaseGl();
    m_gl.clear();
    m_glNoticePrinted = false;
}

void RenderEngine::buildPanelMvp(float* out, int rectWidth, int rectHeight, int frameWidth, int frameHeight,
                                 const PanelParams& params, int frameRotation, float panScale)
{
    const float rw = static_cast<float>(rectWidth);
    const float rh = static_cast<float>(rectHeight);
    // Orthographic over the rectangle's pixels, origin at its centre, y down.
    Matrix matrix = kIdentity;
    if (rectWidth > 0 && rectHeight > 0) {
        matrix[0] = 2.0f / rw;
        matrix[5] = -2.0f / rh;
    }
    matrix[10] = -1.0f;

    if (rectWidth > 0 && rectHeight > 0 && frameWidth > 0 && frameHeight > 0) {
        const float fw = static_cast<float>(frameWidth);
        const float fh = static_cast<float>(frameHeight);
        const int angle = effectiveAngle(params.rotationDegrees, frameRotation);
        const float fit = angle % 180 == 0 ? std::max(rw / fw, rh / fh) : std::max(rw / fh, rh / fw);
        const float mirror = params.mirror ? -1.0f : 1.0f;
        matrix = multiply(matrix, translation(panScale * params.panX, panScale * params.panY));
        matrix = multiply(matrix, scale(params.zoom, params.zoom));
        matrix = multiply(matrix, rotation(angle));
        matrix = multiply(matrix, scale(mirror * fw * fit / 2.0f, fh * fit / 2.0f));
    }
    std::copy(matrix.begin(), matrix.end(), out);
}

}  // namespace lagwell
