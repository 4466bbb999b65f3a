#pragma once

#include "DecodedFrame.h"

#include <memory>
#include <mutex>

namespace lagwell {

// Hands decoded pictures from a panel's decoder thread to the render thread.
// Overflow policy: a picture the renderer never took is dropped when the next
// one is published.
class TripleBuffer {
public:
    // Decoder thread.
    void publish(std::shared_ptr<const DecodedFrame> frame);

    // Render thread: the newest picture (empty until the first publish). The
    // returned pointer keeps the picture alive while it is drawn.
    std::shared_ptr<const DecodedFrame> acquire();

private:
    std::mutex m_mutex;
    // guards: everything below
    std::shared_ptr<const DecodedFrame> m_latest;
    std::shared_ptr<const DecodedFrame> m_front;
    bool m_fresh = false;
};

}  // namespace lagwell
