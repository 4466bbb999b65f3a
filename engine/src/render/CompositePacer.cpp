#include "CompositePacer.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace lagwell {
namespace {

// A first guess of the refresh interval: the median of this many frame
// intervals...
constexpr size_t kGuessIntervals = 16;
// ...made again when the median of the latest ones leaves the interval this
// far (another display).
constexpr size_t kWatchIntervals = 32;
constexpr double kRateChangeShare = 0.25;
// The interval is measured over spans of these many frames, each counting
// its refreshes with the interval the span before measured...
constexpr size_t kSpanFrames[] = {1, 2, 4, 8, 16, 32};
// ...as the median over the latest this many spans (at least kMinSpans).
constexpr size_t kSpans = 48;
constexpr size_t kMinSpans = 16;
// Measured every few frames: it moves slowly.
constexpr int64_t kMeasureEveryFrames = 4;
constexpr size_t kMeasurements = 9;
// The frames' refresh moments follow the frames through an exponential mean
// over about this many frames: a frame's lateness hardly moves them.
constexpr int64_t kSmoothingFrames = 16;
// A slot halfway between two refreshes within this share of an interval
// (at most kHysteresisNs) goes where the last such slot went.
constexpr double kMaxHalfwayShare = 0.08;

// The median of `values`, which it reorders.
template <typename T>
T medianOf(std::vector<T>& values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

int64_t CompositePacer::slotNs(int64_t slot) const
{
    return m_originNs + slot * kSlotNs;
}

// The interval from the latest frames: a short span counts its refreshes
// right even with the guess well off, a long one measures the interval
// finely once the shorter ones have counted, and the medians leave out the
// spans a late frame bends. Where a span's measure agrees with the interval
// learnt before, as nearly as the next span's count needs, the next span
// counts with the learnt one, which the frames' jitter has not shaken.
double CompositePacer::measuredIntervalNs(double guessNs, double learntNs)
{
    double countNs = guessNs;
    double intervalNs = guessNs;
    for (const size_t span : kSpanFrames) {
        if (m_frames.size() < span + kMinSpans)
            break;
        m_spans.clear();
        for (size_t i = m_frames.size() - 1; i >= span && m_spans.size() < kSpans; --i) {
            const double lengthNs = double(m_frames[i] - m_frames[i - span]);
            const double refreshes = std::round(lengthNs / countNs);
            if (refreshes >= 1)  // not two frames on one refresh
                m_spans.push_back(lengthNs / refreshes);
        }
        if (m_spans.size() < kMinSpans)
            break;
        intervalNs = medianOf(m_spans);
        const bool agrees = std::abs(intervalNs - learntNs) < learntNs / double(8 * span);
        countNs = agrees ? learntNs : intervalNs;
    }
    return intervalNs;
}

int64_t CompositePacer::refreshMomentNs(int64_t nowNs)
{
    const int64_t previousNs = m_frames.empty() ? 0 : m_frames.back();
    if (previousNs != 0 && nowNs <= previousNs)
        return m_refreshNs > 0 ? m_phaseNs : nowNs;  // out of order: nothing to learn
    if (previousNs != 0) {
        m_intervals.push_back(nowNs - previousNs);
        if (m_intervals.size() > kWatchIntervals)
            m_intervals.pop_front();
    }
    m_frames.push_back(nowNs);
    if (m_frames.size() > kSpanFrames[std::size(kSpanFrames) - 1] + kSpans)
        m_frames.pop_front();
    if (m_intervals.size() < kGuessIntervals)
        return nowNs;
    m_sorted.assign(m_intervals.begin(), m_intervals.end());
    const int64_t recent = medianOf(m_sorted);
    if (m_refreshNs == 0 || std::abs(double(recent - m_refreshNs)) > kRateChangeShare * double(m_refreshNs)) {
        // A first guess, or another display: learnt afresh from here.
        m_frames.erase(m_frames.begin(), m_frames.end() - std::ptrdiff_t(std::min(m_frames.size(), kGuessIntervals + 1)));
        m_refreshNs = std::llround(measuredIntervalNs(double(recent), 0));
        m_phaseNs = nowNs;
        m_framesSinceGuess = 0;
        m_measured.clear();
        return nowNs;
    }

    // Whole refreshes since the last frame, on the learnt line (as learnt
    // before this frame, which may end a stall); the moment is eased toward
    // the frame, so its lateness hardly shows.
    const int64_t periods = std::llround(double(nowNs - m_phaseNs) / double(m_refreshNs));
    const int64_t predicted = m_phaseNs + periods * m_refreshNs;
    // While the line is young the frames steer it harder.
    const int64_t smoothing = std::min<int64_t>(kSmoothingFrames, 2 + ++m_framesSinceGuess / 4);
    m_phaseNs = predicted + (nowNs - predicted) / smoothing;
    if (m_framesSinceGuess % kMeasureEveryFrames == 0) {
        // The median of the latest measurements: one a few late frames bent
        // does not count.
        m_measured.push_back(
            std::max<int64_t>(1, std::llround(measuredIntervalNs(double(recent), double(m_refreshNs)))));
        if (m_measured.size() > kMeasurements)
            m_measured.pop_front();
        m_sorted.assign(m_measured.begin(), m_measured.end());
        m_refreshNs = medianOf(m_sorted);
    }
    return m_phaseNs;
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
