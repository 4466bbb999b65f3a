#pragma once

#include "DecodedFrame.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lagwell {

// Decoded pictures for one decoder thread, taken back for reuse once they
// have been published and let go: a picture is written again only when the
// pool holds its last reference, so a published picture never changes and
// its planes stay allocated from one picture to the next. Overflow: when
// every pooled picture is still held elsewhere a new one is made and takes
// the place of the oldest in the pool. One thread only.
class PicturePool {
public:
    static constexpr size_t kPoolSize = 4;

    // The picture to fill next, with packed planes for `layout` at
    // width x height (I420 chroma ((w + 1) / 2) x ((h + 1) / 2); NV12 chroma
    // rows of 2 * ((w + 1) / 2) bytes). Planes are reallocated and zeroed
    // only when the geometry changes; otherwise they hold an old picture.
    // Calling it again before take() returns the same picture.
    DecodedFrame& prepare(DecodedFrame::Layout layout, int32_t width, int32_t height);

    // Hands over the prepared picture for publishing; the pool keeps a
    // reference to reuse it later. Empty when nothing was prepared.
    std::shared_ptr<DecodedFrame> take();

    // Drops every picture (the ones still held elsewhere live on there).
    void clear();

private:
    std::vector<std::shared_ptr<DecodedFrame>> m_pool;
    size_t m_replaceNext = 0;
    std::shared_ptr<DecodedFrame> m_current;  // being filled; empty between pictures
};

}  // namespace lagwell
