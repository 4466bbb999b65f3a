#pragma once

// Microphone capture from the ALSA PCM device "default": signed 16-bit
// interleaved samples at 48000 Hz, mono when the device allows it, else
// stereo. One thread ("tvx-mic") reads a period at a time and hands each
// block to the callback with the block's time since capture began, counted in
// delivered frames. It recovers from overruns and suspends by itself and
// gives up quietly after a run of other read errors.

#include "CHandles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace lagwell {

class AudioCapture {
public:
    // Called on the capture thread with `frames` x `channels` interleaved
    // samples (valid only during the call) and the time of the block's first
    // frame: frames delivered before it x 1000000 / rate.
    using Callback = std::function<void(const int16_t* samples, int32_t frames, int32_t channels, int64_t timestampUs)>;

    static constexpr int32_t kRate = 48000;

    AudioCapture();
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Opens and configures the device, installs `callback` (replacing an
    // earlier one) and starts the thread. False with a message when already
    // running or when the device cannot be opened or configured; then nothing
    // is left open. Not called concurrently with stop().
    bool start(Callback callback, std::string* error = nullptr);

    // Ends the thread (at most about one period, also on a device that has
    // stopped delivering) and closes the device. Nothing when not running.
    void stop();

    bool isRunning() const { return m_running.load(); }

    // Valid after a successful start().
    int32_t rate() const { return m_rate; }
    int32_t channels() const { return m_channels; }
    unsigned long periodFrames() const { return m_periodFrames; }

    // Steady-clock nanoseconds at which the stream's first frame was taken;
    // 0 until known, and known before the first block reaches the callback.
    int64_t firstFrameNs() const { return m_firstFrameNs.load(); }

private:
    void run();

    SndPcmPtr m_handle;  // set by start() before the thread runs, closed by stop() after the join
    Callback m_callback;  // installed before the thread starts, never changed while it runs
    std::atomic<bool> m_running {false};
    std::thread m_thread;
    int32_t m_rate = kRate;
    int32_t m_channels = 1;
    unsigned long m_periodFrames = 0;  // frames per read
    int64_t m_framesCaptured = 0;  // capture thread only while running
    std::atomic<int64_t> m_firstFrameNs {0};
};

}  // namespace lagwell
