#include "GlReadback.h"

namespace lagwell {

GlReadback::GlReadback(const GlFunctions& gl) : m_gl(gl) {}

size_t GlReadback::pictureBytes() const
{
    return static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 4;
}

void GlReadback::ensureInit(int width, int height)
{
    if (width < 1 || height < 1)
        return;
    if (width == m_width && height == m_height && hasBuffers())
        return;
    releaseGl();
    m_width = width;
    m_height = height;
    m_gl.glGenBuffers(kRingSize, m_buffers.data());
    for (GLuint buffer : m_buffers) {
        m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        m_gl.glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(pictureBytes()), nullptr, GL_STREAM_READ);
    }
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

void GlReadback::enqueue(GLuint fbo, Tag tag)
{
    if (m_width < 1 || m_height < 1 || !hasBuffers())
        return;
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    // Rows of width x 4 bytes need no padding at an alignment of 4; a host
    // that left a wider one would make GL write past the buffer's end.
    GLint savedAlignment = 4;
    m_gl.glGetIntegerv(GL_PACK_ALIGNMENT, &savedAlignment);
    m_gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, m_buffers[static_cast<size_t>(m_writeIndex)]);
    m_gl.glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    m_gl.glPixelStorei(GL_PACK_ALIGNMENT, savedAlignment);
    m_tags[static_cast<size_t>(m_writeIndex)] = tag;
    ++m_queued;
    m_writeIndex = (m_writeIndex + 1) % kRingSize;
}

bool GlReadback::dequeue(const uint8_t** data, int* strideBytes, Tag* tag)
{
    if (m_queued < kRingSize)
        return false;
    const GLuint buffer = m_buffers[static_cast<size_t>(m_writeIndex)];
    if (buffer == 0)
        return false;
    release();
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    void* mapped =
        m_gl.glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(pictureBytes()), GL_MAP_READ_BIT);
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (!mapped)
        return false;
    m_mappedIndex = m_writeIndex;
    if (data)
        *data = static_cast<const uint8_t*>(mapped);
    if (strideBytes)
        *strideBytes = m_width * 4;
    if (tag)
        *tag = m_tags[static_cast<size_t>(m_writeIndex)];
    return true;
}

void GlReadback::release()
{
    if (m_mappedIndex < 0)
        return;
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, m_buffers[static_cast<size_t>(m_mappedIndex)]);
    m_gl.glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    m_gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    m_mappedIndex = -1;
}

void GlReadback::restart()
{
    release();
    m_tags = {};
    m_writeIndex = 0;
    m_queued = 0;
}

void GlReadback::prime(GLuint fbo)
{
    if (!hasBuffers())
        return;
    restart();
    for (int i = 0; i < kRingSize; ++i)
        enqueue(fbo);
    // Each round maps the oldest buffer and fills it again, so all three get mapped.
    for (int i = 0; i < kRingSize; ++i) {
        dequeue(nullptr, nullptr);
        release();
        enqueue(fbo);
    }
    restart();
}

void GlReadback::releaseGl()
{
    if (hasBuffers()) {
        release();
        m_gl.glDeleteBuffers(kRingSize, m_buffers.data());
    }
    m_buffers = {0, 0, 0};
    m_tags = {};
    m_width = 0;
    m_height = 0;
    m_writeIndex = 0;
    m_queued = 0;
    m_mappedIndex = -1;
}

}  // namespace lagwell
