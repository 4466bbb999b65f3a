#pragma once

// Window frames as a real screen makes them, for tests of anything paced by
// them: one at each refresh of a display of a given rate (or, unsynced, a
// timer that waits its interval after each frame), each drawn late by its
// work (0 to `jitterNs`, at random), and now and then a stall that holds the
// render thread, so the refreshes it covers draw nothing. Times are
// nanoseconds from any origin; a test may sleep to them.

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>

namespace lagwell::test {

struct DisplayMode {
    const char* name;
    double hz;            // refresh rate; 0: an unsynced timer of timerNs
    int64_t jitterNs;     // a frame is drawn up to this late
    int64_t stallEveryNs;  // 0: no stalls
    int64_t stallNs;
    int64_t timerNs = 16'000'000;
    int64_t firstLateNs = 0;  // the first frame's extra lateness (a slow first frame)
    // A loaded machine: every loadEveryNs, for loadNs, each frame comes up to
    // loadLateNs later still, and a host a refresh behind draws the next one.
    int64_t loadEveryNs = 0;
    int64_t loadNs = 0;
    int64_t loadLateNs = 0;
    // A machine busy from the start, for this long: about a quarter of the
    // frames come 5-17 ms late and one in fifty 80-110 ms late.
    int64_t busyStartNs = 0;
};

// Tests named by the display.
inline void PrintTo(const DisplayMode& mode, std::ostream* out)
{
    *out << mode.name;
}

class DisplayFrames {
public:
    struct Frame {
        int64_t refreshNs;  // the refresh (or timer tick) it belongs to
        int64_t drawnNs;    // when the host draws it
    };

    DisplayFrames(const DisplayMode& mode, int64_t startNs, uint32_t seed = 1)
        : m_mode(mode), m_startNs(startNs), m_random(seed), m_jitter(0, mode.jitterNs > 0 ? mode.jitterNs : 0),
          m_nextStallNs(mode.stallEveryNs > 0 ? startNs + mode.stallEveryNs : INT64_MAX),
          m_load(0, mode.loadLateNs > 0 ? mode.loadLateNs : 0), m_busy(seed + 1)
    {
    }

    // The next frame the host draws.
    Frame next()
    {
        for (;;) {
            int64_t refresh = nextTick();
            if (refresh >= m_nextStallNs + m_mode.stallNs)
                m_nextStallNs += m_mode.stallEveryNs;
            if (refresh >= m_nextStallNs) {
                // The render thread is held: a display's refreshes pass
                // undrawn; a timer fires when the thread is back.
                if (m_mode.hz > 0)
                    continue;
                refresh = m_nextStallNs + m_mode.stallNs;
            }
            // A host behind draws the next refresh it can make.
            if (m_mode.hz > 0 && refresh + refreshIntervalNs() < m_lastDrawnNs)
                continue;
            int64_t drawn = refresh + m_jitter(m_random) + (m_ticks == 1 ? m_mode.firstLateNs : 0);
            if (inLoad(refresh))
                drawn += m_load(m_random);
            if (refresh < m_startNs + m_mode.busyStartNs)
                drawn += busyLateNs();
            drawn = std::max(drawn, m_lastDrawnNs);
            m_lastDrawnNs = drawn;
            return {refresh, drawn};
        }
    }

    // Whether `ns` lies within `marginNs` of a stall that has begun.
    bool nearStall(int64_t ns, int64_t marginNs) const
    {
        if (m_mode.stallEveryNs <= 0)
            return false;
        const int64_t sinceFirst = ns - (m_startNs + m_mode.stallEveryNs) + marginNs;
        if (sinceFirst < 0)
            return false;
        const int64_t intoStall = sinceFirst % m_mode.stallEveryNs;
        return intoStall < m_mode.stallNs + 2 * marginNs;
    }

    // Whether `ns` lies within `marginNs` of a stretch of load.
    bool nearLoad(int64_t ns, int64_t marginNs) const
    {
        return inLoad(ns + marginNs) || inLoad(ns - marginNs) || inLoad(ns);
    }

    int64_t refreshIntervalNs() const
    {
        return m_mode.hz > 0 ? int64_t(1e9 / m_mode.hz) : m_mode.timerNs;
    }

private:
    int64_t busyLateNs()
    {
        const double share = std::uniform_real_distribution<double>(0, 1)(m_busy);
        if (share < 0.23)
            return std::uniform_int_distribution<int64_t>(5'000'000, 17'000'000)(m_busy);
        if (share < 0.25)
            return std::uniform_int_distribution<int64_t>(80'000'000, 110'000'000)(m_busy);
        return 0;
    }

    bool inLoad(int64_t ns) const
    {
        if (m_mode.loadEveryNs <= 0 || ns < m_startNs + m_mode.loadEveryNs)
            return false;
        return (ns - m_startNs) % m_mode.loadEveryNs < m_mode.loadNs;
    }

    int64_t nextTick()
    {
        if (m_mode.hz > 0)
            return m_startNs + int64_t(double(m_ticks++) * 1e9 / m_mode.hz);
        // A timer started after each frame: its phase wanders with the work.
        const int64_t tick = m_ticks++ == 0 ? m_startNs : m_lastDrawnNs + m_mode.timerNs;
        return tick;
    }

    DisplayMode m_mode;
    int64_t m_startNs;
    std::mt19937 m_random;
    std::uniform_int_distribution<int64_t> m_jitter;
    int64_t m_ticks = 0;
    int64_t m_lastDrawnNs = 0;
    int64_t m_nextStallNs;  // the next stall, or the one under way
    std::uniform_int_distribution<int64_t> m_load;
    std::mt19937 m_busy;  // apart, so the other frames are as without it
};

}  // namespace lagwell::test
