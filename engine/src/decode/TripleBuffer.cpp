#include "TripleBuffer.h"

namespace lagwell {

void TripleBuffer::publish(std::shared_ptr<const DecodedFrame> frame)
{
    std::shared_ptr<const DecodedFrame> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped = std::move(m_latest);
        m_latest = std::move(frame);
        m_fresh = true;
    }
    // `dropped` is freed here, outside the lock.
}

std::shared_ptr<const DecodedFrame> TripleBuffer::acquire()
{
    std::shared_ptr<const DecodedFrame> previous;
    std::lock_guard lock(m_mutex);
    if (m_fresh) {
        previous = std::move(m_front);
        m_front = m_latest;
        m_fresh = false;
    }
    return m_front;
}

}  // namespace lagwell
