#include "CompositePacer.h"

#include "LineFit.h"

#include <algorithm>
#include <cmath>

namespace lagwell {
namespace {

// A first guess of the refresh interval: the median of this many frame
// intervals...
constexpr size_t kGuessIntervals = 16;
// ...made again when the median of the latest ones leaves the interval this
// far (another display).
constexpr size_t kWatchIntervals = 32;
constexpr double kRateChangeShare = 0.25;
// The interval is then the slope of the frames' moments over their refresh
// count, fitted over this many frames (4 s at 60 Hz).
constexpr size_t kFitFrames = 240;
constexpr int64_t kMinFitRefreshes = 30;
// The two fits of the interval (see refitInterval) agree within this share.
constexpr double kFitsAgreeShare = 0.025;
// The frames' refresh moments follow the frames through an exponential mean
// over about this many frames: a frame's lateness hardly moves them.
constexpr int64_t kSmoothingFrames = 16;
// A slot halfway between two refreshes within this share of an interval
// (at most kHysteresisNs) goes where the last such slot went.
constexpr double kMaxHalfwayShare = 0.08;

int64_t median(const std::deque<int64_t>& values, std::vector<int64_t>& scratch)
{
    scratch.assign(values.begin(), values.end());
    const auto middle = scratch.begin() + std::ptrdiff_t(scratch.size() / 2);
    std::nth_element(scratch.begin(), middle, scratch.end());
    return *middle;
}

}  // namespace

int64_t CompositePacer::slotNs(int64_t slot) const
{
    return m_originNs + slot * kSlotNs;
}

int64_t CompositePacer::refreshMomentNs(int64_t nowNs)
{
    const int64_t previousNs = m_lastFrameNs;
    if (previousNs != 0 && nowNs > previousNs) {
        m_intervals.push_back(nowNs - previousNs);
        if (m_intervals.size() > kWatchIntervals)
            m_intervals.pop_front();
    }
    m_lastFrameNs = nowNs;
    if (m_intervals.size() < kGuessIntervals)
        return nowNs;
    const int64_t recent = median(m_intervals, m_sorted);
    if (m_refreshNs == 0 || std::abs(double(recent - m_refreshNs)) > kRateChangeShare * double(m_refreshNs)) {
        // A first guess, or another display: learnt afresh from here.
        m_refreshNs = recent;
        m_phaseNs = nowNs;
        m_phaseIndex = 0;
        m_countIndex = 0;
        m_framesSinceGuess = 0;
        m_points.clear();
        m_points.push_back({0, 0, nowNs});
        return nowNs;
    }

    // Whole refreshes since the last frame, on the learnt line; the moment
    // is eased toward the frame, so its lateness hardly shows.
    const int64_t periods = std::llround(double(nowNs - m_phaseNs) / double(m_refreshNs));
    const int64_t predicted = m_phaseNs + periods * m_refreshNs;
    // While the line is young the frames steer it harder.
    const int64_t smoothing = std::min<int64_t>(kSmoothingFrames, 2 + ++m_framesSinceGuess / 4);
    m_phaseNs = predicted + (nowNs - predicted) / smoothing;
    m_phaseIndex += periods;
    // The same refreshes counted from the interval alone.
    m_countIndex += std::max<int64_t>(0, std::llround(double(nowNs - previousNs) / double(m_refreshNs)));
    m_points.push_back({m_phaseIndex, m_countIndex, nowNs});
    if (m_points.size() > kFitFrames)
        m_points.pop_front();
    refitInterval();
    return m_phaseNs;
}

// The interval: the least-squares slope of the frames' moments over their
// refresh count, which a frame's lateness hardly moves over seconds. Two
// counts, each blind where the other sees: along the phase, a learnt
// interval a few percent off drifts the phase until it miscounts, and the
// fit through those counts stays off; from each interval alone, frames that
// come later and later and then on time again are miscounted, as a loaded
// machine draws them. Where the two fits part, the one nearer the frames'
// own median interval stands.
void CompositePacer::refitInterval()
{
    if (m_points.back().phaseIndex - m_points.front().phaseIndex < kMinFitRefreshes)
        return;
    const auto ns = [](const FramePoint& p) { return p.ns; };
    double alongPhase = 0;
    double fromIntervals = 0;
    if (!leastSquaresSlope(m_points, [](const FramePoint& p) { return p.phaseIndex; }, ns, &alongPhase))
        return;
    if (!leastSquaresSlope(m_points, [](const FramePoint& p) { return p.countIndex; }, ns, &fromIntervals))
        fromIntervals = alongPhase;
    double slope = alongPhase;
    if (std::abs(alongPhase - fromIntervals) > kFitsAgreeShare * alongPhase) {
        m_sorted.clear();
        for (size_t i = 1; i < m_points.size(); ++i)
            m_sorted.push_back(m_points[i].ns - m_points[i - 1].ns);
        const auto middle = m_sorted.begin() + std::ptrdiff_t(m_sorted.size() / 2);
        std::nth_element(m_sorted.begin(), middle, m_sorted.end());
        const double own = double(*middle);
        if (std::abs(fromIntervals - own) < std::abs(alongPhase - own))
            slope = fromIntervals;
    }
    if (slope >= 1.0)  // frames out of order leave no interval to learn
        m_refreshNs = std::llround(slope);
}

int64_t CompositePacer::onFrame(int64_t nowNs)
{
    const int64_t refreshNs = refreshMomentNs(nowNs);
    if (!m_hasGrid) {
        m_hasGrid = true;
        m_originNs = refreshNs;
        m_nextSlot = 1;
        return 0;
    }
    if (refreshNs < m_originNs)
        return -1;

    // The latest slot at or before this frame's refresh is due here (its
    // nearest refresh was this or, missed by a stall, an earlier one)...
    int64_t slot = (refreshNs - m_originNs) / kSlotNs;
    // ...and so is the next one when this refresh is nearer it than the next.
    if (m_refreshNs > 0) {
        const int64_t toNextNs = slotNs(slot + 1) - refreshNs;  // > 0
        const double fromHalf = double(toNextNs) / double(m_refreshNs) - 0.5;
        const double halfway =
            std::min(kMaxHalfwayShare, double(kHysteresisNs) / double(m_refreshNs));
        const bool early = std::abs(fromHalf) <= halfway ? m_halfwayEarly : fromHalf < 0;
        // Whatever decides a slot near halfway decides the next such one,
        // however the learnt refresh wavers about it.
        if (std::abs(fromHalf) <= 2 * halfway)
            m_halfwayEarly = early;
        if (early)
            ++slot;
    }
    if (slot < m_nextSlot)
        return -1;
    // A stall that let slots pass composites the latest one due; the grid stays.
    m_nextSlot = slot + 1;
    return slot;
}

}  // namespace lagwell
