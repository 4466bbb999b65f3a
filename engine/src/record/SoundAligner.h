#pragma once

// Puts the microphone's sound on the steady clock. Output frame i of a
// recording sounds at origin + i / rate, origin being the moment of the first
// picture. Each block's capture time says where its first frame belongs; a
// line is fitted along the earliest times of seconds of blocks, so a block
// read late on a busy machine moves nothing. The device's own crystal is
// followed by resampling with a small compensation (its rate is the line's
// slope); what error is left is eased out without bending the pitch by more
// than a twentieth of a per cent; a gap in the times becomes silence, sound
// from before the origin is dropped, and an error too large to ease (a jump
// no crystal explains) is taken up at once.
//
// Not thread-safe: one thread (the microphone's, under the recorder's audio
// lock) calls everything.

#include "AudioCapture.h"
#include "CHandles.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace lagwell {

class SoundAligner {
public:
    // Receives the aligned sound: `frames` float samples per channel plane,
    // valid only during the call.
    using Output = std::function<void(const float* const* planes, int32_t frames)>;

    // Sound kept while the origin is not known yet.
    static constexpr int64_t kMaxEarlyMs = 2000;
    // Most silence put in for one gap; the rest of a longer one moves the
    // sound's clock on instead.
    static constexpr int64_t kMaxSilenceMs = 60000;
    // Farthest the output may be from where it belongs before it is put right
    // at once rather than eased back.
    static constexpr int64_t kHardErrorMs = 15;
    // The most the easing bends the pitch beyond following the crystal.
    static constexpr double kMaxEaseDeviation = 0.0005;

    SoundAligner();
    SoundAligner(const SoundAligner&) = delete;
    SoundAligner& operator=(const SoundAligner&) = delete;

    // Forgets everything and expects blocks of `channels` at `rate`, the
    // nominal rate of the device and of the output (no channels: takes
    // nothing until reset again). False with a message when the resampler
    // cannot be made.
    bool reset(int32_t rate, int32_t channels, std::string* error = nullptr);

    int32_t channels() const { return m_channels; }
    bool hasOrigin() const { return m_hasOrigin; }
    // The steady-clock moment output frame 0 belongs to. Blocks pushed before
    // it is known wait (the newest kMaxEarlyMs of them) and go out now.
    void setOrigin(int64_t originNs, const Output& output);

    // One block of the device; its channel count must be channels().
    void push(const AudioCapture::Block& block, const Output& output);
    // At the end: hands out what the resampler still holds.
    void flush(const Output& output);

    // Frames handed to outputs since reset().
    int64_t outputFrames() const { return m_outputFrames; }
    // The device's rate as estimated now, in parts per million off nominal.
    double estimatedPpm() const;
    // Times the sound was moved at once after its start: gaps, jumps.
    int64_t hardCorrections() const { return m_hardCorrections; }
    // Silence put in and frames dropped by those corrections, at the start too.
    int64_t silenceFrames() const { return m_silenceFrames; }
    int64_t droppedFrames() const { return m_droppedFrames; }

private:
    struct EarlyBlock {
        std::vector<int16_t> samples;
        AudioCapture::Block block;
    };
    // One block's place: input frames since the segment began, capture time.
    struct Point {
        int64_t frame;
        int64_t capturedNs;
    };
    // A line through the run's times: a point and the line's offset from it.
    struct Line {
        int64_t frame = 0;
        int64_t capturedNs = 0;
        double offsetNs = 0;
    };

    void place(const AudioCapture::Block& block, const Output& output);
    bool startsSegment(const AudioCapture::Block& block);
    void refitLine();
    double lineNs(int64_t frame) const;
    void refitRate();
    void setCompensation(double outPerIn);
    void convert(const int16_t* samples, int32_t frames, const Output& output);
    void insertSilence(int64_t frames, const Output& output);

    int32_t m_rate = AudioCapture::kRate;
    int32_t m_channels = 0;
    SwrContextPtr m_swr;
    std::vector<std::vector<float>> m_planes;  // converted sound, per channel
    std::vector<float*> m_planePointers;

    bool m_hasOrigin = false;
    int64_t m_originNs = 0;
    int64_t m_cutNs = 0;  // gaps longer than kMaxSilenceMs, beyond it: the sound's clock moved on
    std::deque<EarlyBlock> m_early;  // oldest first
    int64_t m_earlyFrames = 0;

    // The current run of the device without a gap.
    std::deque<Point> m_points;   // the last seconds of it, oldest first
    Line m_line;                    // when the run's frames were taken
    std::vector<double> m_offsets;  // scratch for refitLine()
    int64_t m_segmentFrames = 0;  // input frames since it began
    size_t m_blocksSinceFit = 0;
    int64_t m_lastCapturedNs = 0;
    double m_nsPerFrame = 0;      // the device's frame spacing, estimated

    int64_t m_outputFrames = 0;
    int64_t m_skipFrames = 0;      // input still to drop: it would sound late
    bool m_compensating = false;   // the resampler has been asked to compensate
    int64_t m_hardCorrections = 0;
    int64_t m_silenceFrames = 0;
    int64_t m_droppedFrames = 0;
};

}  // namespace lagwell
