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

TEST(SoundAlignerTest, aMovedOriginIsEasedOverAndTheEffectiveOriginSaysWhereTheOutputIs)
{
    SoundAligner aligner;
    ASSERT_TRUE(aligner.reset(kRate, 1));
    aligner.setOrigin(kOriginNs, [](const float* const*, int32_t) {});
    Microphone mic(aligner, 0, kOriginNs);
    for (int block = 0; block < 200; ++block)
        mic.push();
    // Output frames so far against those due by the next frame's moment
    // from where the aligner says the output is, in ms.
    const auto offEffectiveMs = [&] {
        return mic.errorMs() + double(aligner.effectiveOriginNs() - kOriginNs) / 1e6;
    };
    // 30 ms later: no jump, a smooth way over within a few seconds.
    aligner.moveOrigin(kOriginNs + 30000000);
    int64_t previousNs = aligner.effectiveOriginNs();
    for (int block = 0; block < 1000; ++block) {
        mic.push();
        const int64_t effectiveNs = aligner.effectiveOriginNs();
        ASSERT_GE(effectiveNs, previousNs - 100000) << block;
        ASSERT_LE(effectiveNs - previousNs, 1000000) << block;
        ASSERT_LT(std::abs(offEffectiveMs()), kHeldBackMs + 0.3) << block;  // a block behind
        previousNs = effectiveNs;
    }
    EXPECT_NEAR(double(aligner.effectiveOriginNs() - kOriginNs) / 1e6, 30.0, 1.0);
    // 200 ms back: at once.
    aligner.moveOrigin(kOriginNs - 170000000);
    mic.push();
    EXPECT_NEAR(double(aligner.effectiveOriginNs() - kOriginNs) / 1e6, -170.0, 0.1);
    EXPECT_LT(std::abs(offEffectiveMs()), kHeldBackMs + 0.1);
    EXPECT_EQ(aligner.hardCorrections(), 1);
}

}  // namespace
}  // namespace lagwell
