#include "SoundAligner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace lagwell {
namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = 480;
constexpr int64_t kOriginNs = 1000000000000;  // where the file's time 0 is, on the steady clock

// A microphone on its own crystal, its blocks handed to the aligner.
class Microphone {
public:
    Microphone(SoundAligner& aligner, double ppm, int64_t firstNs)
        : m_aligner(aligner), m_nsPerFrame(1e9 / (kRate * (1.0 + ppm * 1e-6))), m_runStartNs(firstNs),
          m_samples(size_t(kBlockFrames), 1000)
    {
    }

    // One block, taken from `m_runStartNs` on; its time read `lateNs` late.
    void push(int64_t lateNs = 0, bool followsGap = false)
    {
        AudioCapture::Block block;
        block.samples = m_samples.data();
        block.frames = kBlockFrames;
        block.channels = 1;
        block.capturedNs = trueNs() + lateNs;
        block.followsGap = followsGap || m_blocks == 0;
        m_aligner.push(block, [&](const float* const*, int32_t frames) { m_received += frames; });
        m_framesInRun += kBlockFrames;
        ++m_blocks;
    }

    // Frames are lost: the device runs on without being read.
    void lose(int64_t ns)
    {
        m_runStartNs = trueNs() + ns;
        m_framesInRun = 0;
    }

    // When the next frame is taken.
    int64_t trueNs() const { return m_runStartNs + int64_t(std::llround(double(m_framesInRun) * m_nsPerFrame)); }

    // Output frames so far minus those due by the next frame's moment, in ms.
    double errorMs() const { return (double(m_received) - double(trueNs() - kOriginNs) * kRate / 1e9) * 1000 / kRate; }

private:
    SoundAligner& m_aligner;
    double m_nsPerFrame;
    int64_t m_runStartNs;
    int64_t m_framesInRun = 0;
    int64_t m_blocks = 0;
    int64_t m_received = 0;
    std::vector<int16_t> m_samples;
};

// The resampler holds back a few frames; beyond that the output is where it belongs.
constexpr double kHeldBackMs = 1.5;

TEST(SoundAlignerTest, followsAFastCrystalForAnHourThroughLateTimesWithoutJumping)
{
    SoundAligner aligner;
    ASSERT_TRUE(aligner.reset(kRate, 1));
    aligner.setOrigin(kOriginNs, [](const float* const*, int32_t) {});
    Microphone mic(aligner, 300, kOriginNs);
    // Times read up to 30 ms late, as by a thread a busy machine keeps waiting.
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> late(0, 30000000);
    double worstMs = 0;
    for (int block = 0; block < 3600 * kRate / kBlockFrames; ++block) {
        mic.push(late(random));
        if (block > 2 * kRate / kBlockFrames)
            worstMs = std::max(worstMs, std::abs(mic.errorMs()));
    }
    std::printf("an hour at +300 ppm: worst %.2f ms, at the end %.2f ms, estimated %+.0f ppm\n", worstMs,
                mic.errorMs(), aligner.estimatedPpm());
    EXPECT_LT(worstMs, 5.0);
    EXPECT_LT(std::abs(mic.errorMs()), kHeldBackMs + 1.0);
    EXPECT_NEAR(aligner.estimatedPpm(), 300, 50);
    EXPECT_EQ(aligner.hardCorrections(), 0);
}

TEST(SoundAlignerTest, aGapBecomesSilenceAndAJumpIsTakenUpAtOnce)
{
    SoundAligner aligner;
    ASSERT_TRUE(aligner.reset(kRate, 1));
    aligner.setOrigin(kOriginNs, [](const float* const*, int32_t) {});
    Microphone mic(aligner, -2000, kOriginNs);
    for (int block = 0; block < 300; ++block)
        mic.push();
    // An overrun the capture reports, then a resume it does not: 5 s on.
    mic.lose(300000000);
    mic.push(0, true);
    EXPECT_LT(std::abs(mic.errorMs()), kHeldBackMs + 0.1);
    for (int block = 0; block < 300; ++block)
        mic.push();
    mic.lose(5000000000);
    mic.push();
    EXPECT_LT(std::abs(mic.errorMs()), kHeldBackMs + 0.1);
    for (int block = 0; block < 300; ++block)
        mic.push();
    EXPECT_LT(std::abs(mic.errorMs()), kHeldBackMs + 0.5);
    EXPECT_EQ(aligner.hardCorrections(), 2);
    EXPECT_NEAR(double(aligner.silenceFrames()) / kRate, 5.3, 0.01);
}

TEST(SoundAlignerTest, soundFromBeforeTheFirstPictureIsDroppedAndALateStartWaitsInSilence)
{
    struct Case {
        const char* name;
        int64_t micStartNs;
    };
    for (const Case& c : {Case {"early", kOriginNs - 700000000}, Case {"late", kOriginNs + 250000000}}) {
        SCOPED_TRACE(c.name);
        SoundAligner aligner;
        ASSERT_TRUE(aligner.reset(kRate, 1));
        Microphone mic(aligner, 0, c.micStartNs);
        // The first picture is known only after some sound has come.
        do
            mic.push();
        while (mic.trueNs() < kOriginNs + 400000000);
        int64_t received = 0;
        aligner.setOrigin(kOriginNs, [&](const float* const*, int32_t frames) { received += frames; });
        const double dueMs = double(mic.trueNs() - kOriginNs) / 1e6;
        EXPECT_NEAR(double(received) * 1000 / kRate, dueMs, kHeldBackMs);
        EXPECT_NEAR(double(aligner.droppedFrames()) / kRate, c.micStartNs < kOriginNs ? 0.7 : 0.0, 0.002);
        EXPECT_NEAR(double(aligner.silenceFrames()) / kRate, c.micStartNs > kOriginNs ? 0.25 : 0.0, 0.002);
        EXPECT_EQ(aligner.hardCorrections(), 0);
    }
}

TEST(SoundAlignerTest, thePitchFollowsOnlyTheCrystalInEveryTenthOfASecond)
{
    // Output frames per frame taken, in 100 ms of input, against the
    // crystal's own: within 0.1 % once the rate is learnt (from 2 s), and
    // from the start for a crystal on time, through times read up to 3 ms
    // late and the error of the first second eased out.
    for (const double ppm : {0.0, 5000.0, -5000.0}) {
        SCOPED_TRACE(ppm);
        SoundAligner aligner;
        ASSERT_TRUE(aligner.reset(kRate, 1));
        aligner.setOrigin(kOriginNs, [](const float* const*, int32_t) {});
        Microphone mic(aligner, ppm, kOriginNs);
        std::mt19937 random(11);
        std::uniform_int_distribution<int64_t> late(0, 3000000);
        constexpr int kWindowBlocks = kRate / 10 / kBlockFrames;
        const double dueRatio = 1.0 / (1.0 + ppm * 1e-6);
        double worst = 0;
        int64_t windowStart = aligner.outputFrames();
        for (int block = 1; block <= 60 * kRate / kBlockFrames; ++block) {
            mic.push(late(random));
            if (block % kWindowBlocks)
                continue;
            const double ratio = double(aligner.outputFrames() - windowStart) / (kWindowBlocks * kBlockFrames);
            windowStart = aligner.outputFrames();
            // The resampler's output comes a frame or two either side of a window's edge.
            const double deviation = std::abs(ratio / dueRatio - 1.0) - 2.0 / (kWindowBlocks * kBlockFrames);
            // The first tenth fills the resampler; the crystal is learnt within 2 s.
            if (block > kWindowBlocks && (ppm == 0 || block > 2 * kRate / kBlockFrames))
                worst = std::max(worst, deviation);
        }
        std::printf("crystal %+.0f ppm: worst pitch %.3f %% beyond a frame's rounding, error at the end %.2f ms\n",
                    ppm, worst * 100, mic.errorMs());
        EXPECT_LT(worst, 0.001);
        EXPECT_LT(std::abs(mic.errorMs()), kHeldBackMs + 1.0);
        EXPECT_EQ(aligner.hardCorrections(), 0);
    }
}

}  // namespace
}  // namespace lagwell
