#pragma once

// The steady clock in nanoseconds: the one time base of capture, drawing
// and recording (CLOCK_MONOTONIC, as ALSA's monotonic stamps).

#include <chrono>
#include <cstdint>

namespace lagwell {

inline int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace lagwell
