#pragma once

// When the window's frames make composites. Slots lie on the steady clock,
// 30 a second from the first frame seen, and each slot goes to the window
// frame whose refresh is nearest it: at 60 Hz every second frame, at 50 Hz
// 40/40/20 ms apart, as even as the display allows. The refresh moments are
// learnt from the frames themselves (the interval measured over spans of
// frames from one to dozens long, with medians a busy machine's late frames
// hardly move; the phase eased along them), so the jitter of a frame's draw
// moment decides nothing; a slot halfway between two refreshes goes where the last such
// slot went (a little hysteresis), so a display whose clock drifts against
// the steady clock changes step once per refresh of drift, not back and
// forth. A stall skips the whole slots it missed and keeps the grid.
//
// Not thread-safe: the render thread calls it, once per window frame.

#include <cstdint>
#include <deque>
#include <vector>

namespace lagwell {

class CompositePacer {
public:
    static constexpr int64_t kSlotsPerSecond = 30;
    // Whole nanoseconds: a slot's moment is a whole count of them.
    static constexpr int64_t kSlotNs = 1'000'000'000 / kSlotsPerSecond;
    // A slot this near halfway between two refreshes keeps to the side the
    // last such slot took.
    static constexpr int64_t kHysteresisNs = 1'000'000;

    // One window frame, drawn (or its after-frame step run) at nowNs on the
    // steady clock. The slot it composites, or -1 when none is due. Slots
    // only rise; every slot between two returned ones was missed by a stall.
    int64_t onFrame(int64_t nowNs);

    // The steady-clock moment of a slot (slot 0 is the first frame's refresh).
    int64_t slotNs(int64_t slot) const;

    // The refresh interval learnt from the frames; 0 before a few are seen.
    int64_t refreshIntervalNs() const { return m_refreshNs; }

private:
    // Learns from one frame; the moment of the refresh it was drawn for.
    int64_t refreshMomentNs(int64_t nowNs);
    // The interval the latest frames give, counted from a guess, and from
    // the interval learnt before where they agree with it (0: none).
    double measuredIntervalNs(double guessNs, double learntNs);

    bool m_hasGrid = false;
    int64_t m_originNs = 0;     // slot 0
    int64_t m_nextSlot = 0;     // the next slot not yet composited
    bool m_halfwayEarly = false;  // a slot halfway goes to the refresh before it

    std::deque<int64_t> m_frames;     // the latest frames' moments
    std::deque<int64_t> m_intervals;  // the latest frame-to-frame intervals
    std::vector<int64_t> m_sorted;    // scratch for their median
    std::vector<double> m_spans;      // scratch: one span's interval estimates
    std::deque<int64_t> m_measured;   // the latest measurements of the interval
    int64_t m_refreshNs = 0;          // 0: not learnt
    int64_t m_phaseNs = 0;            // the latest frame's refresh moment, eased along the frames
    int64_t m_framesSinceGuess = 0;
};

}  // namespace lagwell
