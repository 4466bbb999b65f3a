#include "Transcoder.h"

#include "AnnexB.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using lagwell::EncodedFrame;
using lagwell::Transcoder;
using lagwell::kFourccH264;
using lagwell::kFourccMjpeg;
using lagwell::test::LogCapture;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;

EncodedFrame jpegFrame(int width, int height, int64_t index)
{
    EncodedFrame frame;
    frame.data = lagwell::test::makeJpeg(width, height, index);
    frame.ptsUs = 7'000'000 + index * 33'333;
    frame.wallMs = 1'700'000'000'000 + index * 33 + (index % 3);  // not derivable from ptsUs
    frame.keyframe = true;
    return frame;
}

std::vector<std::vector<uint8_t>> payloads(const std::vector<EncodedFrame>& frames)
{
    std::vector<std::vector<uint8_t>> out;
    for (const EncodedFrame& frame : frames)
        out.push_back(frame.data);
    return out;
}


}  // namespace

TEST(TranscoderTest, ninetyJpegsBecomeNinetyAccessUnitsWithTheirCaptureTimes)
{
    std::vector<EncodedFrame> inputs;
    for (int i = 0; i < 90; ++i)
        inputs.push_back(jpegFrame(kWidth, kHeight, i));

    std::vector<EncodedFrame> outputs;
    Transcoder transcoder;
    std::string error;
    ASSERT_TRUE(transcoder.start(kFourccMjpeg, kWidth, kHeight, 30, "libx264",
                                 [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, &error))
        << error;
    EXPECT_TRUE(transcoder.isRunning());
    for (const EncodedFrame& input : inputs)
        transcoder.feed(input);
    const std::vector<uint8_t> configWhileRunning = transcoder.codecConfig();
    // The encoder holds pictures back; stop hands out the rest.
    EXPECT_LT(outputs.size(), 90u);
    transcoder.stop();
    EXPECT_FALSE(transcoder.isRunning());
    EXPECT_TRUE(transcoder.codecConfig().empty());

    ASSERT_EQ(outputs.size(), 90u);
    for (size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(outputs[i].ptsUs, inputs[i].ptsUs) << i;
        EXPECT_EQ(outputs[i].wallMs, inputs[i].wallMs) << i;
        EXPECT_EQ(outputs[i].keyframe, i % 30 == 0) << i;
        EXPECT_EQ(outputs[i].seq, 0u) << i;
    }
    const lagwell::AnnexBScan first = lagwell::scanAnnexB(outputs[0].data.data(), outputs[0].data.size());
    EXPECT_TRUE(first.hasIdrSlice);
    ASSERT_FALSE(first.parameterSets.empty());
    EXPECT_EQ(configWhileRunning, first.parameterSets);

    const auto pictures = lagwell::test::decodeH264(payloads(outputs));
    ASSERT_EQ(pictures.size(), 90u);
    int keyPictures = 0;
    for (const auto& picture : pictures) {
        EXPECT_EQ(picture.width, kWidth);
        EXPECT_EQ(picture.height, kHeight);
        keyPictures += picture.keyframe ? 1 : 0;
    }
    EXPECT_EQ(keyPictures, 3);
}

TEST(TranscoderTest, frameRateSetsTheKeyframeIntervalAndZeroMeansThirty)
{
    struct Case {
        int fps;
        size_t interval;
    } cases[] = {{0, 30}, {10, 10}};
    for (const Case& c : cases) {
        std::vector<EncodedFrame> outputs;
        Transcoder transcoder;
        ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, c.fps, "libx264",
                                     [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, nullptr));
        for (int i = 0; i < 35; ++i)
            transcoder.feed(jpegFrame(320, 240, i));
        transcoder.stop();
        ASSERT_EQ(outputs.size(), 35u) << c.fps;
        for (size_t i = 0; i < outputs.size(); ++i)
            EXPECT_EQ(outputs[i].keyframe, i % c.interval == 0) << c.fps << " frame " << i;
    }
}

TEST(TranscoderTest, startFailuresGiveTheirMessageAndLeaveItStopped)
{
    struct Case {
        uint32_t fourcc;
        int width, height;
        std::string encoder;
        std::string expected;
    } cases[] = {
        {kFourccH264, 640, 360, "libx264", "Transcoder only supports MJPEG camera input"},
        {0, 640, 360, "libx264", "Transcoder only supports MJPEG camera input"},
        {kFourccMjpeg, 640, 360, "h264_nonexistent", "Encoder not available: h264_nonexistent"},
        {kFourccMjpeg, 640, 360, "", "Encoder not available: "},
        {kFourccMjpeg, 0, 0, "libx264", "Failed to open encoder: libx264"},
        {kFourccMjpeg, -640, 360, "libx264", "Failed to open encoder: libx264"},
        // No render node on the build machines.
        {kFourccMjpeg, 640, 360, "h264_vaapi", "Failed to create a VAAPI device context on /dev/dri/renderD128"},
    };
    for (const Case& c : cases) {
        Transcoder transcoder;
        int called = 0;
        std::string error;
        EXPECT_FALSE(transcoder.start(c.fourcc, c.width, c.height, 30, c.encoder,
                                      [&](EncodedFrame&&) { ++called; }, &error))
            << c.encoder;
        EXPECT_EQ(error, c.expected) << c.encoder;
        EXPECT_FALSE(transcoder.isRunning());
        transcoder.feed(jpegFrame(640, 360, 0));
        transcoder.stop();
        EXPECT_EQ(called, 0);
        // The same object starts cleanly afterwards.
        EXPECT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264", nullptr, nullptr)) << c.encoder;
    }
}

TEST(TranscoderTest, secondStartIsRefusedAndTheRunningOneGoesOn)
{
    std::vector<EncodedFrame> outputs;
    Transcoder transcoder;
    ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264",
                                 [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, nullptr));
    std::string error;
    EXPECT_FALSE(transcoder.start(kFourccMjpeg, 640, 360, 30, "libx264", nullptr, &error));
    EXPECT_EQ(error, "Transcoder already running");
    for (int i = 0; i < 3; ++i)
        transcoder.feed(jpegFrame(320, 240, i));
    transcoder.stop();
    transcoder.stop();
    ASSERT_EQ(outputs.size(), 3u);
    const auto pictures = lagwell::test::decodeH264(payloads(outputs));
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(pictures[0].width, 320);
}

TEST(TranscoderTest, feedBeforeStartOrAfterStopDoesNothing)
{
    int called = 0;
    Transcoder transcoder;
    transcoder.feed(jpegFrame(320, 240, 0));
    ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264", [&](EncodedFrame&&) { ++called; }, nullptr));
    transcoder.feed(jpegFrame(320, 240, 1));
    transcoder.stop();
    EXPECT_EQ(called, 1);
    transcoder.feed(jpegFrame(320, 240, 2));
    EXPECT_EQ(called, 1);
}

TEST(TranscoderTest, garbageBetweenJpegsLosesOnlyTheGarbage)
{
    std::vector<EncodedFrame> inputs;
    std::vector<bool> valid;
    auto add = [&](EncodedFrame frame, bool isValid) {
        inputs.push_back(std::move(frame));
        valid.push_back(isValid);
    };
    EncodedFrame empty;
    EncodedFrame noise;
    for (int i = 0; i < 5000; ++i)
        noise.data.push_back(static_cast<uint8_t>((i * 7919) ^ (i >> 3)));
    EncodedFrame headerOnly = jpegFrame(320, 240, 99);
    headerOnly.data.resize(20);

    add(jpegFrame(320, 240, 0), true);
    add(noise, false);
    add(jpegFrame(320, 240, 1), true);
    add(empty, false);
    add(jpegFrame(320, 240, 2), true);
    add(headerOnly, false);
    add(jpegFrame(320, 240, 3), true);
    for (size_t i = 0; i < inputs.size(); ++i)
        inputs[i].ptsUs = static_cast<int64_t>(i) * 1000;

    std::vector<EncodedFrame> outputs;
    Transcoder transcoder;
    LogCapture log;
    ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264",
                                 [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, nullptr));
    for (const EncodedFrame& input : inputs)
        transcoder.feed(input);
    transcoder.stop();
    std::vector<int64_t> expectedTimes;
    for (size_t i = 0; i < inputs.size(); ++i)
        if (valid[i])
            expectedTimes.push_back(inputs[i].ptsUs);
    std::vector<int64_t> times;
    for (const EncodedFrame& frame : outputs)
        times.push_back(frame.ptsUs);
    EXPECT_EQ(times, expectedTimes);
    EXPECT_EQ(lagwell::test::decodeH264(payloads(outputs)).size(), expectedTimes.size());
    EXPECT_GE(log.count("Transcoder: MJPEG decode"), 3);
}

TEST(TranscoderTest, picturesOfAnotherSizeAreScaledToTheStreamSize)
{
    std::vector<EncodedFrame> outputs;
    Transcoder transcoder;
    LogCapture log;
    ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264",
                                 [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, nullptr));
    transcoder.feed(jpegFrame(320, 240, 0));
    transcoder.feed(jpegFrame(640, 480, 1));   // larger: the old scaler would read too little
    transcoder.feed(jpegFrame(160, 96, 2));    // smaller: the old scaler would read past the end
    transcoder.feed(jpegFrame(320, 240, 3));
    transcoder.stop();
    ASSERT_EQ(outputs.size(), 4u);
    const auto pictures = lagwell::test::decodeH264(payloads(outputs));
    ASSERT_EQ(pictures.size(), 4u);
    for (const auto& picture : pictures) {
        EXPECT_EQ(picture.width, 320);
        EXPECT_EQ(picture.height, 240);
    }
    EXPECT_EQ(log.count("Transcoder: camera pictures are 640x480, scaling them to 320x240"), 1);
    EXPECT_EQ(log.count("Transcoder: camera pictures are 160x96, scaling them to 320x240"), 1);
}

TEST(TranscoderTest, destroyingARunningTranscoderFlushesIntoTheCallback)
{
    std::vector<EncodedFrame> outputs;
    {
        Transcoder transcoder;
        ASSERT_TRUE(transcoder.start(kFourccMjpeg, 320, 240, 30, "libx264",
                                     [&](EncodedFrame&& frame) { outputs.push_back(std::move(frame)); }, nullptr));
        for (int i = 0; i < 10; ++i)
            transcoder.feed(jpegFrame(320, 240, i));
    }
    EXPECT_EQ(outputs.size(), 10u);
}
