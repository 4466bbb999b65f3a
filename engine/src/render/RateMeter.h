#pragma once

#include <cstdint>

namespace lagwell {

// Events per second over windows of at least one second, for statistics.
// Not thread-safe: one owner thread (the render thread).
class RateMeter {
public:
    // Counts one event at nowMs (steady clock, milliseconds).
    void count(int64_t nowMs);
    // The rate of the last completed window; 0 until one completes.
    double rate() const { return m_rate; }

private:
    double m_rate = 0.0;
    int32_t m_count = 0;
    int64_t m_windowStartMs = 0;  // 0 = not started
};

}  // namespace lagwell
