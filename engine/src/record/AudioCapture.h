#pragma once

// Microphone capture from the ALSA PCM device "default": signed 16-bit
// interleaved samples at 48000 Hz, mono when the device allows it, else
// stereo. One thread ("tvx-mic") reads a short period at a time from a buffer
// long enough to ride out a starved thread, and hands each block to the
// callback with the steady-clock moment its first frame was taken. It recovers
// from overruns and suspends by itself (the next block's time shows the frames
// lost) and gives up quietly after a run of other read errors.

#include "CHandles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace lagwell {

class AudioCapture {
public:
    // One block as read from the device.
    struct Block {
        const int16_t* samples = nullptr;  // frames x channels, interleaved; valid only during the call
        int32_t frames = 0;
        int32_t channels = 0;
        int64_t capturedNs = 0;  // steady clock: when the first frame was taken (the device's delay counted)
        bool followsGap = false;  // first of the stream, or first after frames were lost
    };

    // Called on the capture thread for every block.
    using Callback = std::function<void(const Block& block)>;

    static constexpr int32_t kRate = 48000;
    // The device may hold this much before it overruns: a thread starved for
    // less loses nothing.
    static constexpr unsigned kBufferUs = 500000;
    static constexpr unsigned kPeriodUs = 10000;

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
    unsigned long bufferFrames() const { return m_bufferFrames; }

private:
    void run();
    int64_t stampFirstFrameNs(snd_pcm_t* pcm, snd_pcm_sframes_t framesRead) const;

    SndPcmPtr m_handle;  // set by start() before the thread runs, closed by stop() after the join
    Callback m_callback;  // installed before the thread starts, never changed while it runs
    std::atomic<bool> m_running {false};
    std::thread m_thread;
    int32_t m_rate = kRate;
    int32_t m_channels = 1;
    unsigned long m_periodFrames = 0;  // frames per read
    unsigned long m_bufferFrames = 0;  // frames the device holds before it overruns
    int64_t m_framesCaptured = 0;  // capture thread only while running
};

}  // namespace lagwell
