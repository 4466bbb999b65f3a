#include "PictureQueue.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace lagwell {

PictureQueue::PictureQueue(size_t capacity)
    : m_capacity(capacity), m_slots(capacity + 2), m_queued(capacity)
{
    assert(capacity > 0);
    m_free.reserve(m_slots.size());
    // Slot 0 is handed out first, so a steady stream keeps to few buffers.
    for (size_t i = m_slots.size(); i > 0; --i)
        m_free.push_back(static_cast<int32_t>(i - 1));
}

PictureQueue::PushOutcome PictureQueue::push(const uint8_t* rgba, int32_t width, int32_t height,
                                             int64_t sourceStrideBytes, int64_t ptsUs)
{
    // A stride shorter than a row is kept as it is, for the encoder to refuse.
    const size_t rowBytes = size_t(std::min<int64_t>(int64_t(width) * 4, std::max<int64_t>(sourceStrideBytes, 0)));
    const size_t bytes = rowBytes * size_t(height);
    int32_t slot = -1;
    bool droppedOldest = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_free.empty()) {
            slot = m_free.back();
            m_free.pop_back();
        } else if (m_count > 0) {
            slot = popOldestLocked();
            droppedOldest = true;
        } else {
            return PushOutcome::Refused;
        }
    }

    // The slot is this thread's alone until it is queued.
    Slot& target = m_slots[size_t(slot)];
    if (target.sizeBytes < bytes || !target.bytes) {
        // Not zeroed: every byte is written below.
        target.bytes.reset(new uint8_t[bytes]);
        target.sizeBytes = bytes;
    }
    uint8_t* out = target.bytes.get();
    if (int64_t(rowBytes) == sourceStrideBytes) {
        std::memcpy(out, rgba, bytes);
    } else {
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(out + size_t(row) * rowBytes, rgba + int64_t(row) * sourceStrideBytes, rowBytes);
    }
    target.picture.slot = slot;
    target.picture.rgba = out;
    target.picture.width = width;
    target.picture.height = height;
    target.picture.strideBytes = static_cast<int32_t>(rowBytes);
    target.picture.ptsUs = ptsUs;

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count >= m_capacity) {
            m_free.push_back(popOldestLocked());
            droppedOldest = true;
        }
        pushNewestLocked(slot);
    }
    m_queuedCv.notify_all();
    return droppedOldest ? PushOutcome::QueuedDroppingOldest : PushOutcome::Queued;
}

bool PictureQueue::take(std::chrono::steady_clock::time_point deadline, Picture* picture)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_queuedCv.wait_until(lock, deadline, [this] { return m_count > 0 || m_interrupted; });
    if (m_count == 0 || m_interrupted)
        return false;
    *picture = m_slots[size_t(popOldestLocked())].picture;
    return true;
}

void PictureQueue::release(const Picture& picture)
{
    if (picture.slot < 0 || size_t(picture.slot) >= m_slots.size())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free.push_back(picture.slot);
}

void PictureQueue::prepare(int32_t width, int32_t height, size_t count)
{
    const size_t bytes = size_t(std::max(width, 0)) * size_t(std::max(height, 0)) * 4;
    for (size_t made = 0; made < count && bytes > 0; ++made) {
        int32_t slot = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // The free slots handed out next are the last ones.
            for (size_t i = m_free.size(); i > 0 && slot < 0; --i) {
                if (m_slots[size_t(m_free[i - 1])].sizeBytes < bytes) {
                    slot = m_free[i - 1];
                    m_free.erase(m_free.begin() + std::ptrdiff_t(i - 1));
                }
            }
            if (slot < 0)
                return;
        }
        Slot& entry = m_slots[size_t(slot)];
        entry.bytes.reset(new uint8_t[bytes]);
        std::memset(entry.bytes.get(), 0, bytes);
        entry.sizeBytes = bytes;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(slot);
    }
}

void PictureQueue::interrupt()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interrupted = true;
    }
    m_queuedCv.notify_all();
}

void PictureQueue::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_count > 0)
        m_free.push_back(popOldestLocked());
    m_interrupted = false;
}

size_t PictureQueue::freeBuffers()
{
    std::vector<std::unique_ptr<uint8_t[]>> unused;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped = m_count;
        while (m_count > 0)
            m_free.push_back(popOldestLocked());
        unused.reserve(m_free.size());
        for (int32_t slot : m_free) {
            Slot& entry = m_slots[size_t(slot)];
            unused.push_back(std::move(entry.bytes));
            entry.sizeBytes = 0;
            entry.picture = Picture {};
        }
    }
    // The memory goes back outside the lock.
    return dropped;
}

size_t PictureQueue::queuedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

int32_t PictureQueue::popOldestLocked()
{
    const int32_t slot = m_queued[m_head];
    m_head = (m_head + 1) % m_capacity;
    --m_count;
    return slot;
}

void PictureQueue::pushNewestLocked(int32_t slot)
{
    m_queued[(m_head + m_count) % m_capacity] = slot;
    ++m_count;
}

}  // namespace lagwell
