#pragma once

// Panel decoding. One PanelDecoder per panel follows its camera's FrameRing at
// the panel's delay on its own thread ("tvx-decN"): it decodes forward up to
// the newest frame whose wall time is not later than now minus the delay and
// publishes every picture into the panel's TripleBuffer for the render thread.
// The next frame is decoded ahead, as late as recent decodes allow, and its
// picture held back until it is due (now minus the delay reaches its wall
// time); between pictures the thread sleeps until the next decode or hand-over.
// JPEG frames go through TurboJPEG, H.264 access units through libavcodec (a
// VAAPI, CUDA or V4L2 memory-to-memory decoder when named, else software).
// The ring is shared, the TripleBuffer borrowed (it must outlive the decoder);
// codec, scaler and scratch state belong to the decode thread alone.

#include "CHandles.h"
#include "DecodeLead.h"
#include "DecodedFrame.h"
#include "FrameRing.h"
#include "JpegPictureDecoder.h"
#include "LogRepeatLimiter.h"
#include "PicturePool.h"
#include "TripleBuffer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {

class PanelDecoder {
public:
    // Wall-clock now in milliseconds since the epoch. Empty = the system clock.
    using WallClockMs = std::function<int64_t()>;

    static constexpr int kIdleWaitMs = 20;         // wait while there is no ring or it is empty
    static constexpr int kPassWaitMs = 8;          // poll: next frame not in the ring, oldest shown, catch-up
    static constexpr int kMaxSleepMs = 100;        // longest sleep without a look at the wall clock
    static constexpr int kMaxDecodesPerPass = 8;
    static constexpr int64_t kSeekThresholdMs = 250;  // a delay change beyond this restarts from a keyframe
    static constexpr int64_t kMeterWindowNs = 999'999'999;
    // Pictures wider or taller than this are refused as bad frames, for both
    // codecs. Below it any size is shown, also one larger than the ring's
    // stream size: that size is what was negotiated, not a promise.
    static constexpr int32_t kMaxPictureDimension = 8192;
    // Bound on the times of packets sent to the H.264 decoder without a
    // picture yet; beyond it the oldest entry is dropped.
    static constexpr size_t kMaxPendingPackets = 64;
    // Pictures decoded ahead and not yet due; beyond it the oldest is dropped.
    static constexpr size_t kMaxHeldPictures = 4;

    // Takes the ring (may be empty) and the panel's output buffer; nothing
    // runs yet. `wallClockMs` replaces the system clock (tests).
    PanelDecoder(std::shared_ptr<FrameRing> ring, TripleBuffer& out, WallClockMs wallClockMs = {});
    ~PanelDecoder();

    PanelDecoder(const PanelDecoder&) = delete;
    PanelDecoder& operator=(const PanelDecoder&) = delete;

    // "vaapi", "cuda", "v4l2m2m" or empty. GUI thread, once, before start().
    void setHardwareDecoder(std::string name);

    // GUI thread. start() does nothing when already running; stop() is
    // idempotent and joins the thread.
    void start();
    void stop();

    // Any thread. Takes effect on the next pass.
    void setDelayMs(int32_t delayMs);
    // Any thread. Drops decoders, position and parameter sets, also when the
    // ring is the one already in use; the next pass seeks in the new ring.
    void setRing(std::shared_ptr<FrameRing> ring);

    // Decode calls that published a picture, per second, over windows of at
    // least one second.
    double decodesPerSecond() const { return m_decodesPerSecond.load(); }

private:
    struct PendingTimes {
        int64_t wallMs = 0;
        uint64_t seq = 0;
    };

    using SteadyClock = std::chrono::steady_clock;

    struct HeldPicture {
        std::shared_ptr<DecodedFrame> picture;
        int64_t dueWallMs = 0;  // handed over once now minus the delay reaches it
    };

    struct PassResult {
        int decoded = 0;  // decodes that produced a picture
        SteadyClock::time_point wakeAt;
    };

    static constexpr int64_t kNoSeek = std::numeric_limits<int64_t>::min();

    // Everything below runs on the decode thread.
    void decodeLoop();
    // One pass over `ring`: seek when needed, hand over the held pictures
    // that are due, decode forward up to the target and the next frame ahead
    // once its decode has to start; says when the next pass is needed.
    PassResult decodePass(const FrameRing& ring);
    // Wall-clock now in microseconds (the injected clock's milliseconds when set).
    int64_t wallNowUs() const;
    // Time from now until a picture of `wallMs` is due at `delayMs`.
    std::chrono::microseconds untilDue(int64_t wallMs, int64_t delayMs) const;
    // Waits until `deadline`; a setter or stop() ends the wait early.
    void waitUntil(SteadyClock::time_point deadline);
    // Publishes the newest held picture whose due wall time is at or before
    // `targetMs` and drops the older ones.
    void handOverDue(int64_t targetMs);
    void releaseDecoders();
    void releaseH264Decoder();
    // After an H.264 decode error: the context and the pending times go, and
    // nothing is sent again until a keyframe, which gets a fresh context.
    void dropH264AfterError();
    // An H.264 decoder ready for packets: the named hardware one while it has
    // not failed, else software. False when none can be opened (next frame retries).
    bool ensureH264Decoder();
    // Null when the hardware is missing or fails to open (then m_hardwareFailed
    // is set and the fallback logged at most once).
    AvCodecContextPtr openHardwareH264Decoder();
    AvCodecContextPtr openSoftwareH264Decoder();
    // Each returns true when at least one picture was published; a bad frame
    // logs and returns false.
    bool decodeH264Frame(const EncodedFrame& frame);
    bool decodeMjpegFrame(const EncodedFrame& frame);
    // Receives every picture the H.264 decoder has ready and publishes the
    // clean ones; `sent` is the frame just sent (null while draining). Sets
    // *damaged and drops the rest when a picture carries decode errors.
    // Returns the number published.
    int receiveH264Pictures(const EncodedFrame* sent, bool* damaged);
    // Publishes the pictures the H.264 decoder still holds for reordering,
    // then releases it. Returns the number published.
    int drainH264Decoder();
    // True when the decoder holds pictures back for reordering in a stream
    // that has shown no B pictures, beyond what its SPS declares.
    bool h264HoldsBackTooMuch() const;
    bool publishAvFrame(const AVFrame* picture, int64_t wallMs, uint64_t seq);
    // The times of the packet a decoded picture came from: the entry whose
    // seq equals the picture's pts, else the oldest entry, else `sent`'s;
    // empty when there is none.
    std::optional<PendingTimes> takePendingTimes(int64_t pts, const EncodedFrame* sent);
    // Within kMaxPictureDimension; the first refusal per ring is logged.
    bool pictureSizeAllowed(int64_t width, int64_t height);
    void publishPicture(int64_t wallMs, uint64_t seq);

    std::mutex m_ringMutex;
    // guards: m_ring, m_ringChanged
    std::shared_ptr<FrameRing> m_ring;
    bool m_ringChanged = true;

    TripleBuffer& m_out;
    std::atomic<int32_t> m_delayMs {0};
    std::thread m_thread;  // GUI thread only (start/stop)
    std::atomic<bool> m_running {false};

    std::mutex m_waitMutex;
    // guards: m_wakePending
    std::condition_variable m_wake;
    bool m_wakePending = false;

    const WallClockMs m_wallClockMs;

    // Decode thread only from here on, except m_hardwareName (written before
    // start, read after) and m_decodesPerSecond (atomic).
    int64_t m_nextSeq = -1;           // -1 = no position
    int64_t m_seekDelayMs = kNoSeek;  // delay in force at the last seek
    int64_t m_targetMs = 0;           // wall time due in the current pass; later pictures are held
    std::deque<HeldPicture> m_held;  // decoded ahead, in hand-over order
    int64_t m_sentWallMs = 0;        // wallMs of the frame being decoded
    DecodeLead m_lead;
    std::vector<uint8_t> m_parameterSets;  // SPS and PPS with start codes, from the ring
    EncodedFrame m_frame;  // the frame being decoded, copied from the ring into reused storage
    bool m_sizeRefusalLogged = false;
    std::string m_hardwareName;
    bool m_hardwareFailed = false;  // once set, only the software decoder is made
    AvCodecContextPtr m_codec;
    AvFramePtr m_avFrame;
    AvFramePtr m_downloadFrame;
    int m_hwPixelFormat = -1;  // AVPixelFormat; -1 = none
    bool m_awaitingKeyframe = false;  // an H.264 decode error happened: skip until a keyframe
    int m_declaredReorder = -1;  // the context's has_b_frames after its first packet (the SPS's); -1 = none sent
    bool m_streamHasBPictures = false;  // a B picture came out since the ring was set
    std::deque<PendingTimes> m_pending;  // sending order; overflow: drop the oldest
    SwsContextPtr m_scaler;
    int m_scalerWidth = 0;
    int m_scalerHeight = 0;
    int m_scalerFormat = -1;  // -1 = none
    JpegPictureDecoder m_jpegDecoder;
    PicturePool m_pictures;  // every picture is decoded or copied into one, then published as is
    // One per repeating warning, so a stream of bad frames writes about a
    // line a second per kind.
    LogRepeatLimiter m_emptyWarnings;
    LogRepeatLimiter m_sendWarnings;
    LogRepeatLimiter m_damagedWarnings;
    LogRepeatLimiter m_transferWarnings;
    std::atomic<double> m_decodesPerSecond {0.0};
};

}  // namespace lagwell
