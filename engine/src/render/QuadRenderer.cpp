#include "QuadRenderer.h"

#include "ShaderBuilder.h"

#include <algorithm>
#include <cstring>

namespace lagwell {
namespace {

// BT.601, luma expanded from 16..235, chroma centred at 0.5.
#define LAGWELL_YUV_TO_RGB                                                    \
    "vec3 yuvToRgb(float y, float u, float v) {\n"                            \
    "    float yy = (y - 16.0 / 255.0) * (255.0 / 219.0);\n"                  \
    "    float uu = u - 0.5;\n"                                               \
    "    float vv = v - 0.5;\n"                                               \
    "    vec3 rgb = vec3(yy + 1.402 * vv,\n"                                  \
    "                    yy - 0.344136 * uu - 0.714136 * vv,\n"               \
    "                    yy + 1.772 * uu);\n"                                 \
    "    return clamp(rgb, 0.0, 1.0);\n"                                      \
    "}\n"

constexpr const char kI420Fragment[] =
    "uniform sampler2D uPlane0;\n"
    "uniform sampler2D uPlane1;\n"
    "uniform sampler2D uPlane2;\n"
    "uniform float uAlpha;\n"
    "varying vec2 vTexCoord;\n" LAGWELL_YUV_TO_RGB
    "void main() {\n"
    "    float y = texture2D(uPlane0, vTexCoord).r;\n"
    "    float u = texture2D(uPlane1, vTexCoord).r;\n"
    "    float v = texture2D(uPlane2, vTexCoord).r;\n"
    "    gl_FragColor = vec4(yuvToRgb(y, u, v), uAlpha);\n"
    "}\n";

constexpr const char kNv12Fragment[] =
    "uniform sampler2D uPlane0;\n"
    "uniform sampler2D uPlane1;\n"
    "uniform float uAlpha;\n"
    "varying vec2 vTexCoord;\n" LAGWELL_YUV_TO_RGB
    "void main() {\n"
    "    float y = texture2D(uPlane0, vTexCoord).r;\n"
    "    vec4 uv = texture2D(uPlane1, vTexCoord);\n"
    "    gl_FragColor = vec4(yuvToRgb(y, uv.r, uv.a), uAlpha);\n"
    "}\n";

constexpr const char kRgbaFragment[] =
    "uniform sampler2D uPlane0;\n"
    "uniform float uAlpha;\n"
    "varying vec2 vTexCoord;\n"
    "void main() {\n"
    "    gl_FragColor = texture2D(uPlane0, vTexCoord) * uAlpha;\n"
    "}\n";

constexpr const char kSolidFragment[] =
    "uniform vec4 uColor;\n"
    "void main() {\n"
    "    gl_FragColor = uColor;\n"
    "}\n";

#undef LAGWELL_YUV_TO_RGB

constexpr uint8_t kNeutralSample = 128;

int chromaSize(int lumaSize)
{
    return (lumaSize + 1) / 2;
}

}  // namespace

QuadRenderer::QuadRenderer(const GlFunctions& gl) : m_gl(gl) {}

void QuadRenderer::ensureInit()
{
    if (m_inited || !m_gl.isLoaded())
        return;
    buildPrograms();
    m_gl.glGenBuffers(1, &m_quadBuffer);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, m_quadBuffer);
    m_gl.glBufferData(GL_ARRAY_BUFFER, sizeof kQuadVertices, kQuadVertices.data(), GL_STATIC_DRAW);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    m_inited = true;
}

void QuadRenderer::buildPrograms()
{
    const ShaderBuilder builder(m_gl, "QuadRenderer");
    const auto build = [&](Program& program, const char* fragment) {
        program = Program {};
        program.id = builder.build(ShaderBuilder::kQuadVertexShader, fragment);
        if (!program.id)
            return false;
        program.aPosition = m_gl.glGetAttribLocation(program.id, "aPosition");
        program.aTexCoord = m_gl.glGetAttribLocation(program.id, "aTexCoord");
        program.uMvp = m_gl.glGetUniformLocation(program.id, "uMvp");
        return true;
    };
    if (build(m_i420, kI420Fragment)) {
        m_i420.uAlpha = m_gl.glGetUniformLocation(m_i420.id, "uAlpha");
        m_i420.uPlane0 = m_gl.glGetUniformLocation(m_i420.id, "uPlane0");
        m_i420.uPlane1 = m_gl.glGetUniformLocation(m_i420.id, "uPlane1");
        m_i420.uPlane2 = m_gl.glGetUniformLocation(m_i420.id, "uPlane2");
    }
    if (build(m_nv12, kNv12Fragment)) {
        m_nv12.uAlpha = m_gl.glGetUniformLocation(m_nv12.id, "uAlpha");
        m_nv12.uPlane0 = m_gl.glGetUniformLocation(m_nv12.id, "uPlane0");
        m_nv12.uPlane1 = m_gl.glGetUniformLocation(m_nv12.id, "uPlane1");
    }
    if (build(m_rgba, kRgbaFragment)) {
        m_rgba.uAlpha = m_gl.glGetUniformLocation(m_rgba.id, "uAlpha");
        m_rgba.uPlane0 = m_gl.glGetUniformLocation(m_rgba.id, "uPlane0");
    }
    if (build(m_solid, kSolidFragment))
        m_solid.uColor = m_gl.glGetUniformLocation(m_solid.id, "uColor");
}

void QuadRenderer::upload(int panelId, const DecodedFrame& frame)
{
    ensureInit();
    if (!m_inited)
        return;
    PanelTextures& panel = m_panels[panelId];
    if (panel.textures[0] == 0 || panel.width != frame.width || panel.height != frame.height ||
        panel.layout != frame.layout)
        reallocate(panel, frame);
    if (panel.seqValid && panel.lastSeq == frame.seq)
        return;

    if (frame.width > 0 && frame.height > 0) {
        const int chromaWidth = chromaSize(frame.width);
        const int chromaHeight = chromaSize(frame.height);
        uploadPlane(panel.textures[0], GL_LUMINANCE, frame.width, frame.height, frame.planes[0], frame.strides[0]);
        if (frame.layout == DecodedFrame::Layout::NV12) {
            uploadPlane(panel.textures[1], GL_LUMINANCE_ALPHA, chromaWidth, chromaHeight, frame.planes[1],
                        frame.strides[1]);
        } else {
            uploadPlane(panel.textures[1], GL_LUMINANCE, chromaWidth, chromaHeight, frame.planes[1],
                        frame.strides[1]);
            uploadPlane(panel.textures[2], GL_LUMINANCE, chromaWidth, chromaHeight, frame.planes[2],
                        frame.strides[2]);
        }
    }
    panel.lastSeq = frame.seq;
    panel.seqValid = true;
    panel.ready = true;
}

void QuadRenderer::reallocate(PanelTextures& panel, const DecodedFrame& frame)
{
    deleteTextures(panel);
    const bool nv12 = frame.layout == DecodedFrame::Layout::NV12;
    const int width = std::max(0, frame.width);
    const int height = std::max(0, frame.height);
    const int textureCount = nv12 ? 2 : 3;
    m_gl.glGenTextures(textureCount, panel.textures.data());
    for (int i = 0; i < textureCount; ++i) {
        const GLenum format = (nv12 && i == 1) ? GL_LUMINANCE_ALPHA : GL_LUMINANCE;
        const int planeWidth = i == 0 ? width : chromaSize(width);
        const int planeHeight = i == 0 ? height : chromaSize(height);
        m_gl.glBindTexture(GL_TEXTURE_2D, panel.textures[i]);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        m_gl.glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), planeWidth, planeHeight, 0, format,
                          GL_UNSIGNED_BYTE, nullptr);
    }
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    panel.layout = frame.layout;
    panel.width = frame.width;
    panel.height = frame.height;
    panel.seqValid = false;
}

void QuadRenderer::uploadPlane(GLuint texture, GLenum format, int width, int height,
                               const std::vector<uint8_t>& plane, int32_t strideBytes)
{
    const size_t bytesPerTexel = format == GL_LUMINANCE_ALPHA ? 2 : 1;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerTexel;
    const size_t rows = static_cast<size_t>(height);
    if (texture == 0 || plane.empty() || strideBytes <= 0 || rowBytes == 0 || rows == 0)
        return;
    const size_t stride = static_cast<size_t>(strideBytes);
    // A stride shorter than the texture row (odd-width NV12 keeps width
    // bytes of chroma pairs) supplies only that much of each row.
    const size_t sourceRowBytes = std::min(stride, rowBytes);
    if (plane.size() < stride * (rows - 1) + sourceRowBytes)
        return;

    m_gl.glBindTexture(GL_TEXTURE_2D, texture);
    m_gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (stride == rowBytes) {
        m_gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, plane.data());
    } else if (stride > rowBytes) {
        for (size_t row = 0; row < rows; ++row)
            m_gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, static_cast<GLint>(row), width, 1, format, GL_UNSIGNED_BYTE,
                                 plane.data() + row * stride);
    } else {
        // The missing tail of each row repeats the last sample of the same
        // channel (neutral when the row has none).
        m_repack.resize(rowBytes * rows);
        for (size_t row = 0; row < rows; ++row) {
            uint8_t* out = m_repack.data() + row * rowBytes;
            std::memcpy(out, plane.data() + row * stride, sourceRowBytes);
            for (size_t i = sourceRowBytes; i < rowBytes; ++i)
                out[i] = i >= bytesPerTexel ? out[i - bytesPerTexel] : kNeutralSample;
        }
        m_gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, m_repack.data());
    }
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
}

bool QuadRenderer::hasTexture(int panelId) const
{
    const auto it = m_panels.find(panelId);
    return it != m_panels.end() && it->second.ready;
}

const QuadRenderer::PanelTextures* QuadRenderer::panelTextures(int panelId) const
{
    const auto it = m_panels.find(panelId);
    return it == m_panels.end() ? nullptr : &it->second;
}

bool QuadRenderer::canDraw(int panelId) const
{
    const auto it = m_panels.find(panelId);
    if (!m_inited || it == m_panels.end() || !it->second.ready)
        return false;
    const bool nv12 = it->second.layout == DecodedFrame::Layout::NV12;
    return (nv12 ? m_nv12 : m_i420).id != 0;
}

void QuadRenderer::drawPanel(int panelId, const float* mvp)
{
    const auto it = m_panels.find(panelId);
    if (!m_inited || it == m_panels.end() || !it->second.ready)
        return;
    const PanelTextures& panel = it->second;
    const bool nv12 = panel.layout == DecodedFrame::Layout::NV12;
    const Program& program = nv12 ? m_nv12 : m_i420;
    if (program.id == 0)
        return;

    m_gl.glUseProgram(program.id);
    m_gl.glUniformMatrix4fv(program.uMvp, 1, GL_FALSE, mvp);
    m_gl.glUniform1f(program.uAlpha, 1.0f);
    const int units = nv12 ? 2 : 3;
    const GLint samplers[3] = {program.uPlane0, program.uPlane1, program.uPlane2};
    for (int unit = 0; unit < units; ++unit) {
        m_gl.glActiveTexture(GL_TEXTURE0 + unit);
        m_gl.glBindTexture(GL_TEXTURE_2D, panel.textures[unit]);
        m_gl.glUniform1i(samplers[unit], unit);
    }
    drawQuad(program);
    for (int unit = units - 1; unit >= 0; --unit) {
        m_gl.glActiveTexture(GL_TEXTURE0 + unit);
        m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    }
}

void QuadRenderer::drawSolid(float r, float g, float b, float a, const float* mvp)
{
    if (!m_inited || m_solid.id == 0)
        return;
    m_gl.glUseProgram(m_solid.id);
    m_gl.glUniformMatrix4fv(m_solid.uMvp, 1, GL_FALSE, mvp);
    m_gl.glUniform4f(m_solid.uColor, r, g, b, a);
    if (a >= 1.0f) {
        drawQuad(m_solid);
        return;
    }
    m_gl.glEnable(GL_BLEND);
    m_gl.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawQuad(m_solid);
    m_gl.glDisable(GL_BLEND);
}

void QuadRenderer::drawRgba(GLuint texture, const float* mvp, float alpha)
{
    if (!m_inited || m_rgba.id == 0)
        return;
    m_gl.glUseProgram(m_rgba.id);
    m_gl.glUniformMatrix4fv(m_rgba.uMvp, 1, GL_FALSE, mvp);
    m_gl.glUniform1f(m_rgba.uAlpha, alpha);
    m_gl.glActiveTexture(GL_TEXTURE0);
    m_gl.glBindTexture(GL_TEXTURE_2D, texture);
    m_gl.glUniform1i(m_rgba.uPlane0, 0);
    m_gl.glEnable(GL_BLEND);
    m_gl.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    drawQuad(m_rgba);
    m_gl.glDisable(GL_BLEND);
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
}

void QuadRenderer::drawQuad(const Program& program)
{
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, m_quadBuffer);
    ShaderBuilder::enableQuadAttributes(m_gl, program.aPosition, program.aTexCoord);
    m_gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    ShaderBuilder::disableQuadAttributes(m_gl, program.aPosition, program.aTexCoord);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void QuadRenderer::forget(int panelId)
{
    const auto it = m_panels.find(panelId);
    if (it == m_panels.end())
        return;
    deleteTextures(it->second);
    m_panels.erase(it);
}

void QuadRenderer::releaseGl()
{
    // Objects exist only while the table is loaded; without it there is
    // nothing left to delete, only names to forget.
    const bool canDelete = m_gl.isLoaded();
    if (canDelete) {
        for (auto& [id, panel] : m_panels)
            deleteTextures(panel);
        if (m_quadBuffer)
            m_gl.glDeleteBuffers(1, &m_quadBuffer);
    }
    m_panels.clear();
    m_quadBuffer = 0;
    deleteProgram(m_i420);
    deleteProgram(m_nv12);
    deleteProgram(m_rgba);
    deleteProgram(m_solid);
    m_inited = false;
}

void QuadRenderer::deleteTextures(PanelTextures& panel)
{
    for (GLuint& texture : panel.textures) {
        if (texture && m_gl.isLoaded())
            m_gl.glDeleteTextures(1, &texture);
        texture = 0;
    }
}

void QuadRenderer::deleteProgram(Program& program)
{
    if (program.id && m_gl.isLoaded())
        m_gl.glDeleteProgram(program.id);
    program = Program {};
}

}  // namespace lagwell
