#include "UvcCapture.h"

#include "AnnexB.h"
#include "FakeV4l2.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

using lagwell::CaptureRequest;
using lagwell::EncodedFrame;
using lagwell::FakeCameraConfig;
using lagwell::FakeFormat;
using lagwell::FakeFrameSize;
using lagwell::FakeV4l2;
using lagwell::UvcCapture;
using lagwell::kFourccH264;
using lagwell::kFourccMjpeg;
using lagwell::test::FrameCollector;
using lagwell::test::LogCapture;

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kYuyv = lagwell::makeFourcc('Y', 'U', 'Y', 'V');

FakeCameraConfig camera(const std::string& node, std::vector<uint32_t> fourccs, uint32_t width = 1280,
                      uint32_t height = 720)
{
    FakeCameraConfig config;
    config.node = node;
    config.busInfo = "usb-" + node;
    for (uint32_t fourcc : fourccs)
        config.formats.push_back(FakeFormat {fourcc, {FakeFrameSize {width, height, {{1, 30}}, false}}, false});
    return config;
}

CaptureRequest request(const std::string& id, uint32_t preferred = 0, int fps = 30)
{
    CaptureRequest r;
    r.deviceId = id;
    r.width = 1280;
    r.height = 720;
    r.fps = fps;
    r.preferredFourcc = preferred;
    return r;
}

std::vector<uint8_t> bytes(size_t count, uint8_t value = 0xAB)
{
    return std::vector<uint8_t>(count, value);
}

timeval at(int64_t us)
{
    return timeval {static_cast<time_t>(us / 1'000'000), static_cast<suseconds_t>(us % 1'000'000)};
}

int64_t systemNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace

TEST(UvcCaptureTest, negotiationTriesPreferredThenMjpegThenH264)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> offered;
        uint32_t preferred;
        std::vector<uint32_t> asked;
        uint32_t negotiated;
    } cases[] = {
        {"MJPEG first even when H.264 is offered", {kFourccH264, kFourccMjpeg}, 0, {kFourccMjpeg}, kFourccMjpeg},
        {"H.264 after the driver substitutes for MJPEG", {kFourccH264, kYuyv}, 0, {kFourccMjpeg, kFourccH264},
         kFourccH264},
        {"preferred H.264 goes first", {kFourccMjpeg, kFourccH264}, kFourccH264, {kFourccH264}, kFourccH264},
        {"preferred MJPEG is not repeated", {kYuyv, kFourccH264}, kFourccMjpeg, {kFourccMjpeg, kFourccH264},
         kFourccH264},
        {"preferred raw format is honoured", {kFourccMjpeg, kYuyv}, kYuyv, {kYuyv}, kYuyv},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        fake.addCamera(camera("video0", c.offered));
        UvcCapture capture(fake);
        std::string error;
        LogCapture log;
        ASSERT_TRUE(capture.start(request("/dev/video0", c.preferred), nullptr, &error)) << c.name << ": " << error;
        EXPECT_EQ(fake.askedFourccs("video0"), c.asked) << c.name;
        EXPECT_EQ(capture.negotiatedFourcc(), c.negotiated) << c.name;
        capture.stop();
        if (c.asked.size() > 1 && c.asked[0] == kFourccMjpeg) {
            EXPECT_EQ(log.count("UvcCapture::negotiateFormat: /dev/video0: asked for MJPG, driver substituted"), 1)
                << c.name;
        }
    }
}

TEST(UvcCaptureTest, acceptedFormatSetsRateAndExposurePriorityAndKeepsTheDriverSize)
{
    struct Case {
        int fps;
        uint32_t expectedDenominator;
    } cases[] = {{0, 30}, {-5, 30}, {15, 15}, {60, 60}};
    for (const Case& c : cases) {
        FakeV4l2 fake;
        fake.addCamera(camera("video0", {kFourccMjpeg}, 640, 480));
        UvcCapture capture(fake);
        LogCapture log;
        ASSERT_TRUE(capture.start(request("/dev/video0", 0, c.fps), nullptr, nullptr));
        EXPECT_EQ(capture.negotiatedWidth(), 640);
        EXPECT_EQ(capture.negotiatedHeight(), 480);
        const v4l2_fract perFrame = fake.timePerFrame("video0");
        EXPECT_EQ(perFrame.numerator, 1u);
        EXPECT_EQ(perFrame.denominator, c.expectedDenominator);
        const auto controls = fake.controls("video0");
        ASSERT_EQ(controls.size(), 1u);
        EXPECT_EQ(controls[0].first, static_cast<uint32_t>(V4L2_CID_EXPOSURE_AUTO_PRIORITY));
        EXPECT_EQ(controls[0].second, 0);
        capture.stop();
        EXPECT_EQ(log.count("UvcCapture::negotiateFormat: /dev/video0: negotiated MJPG 640x480"), 1);
        EXPECT_EQ(log.count("UvcCapture::start: opening /dev/video0 (requested 1280x720 @" + std::to_string(c.fps) +
                            "fps, preferred fourcc )"),
                  1);
    }
}

TEST(UvcCaptureTest, startFailuresGiveTheirMessageAndLeaveNothingOpen)
{
    const std::string groupHint =
        "in the 'video' group; if not, run: sudo usermod -aG video $USER, then log out and back in (or reboot)";
    struct Case {
        const char* name;
        std::function<void(FakeCameraConfig&)> setUp;
        bool inVideoGroup;
        std::string expected;
    } cases[] = {
        {"open refused outside the video group", [](FakeCameraConfig& s) { s.openErrno = EACCES; }, false,
         "Failed to open /dev/video0: Permission denied — this user is NOT " + groupHint},
        {"open refused inside the video group", [](FakeCameraConfig& s) { s.openErrno = EACCES; }, true,
         "Failed to open /dev/video0: Permission denied — this user is " + groupHint},
        {"open refused as busy", [](FakeCameraConfig& s) { s.openErrno = EBUSY; }, true,
         "Failed to open /dev/video0: Device or resource busy — another program is using this camera"},
        {"format refused as busy", [](FakeCameraConfig& s) { s.setFormatErrno = EBUSY; }, true,
         "The camera /dev/video0 is in use by another program (Device or resource busy)."},
        {"only raw formats", [](FakeCameraConfig& s) { s.formats = camera("x", {kYuyv}).formats; }, true,
         "No supported capture format (tried MJPEG and H.264) on /dev/video0. This camera offers: YUYV. This app does "
         "not yet support raw/uncompressed camera formats — try a different USB camera that offers MJPEG."},
        {"every format refused", [](FakeCameraConfig& s) { s.setFormatErrno = EINVAL; }, true,
         "No supported capture format (tried MJPEG and H.264) on /dev/video0. This camera offers: MJPG."},
        {"no formats at all", [](FakeCameraConfig& s) { s.formats.clear(); }, true,
         "No supported capture format (tried MJPEG and H.264) on /dev/video0. This camera offers: (none). This app "
         "does not yet support raw/uncompressed camera formats — try a different USB camera that offers MJPEG."},
        {"buffer request refused", [](FakeCameraConfig& s) { s.requestBuffersErrno = ENOMEM; }, true,
         "VIDIOC_REQBUFS failed: Cannot allocate memory"},
        {"too few buffers", [](FakeCameraConfig& s) { s.maxBuffers = 1; }, true,
         "Driver granted too few capture buffers"},
        {"buffer query refused", [](FakeCameraConfig& s) { s.queryBufferErrno = EINVAL; }, true,
         "VIDIOC_QUERYBUF failed: Invalid argument"},
        {"mapping refused", [](FakeCameraConfig& s) { s.mmapErrno = ENOMEM; }, true,
         "mmap failed: Cannot allocate memory"},
        {"queueing refused", [](FakeCameraConfig& s) { s.queueErrno = EIO; }, true,
         "VIDIOC_QBUF failed: Input/output error"},
        {"stream on refused", [](FakeCameraConfig& s) { s.streamOnErrno = ENOSPC; }, true,
         "VIDIOC_STREAMON failed: No space left on device"},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        FakeCameraConfig config = camera("video0", {kFourccMjpeg});
        c.setUp(config);
        fake.addCamera(config);
        fake.setGroups(true, 44, c.inVideoGroup ? 44 : 1000, {});
        UvcCapture capture(fake);
        std::string error;
        LogCapture log;
        EXPECT_FALSE(capture.start(request("/dev/video0"), nullptr, &error)) << c.name;
        EXPECT_EQ(error, c.expected) << c.name;
        EXPECT_FALSE(capture.isRunning()) << c.name;
        EXPECT_EQ(fake.openDescriptors(), 0) << c.name;
        EXPECT_EQ(fake.mappedBuffers(), 0) << c.name;
        EXPECT_GE(log.count("[ERROR]"), 1) << c.name;
        EXPECT_GE(log.count(c.expected), 1) << c.name;
        // Without an error string the start fails the same way.
        EXPECT_FALSE(capture.start(request("/dev/video0"), nullptr, nullptr)) << c.name;
    }
}

TEST(UvcCaptureTest, openingAMissingNodeOnThisMachineFailsWithTheSystemText)
{
    UvcCapture capture;
    std::string error;
    LogCapture log;
    EXPECT_FALSE(capture.start(request("/dev/video0"), nullptr, &error));
    EXPECT_EQ(error, "Failed to open /dev/video0: No such file or directory");
    EXPECT_EQ(log.count("UvcCapture::start: Failed to open /dev/video0: No such file or directory"), 1);
}

TEST(UvcCaptureTest, framesArriveInOrderWithDriverTimeMappedToWallTime)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    const int64_t baseUs = 5'000'000'123;
    const std::vector<int64_t> offsetsUs = {0, 33'333, 66'666, 99'999, 1'000'000};
    std::vector<std::vector<uint8_t>> jpegs;
    for (size_t i = 0; i < offsetsUs.size(); ++i) {
        jpegs.push_back(lagwell::test::makeJpeg(320, 240, static_cast<int64_t>(i)));
        ASSERT_GE(jpegs.back().size(), 2048u);
        fake.pushFrame("video0", jpegs.back(), at(baseUs + offsetsUs[i]));
    }

    UvcCapture capture(fake);
    FrameCollector collector;
    LogCapture log;
    const int64_t beforeMs = systemNowMs();
    ASSERT_TRUE(capture.start(request("usb-video0"), collector.callback(), nullptr));
    EXPECT_TRUE(capture.isRunning());
    ASSERT_TRUE(collector.waitFor(offsetsUs.size()));
    const int64_t afterMs = systemNowMs();
    const std::vector<EncodedFrame> frames = collector.frames();
    ASSERT_EQ(frames.size(), offsetsUs.size());
    const int64_t firstWallMs = frames[0].wallMs;
    EXPECT_GE(firstWallMs, beforeMs);
    EXPECT_LE(firstWallMs, afterMs);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].data, jpegs[i]) << i;
        EXPECT_EQ(frames[i].ptsUs, baseUs + offsetsUs[i]) << i;
        EXPECT_EQ(frames[i].wallMs, firstWallMs + offsetsUs[i] / 1000) << i;
        EXPECT_TRUE(frames[i].keyframe) << i;
        EXPECT_EQ(frames[i].seq, 0u) << i;
    }
    EXPECT_TRUE(capture.codecConfig().empty());
    capture.stop();
    // Stored once the callback has returned; kept after stop.
    EXPECT_EQ(capture.lastFrameWallMs(), frames.back().wallMs);
    EXPECT_EQ(log.count("UvcCapture::resolveDevice: usb-video0 -> /dev/video0"), 1);
    EXPECT_EQ(log.count("UvcCapture::start: /dev/video0 streaming"), 1);
    EXPECT_EQ(log.count("UvcCapture: first frame received on fd "), 1);
    EXPECT_EQ(fake.openDescriptors(), 0);
    EXPECT_EQ(fake.mappedBuffers(), 0);
}

TEST(UvcCaptureTest, badBuffersAreDroppedButSmallH264FramesAreKept)
{
    struct Case {
        const char* name;
        uint32_t fourcc;
        size_t size;
        uint32_t flags;
        bool delivered;
    } cases[] = {
        {"2047-byte JPEG", kFourccMjpeg, 2047, 0, false},
        {"2048-byte JPEG", kFourccMjpeg, 2048, 0, true},
        {"JPEG with the error flag", kFourccMjpeg, 50'000, V4L2_BUF_FLAG_ERROR, false},
        {"small H.264 P-frame", kFourccH264, 120, 0, true},
        {"empty H.264 buffer", kFourccH264, 0, 0, false},
        {"H.264 with the error flag", kFourccH264, 3000, V4L2_BUF_FLAG_ERROR, false},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        fake.addCamera(camera("video0", {c.fourcc}));
        fake.pushFrame("video0", bytes(c.size), {}, c.flags);
        fake.pushFrame("video0", bytes(4096, 0x11));  // a good frame after it
        UvcCapture capture(fake);
        FrameCollector collector;
        LogCapture log;
        ASSERT_TRUE(capture.start(request("/dev/video0"), collector.callback(), nullptr)) << c.name;
        ASSERT_TRUE(collector.waitFor(c.delivered ? 2 : 1)) << c.name;
        ASSERT_TRUE(fake.waitScriptDone("video0", 5000));
        capture.stop();
        const auto frames = collector.frames();
        ASSERT_EQ(frames.size(), c.delivered ? 2u : 1u) << c.name;
        if (c.delivered) {
            EXPECT_EQ(frames[0].data.size(), c.size) << c.name;
        }
        EXPECT_EQ(frames.back().data, bytes(4096, 0x11)) << c.name;
        const std::string dropLine = "UvcCapture: dropping frame on fd ";
        EXPECT_EQ(log.count(dropLine), c.delivered ? 0 : 1) << c.name;
        if (!c.delivered) {
            EXPECT_EQ(log.count("(bytesused=" + std::to_string(c.size) + ", error flag=" + (c.flags ? "1" : "0") + ")"),
                      1)
                << c.name;
        }
        // A dropped buffer is not the first frame.
        EXPECT_EQ(log.count("first frame received on fd"), 1) << c.name;
    }
}

TEST(UvcCaptureTest, h264KeyframesAndParameterSetsComeFromThePayload)
{
    const auto units = lagwell::test::makeH264(320, 240, 12, 5);
    ASSERT_EQ(units.size(), 12u);
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccH264}));
    for (const auto& unit : units)
        fake.pushFrame("video0", unit);
    UvcCapture capture(fake);
    FrameCollector collector;
    std::vector<std::vector<uint8_t>> configSeen;
    ASSERT_TRUE(capture.start(request("/dev/video0"),
                              [&](EncodedFrame&& frame) {
                                  configSeen.push_back(capture.codecConfig());
                                  collector.callback()(std::move(frame));
                              },
                              nullptr));
    ASSERT_TRUE(collector.waitFor(units.size()));
    capture.stop();

    const auto frames = collector.frames();
    const auto firstScan = lagwell::scanAnnexB(units[0].data(), units[0].size());
    ASSERT_FALSE(firstScan.parameterSets.empty());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].keyframe, i % 5 == 0) << i;
        EXPECT_EQ(frames[i].data, units[i]) << i;
        EXPECT_EQ(configSeen[i], firstScan.parameterSets) << i;
    }
    // The frames decode back, so the payload went through untouched.
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& frame : frames)
        payloads.push_back(frame.data);
    EXPECT_EQ(lagwell::test::decodeH264(payloads).size(), units.size());
    // The configuration survives stop and is emptied by the next start.
    EXPECT_EQ(capture.codecConfig(), firstScan.parameterSets);
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    EXPECT_TRUE(capture.codecConfig().empty());
}

TEST(UvcCaptureTest, handCraftedH264LayoutsUpdateTheConfigurationOnlyWithParameterSets)
{
    const std::vector<uint8_t> sps = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1F};
    const std::vector<uint8_t> pps = {0, 0, 1, 0x68, 0xCE, 0x38, 0x80};
    std::vector<uint8_t> keyframe = sps;
    keyframe.insert(keyframe.end(), pps.begin(), pps.end());
    keyframe.insert(keyframe.end(), {0, 0, 0, 1, 0x65, 0x88, 0x80, 0x40});
    const std::vector<uint8_t> slice = {0, 0, 0, 1, 0x41, 0x9A, 0x20, 0x00};
    const std::vector<uint8_t> noStartCode = {0x65, 0x88, 0x80};

    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccH264}));
    fake.pushFrame("video0", slice);
    fake.pushFrame("video0", keyframe);
    fake.pushFrame("video0", slice);
    fake.pushFrame("video0", noStartCode);
    UvcCapture capture(fake);
    std::vector<std::pair<bool, std::vector<uint8_t>>> seen;
    FrameCollector collector;
    auto sink = collector.callback();
    ASSERT_TRUE(capture.start(request("/dev/video0"),
                              [&](EncodedFrame&& frame) {
                                  seen.emplace_back(frame.keyframe, capture.codecConfig());
                                  sink(std::move(frame));
                              },
                              nullptr));
    ASSERT_TRUE(collector.waitFor(4));
    capture.stop();
    std::vector<uint8_t> expectedConfig = sps;
    expectedConfig.insert(expectedConfig.end(), pps.begin(), pps.end());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_FALSE(seen[0].first);
    EXPECT_TRUE(seen[0].second.empty());
    EXPECT_TRUE(seen[1].first);
    EXPECT_EQ(seen[1].second, expectedConfig);
    EXPECT_FALSE(seen[2].first);
    EXPECT_EQ(seen[2].second, expectedConfig);
    EXPECT_FALSE(seen[3].first);
    EXPECT_EQ(seen[3].second, expectedConfig);
}

TEST(UvcCaptureTest, emptyWaitsAreReportedEveryFifthInARow)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    fake.pushPollTimeouts("video0", 4);
    fake.pushFrame("video0", bytes(4096));  // resets the count
    fake.pushPollTimeouts("video0", 3);
    fake.pushPollError("video0", EFAULT);  // leaves the count
    fake.pushPollTimeouts("video0", 7);    // fifth and tenth in a row
    fake.pushDequeueError("video0", EAGAIN);  // resets the count
    fake.pushPollTimeouts("video0", 5);
    fake.pushFrame("video0", bytes(4096));

    UvcCapture capture(fake);
    LogCapture log;
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    ASSERT_TRUE(fake.waitScriptDone("video0", 10'000));
    capture.stop();
    EXPECT_EQ(log.count("UvcCapture: no frame from fd "), 3);
    EXPECT_EQ(log.count("for 10s after opening — camera negotiated but is not delivering data"), 2);
    EXPECT_EQ(log.count("for 20s after opening — camera negotiated but is not delivering data"), 1);
    EXPECT_EQ(log.count("UvcCapture poll() failed: Bad address"), 1);
}

TEST(UvcCaptureTest, transientDequeueErrorsAreLoggedAndStreamingGoesOn)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    fake.pushFrame("video0", bytes(4096, 1));
    fake.pushDequeueError("video0", EINVAL);
    fake.pushDequeueError("video0", EAGAIN);
    fake.pushFrame("video0", bytes(4096, 2));
    UvcCapture capture(fake);
    FrameCollector collector;
    LogCapture log;
    ASSERT_TRUE(capture.start(request("/dev/video0"), collector.callback(), nullptr));
    ASSERT_TRUE(collector.waitFor(2));
    EXPECT_TRUE(capture.isRunning());
    capture.stop();
    EXPECT_EQ(log.count("UvcCapture DQBUF failed: Invalid argument"), 1);
    EXPECT_EQ(log.count("camera lost"), 0);
}

TEST(UvcCaptureTest, unplugRaisesTheLostHandlerOnceAndARestartStreamsAgain)
{
    struct Case {
        const char* name;
        bool unplug;  // else the dequeue fails with EIO
        const char* lostLine;
    } cases[] = {
        {"unplugged", true, "UvcCapture: camera lost (No such device)"},
        {"I/O error", false, "UvcCapture: camera lost (Input/output error)"},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        fake.addCamera(camera("video0", {kFourccMjpeg}));
        fake.pushFrame("video0", bytes(4096, 1), at(1'000'000));
        fake.pushFrame("video0", bytes(4096, 2), at(1'033'000));
        if (c.unplug)
            fake.pushUnplug("video0");
        else
            fake.pushDequeueError("video0", EIO);

        UvcCapture capture(fake);
        std::atomic<int> lostCalls {0};
        std::atomic<bool> runningInHandler {true};
        capture.setLostHandler([&] {
            runningInHandler = capture.isRunning();
            ++lostCalls;
        });
        FrameCollector collector;
        LogCapture log;
        ASSERT_TRUE(capture.start(request("usb-video0"), collector.callback(), nullptr)) << c.name;
        ASSERT_TRUE(waitUntil([&] { return lostCalls.load() > 0; })) << c.name;
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(lostCalls.load(), 1) << c.name;
        EXPECT_FALSE(runningInHandler.load()) << c.name;
        EXPECT_FALSE(capture.isRunning()) << c.name;
        const auto frames = collector.frames();
        ASSERT_EQ(frames.size(), 2u) << c.name;
        EXPECT_EQ(capture.lastFrameWallMs(), frames[1].wallMs) << c.name;
        EXPECT_EQ(log.count(c.lostLine), 1) << c.name;

        // Recovery: start again without stop, by bus-info, once it is back.
        if (c.unplug)
            fake.replug("video0");
        fake.pushFrame("video0", bytes(4096, 3));
        FrameCollector again;
        std::string error;
        ASSERT_TRUE(capture.start(request("usb-video0"), again.callback(), &error)) << c.name << ": " << error;
        ASSERT_TRUE(again.waitFor(1)) << c.name;
        EXPECT_EQ(again.frames()[0].data, bytes(4096, 3)) << c.name;
        EXPECT_EQ(fake.openDescriptors(), 1) << c.name;
        capture.stop();
        EXPECT_EQ(lostCalls.load(), 1) << c.name;
        EXPECT_EQ(fake.openDescriptors(), 0) << c.name;
        EXPECT_EQ(fake.mappedBuffers(), 0) << c.name;
    }
}

TEST(UvcCaptureTest, stopAfterALossReleasesTheDevice)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    fake.pushUnplug("video0");
    UvcCapture capture(fake);
    std::atomic<int> lostCalls {0};
    capture.setLostHandler([&] { ++lostCalls; });
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    ASSERT_TRUE(waitUntil([&] { return lostCalls.load() == 1; }));
    EXPECT_EQ(fake.openDescriptors(), 1);  // held until stop or the next start
    capture.stop();
    capture.stop();
    EXPECT_EQ(fake.openDescriptors(), 0);
    EXPECT_EQ(fake.mappedBuffers(), 0);
    EXPECT_EQ(lostCalls.load(), 1);
}

TEST(UvcCaptureTest, persistentPollErrorsBackOffAndEndAsALoss)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    fake.setPersistentPollError("video0", EBADF);
    UvcCapture capture(fake);
    std::atomic<int> lostCalls {0};
    capture.setLostHandler([&] { ++lostCalls; });
    LogCapture log;
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    ASSERT_TRUE(waitUntil([&] { return lostCalls.load() > 0; }, 30s));
    EXPECT_FALSE(capture.isRunning());
    capture.stop();
    EXPECT_EQ(lostCalls.load(), 1);
    // Bounded: a few lines, not one per spin.
    EXPECT_EQ(log.count("UvcCapture poll() failed: Bad file descriptor"), 10);
    EXPECT_EQ(log.count("UvcCapture: camera lost (Bad file descriptor)"), 1);
}

TEST(UvcCaptureTest, persistentDequeueErrorsEndAsALoss)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    for (int i = 0; i < 12; ++i)
        fake.pushDequeueError("video0", EINVAL);
    UvcCapture capture(fake);
    std::atomic<int> lostCalls {0};
    capture.setLostHandler([&] { ++lostCalls; });
    LogCapture log;
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    ASSERT_TRUE(waitUntil([&] { return lostCalls.load() > 0; }, 30s));
    capture.stop();
    EXPECT_EQ(log.count("UvcCapture DQBUF failed: Invalid argument"), 10);
    EXPECT_EQ(log.count("UvcCapture: camera lost (Invalid argument)"), 1);
}

TEST(UvcCaptureTest, lifecycleStartTwiceStopTwiceAndDestroyWhileRunning)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", {kFourccMjpeg}));
    fake.addCamera(camera("video1", {kFourccMjpeg}));
    {
        UvcCapture idle(fake);
        idle.stop();  // never started
        idle.stop();
        EXPECT_FALSE(idle.isRunning());
        EXPECT_EQ(idle.measuredFps(), 0.0);
    }
    {
        UvcCapture capture(fake);
        FrameCollector collector;
        fake.pushFrame("video0", bytes(4096, 7));
        ASSERT_TRUE(capture.start(request("/dev/video0"), collector.callback(), nullptr));
        std::string error;
        EXPECT_FALSE(capture.start(request("/dev/video1"), nullptr, &error));
        EXPECT_EQ(error, "Capture already running");
        EXPECT_TRUE(capture.isRunning());
        ASSERT_TRUE(collector.waitFor(1));  // the first capture is untouched
        EXPECT_EQ(fake.openDescriptors(), 1);
        capture.stop();
        capture.stop();
        EXPECT_FALSE(capture.isRunning());
        EXPECT_FALSE(fake.isStreaming("video0"));
    }
    {
        UvcCapture running(fake);
        ASSERT_TRUE(running.start(request("/dev/video1"), nullptr, nullptr));
        EXPECT_TRUE(fake.isStreaming("video1"));
    }  // destroyed while running
    EXPECT_EQ(fake.openDescriptors(), 0);
    EXPECT_EQ(fake.mappedBuffers(), 0);
}

TEST(UvcCaptureTest, measuredRateFollowsTheCameraAndClearsOnStop)
{
    FakeV4l2 fake;
    FakeCameraConfig config = camera("video0", {kFourccMjpeg});
    config.autoFps = 30.0;
    config.autoFrame = bytes(4096);
    fake.addCamera(config);
    UvcCapture capture(fake);
    ASSERT_TRUE(capture.start(request("/dev/video0"), nullptr, nullptr));
    EXPECT_EQ(capture.measuredFps(), 0.0);
    ASSERT_TRUE(waitUntil([&] { return capture.measuredFps() > 0.0; }));
    // Generous bounds: the machine is shared.
    EXPECT_GT(capture.measuredFps(), 10.0);
    EXPECT_LT(capture.measuredFps(), 40.0);
    capture.stop();
    EXPECT_EQ(capture.measuredFps(), 0.0);
    EXPECT_GT(capture.lastFrameWallMs(), 0);
}
