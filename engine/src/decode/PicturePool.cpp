#include "PicturePool.h"

#include <atomic>

namespace lagwell {

DecodedFrame& PicturePool::prepare(DecodedFrame::Layout layout, int32_t width, int32_t height)
{
    if (!m_current) {
        for (const auto& pooled : m_pool) {
            if (pooled.use_count() == 1) {
                // Pairs with the release in the last other holder's reference
                // drop, so its reads of the planes happen before they are written.
                std::atomic_thread_fence(std::memory_order_acquire);
                m_current = pooled;
                break;
            }
        }
        if (!m_current) {
            m_current = std::make_shared<DecodedFrame>();
            if (m_pool.size() < kPoolSize) {
                m_pool.push_back(m_current);
            } else {
                m_pool[m_replaceNext] = m_current;
                m_replaceNext = (m_replaceNext + 1) % kPoolSize;
            }
        }
    }
    DecodedFrame& picture = *m_current;
    if (picture.layout == layout && picture.width == width && picture.height == height &&
        !picture.planes[0].empty())
        return picture;
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const size_t chromaW = (w + 1) / 2;
    const size_t chromaH = (h + 1) / 2;
    picture.layout = layout;
    picture.width = width;
    picture.height = height;
    if (layout == DecodedFrame::Layout::I420) {
        picture.strides = {width, static_cast<int32_t>(chromaW), static_cast<int32_t>(chromaW)};
        picture.planes[0].assign(w * h, 0);
        picture.planes[1].assign(chromaW * chromaH, 0);
        picture.planes[2].assign(chromaW * chromaH, 0);
    } else {
        // Whole U,V pairs: an odd width still gets its last pair.
        picture.strides = {width, static_cast<int32_t>(2 * chromaW), 0};
        picture.planes[0].assign(w * h, 0);
        picture.planes[1].assign(2 * chromaW * chromaH, 0);
        picture.planes[2] = {};
    }
    return picture;
}

std::shared_ptr<DecodedFrame> PicturePool::take()
{
    return std::move(m_current);
}

void PicturePool::clear()
{
    m_current.reset();
    m_pool.clear();
    m_replaceNext = 0;
}

}  // namespace lagwell
