#pragma once

#include <array>
#include <chrono>
#include <cstddef>

namespace lagwell {

// How long before a picture is due its decode has to start: the longest of
// the recent decodes plus the longest recent lateness of a timed wake-up,
// plus a margin. Both are measured on the steady clock, so time the thread
// spent preempted counts. One thread only (the decode thread).
class DecodeLead {
public:
    using Duration = std::chrono::microseconds;

    static constexpr size_t kSamples = 16;  // about half a second at 30 fps
    static constexpr Duration kMargin {2000};
    static constexpr Duration kUnmeasuredDecode {15000};  // until the first decode is timed

    void recordDecode(Duration took);
    // How much later than asked a timed wait ended (negative counts as 0).
    void recordWakeLateness(Duration late);

    Duration lead() const;

    // Forgets every sample (a new stream may decode at another speed).
    void clear();

private:
    struct Samples {
        std::array<Duration, kSamples> values {};
        size_t next = 0;
        size_t count = 0;
        void add(Duration value);
        Duration max() const;
    };

    Samples m_decodes;
    Samples m_lateness;
};

}  // namespace lagwell
