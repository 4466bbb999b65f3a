#pragma once

// Records the composite picture and the microphone into one MP4 file.
// Threads: the render thread hands pictures to submitRgba() (a copy is
// queued); one worker per recording ("tvx-rec") encodes them to H.264 and
// finishes the file; the microphone's capture thread ("tvx-mic") encodes AAC.
// The GUI thread starts and stops recordings. One recording runs at a time and
// the same object serves any number of them, one after the other. The
// recorder owns its encoder, microphone, AAC encoder, MP4 writer and every
// queued picture.
//
// Outcome: every recording that start() began ends with exactly one call of
// its completion, on the worker thread, after the state is back to Idle:
// (true, file path) or (false, the recording's first error). The completion in
// force is the first one handed over for the recording: the one given to
// start(), else the one given to the first stop() that takes effect; any
// other is dropped without being called. Give it to start() so a recording
// that ends on its own (encoder or file failure, no stop) is reported too.
// A recording ends at once on its first error; after stop() it runs 3 s more,
// and the pictures queued by then are still encoded.

#include "AudioCapture.h"
#include "CHandles.h"
#include "CompositeSink.h"
#include "Encoder.h"
#include "Mp4Writer.h"
#include "PictureQueue.h"
#include "SoundAligner.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {

class CompositeRecorder : public CompositeSink {
public:
    // (true, file path) or (false, message); called once, on the worker
    // thread, with no lock of the recorder held.
    using Completion = std::function<void(bool ok, std::string text)>;

    // Recording states (the interface's numbers; 1 is never produced here).
    static constexpr int32_t kIdle = 0;
    static constexpr int32_t kRecording = 2;
    static constexpr int32_t kStopping = 3;

    static constexpr size_t kMaxQueuedFrames = 8;
    static constexpr int64_t kTailMs = 3000;

    CompositeRecorder();
    // Stops a running recording (its tail still runs) and waits for the worker,
    // which reports the outcome to the completion in force.
    ~CompositeRecorder() override;
    CompositeRecorder(const CompositeRecorder&) = delete;
    CompositeRecorder& operator=(const CompositeRecorder&) = delete;

    // Render thread: the size given to the last start().
    int width() const override;
    int height() const override;

    // Render thread: copies one bottom-up RGBA picture into a pooled buffer
    // while a recording is active and returns; it never waits for the
    // encoder. At most 8 wait; a ninth pushes out the oldest. A
    // stride of 0 or less means width x 4; a stride too short for a row
    // drops the picture. The picture of a compositor slot (`slotNs`) goes on
    // that slot's frame of the file, counted from the first picture's: every
    // slot a frame of its own. The sound is placed on the steady clock from
    // the first picture's slot. The stream count `ptsUs` is not used.
    void submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs, int64_t slotNs) override;

    // Render thread: the state is Recording or Stopping.
    bool active() const override;

    // GUI thread: begins a recording into `path` and returns without waiting
    // for the microphone or the encoder, which the worker opens (the encoder
    // and its threads below the caller's priority). False with one sentence
    // in `error` when a recording is in progress (also when called from a
    // completion, whose worker is still running) or when the file cannot be
    // opened; then nothing stays open and no completion will come. An
    // encoder that cannot be opened ends the recording at once: its
    // completion gets "Could not open a video encoder: " and the reasons.
    // Without a microphone the recording is video only.
    bool start(const std::string& path, int32_t width, int32_t height, int32_t fps, std::string* error = nullptr);
    bool start(const std::string& path, int32_t width, int32_t height, int32_t fps, Completion onFinished,
               std::string* error = nullptr);

    // GUI thread: a Recording recording goes on for kTailMs more, then ends.
    // In any other state, or a second time, nothing is restarted or extended.
    void stop(Completion onFinished = {});

    // Any thread: kIdle, kRecording or kStopping, read without a lock.
    int32_t state() const { return m_state.load(); }

    // Any thread: milliseconds since the recording's first picture; 0 before
    // it. Keeps counting after the end until the next start().
    int64_t elapsedMs() const;

    // Any thread: pictures of the current or last recording that were encoded,
    // and that the full queue pushed out (or a short stride refused, or that
    // came for a frame already taken).
    int64_t framesEncoded() const { return m_framesEncoded.load(); }
    int64_t framesDropped() const { return m_framesDropped.load(); }

private:
    void run(std::string path, Encoder::Config config);
    void encodePicture(const PictureQueue::Picture& picture, const Encoder::AuCallback& onAu);
    void finish(const std::string& path);
    void endNowLocked();
    bool startAudio();  // false: the recording has no sound
    void onPcm(const AudioCapture::Block& block);
    void takeSoundLocked(const float* const* planes, int32_t frames);
    void encodeSoundLocked();
    void encodeLastSoundLocked();
    void drainAacLocked();
    void freeAacLocked();
    void onVideoAu(const Encoder::EncodedAU& au);

    std::atomic<int32_t> m_width {0};
    std::atomic<int32_t> m_height {0};

    // Overflow policy: drop the oldest picture; at most kMaxQueuedFrames wait.
    PictureQueue m_pictures {kMaxQueuedFrames};

    std::thread m_worker;  // joinable after it ends; joined by the next start() or the destructor
    std::atomic<int32_t> m_state {kIdle};

    std::mutex m_controlMutex;
    // guards: m_onFinished, m_stopDeadlineNs and every change of m_state
    Completion m_onFinished;       // the completion in force; empty when none
    int64_t m_stopDeadlineNs = 0;  // steady clock; meaningful while Stopping

    std::atomic<bool> m_takingPictures {false};  // false once the worker has passed the deadline
    std::atomic<bool> m_firstFrameSeen {false};
    std::atomic<int64_t> m_firstFrameTimeNs {0};  // steady clock: the first picture's slot; file time 0
    int64_t m_lastFrameIndex = -1;  // render thread only: the last picture's frame in the file
    std::atomic<int32_t> m_fps {30};
    std::atomic<int64_t> m_framesEncoded {0};
    std::atomic<int64_t> m_framesDropped {0};

    Encoder m_encoder;  // worker only
    AudioCapture m_audio;

    std::mutex m_audioMutex;
    // guards: the AAC encoder below, the aligner, the sound waiting for the
    // encoder and m_samplesSent (lock order: m_audioMutex before the writer's own lock)
    AvCodecContextPtr m_aac;  // null without sound
    AvFramePtr m_aacFrame;
    AvPacketPtr m_aacPacket;
    SoundAligner m_aligner;     // the microphone's blocks on the pictures' clock
    AvAudioFifoPtr m_sound;     // aligned sound not yet encoded
    int64_t m_samplesSent = 0;  // per channel; the next AAC frame's pts

    Mp4Writer m_writer;  // its own lock; keeps the recording's first error
};

}  // namespace lagwell
