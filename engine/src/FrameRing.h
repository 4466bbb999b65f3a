#pragma once

// The replay buffer of one camera: compressed frames kept for a window of
// wall-clock time. One writer (the camera's frame callback), many readers
// (panel decoders, the health poll). Every operation takes the ring's lock;
// readers get copies, so an eviction never invalidates what they hold.

#include "EngineTypes.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace lagwell {

class FrameRing {
public:
    // Hard bounds on top of the time window. The window alone keeps memory
    // bounded only while keyframes keep coming and the wall clock runs
    // forwards; these stop a keyframe-less stream or a clock stepped backwards
    // from growing the ring without end. Defaults sit well above a legitimate
    // 120 s window of 2160p30 MJPEG (3,600 frames of a few MiB at most).
    struct Limits {
        uint64_t maxFrames = 16384;
        uint64_t maxBytes = 12ull << 30;  // 12 GiB
    };

    // What a reader needs to decide what to decode, without the payload.
    struct FrameInfo {
        uint64_t seq = 0;
        int64_t wallMs = 0;
        bool keyframe = false;
    };

    explicit FrameRing(int64_t windowMs);
    FrameRing(int64_t windowMs, Limits limits);

    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    // Stamps frame.seq, appends, then drops whole groups of pictures that have
    // left the window (or the oldest frames when a safety limit is passed).
    void add(EncodedFrame frame);

    std::optional<EncodedFrame> newest() const;
    std::optional<EncodedFrame> bySequence(uint64_t seq) const;
    // bySequence into a caller's frame, reusing its payload storage so a
    // reader that copies every frame does not allocate each time. False,
    // `into` untouched, when the ring does not hold that number.
    bool copyBySequence(uint64_t seq, EncodedFrame& into) const;
    // The frame numbered seq + 1, or the front frame when seq is older than it.
    std::optional<EncodedFrame> nextAfter(uint64_t seq) const;
    // The last keyframe at or before wallMs; else the oldest keyframe held;
    // empty when the ring holds no keyframe.
    std::optional<EncodedFrame> keyframeAtOrBefore(int64_t wallMs) const;

    // Payload-free forms of newest, bySequence and keyframeAtOrBefore: same
    // answers, no copy of the frame's data.
    std::optional<FrameInfo> newestInfo() const;
    std::optional<FrameInfo> infoBySequence(uint64_t seq) const;
    std::optional<FrameInfo> keyframeInfoAtOrBefore(int64_t wallMs) const;

    int64_t newestWallMs() const;  // 0 when empty
    int64_t oldestWallMs() const;  // 0 when empty
    uint64_t count() const;
    uint64_t bytes() const;
    int64_t windowMs() const { return m_windowMs; }

    void setStream(uint32_t fourcc, int32_t width, int32_t height, std::vector<uint8_t> codecConfig);
    uint32_t fourcc() const;
    int32_t width() const;
    int32_t height() const;
    std::vector<uint8_t> codecConfig() const;

    // Drops every frame and the stream values. The sequence counter keeps
    // running: a number once given is never given again.
    void clear();

private:
    void evictByWindowLocked(int64_t cutoffMs);
    void enforceLimitsLocked();
    void popFrontLocked();
    const EncodedFrame* bySequenceLocked(uint64_t seq) const;
    const EncodedFrame* keyframeAtOrBeforeLocked(int64_t wallMs) const;

    const int64_t m_windowMs;
    const Limits m_limits;

    mutable std::mutex m_mutex;
    // guards: everything below
    std::deque<EncodedFrame> m_frames;  // oldest at the front; overflow: whole GOPs leave the front
    uint64_t m_bytes = 0;
    uint64_t m_nextSeq = 0;
    uint32_t m_fourcc = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<uint8_t> m_codecConfig;
    bool m_limitLogged = false;
};

}  // namespace lagwell
