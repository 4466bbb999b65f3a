#include "AudioCapture.h"

#include "AlsaTestDevices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kRate = 48000;
constexpr auto kDeadline = 20s;

// Everything the capture thread delivers, up to a cap: the null slave under
// the file plugin delivers as fast as it is read.
class Collector {
public:
    struct Block {
        int64_t capturedNs;
        int32_t frames;
        int32_t channels;
        int64_t framesBefore;
        bool followsGap;
    };

    explicit Collector(int64_t capFrames = 96000) : m_capFrames(capFrames) {}

    AudioCapture::Callback callback()
    {
        return [this](const AudioCapture::Block& block) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_calls;
            if (m_frames >= m_capFrames)
                return;
            m_blocks.push_back({block.capturedNs, block.frames, block.channels, m_frames, block.followsGap});
            m_samples.insert(m_samples.end(), block.samples, block.samples + int64_t(block.frames) * block.channels);
            m_frames += block.frames;
            m_cv.notify_all();
        };
    }

    bool waitForFrames(int64_t frames, std::chrono::milliseconds timeout = kDeadline)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_frames >= frames; });
    }

    int64_t calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    int64_t frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    std::vector<Block> blocks()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks;
    }
    std::vector<int16_t> samples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples;
    }

private:
    const int64_t m_capFrames;
    std::mutex m_mutex;
    // guards: everything below
    std::condition_variable m_cv;
    std::vector<Block> m_blocks;
    std::vector<int16_t> m_samples;
    int64_t m_frames = 0;
    int64_t m_calls = 0;
};

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A stream read without loss: only its first block follows a gap, and each
// block was taken after the one before it.
void expectOneRun(const std::vector<Collector::Block>& blocks)
{
    ASSERT_FALSE(blocks.empty());
    EXPECT_TRUE(blocks[0].followsGap);
    for (size_t i = 1; i < blocks.size(); ++i) {
        ASSERT_FALSE(blocks[i].followsGap) << "block after " << blocks[i].framesBefore;
        ASSERT_GE(blocks[i].capturedNs, blocks[i - 1].capturedNs) << "block after " << blocks[i].framesBefore;
    }
}

class AudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tvx-alsa-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_devices = std::make_unique<testing::AlsaTestDevices>(m_dir);
    }

    void TearDown() override
    {
        m_devices.reset();
        fs::remove_all(m_dir);
    }

    void useConfig(const std::string& text) { m_devices->useConfig(text); }
    void useToneDevice(const std::string& rawFile) { m_devices->useToneDevice(rawFile); }
    void useFakeDevice(const std::string& fields) { m_devices->useFakeDevice(fields); }

    // A sine written as the raw file.
    std::vector<int16_t> writeTone(double hertz, double amplitude, int frames)
    {
        std::vector<int16_t> samples = testing::AlsaTestDevices::tone(hertz, amplitude, frames);
        m_tonePath = m_devices->writeRaw("tone.raw", samples);
        return samples;
    }

    std::string m_dir;
    std::string m_tonePath;
    std::unique_ptr<testing::AlsaTestDevices> m_devices;
};

TEST_F(AudioCaptureTest, capturesAToneThroughTheFilePlugin)
{
    constexpr int kFrames = 24000;  // half a second
    constexpr double kHertz = 1000;
    constexpr double kAmplitude = 8192;
    const std::vector<int16_t> tone = writeTone(kHertz, kAmplitude, kFrames);
    useToneDevice(m_tonePath);

    Collector collector;
    AudioCapture capture;
    std::string error;
    ASSERT_TRUE(capture.start(collector.callback(), &error)) << error;
    EXPECT_TRUE(capture.isRunning());
    EXPECT_EQ(capture.rate(), kRate);
    EXPECT_EQ(capture.channels(), 1);
    EXPECT_GT(capture.periodFrames(), 0u);
    ASSERT_TRUE(collector.waitForFrames(kFrames));
    capture.stop();
    EXPECT_FALSE(capture.isRunning());

    const std::vector<Collector::Block> blocks = collector.blocks();
    expectOneRun(blocks);
    for (const Collector::Block& block : blocks) {
        EXPECT_EQ(block.channels, 1);
        EXPECT_GT(block.frames, 0);
        EXPECT_LE(block.frames, int32_t(capture.periodFrames()));
    }

    // The file's samples arrive unchanged and in order.
    const std::vector<int16_t> samples = collector.samples();
    ASSERT_GE(samples.size(), tone.size());
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), samples.begin()));

    // And they are the tone: frequency from rising zero crossings, level from RMS.
    int rising = 0;
    double sumSquares = 0;
    for (int i = 0; i < kFrames; ++i) {
        sumSquares += double(samples[size_t(i)]) * samples[size_t(i)];
        if (i > 0 && samples[size_t(i) - 1] < 0 && samples[size_t(i)] >= 0)
            ++rising;
    }
    const double measuredHertz = rising / (double(kFrames) / kRate);
    EXPECT_NEAR(measuredHertz, kHertz, 4.0);
    EXPECT_NEAR(std::sqrt(sumSquares / kFrames), kAmplitude / std::sqrt(2.0), kAmplitude * 0.01);
}

TEST_F(AudioCaptureTest, restartsAsANewRunWithANewCallback)
{
    const std::vector<int16_t> tone = writeTone(440, 4000, 9600);
    useToneDevice(m_tonePath);
    AudioCapture capture;
    int64_t firstRunEndNs = 0;
    {
        Collector first;
        ASSERT_TRUE(capture.start(first.callback()));
        ASSERT_TRUE(first.waitForFrames(4800));
        capture.stop();
        firstRunEndNs = first.blocks().back().capturedNs;
    }
    Collector second;
    ASSERT_TRUE(capture.start(second.callback()));
    ASSERT_TRUE(second.waitForFrames(4800));
    capture.stop();
    const std::vector<Collector::Block> blocks = second.blocks();
    expectOneRun(blocks);
    EXPECT_GT(blocks[0].capturedNs, firstRunEndNs);
    const std::vector<int16_t> samples = second.samples();
    EXPECT_TRUE(std::equal(tone.begin(), tone.begin() + 4800, samples.begin()));
}

TEST_F(AudioCaptureTest, reportsADeviceThatCannotBeOpened)
{
    struct Case {
        const char* name;
        std::string config;
    };
    const Case cases[] = {
        {"no such card", "pcm.!default { type hw card 29 }\n"},
        {"no such plugin type", "pcm.!default { type tvxmissing }\n"},
        {"missing input file",
         "pcm.!default { type file slave.pcm { type null } file \"/dev/null\" infile \"" + m_dir +
             "/missing.raw\" }\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useConfig(c.config);
        Collector collector;
        AudioCapture capture;
        std::string error;
        EXPECT_FALSE(capture.start(collector.callback(), &error));
        EXPECT_EQ(error.rfind("Could not open microphone: ", 0), 0u) << error;
        EXPECT_GT(error.size(), std::string("Could not open microphone: ").size());
        EXPECT_FALSE(capture.isRunning());
        capture.stop();
        EXPECT_FALSE(capture.start(collector.callback()));  // no error string: only the result
        EXPECT_EQ(collector.calls(), 0);
    }
}

TEST_F(AudioCaptureTest, secondStartFailsAndLeavesTheCaptureRunning)
{
    writeTone(440, 4000, 48000);
    useToneDevice(m_tonePath);
    Collector collector(1 << 30);
    Collector intruder;
    AudioCapture capture;
    ASSERT_TRUE(capture.start(collector.callback()));
    ASSERT_TRUE(collector.waitForFrames(960));
    std::string error;
    EXPECT_FALSE(capture.start(intruder.callback(), &error));
    EXPECT_EQ(error, "AudioCapture already started.");
    EXPECT_TRUE(capture.isRunning());
    const int64_t framesThen = collector.frames();
    EXPECT_TRUE(collector.waitForFrames(framesThen + 9600));
    capture.stop();
    EXPECT_EQ(intruder.calls(), 0);
}

TEST_F(AudioCaptureTest, stopIsHarmlessWhenNotRunningAndDestroyStopsARunningCapture)
{
    writeTone(440, 4000, 4800);
    useToneDevice(m_tonePath);
    {
        AudioCapture capture;
        capture.stop();
        capture.stop();
        EXPECT_FALSE(capture.isRunning());
    }
    Collector collector;
    {
        AudioCapture capture;
        ASSERT_TRUE(capture.start(collector.callback()));
        ASSERT_TRUE(collector.waitForFrames(480));
        capture.stop();
        capture.stop();
        EXPECT_FALSE(capture.isRunning());
        ASSERT_TRUE(capture.start(collector.callback()));
    }  // destroyed while running
    const int64_t callsAfterDestroy = collector.calls();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(collector.calls(), callsAfterDestroy);
}

TEST_F(AudioCaptureTest, stopReturnsWhenTheDeviceStopsDelivering)
{
    useFakeDevice("mode \"stall\"");
    Collector collector;
    AudioCapture capture;
    std::string error;
    ASSERT_TRUE(capture.start(collector.callback(), &error)) << error;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(collector.calls(), 0);
    auto stopped = std::async(std::launch::async, [&] { capture.stop(); });
    ASSERT_EQ(stopped.wait_for(kDeadline), std::future_status::ready) << "stop() hangs on a stalled device";
    EXPECT_FALSE(capture.isRunning());

    // Destroying a capture whose device is stalled returns as well.
    auto destroyed = std::async(std::launch::async, [&] {
        AudioCapture other;
        EXPECT_TRUE(other.start(collector.callback()));
    });
    ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
}

TEST_F(AudioCaptureTest, opensAStereoOnlyDeviceWithTwoChannels)
{
    useFakeDevice("channels 2");
    Collector collector;
    AudioCapture capture;
    std::string error;
    ASSERT_TRUE(capture.start(collector.callback(), &error)) << error;
    EXPECT_EQ(capture.channels(), 2);
    ASSERT_TRUE(collector.waitForFrames(4800));
    capture.stop();
    const std::vector<Collector::Block> blocks = collector.blocks();
    for (const Collector::Block& block : blocks)
        ASSERT_EQ(block.channels, 2);
    expectOneRun(blocks);
    const std::vector<int16_t> samples = collector.samples();
    for (size_t frame = 0; frame < 4800; ++frame) {
        ASSERT_EQ(samples[2 * frame], int16_t(frame % 32000)) << frame;
        ASSERT_EQ(samples[2 * frame + 1], int16_t(-int(frame % 32000))) << frame;
    }
}

TEST_F(AudioCaptureTest, survivesFiftyReadErrorsInARow)
{
    useFakeDevice("errors 50");
    Collector collector;
    AudioCapture capture;
    ASSERT_TRUE(capture.start(collector.callback()));
    ASSERT_TRUE(collector.waitForFrames(2400));
    capture.stop();
    expectOneRun(collector.blocks());
    EXPECT_EQ(collector.samples()[0], 0);
}

TEST_F(AudioCaptureTest, theFiftyFirstErrorEndsTheThreadAndStopStillCloses)
{
    useFakeDevice("errors 51");
    Collector collector;
    AudioCapture capture;
    ASSERT_TRUE(capture.start(collector.callback()));
    // 51 retries 5 ms apart: once they are over no frame may ever come.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(collector.calls(), 0);
    EXPECT_TRUE(capture.isRunning());
    std::string error;
    EXPECT_FALSE(capture.start(collector.callback(), &error));
    EXPECT_EQ(error, "AudioCapture already started.");
    capture.stop();
    EXPECT_FALSE(capture.isRunning());
    EXPECT_EQ(collector.calls(), 0);
}

// The moments the device's tone turns on and off, told by the blocks' times.
std::vector<int64_t> toneEdgesNs(const std::vector<Collector::Block>& blocks, const std::vector<int16_t>& samples)
{
    std::vector<int64_t> edges;
    bool sounding = false;
    for (const Collector::Block& block : blocks) {
        if (block.followsGap)  // no edge across lost frames
            sounding = samples[size_t(block.framesBefore)] != 0;
        for (int32_t i = 0; i < block.frames; ++i) {
            const bool loud = samples[size_t(block.framesBefore + i)] != 0;
            if (loud != sounding)
                edges.push_back(block.capturedNs + int64_t(i) * 1000000000 / kRate);
            sounding = loud;
        }
    }
    return edges;
}

TEST_F(AudioCaptureTest, blockTimesTellWhenTheSoundWasTakenAcrossStarvationOverrunAndADeviceDelay)
{
    // A tone that turns on and off every 200 ms of the clock, heard by a
    // device whose crystal runs 0.5 % fast; its reader is starved once, for
    // less than the buffer holds (nothing lost) or for more (an overrun); or
    // its frames are held 30 ms before they can be read, as by a sound
    // server, and its delay says so.
    struct Case {
        const char* name;
        int stallMs;
        bool overruns;
        int latencyMs;
    };
    const Case cases[] = {{"starved 300 ms", 300, false, 0}, {"starved 900 ms", 900, true, 0},
                          {"held 30 ms", 0, false, 30}};
    constexpr int64_t kPeriodNs = 200000000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t toneAtNs = steadyNowNs() + 300000000;
        const int64_t stallAtNs = toneAtNs + 500000000;
        useFakeDevice("mode \"paced\" ppm 5000 tone_at " + std::to_string(toneAtNs) + " tone_period_ms 200 stall_at " +
                      std::to_string(stallAtNs) + " stall_ms " + std::to_string(c.stallMs) + " latency_ms " +
                      std::to_string(c.latencyMs));
        Collector collector(1 << 30);
        AudioCapture capture;
        ASSERT_TRUE(capture.start(collector.callback()));
        ASSERT_GE(capture.bufferFrames() * 1000 / kRate, 250u);
        const int64_t untilNs = stallAtNs + int64_t(c.stallMs) * 1000000 + 1200000000;
        while (steadyNowNs() < untilNs)
            ASSERT_TRUE(collector.waitForFrames(collector.frames() + 1));
        capture.stop();

        const std::vector<Collector::Block> blocks = collector.blocks();
        size_t gaps = 0;
        int64_t lostNs = 0;
        for (size_t i = 1; i < blocks.size(); ++i) {
            const int64_t expectedNs = blocks[i - 1].capturedNs + int64_t(blocks[i - 1].frames) * 1000000000 / kRate;
            if (blocks[i].followsGap) {
                ++gaps;
                lostNs = blocks[i].capturedNs - expectedNs;
            }
        }
        if (c.overruns) {
            // An overrun loses what the reader had not read, the whole stall,
            // and the next block's time says so.
            EXPECT_EQ(gaps, 1u);
            EXPECT_GT(lostNs, (c.stallMs - 20) * 1000000LL);
            EXPECT_LT(lostNs, (c.stallMs + 100) * 1000000LL);
        } else {
            EXPECT_EQ(gaps, 0u);
        }
        // Every edge, before and after the stall, at its moment on the clock.
        const std::vector<int64_t> edges = toneEdgesNs(blocks, collector.samples());
        ASSERT_GE(edges.size(), size_t(8));
        for (const int64_t edgeNs : edges) {
            const int64_t k = (edgeNs - toneAtNs + kPeriodNs / 2) / kPeriodNs;
            EXPECT_NEAR(double(edgeNs - (toneAtNs + k * kPeriodNs)) / 1e6, 0.0, 5.0) << "edge " << k;
        }
    }
}

}  // namespace
}  // namespace lagwell
