#include "PanelDecoder.h"

#include "DecoderTestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/hwcontext.h>
}

#include <map>
#include <thread>

using lagwell::DecodedFrame;
using lagwell::FrameRing;
using lagwell::PanelDecoder;
using lagwell::TripleBuffer;
using namespace decodetest;

namespace {

// Adds stream frames [first, last) with wall times frameWallMs(index).
void addFrames(FrameRing& ring, const H264Stream& stream, int first, int last)
{
    for (int i = first; i < last; ++i) {
        lagwell::EncodedFrame frame = stream.frames.at(static_cast<size_t>(i));
        frame.wallMs = frameWallMs(i);
        frame.ptsUs = frame.wallMs * 1000;
        ring.add(std::move(frame));
    }
}

std::shared_ptr<FrameRing> makeRing(const H264Stream& stream, const H264Options& options, int64_t windowMs,
                                    int frames)
{
    auto ring = std::make_shared<FrameRing>(windowMs);
    ring->setStream(lagwell::kFourccH264, options.width, options.height, stream.extradata);
    addFrames(*ring, stream, 0, frames);
    return ring;
}

// The newest stream index whose wall time is at or before targetMs.
int indexAtOrBefore(int64_t targetMs, int frames)
{
    int found = 0;
    for (int i = 0; i < frames; ++i) {
        if (frameWallMs(i) <= targetMs)
            found = i;
    }
    return found;
}

// The picture shows the stream frame it claims to be (flat luma per index).
void expectContentMatches(const DecodedFrame& picture, int index)
{
    const double luma = planeMean(picture.planes[0]);
    EXPECT_EQ(indexForLuma(static_cast<int>(luma + 0.5)), index % kLumaCycle)
        << "picture seq " << picture.seq << " carries the content of another frame (luma " << luma << ")";
    EXPECT_NEAR(planeMean(picture.planes[1]), 90.0, 3.0);
    EXPECT_NEAR(planeMean(picture.planes[2]), 170.0, 3.0);
}

const H264Stream& sharedStream()
{
    static const H264Stream stream = encodeH264(H264Options {});
    return stream;
}

}  // namespace

class H264DelayTest : public testing::TestWithParam<int32_t> {};

TEST_P(H264DelayTest, showsTheFrameAtNowMinusDelay)
{
    const int32_t delayMs = GetParam();
    const H264Options options;
    const H264Stream& stream = sharedStream();
    ASSERT_EQ(stream.frames.size(), static_cast<size_t>(options.frames));
    ASSERT_TRUE(stream.frames[0].keyframe);
    auto ring = makeRing(stream, options, kLongWindowMs, options.frames);
    FakeClock clock(frameWallMs(options.frames - 1));
    const int64_t targetMs = clock.now() - delayMs;
    const int expected = indexAtOrBefore(targetMs, options.frames);

    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.setDelayMs(delayMs);
    decoder.start();
    bool sawFuture = false;
    std::shared_ptr<const DecodedFrame> picture;
    waitUntil([&] {
        auto frame = out.acquire();
        if (frame && frame->wallMs > targetMs)
            sawFuture = true;
        if (frame && frame->seq == static_cast<uint64_t>(expected))
            picture = frame;
        return picture != nullptr;
    });
    ASSERT_TRUE(picture) << "no picture for stream index " << expected;
    EXPECT_FALSE(sawFuture) << "a picture newer than the target was shown";
    EXPECT_EQ(picture->layout, DecodedFrame::Layout::I420);
    EXPECT_EQ(picture->width, options.width);
    EXPECT_EQ(picture->height, options.height);
    EXPECT_LE(picture->wallMs, targetMs);
    EXPECT_GT(picture->wallMs, targetMs - 34) << "more than one frame interval behind the target";
    expectContentMatches(*picture, expected);
}

INSTANTIATE_TEST_SUITE_P(Delays, H264DelayTest, testing::Values(0, 400, 1000, 2000, 2950));

TEST(PanelDecoderH264Test, outOfBandParameterSetsGoInFrontOfEveryKeyframe)
{
    H264Options options;
    options.globalHeader = true;
    options.frames = 60;
    const H264Stream stream = encodeH264(options);
    ASSERT_FALSE(stream.extradata.empty());
    // Without the parameter sets no frame of this stream decodes.
    auto ring = makeRing(stream, options, kLongWindowMs, 20);
    FakeClock clock(frameWallMs(19));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    auto picture = waitForSeq(out, 19);
    ASSERT_TRUE(picture);
    expectContentMatches(*picture, 19);

    // Across the next keyframes (at 30 and 45) too.
    addFrames(*ring, stream, 20, 60);
    clock.set(frameWallMs(59));
    picture = waitForSeq(out, 59);
    ASSERT_TRUE(picture);
    expectContentMatches(*picture, 59);
}

TEST(PanelDecoderH264Test, delayChangesBeyond250MsSeekToAKeyframe)
{
    const H264Options options;
    const H264Stream& stream = sharedStream();
    auto ring = makeRing(stream, options, kLongWindowMs, options.frames);
    FakeClock clock(frameWallMs(options.frames - 1));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    const auto expectShown = [&](int32_t delayMs) {
        const int expected = indexAtOrBefore(clock.now() - delayMs, options.frames);
        auto picture = waitForSeq(out, static_cast<uint64_t>(expected));
        ASSERT_TRUE(picture) << "delay " << delayMs << ": no picture for index " << expected;
        expectContentMatches(*picture, expected);
    };

    decoder.setDelayMs(500);
    decoder.start();
    expectShown(500);

    // Going back in time is only possible by a seek.
    decoder.setDelayMs(2000);
    expectShown(2000);

    // 200 ms from the delay of the last seek: no seek, the panel waits for
    // the target to pass its next frame.
    decoder.setDelayMs(2200);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(out.acquire());
    EXPECT_EQ(out.acquire()->seq, static_cast<uint64_t>(indexAtOrBefore(clock.now() - 2000, options.frames)));

    // 251 ms from it: seek.
    decoder.setDelayMs(2251);
    expectShown(2251);
}

TEST(PanelDecoderH264Test, resynchronisesWhenTheRingEvictsItsNextFrame)
{
    H264Options options;
    options.frames = 300;  // ten seconds, keyframe every half second
    const H264Stream stream = encodeH264(options);
    auto ring = makeRing(stream, options, 1000, 60);
    FakeClock clock(frameWallMs(59));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.setDelayMs(500);
    decoder.start();
    const int first = indexAtOrBefore(clock.now() - 500, 60);
    ASSERT_TRUE(waitForSeq(out, static_cast<uint64_t>(first)));

    // Eight seconds arrive while the clock stands still: the decoder's next
    // frame leaves the ring before it is due.
    addFrames(*ring, stream, 60, 300);
    ASSERT_FALSE(ring->bySequence(static_cast<uint64_t>(first + 1)));
    clock.set(frameWallMs(299));
    const int expected = indexAtOrBefore(clock.now() - 500, 300);
    auto picture = waitForSeq(out, static_cast<uint64_t>(expected));
    ASSERT_TRUE(picture) << "the decoder did not resynchronise";
    expectContentMatches(*picture, expected);
}

TEST(PanelDecoderH264Test, picturesKeepTheirOwnTimesWhenTheDecoderSwallowsPackets)
{
    // Frame 20 is a P frame the ring believes to be a keyframe. A seek lands
    // on it after a flush; the decoder takes frames 20 to 29 without showing
    // them (no reference), and the keyframe at 30 and every later picture
    // must still carry their own times.
    const H264Options options;
    const H264Stream& stream = sharedStream();
    auto ring = std::make_shared<FrameRing>(kLongWindowMs);
    ring->setStream(lagwell::kFourccH264, options.width, options.height, {});
    for (int i = 0; i < 60; ++i) {
        lagwell::EncodedFrame frame = stream.frames.at(static_cast<size_t>(i));
        frame.wallMs = frameWallMs(i);
        frame.keyframe = frame.keyframe || i == 20;
        ring->add(std::move(frame));
    }
    FakeClock clock(frameWallMs(59));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.setDelayMs(static_cast<int32_t>(frameWallMs(59) - frameWallMs(10)));
    decoder.start();
    ASSERT_TRUE(waitForSeq(out, 10));

    const int32_t delayMs = static_cast<int32_t>(frameWallMs(59) - frameWallMs(27));
    decoder.setDelayMs(delayMs);  // seeks to 20
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    clock.set(frameWallMs(59) + delayMs);  // same delay, target now frame 59: decode forward

    std::map<uint64_t, std::shared_ptr<const DecodedFrame>> seen;
    waitUntil([&] {
        if (auto frame = out.acquire())
            seen[frame->seq] = frame;
        return seen.count(59) == 1;
    });
    ASSERT_EQ(seen.count(59), 1u);
    int checked = 0;
    for (const auto& [seq, picture] : seen) {
        if (seq >= 30) {
            expectContentMatches(*picture, static_cast<int>(seq));
            ++checked;
        }
    }
    EXPECT_GE(checked, 1);
}

TEST(PanelDecoderH264Test, oddSized444StreamIsConvertedToPackedI420)
{
    H264Options options;
    options.width = 161;
    options.height = 97;
    options.frames = 20;
    options.yuv444 = true;
    const H264Stream stream = encodeH264(options);
    auto ring = makeRing(stream, options, kLongWindowMs, options.frames);
    FakeClock clock(frameWallMs(options.frames - 1));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    auto picture = waitForSeq(out, static_cast<uint64_t>(options.frames - 1));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->layout, DecodedFrame::Layout::I420);
    EXPECT_EQ(picture->width, 161);
    EXPECT_EQ(picture->height, 97);
    EXPECT_EQ(picture->strides, (std::array<int32_t, 3> {161, 81, 81}));
    EXPECT_EQ(picture->planes[0].size(), 161u * 97u);
    EXPECT_EQ(picture->planes[1].size(), 81u * 49u);
    EXPECT_EQ(picture->planes[2].size(), 81u * 49u);
    expectContentMatches(*picture, options.frames - 1);
}

class H264HardwareFallbackTest : public testing::TestWithParam<const char*> {};

TEST_P(H264HardwareFallbackTest, decodesInSoftwareAndSaysSoAtMostOnce)
{
    const std::string name = GetParam();
    // Whether this machine has the hardware, asked the same way the decoder does.
    bool expectFallbackLine = false;
    if (name == "vaapi" || name == "cuda") {
        AVBufferRef* device = nullptr;
        const AVHWDeviceType type = name == "vaapi" ? AV_HWDEVICE_TYPE_VAAPI : AV_HWDEVICE_TYPE_CUDA;
        expectFallbackLine = av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0) < 0;
        av_buffer_unref(&device);
    } else if (name == "v4l2m2m") {
        if (const AVCodec* codec = avcodec_find_decoder_by_name("h264_v4l2m2m")) {
            lagwell::AvCodecContextPtr context(avcodec_alloc_context3(codec));
            expectFallbackLine = avcodec_open2(context.get(), codec, nullptr) != 0;
        }
    }

    const H264Options options;
    const H264Stream& stream = sharedStream();
    auto ring = makeRing(stream, options, kLongWindowMs, 30);
    FakeClock clock(frameWallMs(29));
    TripleBuffer out;
    testing::internal::CaptureStderr();
    {
        PanelDecoder decoder(ring, out, clock.function());
        decoder.setHardwareDecoder(name);
        decoder.start();
        auto first = waitForSeq(out, 29);
        EXPECT_TRUE(first);
        // A new ring makes the decoder again; the fallback is not announced twice.
        decoder.setRing(ring);
        EXPECT_TRUE(waitUntil([&] {
            auto frame = out.acquire();
            return frame && frame->seq == 29 && frame != first;
        }));
        if (first)
            expectContentMatches(*first, 29);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countLines(log, "falling back to software H.264"), expectFallbackLine ? 1 : 0) << log;
    if (expectFallbackLine && (name == "vaapi" || name == "cuda")) {
        const std::string line = "PanelDecoder: failed to create a " + name + " hw device, falling back to software H.264";
        EXPECT_EQ(countLines(log, line), 1) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, H264HardwareFallbackTest, testing::Values("vaapi", "cuda", "v4l2m2m", "none", ""),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param ? info.param : "empty");
                         });

TEST(PanelDecoderH264Test, pictureDecodedAheadOfAReorderingStreamKeepsOrderTimesAndContent)
{
    // With B frames the decoder is fed ahead until a picture comes out; the
    // clock stops 1 ms before every frame is due, then reaches it.
    H264Options options;
    options.frames = 60;
    options.gop = 20;
    options.bFrames = 2;
    const H264Stream stream = encodeH264(options);
    const std::vector<int> reference = referenceLatestPictures(stream);
    auto ring = makeRing(stream, options, kLongWindowMs, options.frames);
    FakeClock clock(frameWallMs(0) - 1);
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();

    std::string fault;
    int lastDisplayed = -1;
    const auto check = [&](const std::shared_ptr<const DecodedFrame>& picture) {
        if (!picture || !fault.empty())
            return;
        const int index = stream.displayIndex.at(picture->seq);
        if (indexForLuma(static_cast<int>(planeMean(picture->planes[0]) + 0.5)) != index % kLumaCycle)
            fault = "frame " + std::to_string(picture->seq) + " carries another frame's picture";
        else if (picture->wallMs > clock.now())
            fault = "frame " + std::to_string(picture->seq) + " shown before it was due";
        else if (index < lastDisplayed)
            fault = "picture " + std::to_string(index) + " shown after " + std::to_string(lastDisplayed);
        lastDisplayed = std::max(lastDisplayed, index);
    };
    for (int k = 0; k < options.frames; ++k) {
        clock.set(frameWallMs(k) - 1);
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            check(out.acquire());
        }
        clock.set(frameWallMs(k));
        const int wanted = reference[static_cast<size_t>(k)];
        if (wanted < 0)
            continue;
        // At least as far on in display order as a plain decoder fed up to k.
        const bool reached = waitUntil([&] {
            const auto picture = out.acquire();
            check(picture);
            return picture && stream.displayIndex.at(picture->seq) >= stream.displayIndex.at(wanted);
        });
        ASSERT_TRUE(fault.empty()) << "at frame " << k << ": " << fault;
        ASSERT_TRUE(reached) << "at frame " << k << " picture " << stream.displayIndex.at(wanted) << " never shown";
    }
}
