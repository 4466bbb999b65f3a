#include "FrameRing.h"

#include "Log.h"

namespace lagwell {

FrameRing::FrameRing(int64_t windowMs) : FrameRing(windowMs, Limits {}) {}

FrameRing::FrameRing(int64_t windowMs, Limits limits) : m_windowMs(windowMs), m_limits(limits) {}

void FrameRing::add(EncodedFrame frame)
{
    std::lock_guard lock(m_mutex);
    frame.seq = m_nextSeq++;
    const int64_t cutoffMs = frame.wallMs - m_windowMs;
    m_bytes += frame.data.size();
    m_frames.push_back(std::move(frame));
    evictByWindowLocked(cutoffMs);
    enforceLimitsLocked();
}

void FrameRing::evictByWindowLocked(int64_t cutoffMs)
{
    // Find the last keyframe in the leading run of frames at or before the
    // cutoff; everything in front of it goes.
    size_t lastKey = 0;
    bool haveKey = false;
    for (size_t i = 0; i < m_frames.size() && m_frames[i].wallMs <= cutoffMs; ++i) {
        if (m_frames[i].keyframe) {
            lastKey = i;
            haveKey = true;
        }
    }
    if (!haveKey)
        return;
    for (size_t i = 0; i < lastKey; ++i)
        popFrontLocked();
}

void FrameRing::enforceLimitsLocked()
{
    if (m_frames.size() <= m_limits.maxFrames && m_bytes <= m_limits.maxBytes)
        return;
    if (!m_limitLogged) {
        m_limitLogged = true;
        LW_LOG_WARN("FrameRing: safety limit passed (%zu frames, %llu bytes); dropping the oldest frames",
                    m_frames.size(), static_cast<unsigned long long>(m_bytes));
    }
    // The newest frame always stays.
    while (m_frames.size() > 1 && (m_frames.size() > m_limits.maxFrames || m_bytes > m_limits.maxBytes))
        popFrontLocked();
    // Start at a keyframe again when one is left, so readers can decode from the front.
    size_t firstKey = 0;
    while (firstKey < m_frames.size() && !m_frames[firstKey].keyframe)
        ++firstKey;
    if (firstKey < m_frames.size()) {
        for (size_t i = 0; i < firstKey; ++i)
            popFrontLocked();
    }
}

void FrameRing::popFrontLocked()
{
    m_bytes -= m_frames.front().data.size();
    m_frames.pop_front();
}

std::optional<EncodedFrame> FrameRing::newest() const
{
    std::lock_guard lock(m_mutex);
    if (m_frames.empty())
        return std::nullopt;
    return m_frames.back();
}

std::optional<EncodedFrame> FrameRing::bySequence(uint64_t seq) const
{
    std::lock_guard lock(m_mutex);
    if (const EncodedFrame* frame = bySequenceLocked(seq))
        return *frame;
    return std::nullopt;
}

bool FrameRing::copyBySequence(uint64_t seq, EncodedFrame& into) const
{
    std::lock_guard lock(m_mutex);
    const EncodedFrame* frame = bySequenceLocked(seq);
    if (!frame)
        return false;
    into.data.assign(frame->data.begin(), frame->data.end());
    into.ptsUs = frame->ptsUs;
    into.wallMs = frame->wallMs;
    into.keyframe = frame->keyframe;
    into.seq = frame->seq;
    return true;
}

const EncodedFrame* FrameRing::bySequenceLocked(uint64_t seq) const
{
    if (m_frames.empty())
        return nullptr;
    const uint64_t front = m_frames.front().seq;
    if (seq < front || seq - front >= m_frames.size())
        return nullptr;
    return &m_frames[static_cast<size_t>(seq - front)];
}

std::optional<EncodedFrame> FrameRing::nextAfter(uint64_t seq) const
{
    std::lock_guard lock(m_mutex);
    if (m_frames.empty())
        return std::nullopt;
    const uint64_t front = m_frames.front().seq;
    if (seq < front)
        return m_frames.front();
    const uint64_t offset = seq - front + 1;
    if (offset >= m_frames.size())
        return std::nullopt;
    return m_frames[static_cast<size_t>(offset)];
}

std::optional<EncodedFrame> FrameRing::keyframeAtOrBefore(int64_t wallMs) const
{
    std::lock_guard lock(m_mutex);
    if (const EncodedFrame* frame = keyframeAtOrBeforeLocked(wallMs))
        return *frame;
    return std::nullopt;
}

const EncodedFrame* FrameRing::keyframeAtOrBeforeLocked(int64_t wallMs) const
{
    const EncodedFrame* found = nullptr;
    for (const EncodedFrame& frame : m_frames) {
        if (frame.wallMs > wallMs)
            break;
        if (frame.keyframe)
            found = &frame;
    }
    if (found)
        return found;
    for (const EncodedFrame& frame : m_frames) {
        if (frame.keyframe)
            return &frame;
    }
    return nullptr;
}

namespace {
FrameRing::FrameInfo infoOf(const EncodedFrame& frame)
{
    return FrameRing::FrameInfo {frame.seq, frame.wallMs, frame.keyframe};
}
}  // namespace

std::optional<FrameRing::FrameInfo> FrameRing::newestInfo() const
{
    std::lock_guard lock(m_mutex);
    if (m_frames.empty())
        return std::nullopt;
    return infoOf(m_frames.back());
}

std::optional<FrameRing::FrameInfo> FrameRing::infoBySequence(uint64_t seq) const
{
    std::lock_guard lock(m_mutex);
    if (const EncodedFrame* frame = bySequenceLocked(seq))
        return infoOf(*frame);
    return std::nullopt;
}

std::optional<FrameRing::FrameInfo> FrameRing::keyframeInfoAtOrBefore(int64_t wallMs) const
{
    std::lock_guard lock(m_mutex);
    if (const EncodedFrame* frame = keyframeAtOrBeforeLocked(wallMs))
        return infoOf(*frame);
    return std::nullopt;
}

int64_t FrameRing::newestWallMs() const
{
    std::lock_guard lock(m_mutex);
    return m_frames.empty() ? 0 : m_frames.back().wallMs;
}

int64_t FrameRing::oldestWallMs() const
{
    std::lock_guard lock(m_mutex);
    return m_frames.empty() ? 0 : m_frames.front().wallMs;
}

uint64_t FrameRing::count() const
{
    std::lock_guard lock(m_mutex);
    return m_frames.size();
}

uint64_t FrameRing::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void FrameRing::setStream(uint32_t fourcc, int32_t width, int32_t height, std::vector<uint8_t> codecConfig)
{
    std::lock_guard lock(m_mutex);
    m_fourcc = fourcc;
    m_width = width;
    m_height = height;
    m_codecConfig = std::move(codecConfig);
}

uint32_t FrameRing::fourcc() const
{
    std::lock_guard lock(m_mutex);
    return m_fourcc;
}

int32_t FrameRing::width() const
{
    std::lock_guard lock(m_mutex);
    return m_width;
}

int32_t FrameRing::height() const
{
    std::lock_guard lock(m_mutex);
    return m_height;
}

std::vector<uint8_t> FrameRing::codecConfig() const
{
    std::lock_guard lock(m_mutex);
    return m_codecConfig;
}

void FrameRing::clear()
{
    std::lock_guard lock(m_mutex);
    m_frames.clear();
    m_bytes = 0;
    m_fourcc = 0;
    m_width = 0;
    m_height = 0;
    m_codecConfig.clear();
    m_codecConfig.shrink_to_fit();
}

}  // namespace lagwell
