#pragma once

// Keeps one repeating log line from flooding standard error: the first line
// is written, repeats within the interval are only counted, and the next line
// written once the interval has passed carries that count. One limiter per
// message; logLineLimited (Log.h) is its usual caller. Any thread.

#include <cstdint>
#include <mutex>

namespace lagwell {

class LogRepeatLimiter {
public:
    static constexpr int64_t kDefaultIntervalMs = 1000;

    explicit LogRepeatLimiter(int64_t intervalMs = kDefaultIntervalMs);

    LogRepeatLimiter(const LogRepeatLimiter&) = delete;
    LogRepeatLimiter& operator=(const LogRepeatLimiter&) = delete;

    // True when a line may be written at `nowMs` (a monotonic clock in
    // milliseconds): the first call, or the first one at least the interval
    // after the last admitted line. Then `*heldBack` (may be null) receives
    // the number of calls refused since that line, and the count restarts.
    // A refused call is only counted.
    bool admit(int64_t nowMs, uint64_t* heldBack);

private:
    const int64_t m_intervalMs;

    std::mutex m_mutex;
    // guards: everything below
    bool m_hasAdmitted = false;
    int64_t m_lastAdmittedMs = 0;
    uint64_t m_heldBack = 0;
};

}  // namespace lagwell
