#include "CapabilityProbe.h"

#include "FakeV4l2.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

using lagwell::CameraInfo;
using lagwell::Capabilities;
using lagwell::CapabilityProbe;
using lagwell::FakeCameraConfig;
using lagwell::FakeFormat;
using lagwell::FakeFrameSize;
using lagwell::FakeV4l2;
using lagwell::kFourccMjpeg;
using lagwell::test::LogCapture;

namespace {

FakeCameraConfig camera(const std::string& node, uint32_t height, double autoFps = 0.0)
{
    FakeCameraConfig config;
    config.node = node;
    config.card = "Cam " + node;
    config.busInfo = "usb-" + node;
    const uint32_t width = height * 16 / 9;
    config.formats.push_back(FakeFormat {kFourccMjpeg, {FakeFrameSize {1280, 720, {{1, 30}}, false}}, false});
    if (height != 720)
        config.formats[0].sizes.push_back(FakeFrameSize {width, height, {{1, 30}}, false});
    config.autoFps = autoFps;
    config.autoFrame = std::vector<uint8_t>(4096, 0x5A);
    return config;
}

}  // namespace

TEST(CapabilityProbeTest, testSourceNeedsExactlyOne)
{
    struct Case {
        const char* value;
        bool on;
    } cases[] = {{"1", true}, {nullptr, false}, {"", false}, {"0", false}, {"true", false},
                 {"11", false}, {" 1", false}, {"1 ", false}};
    for (const Case& c : cases)
        EXPECT_EQ(CapabilityProbe::isTestSourceRequested(c.value), c.on) << (c.value ? c.value : "(unset)");
}

TEST(CapabilityProbeTest, captureHeightAndTranscodingFollowTheMeasurements)
{
    struct Case {
        const char* name;
        int32_t largestHeight;
        double cpuDecodeMs;
        bool encoder;
        bool hwDecoder;
        int32_t height;
        bool transcode;
    } cases[] = {
        {"no camera", 0, 3.0, true, true, 720, false},
        {"720p camera with everything", 720, 3.0, true, true, 720, false},
        {"4K, no encoder, fast CPU", 2160, 5.0, false, false, 1080, false},
        {"4K, encoder, no hardware decoder", 2160, 5.0, true, false, 1080, false},
        {"4K, encoder and hardware decoder", 2160, 5.0, true, true, 2160, true},
        {"4K, hardware decoder but no encoder", 2160, 5.0, false, true, 1080, false},
        {"1080p, slow CPU, no encoder", 1080, 13.0, false, false, 720, false},
        {"1080p, slow CPU, encoder", 1080, 13.0, true, false, 1080, false},
        {"1080p, exactly 12 ms", 1080, 12.0, false, false, 1080, false},
        {"1080p, benchmark not run counts as fast", 1080, 0.0, false, false, 1080, false},
        {"1080p, encoder and hardware decoder", 1080, 30.0, true, true, 1080, true},
        {"4K, slow CPU, nothing else", 2160, 20.0, false, false, 720, false},
    };
    for (const Case& c : cases) {
        const auto decision = CapabilityProbe::decideCaptureHeight(c.largestHeight, c.cpuDecodeMs, c.encoder,
                                                                   c.hwDecoder);
        EXPECT_EQ(decision.maxCaptureHeight, c.height) << c.name;
        EXPECT_EQ(decision.useH264Transcode, c.transcode) << c.name;
    }
}

TEST(CapabilityProbeTest, summaryReadsAsOneLine)
{
    Capabilities plain;
    plain.maxCaptureHeight = 1080;
    plain.cpuDecodeMs = 9.37;
    EXPECT_EQ(CapabilityProbe::summaryFor(plain), "1080p MJPEG, CPU decode 9.4 ms, encoder libx264");

    Capabilities full;
    full.maxCaptureHeight = 2160;
    full.useH264Transcode = true;
    full.cpuDecodeMs = 3.0;
    full.encoderName = "h264_vaapi";
    full.dualCameraSupported = true;
    EXPECT_EQ(CapabilityProbe::summaryFor(full), "2160p H.264 transcode, CPU decode 3.0 ms, encoder h264_vaapi, dual camera");

    Capabilities unmeasured;
    EXPECT_EQ(CapabilityProbe::summaryFor(unmeasured), "720p MJPEG, CPU decode 0.0 ms, encoder libx264");
}

TEST(CapabilityProbeTest, largestHeightLooksAtEveryFormat)
{
    std::vector<CameraInfo> cameras;
    EXPECT_EQ(CapabilityProbe::largestHeight(cameras), 0);
    cameras.push_back(CameraInfo {"/dev/video0", "a", "", {{kFourccMjpeg, 640, 480, {}}, {kFourccMjpeg, 1920, 1080, {}}}});
    cameras.push_back(CameraInfo {"/dev/video2", "b", "", {{kFourccMjpeg, 1280, 720, {}}}});
    EXPECT_EQ(CapabilityProbe::largestHeight(cameras), 1080);
    cameras.push_back(CapabilityProbe::testCamera());
    EXPECT_EQ(CapabilityProbe::largestHeight(cameras), 1080);
}

TEST(CapabilityProbeTest, testCameraIsDescribedAsTheTestPattern)
{
    const CameraInfo test = CapabilityProbe::testCamera();
    EXPECT_EQ(test.path, "test");
    EXPECT_EQ(test.name, "Test pattern");
    EXPECT_EQ(test.busInfo, "test");
    ASSERT_EQ(test.formats.size(), 2u);
    EXPECT_EQ(test.formats[0].fourcc, kFourccMjpeg);
    EXPECT_EQ(test.formats[0].width, 1280);
    EXPECT_EQ(test.formats[0].height, 720);
    EXPECT_EQ(test.formats[0].frameRates, (std::vector<int32_t> {30}));
    EXPECT_EQ(test.formats[1].width, 1920);
    EXPECT_EQ(test.formats[1].height, 1080);
    EXPECT_EQ(test.formats[1].frameRates, (std::vector<int32_t> {30}));
}

TEST(CapabilityProbeTest, thisMachineHasNoHardwareEncoderOrDecoder)
{
    bool vaapiDeviceCreated = true;
    EXPECT_EQ(CapabilityProbe::findEncoder(&vaapiDeviceCreated), "");
    EXPECT_FALSE(vaapiDeviceCreated);
    EXPECT_EQ(CapabilityProbe::findHwDecoder(false), "");
    EXPECT_FALSE(CapabilityProbe::probeEncoderOpens("h264_nonexistent"));
    EXPECT_FALSE(CapabilityProbe::probeEncoderOpens("h264_vaapi"));
    // The software encoder the transcoder falls back to does open.
    EXPECT_TRUE(CapabilityProbe::probeEncoderOpens("libx264"));
}

TEST(CapabilityProbeTest, hardwareThatIsNotThereIsTriedWithoutAWord)
{
    const int levelBefore = av_log_get_level();
    LogCapture log;
    bool vaapiDeviceCreated = true;
    EXPECT_EQ(CapabilityProbe::findEncoder(&vaapiDeviceCreated), "");
    EXPECT_EQ(CapabilityProbe::findHwDecoder(vaapiDeviceCreated), "");
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(av_log_get_level(), levelBefore);
}

TEST(CapabilityProbeTest, cpuBenchmarkMeasuresSomething)
{
    const double ms = CapabilityProbe::measureCpuDecodeMs();
    EXPECT_GT(ms, 0.0);
    EXPECT_LT(ms, 10'000.0);
}

TEST(CapabilityProbeTest, testSourceWithOneRealCameraReportsTwoUsableTogether)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", 720));
    LogCapture log;
    const Capabilities caps = CapabilityProbe::probe(fake, "1");
    ASSERT_EQ(caps.cameras.size(), 2u);
    EXPECT_EQ(caps.cameras[0].path, "/dev/video0");
    EXPECT_EQ(caps.cameras[1].path, "test");
    EXPECT_TRUE(caps.dualCameraSupported);
    EXPECT_EQ(caps.encoderName, "");
    EXPECT_EQ(caps.hwDecoder, "");
    EXPECT_FALSE(caps.useH264Transcode);
    EXPECT_GT(caps.cpuDecodeMs, 0.0);
    // The test camera brings 1080 lines; the height then rests on the CPU.
    EXPECT_EQ(caps.maxCaptureHeight, caps.cpuDecodeMs <= 12.0 ? 1080 : 720);
    EXPECT_EQ(caps.summary, CapabilityProbe::summaryFor(caps));
    EXPECT_NE(caps.summary.find(", dual camera"), std::string::npos);
    EXPECT_EQ(log.count("Capabilities: " + caps.summary), 1);
    EXPECT_EQ(log.count("dual-camera probe"), 0);
}

TEST(CapabilityProbeTest, otherTestSourceValuesLeaveOnlyTheRealCameras)
{
    for (const char* value : {"true", "11", "0"}) {
        FakeV4l2 fake;
        fake.addCamera(camera("video0", 720));
        const Capabilities caps = CapabilityProbe::probe(fake, value);
        ASSERT_EQ(caps.cameras.size(), 1u) << value;
        EXPECT_FALSE(caps.dualCameraSupported) << value;
        EXPECT_EQ(caps.maxCaptureHeight, 720) << value;
    }
}

TEST(CapabilityProbeTest, environmentSwitchesTheTestSourceOnThisMachine)
{
    ASSERT_EQ(setenv("TAVRIX_TEST_SOURCE", "1", 1), 0);
    const Capabilities on = CapabilityProbe::probe();
    unsetenv("TAVRIX_TEST_SOURCE");
    ASSERT_EQ(on.cameras.size(), 1u);  // no real camera here
    EXPECT_EQ(on.cameras[0].name, "Test pattern");
    EXPECT_TRUE(on.dualCameraSupported);

    const Capabilities off = CapabilityProbe::probe();
    EXPECT_TRUE(off.cameras.empty());
    EXPECT_FALSE(off.dualCameraSupported);
    EXPECT_EQ(off.maxCaptureHeight, 720);
    EXPECT_EQ(off.summary.rfind("720p MJPEG, CPU decode ", 0), 0u);
    EXPECT_NE(off.summary.find(" ms, encoder libx264"), std::string::npos);
}

TEST(CapabilityProbeTest, twoCamerasAtFullRateRunTogether)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", 1080, 30.0));
    fake.addCamera(camera("video1", 720, 30.0));
    LogCapture log;
    const Capabilities caps = CapabilityProbe::probe(fake, nullptr);
    ASSERT_EQ(caps.cameras.size(), 2u);
    EXPECT_TRUE(caps.dualCameraSupported);
    EXPECT_EQ(log.count("dual-camera probe"), 0);
    EXPECT_EQ(fake.openDescriptors(), 0);
    EXPECT_EQ(fake.mappedBuffers(), 0);
    // Both were asked for 1280x720 MJPEG at 30 fps.
    EXPECT_EQ(fake.askedFourccs("video0"), (std::vector<uint32_t> {kFourccMjpeg}));
    EXPECT_EQ(fake.timePerFrame("video1").denominator, 30u);
}

TEST(CapabilityProbeTest, aSlowSecondCameraMeansNoDualCameraAndNoWarning)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", 720, 30.0));
    fake.addCamera(camera("video1", 720, 10.0));
    LogCapture log;
    const Capabilities caps = CapabilityProbe::probe(fake, nullptr);
    ASSERT_EQ(caps.cameras.size(), 2u);
    EXPECT_FALSE(caps.dualCameraSupported);
    EXPECT_EQ(caps.summary.find("dual camera"), std::string::npos);
    EXPECT_EQ(log.count("dual-camera probe"), 0);
    EXPECT_EQ(fake.openDescriptors(), 0);
}

TEST(CapabilityProbeTest, aCameraThatWillNotStartIsReported)
{
    struct Case {
        const char* name;
        bool firstFails;
        std::string line;
    } cases[] = {
        {"second busy", false,
         "Capabilities: dual-camera probe could not start both cameras ( / Failed to open /dev/video1: Device or "
         "resource busy — another program is using this camera)"},
        {"first missing", true,
         "Capabilities: dual-camera probe could not start both cameras (Failed to open /dev/video0: No such file or "
         "directory / )"},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        FakeCameraConfig second = camera("video1", 720, 30.0);
        second.openErrno = EBUSY;
        if (!c.firstFails)
            fake.addCamera(camera("video0", 720, 30.0));
        fake.addCamera(second);
        LogCapture log;
        EXPECT_FALSE(CapabilityProbe::testDualCameras(fake, CameraInfo {"/dev/video0", "", "", {}},
                                                      CameraInfo {"/dev/video1", "", "", {}}))
            << c.name;
        EXPECT_EQ(log.count(c.line), 1) << c.name;
        EXPECT_EQ(fake.openDescriptors(), 0) << c.name;
    }
}
