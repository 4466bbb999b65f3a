#include "ShareEncoder.h"
#include "ThreadPriority.h"

#include "CHandles.h"
#include "ThreadScheduling.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>

using lagwell::kEncoderNiceIncrement;
using lagwell::ShareEncoder;
using lagwell::test::prioritiesOfThreadsNamed;
using lagwell::test::ThreadScheduling;

namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
    Bytes au;
    bool keyframe = false;
    int64_t ptsUs = 0;
    Bytes codecConfig;
};

// Collects what the sink receives; can hold the worker inside the sink.
class Collector {
public:
    ShareEncoder::AuSink sink()
    {
        return [this](const Bytes& au, bool keyframe, int64_t ptsUs, const Bytes& config) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_received.push_back({au, keyframe, ptsUs, config});
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !m_holding; });
        };
    }
    void hold()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = true;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        m_changed.notify_all();
    }
    bool waitFor(size_t count, std::chrono::seconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
    }
    std::vector<Received> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Received> m_received;
    bool m_holding = false;
};

Bytes picture(int width, int height, int shade)
{
    Bytes rgba(size_t(width) * height * 4);
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<uint8_t>(i * 3 + shade);
    return rgba;
}

// A steady-clock reading for the picture of ptsUs; the stream must not use it.
int64_t drawnAtNs(int64_t ptsUs) { return 9'000'000'000 + ptsUs * 1000 + 417; }

bool hasNalType(const Bytes& data, int type)
{
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1F) == type)
            return true;
    }
    return false;
}

std::vector<int64_t> ptsOf(const std::vector<Received>& received)
{
    std::vector<int64_t> out;
    for (const Received& r : received)
        out.push_back(r.ptsUs);
    return out;
}

// Decodes one keyframe access unit and returns its size.
std::pair<int, int> decodedSize(const Bytes& au)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    lagwell::AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {0, 0};
    lagwell::AvPacketPtr packet(av_packet_alloc());
    av_new_packet(packet.get(), static_cast<int>(au.size()));
    std::copy(au.begin(), au.end(), packet->data);
    avcodec_send_packet(context.get(), packet.get());
    avcodec_send_packet(context.get(), nullptr);
    lagwell::AvFramePtr frame(av_frame_alloc());
    if (avcodec_receive_frame(context.get(), frame.get()) != 0)
        return {0, 0};
    return {frame->width, frame->height};
}

TEST(ShareEncoderTest, idleEncoderIgnoresPicturesAndStopDoesNothing)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    EXPECT_FALSE(encoder.active());
    EXPECT_EQ(encoder.width(), 0);
    EXPECT_EQ(encoder.fps(), 30);
    const Bytes rgba = picture(64, 64, 1);
    encoder.submitRgba(rgba.data(), 64 * 4, 0, drawnAtNs(0));
    encoder.stop();
    encoder.stop();
    EXPECT_TRUE(collector.received().empty());
}

TEST(ShareEncoderTest, firstAccessUnitIsAKeyframeWithParameterSetsAndConfig)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    std::string error;
    ASSERT_TRUE(encoder.start(320, 240, 30, &error)) << error;
    EXPECT_TRUE(encoder.active());
    EXPECT_EQ(encoder.width(), 320);
    EXPECT_EQ(encoder.height(), 240);

    std::string again;
    EXPECT_FALSE(encoder.start(320, 240, 30, &again));
    EXPECT_EQ(again, "Share encoder already running.");

    for (int i = 0; i < 3; ++i) {
        const Bytes rgba = picture(320, 240, i);
        const int64_t ptsUs = 66666 + i * 33333;
        encoder.submitRgba(rgba.data(), 320 * 4, ptsUs, drawnAtNs(ptsUs));
        ASSERT_TRUE(collector.waitFor(size_t(i) + 1));
    }
    const auto received = collector.received();
    ASSERT_GE(received.size(), 3u);
    EXPECT_TRUE(received[0].keyframe);
    EXPECT_TRUE(hasNalType(received[0].au, 7));
    EXPECT_TRUE(hasNalType(received[0].au, 8));
    ASSERT_FALSE(received[0].codecConfig.empty());
    EXPECT_TRUE(hasNalType(received[0].codecConfig, 7));
    EXPECT_TRUE(hasNalType(received[0].codecConfig, 8));
    EXPECT_FALSE(hasNalType(received[0].codecConfig, 5));
    EXPECT_EQ(ptsOf(received), (std::vector<int64_t> {66666, 99999, 133332}));
    EXPECT_FALSE(received[1].keyframe);
    EXPECT_EQ(decodedSize(received[0].au), std::make_pair(320, 240));
}

TEST(ShareEncoderTest, fullQueueDropsTheOldestPictures)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    ASSERT_TRUE(encoder.start(160, 120, 30, nullptr));
    const Bytes rgba = picture(160, 120, 0);

    collector.hold();  // the worker stays inside the sink with picture 1
    encoder.submitRgba(rgba.data(), 160 * 4, 1, drawnAtNs(1));
    ASSERT_TRUE(collector.waitFor(1));
    for (int64_t pts = 2; pts <= 10; ++pts)
        encoder.submitRgba(rgba.data(), 160 * 4, pts, drawnAtNs(pts));
    collector.release();
    ASSERT_TRUE(collector.waitFor(5));
    encoder.stop();
    EXPECT_EQ(ptsOf(collector.received()), (std::vector<int64_t> {1, 7, 8, 9, 10}));
}

TEST(ShareEncoderTest, stopDiscardsQueuedPicturesAndRestartBeginsEmpty)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    ASSERT_TRUE(encoder.start(160, 120, 30, nullptr));
    const Bytes rgba = picture(160, 120, 0);

    collector.hold();
    encoder.submitRgba(rgba.data(), 160 * 4, 1, drawnAtNs(1));
    ASSERT_TRUE(collector.waitFor(1));
    for (int64_t pts = 2; pts <= 4; ++pts)
        encoder.submitRgba(rgba.data(), 160 * 4, pts, drawnAtNs(pts));
    auto stopped = std::async(std::launch::async, [&] { encoder.stop(); });
    // stop() waits for the worker, which is inside the sink: let it go.
    while (encoder.active())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    collector.release();
    stopped.get();
    EXPECT_EQ(ptsOf(collector.received()), (std::vector<int64_t> {1}));

    // A restart at another size starts with an empty queue and encodes at
    // the new size.
    ASSERT_TRUE(encoder.start(96, 64, 30, nullptr));
    const Bytes small = picture(96, 64, 5);
    encoder.submitRgba(small.data(), 96 * 4, 500, drawnAtNs(500));
    ASSERT_TRUE(collector.waitFor(2));
    const auto received = collector.received();
    EXPECT_EQ(received[1].ptsUs, 500);
    EXPECT_TRUE(received[1].keyframe);
    EXPECT_EQ(decodedSize(received[1].au), std::make_pair(96, 64));
}

TEST(ShareEncoderTest, packedPicturesMayOmitTheStride)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    ASSERT_TRUE(encoder.start(96, 64, 30, nullptr));
    const Bytes rgba = picture(96, 64, 0);
    encoder.submitRgba(rgba.data(), 0, 10, drawnAtNs(10));
    ASSERT_TRUE(collector.waitFor(1));
    encoder.submitRgba(rgba.data(), -1, 20, drawnAtNs(20));
    ASSERT_TRUE(collector.waitFor(2));
    EXPECT_TRUE(encoder.active());
    EXPECT_EQ(ptsOf(collector.received()), (std::vector<int64_t> {10, 20}));
}

TEST(ShareEncoderTest, zeroFpsUsesAKeyframeEveryThirtyPictures)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    ASSERT_TRUE(encoder.start(96, 64, 0, nullptr));
    EXPECT_EQ(encoder.fps(), 0);
    const Bytes rgba = picture(96, 64, 0);
    for (int i = 0; i < 31; ++i) {
        encoder.submitRgba(rgba.data(), 96 * 4, i * 33333, drawnAtNs(i * 33333));
        ASSERT_TRUE(collector.waitFor(size_t(i) + 1)) << i;
    }
    const auto received = collector.received();
    for (size_t i = 0; i < received.size(); ++i)
        EXPECT_EQ(received[i].keyframe, i % 30 == 0) << i;
}

TEST(ShareEncoderTest, encodingFailureStopsTheStreamReportsItAndAllowsARestart)
{
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    std::promise<std::string> failure;
    encoder.setFailureHandler([&failure](const std::string& message) { failure.set_value(message); });
    ASSERT_TRUE(encoder.start(96, 64, 30, nullptr));
    // A stride shorter than a row cannot be encoded.
    const Bytes rgba = picture(96, 64, 0);
    encoder.submitRgba(rgba.data(), 8, 10, drawnAtNs(10));
    auto message = failure.get_future();
    ASSERT_EQ(message.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(message.get().rfind("Live sharing stopped because the video encoder failed (", 0), 0u);
    EXPECT_FALSE(encoder.active());
    encoder.submitRgba(rgba.data(), 96 * 4, 20, drawnAtNs(20));  // ignored
    encoder.stop();
    EXPECT_TRUE(collector.received().empty());

    encoder.setFailureHandler(nullptr);
    ASSERT_TRUE(encoder.start(96, 64, 30, nullptr));
    encoder.submitRgba(rgba.data(), 96 * 4, 30, drawnAtNs(30));
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.received()[0].ptsUs, 30);
}

TEST(ShareEncoderTest, theWorkerAndTheEncodersThreadsRunBelowTheCaller)
{
    const int callerNice = getpriority(PRIO_PROCESS, 0);
    ShareEncoder encoder;
    Collector collector;
    encoder.setAuSink(collector.sink());
    ASSERT_TRUE(encoder.start(640, 360, 30, nullptr));
    const Bytes rgba = picture(640, 360, 0);
    encoder.submitRgba(rgba.data(), 640 * 4, 1, drawnAtNs(1));
    ASSERT_TRUE(collector.waitFor(1));
    const std::vector<ThreadScheduling> encoderThreads = prioritiesOfThreadsNamed("tvx-share-enc");
    ASSERT_FALSE(encoderThreads.empty());
    for (const ThreadScheduling& priority : encoderThreads) {
        EXPECT_EQ(priority.nice, std::min(callerNice + kEncoderNiceIncrement, 19));
        EXPECT_EQ(priority.policy, SCHED_BATCH);
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), callerNice);
    encoder.stop();
    EXPECT_TRUE(prioritiesOfThreadsNamed("tvx-share-enc").empty()) << "stop ends every encoder thread";
}

TEST(ShareEncoderTest, destroyingARunningEncoderStopsIt)
{
    Collector collector;
    {
        ShareEncoder encoder;
        encoder.setAuSink(collector.sink());
        ASSERT_TRUE(encoder.start(96, 64, 30, nullptr));
        const Bytes rgba = picture(96, 64, 0);
        for (int i = 0; i < 4; ++i)
            encoder.submitRgba(rgba.data(), 96 * 4, i, drawnAtNs(i));
    }
    EXPECT_LE(collector.received().size(), 4u);
}

}  // namespace
