#include "LogRepeatLimiter.h"

namespace lagwell {

LogRepeatLimiter::LogRepeatLimiter(int64_t intervalMs) : m_intervalMs(intervalMs) {}

bool LogRepeatLimiter::admit(int64_t nowMs, uint64_t* heldBack)
{
    std::lock_guard lock(m_mutex);
    // A clock that went backwards admits too, so a line is never held for good.
    const bool due = !m_hasAdmitted || nowMs - m_lastAdmittedMs >= m_intervalMs || nowMs < m_lastAdmittedMs;
    if (!due) {
        ++m_heldBack;
        return false;
    }
    if (heldBack)
        *heldBack = m_heldBack;
    m_hasAdmitted = true;
    m_lastAdmittedMs = nowMs;
    m_heldBack = 0;
    return true;
}

}  // namespace lagwell
