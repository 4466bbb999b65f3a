#include "RateMeter.h"

namespace lagwell {

void RateMeter::count(int64_t nowMs)
{
    if (m_windowStartMs == 0) {
        m_windowStartMs = nowMs;
        m_count = 1;
        return;
    }
    ++m_count;
    const int64_t elapsedMs = nowMs - m_windowStartMs;
    if (elapsedMs >= 1000) {
        m_rate = static_cast<double>(m_count) * 1000.0 / static_cast<double>(elapsedMs);
        m_windowStartMs = nowMs;
        m_count = 0;
    }
}

}  // namespace lagwell
