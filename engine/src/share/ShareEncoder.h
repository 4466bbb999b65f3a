#pragma once

#include "CompositeSink.h"
#include "Encoder.h"
#include "PictureQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {

// The live share's composite sink: copies each composite picture on the
// render thread into a pooled buffer and encodes it to low-latency H.264 on a
// worker of its own ("tvx-share-enc"), handing every access unit to the
// installed sink. The worker and the encoder's threads run below the render
// thread's priority. It keeps at most four pictures waiting, so a slow
// encoder costs pictures, not delay.
class ShareEncoder final : public CompositeSink {
public:
    // Called on the worker with no encoder lock held: the access unit
    // (Annex-B, parameter sets in-band on keyframes), its keyframe flag, its
    // microsecond time and the encoder's SPS/PPS (empty before the first
    // keyframe).
    using AuSink = std::function<void(const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                                      const std::vector<uint8_t>& codecConfig)>;
    // Called once on the worker when encoding fails and the stream stops,
    // with one sentence; it must not call stop().
    using FailureHandler = std::function<void(const std::string& message)>;

    static constexpr size_t kMaxQueuedFrames = 4;

    ShareEncoder() = default;
    ~ShareEncoder() override;

    ShareEncoder(const ShareEncoder&) = delete;
    ShareEncoder& operator=(const ShareEncoder&) = delete;

    // GUI thread. Starts the worker with an empty queue and waits while it
    // opens the encoder (width x height x fps x 0.12 bit/s, a keyframe every
    // fps frames, 30 when fps is not above 0). False with "Share encoder
    // already running." or the encoder's own message.
    bool start(int width, int height, int fps, std::string* error);
    // GUI thread. Ends the worker, discards queued pictures and closes the
    // encoder; nothing when there is no worker.
    void stop();

    // Any thread. The replaced sink or handler may still finish a call in
    // progress.
    void setAuSink(AuSink sink);
    void setFailureHandler(FailureHandler handler);

    // The stream size and rate of the last successful start (0 before).
    int width() const override { return m_width.load(); }
    int height() const override { return m_height.load(); }
    int fps() const { return m_fps.load(); }

    // Render thread: queues a copy while running and returns without waiting
    // for the encoder; drops the oldest waiting picture when four are queued.
    // A stride of 0 or less means width x 4. The stream keeps ptsUs; slotNs
    // is not used.
    void submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs, int64_t slotNs) override;
    // False before start, after stop and after an encoding failure.
    bool active() const override { return m_running.load(); }

private:
    struct OpenOutcome {
        bool ok = false;
        std::string message;  // the encoder's, when it did not open
    };

    void workerLoop(Encoder::Config config, std::promise<OpenOutcome> opened);

    Encoder m_encoder;  // worker only; closed by stop() after the join
    std::atomic<int> m_width {0};
    std::atomic<int> m_height {0};
    std::atomic<int> m_fps {30};
    std::atomic<bool> m_running {false};
    std::thread m_worker;  // GUI thread only; joinable after a failure until stop or start

    // Overflow policy: drop the oldest picture; at most kMaxQueuedFrames wait.
    PictureQueue m_pictures {kMaxQueuedFrames};

    std::mutex m_sinkMutex;
    // guards: m_sink, m_failureHandler
    AuSink m_sink;
    FailureHandler m_failureHandler;
};

}  // namespace lagwell
