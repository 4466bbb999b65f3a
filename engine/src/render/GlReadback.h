#pragma once

#include "GlFunctions.h"

#include <array>
#include <cstdint>

namespace lagwell {

// Asynchronous read-back of one framebuffer size through a ring of three
// pixel-pack buffers: a picture is read into a buffer when it is queued and
// mapped only two queued pictures later, so the caller never waits for the
// GPU to finish the picture it has just drawn.
//
// Render thread only, context current. The buffers are created by
// ensureInit() and deleted only by releaseGl(); the destructor makes no GL
// call.
class GlReadback {
public:
    static constexpr int kRingSize = 3;

    // What travels with a picture from enqueue() to dequeue(); {} is all zero.
    struct Tag {
        int64_t slot;    // the caller's count of the picture
        int64_t slotNs;  // the steady-clock moment the picture stands for
    };

    // gl must outlive the read-back.
    explicit GlReadback(const GlFunctions& gl);
    GlReadback(const GlReadback&) = delete;
    GlReadback& operator=(const GlReadback&) = delete;

    // (Re)creates the three buffers for width x height RGBA pictures when the
    // size changed or they do not exist; nothing for a size below 1.
    void ensureInit(int width, int height);
    // Reads the whole of fbo (left bound) into the next buffer; tag travels
    // with the picture and comes back from dequeue().
    void enqueue(GLuint fbo, Tag tag = {});
    // Maps the oldest buffer once three pictures are queued: RGBA rows
    // bottom-up, stride width x 4, valid until release(). False before that
    // or when mapping fails.
    bool dequeue(const uint8_t** data, int* strideBytes, Tag* tag = nullptr);
    // Unmaps what dequeue() mapped; nothing when nothing is mapped.
    void release();
    // Forgets the queued pictures (unmapping a mapped one) and keeps the
    // buffers: the next dequeue() again waits for three new pictures.
    void restart();
    // Reads fbo (left bound) into every buffer and maps each once, so that
    // the driver has made their memory ready before the first real picture;
    // then restarts. Nothing without buffers.
    void prime(GLuint fbo);
    // Deletes the buffers; the read-back is then as freshly constructed.
    void releaseGl();

    int width() const { return m_width; }
    int height() const { return m_height; }
    int64_t queued() const { return m_queued; }
    bool hasBuffers() const { return m_buffers[0] != 0; }

private:
    size_t pictureBytes() const;

    const GlFunctions& m_gl;
    int32_t m_width = 0;  // 0 before initialisation
    int32_t m_height = 0;
    std::array<GLuint, kRingSize> m_buffers {0, 0, 0};
    std::array<Tag, kRingSize> m_tags {};
    int32_t m_writeIndex = 0;  // slot the next read-back goes into
    int64_t m_queued = 0;      // read-backs queued since initialisation
    int32_t m_mappedIndex = -1;  // -1 = none mapped
};

}  // namespace lagwell
