#include "UvcCapture.h"

#include "FakeV4l2.h"
#include "TestSupport.h"
#include "UvcDiscovery.h"

#include <gtest/gtest.h>

#include <cerrno>

using lagwell::CameraInfo;
using lagwell::FakeCameraConfig;
using lagwell::FakeFormat;
using lagwell::FakeFrameSize;
using lagwell::FakeV4l2;
using lagwell::UvcCapture;
using lagwell::UvcDiscovery;
using lagwell::kFourccH264;
using lagwell::kFourccMjpeg;
using lagwell::test::LogCapture;

namespace {

constexpr uint32_t kYuyv = lagwell::makeFourcc('Y', 'U', 'Y', 'V');
constexpr uint32_t kMetadataCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;

FakeFrameSize size(uint32_t width, uint32_t height, std::vector<v4l2_fract> intervals = {{1, 30}})
{
    return FakeFrameSize {width, height, std::move(intervals), false};
}

FakeCameraConfig camera(const std::string& node, const std::string& bus, std::vector<FakeFormat> formats,
                      const std::string& card = "Fake Camera")
{
    FakeCameraConfig config;
    config.node = node;
    config.card = card;
    config.busInfo = bus;
    config.formats = std::move(formats);
    return config;
}

FakeCameraConfig metadataNode(const std::string& node, const std::string& bus)
{
    FakeCameraConfig config = camera(node, bus, {});
    config.deviceCaps = kMetadataCaps;
    return config;
}

std::vector<std::string> paths(const std::vector<CameraInfo>& cameras)
{
    std::vector<std::string> out;
    for (const CameraInfo& info : cameras)
        out.push_back(info.path);
    return out;
}

}  // namespace

TEST(UvcDiscoveryTest, listsCaptureNodesInByteOrderWithTheirFormats)
{
    FakeV4l2 fake;
    fake.addOtherEntry("null");
    fake.addOtherEntry("vcs1");
    fake.addCamera(camera("video2", "usb-3", {{kYuyv, {size(640, 480)}}}, "Raw Cam"));
    fake.addCamera(camera("video0", "usb-1",
                          {{kFourccMjpeg, {size(1280, 720, {{1, 30}, {1, 15}}), size(640, 480)}},
                           {kYuyv, {size(640, 480, {{1, 10}})}}},
                          "Front Cam"));
    fake.addCamera(metadataNode("video1", "usb-1"));
    fake.addCamera(camera("video10", "usb-2", {{kFourccH264, {size(1920, 1080)}}}, "H264 Cam"));

    LogCapture log;
    const std::vector<CameraInfo> cameras = UvcCapture::enumerate(fake);
    EXPECT_EQ(paths(cameras), (std::vector<std::string> {"/dev/video0", "/dev/video10", "/dev/video2"}));

    ASSERT_EQ(cameras.size(), 3u);
    const CameraInfo& front = cameras[0];
    EXPECT_EQ(front.name, "Front Cam");
    EXPECT_EQ(front.busInfo, "usb-1");
    ASSERT_EQ(front.formats.size(), 3u);
    EXPECT_EQ(front.formats[0].fourcc, kFourccMjpeg);
    EXPECT_EQ(front.formats[0].width, 1280);
    EXPECT_EQ(front.formats[0].height, 720);
    EXPECT_EQ(front.formats[0].frameRates, (std::vector<int32_t> {30, 15}));
    EXPECT_EQ(front.formats[1].width, 640);
    EXPECT_EQ(front.formats[2].fourcc, kYuyv);
    EXPECT_EQ(front.formats[2].frameRates, (std::vector<int32_t> {10}));

    EXPECT_EQ(log.count("UvcCapture::enumerate: 4 /dev/video* node(s) found; user IS in the 'video' group"), 1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video1 ('Fake Camera'): not a streaming capture node, skipping"),
              1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video0 ('Front Cam', usb-1): 3 format(s): MJPG, YUYV"), 1);
    EXPECT_EQ(log.count("/dev/video0 ('Front Cam', usb-1): 3 format(s): MJPG, YUYV — NO MJPEG"), 0);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video10 ('H264 Cam', usb-2): 1 format(s): H264 — NO MJPEG: this "
                        "app currently only starts a session in MJPEG or H.264, so this camera will fail to start"),
              1);
    EXPECT_EQ(log.count("/dev/video2 ('Raw Cam', usb-3): 1 format(s): YUYV — NO MJPEG"), 1);
    EXPECT_EQ(log.count("no usable camera"), 0);
    EXPECT_EQ(fake.openDescriptors(), 0);
}

TEST(UvcDiscoveryTest, wholeFrameRatesTruncateAndSkipUnusableIntervals)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", "usb-1",
                          {{kFourccMjpeg,
                            {size(1280, 720, {{1, 30}, {1001, 30000}, {1, 5}, {2, 1}, {0, 30}, {1, 30}})}}}));
    const std::vector<CameraInfo> cameras = UvcCapture::enumerate(fake);
    ASSERT_EQ(cameras.size(), 1u);
    ASSERT_EQ(cameras[0].formats.size(), 1u);
    EXPECT_EQ(cameras[0].formats[0].frameRates, (std::vector<int32_t> {30, 29, 5, 30}));
}

TEST(UvcDiscoveryTest, stepwiseSizesAndIntervalsContributeNothing)
{
    FakeV4l2 fake;
    FakeFormat stepwiseMjpeg {kFourccMjpeg, {}, true};
    FakeFrameSize stepwiseIntervals = size(640, 480, {});
    stepwiseIntervals.stepwiseIntervals = true;
    fake.addCamera(camera("video0", "usb-1", {stepwiseMjpeg, {kFourccH264, {stepwiseIntervals}}}, "Mixed"));
    fake.addCamera(camera("video1", "usb-2", {stepwiseMjpeg}, "Stepwise"));

    LogCapture log;
    const std::vector<CameraInfo> cameras = UvcCapture::enumerate(fake);
    ASSERT_EQ(cameras.size(), 1u);
    ASSERT_EQ(cameras[0].formats.size(), 1u);
    EXPECT_EQ(cameras[0].formats[0].fourcc, kFourccH264);
    EXPECT_TRUE(cameras[0].formats[0].frameRates.empty());
    // MJPG had no discrete size, so it is not among the listed fourccs.
    EXPECT_EQ(log.count("/dev/video0 ('Mixed', usb-1): 1 format(s): H264 — NO MJPEG"), 1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video1 ('Stepwise'): capture node but zero formats enumerated"),
              1);
}

TEST(UvcDiscoveryTest, usableCapabilitiesComeFromDeviceCapsOnlyWhenFlagged)
{
    struct Case {
        uint32_t capabilities;
        uint32_t deviceCaps;
        bool listed;
    } cases[] = {
        {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, 0, true},  // no DEVICE_CAPS flag: capabilities count
        {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS, kMetadataCaps, false},
        {V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, true},
        {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE, false},  // no streaming
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        FakeCameraConfig config = camera("video0", "usb-1", {{kFourccMjpeg, {size(640, 480)}}});
        config.capabilities = c.capabilities;
        config.deviceCaps = c.deviceCaps;
        fake.addCamera(config);
        EXPECT_EQ(UvcCapture::enumerate(fake).size(), c.listed ? 1u : 0u) << c.capabilities << " " << c.deviceCaps;
    }
}

TEST(UvcDiscoveryTest, nodesThatFailAreLoggedAndPassedOver)
{
    FakeV4l2 fake;
    FakeCameraConfig denied = camera("video0", "usb-1", {{kFourccMjpeg, {size(640, 480)}}});
    denied.openErrno = EACCES;
    FakeCameraConfig busy = camera("video1", "usb-2", {{kFourccMjpeg, {size(640, 480)}}});
    busy.openErrno = EBUSY;
    FakeCameraConfig broken = camera("video2", "usb-3", {{kFourccMjpeg, {size(640, 480)}}});
    broken.queryCapErrno = EIO;
    fake.addCamera(denied);
    fake.addCamera(busy);
    fake.addCamera(broken);
    fake.setGroups(true, 44, 1000, {1000, 27});

    LogCapture log;
    EXPECT_TRUE(UvcCapture::enumerate(fake).empty());
    EXPECT_EQ(log.count("UvcCapture::enumerate: 3 /dev/video* node(s) found; user is NOT in the 'video' group"), 1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video0: open failed: Permission denied (permission denied — "
                        "check 'video' group membership)"),
              1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video1: open failed: Device or resource busy"), 1);
    EXPECT_EQ(log.count("Device or resource busy (permission denied"), 0);
    EXPECT_EQ(log.count("UvcCapture::enumerate: /dev/video2: VIDIOC_QUERYCAP failed: Input/output error"), 1);
    EXPECT_EQ(log.count("[WARN]"), 4);
    EXPECT_EQ(log.count("UvcCapture::enumerate: no usable camera found among 3 /dev/video* node(s)"), 1);
    EXPECT_EQ(fake.openDescriptors(), 0);
}

TEST(UvcDiscoveryTest, unreadableDevGivesOneWarningAndNoCameras)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", "usb-1", {{kFourccMjpeg, {size(640, 480)}}}));
    fake.setDevUnreadable(EACCES);
    LogCapture log;
    EXPECT_TRUE(UvcCapture::enumerate(fake).empty());
    EXPECT_EQ(log.count("[WARN]"), 1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: could not open /dev (Permission denied) — no cameras will be found"),
              1);
    EXPECT_EQ(log.count("[INFO]"), 0);
}

TEST(UvcDiscoveryTest, emptyDevReportsZeroNodes)
{
    FakeV4l2 fake;
    fake.addOtherEntry("null");
    LogCapture log;
    EXPECT_TRUE(UvcCapture::enumerate(fake).empty());
    EXPECT_EQ(log.count("UvcCapture::enumerate: 0 /dev/video* node(s) found"), 1);
    EXPECT_EQ(log.count("UvcCapture::enumerate: no usable camera found among 0 /dev/video* node(s)"), 1);
}

TEST(UvcDiscoveryTest, videoGroupMembershipFollowsTheGroupDatabase)
{
    struct Case {
        const char* name;
        uid_t user;
        bool groupExists;
        gid_t effective;
        std::vector<gid_t> supplementary;
        bool member;
    } cases[] = {
        {"no video group at all", 1000, false, 1000, {}, true},
        {"effective group is video", 1000, true, 44, {}, true},
        {"video among supplementary", 1000, true, 1000, {27, 44, 100}, true},
        {"other supplementary groups", 1000, true, 1000, {27, 100}, false},
        {"no supplementary groups", 1000, true, 1000, {}, false},
        {"root outside the group opens the nodes anyway", 0, true, 0, {0}, true},
    };
    for (const Case& c : cases) {
        FakeV4l2 fake;
        fake.setEffectiveUserId(c.user);
        fake.setGroups(c.groupExists, 44, c.effective, c.supplementary);
        EXPECT_EQ(UvcDiscovery::isInVideoGroup(fake), c.member) << c.name;
    }
    // The start-up line does not tell root to join the group.
    FakeV4l2 fake;
    fake.setEffectiveUserId(0);
    fake.setGroups(true, 44, 0, {0});
    LogCapture log;
    UvcCapture::enumerate(fake);
    EXPECT_EQ(log.count("UvcCapture::enumerate: 0 /dev/video* node(s) found; user IS in the 'video' group"), 1);
}

TEST(UvcDiscoveryTest, fourccsReadAsText)
{
    EXPECT_EQ(UvcDiscovery::fourccName(kFourccMjpeg), "MJPG");
    EXPECT_EQ(UvcDiscovery::fourccName(0), "");
    EXPECT_EQ(UvcDiscovery::fourccName(lagwell::makeFourcc('Y', '1', '6', ' ')), "Y16 ");
    EXPECT_EQ(UvcDiscovery::fourccName(lagwell::makeFourcc('A', 'B', '\0', 'D')), "AB");
    EXPECT_EQ(UvcDiscovery::joinFourccs({}), "(none)");
    EXPECT_EQ(UvcDiscovery::joinFourccs({0}), "(none)");
    EXPECT_EQ(UvcDiscovery::joinFourccs({kFourccMjpeg, kYuyv}), "MJPG, YUYV");
}

TEST(UvcDiscoveryTest, resolveDeviceFindsTheCaptureNodeOfABus)
{
    FakeV4l2 fake;
    fake.addCamera(metadataNode("video0", "usb-0000:00:14.0-5"));
    fake.addCamera(camera("video1", "usb-0000:00:14.0-5", {{kFourccMjpeg, {size(640, 480)}}}));
    fake.addCamera(camera("video2", "usb-0000:00:14.0-6", {{kFourccMjpeg, {size(640, 480)}}}));

    struct Case {
        std::string id;
        std::string expected;
        std::string logLine;
    } cases[] = {
        {"/dev/video3", "/dev/video3", ""},
        {"usb-0000:00:14.0-5", "/dev/video1", "UvcCapture::resolveDevice: usb-0000:00:14.0-5 -> /dev/video1"},
        {"usb-0000:00:14.0-6", "/dev/video2", "UvcCapture::resolveDevice: usb-0000:00:14.0-6 -> /dev/video2"},
        {"usb-0000:00:14.0", "usb-0000:00:14.0", "UvcCapture::resolveDevice: no capture node found for usb-0000:00:14.0"},
        {"usb-0000:00:14.0-5#2", "usb-0000:00:14.0-5#2", "no capture node found for usb-0000:00:14.0-5#2"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(UvcCapture::resolveDevice(fake, c.id), c.expected) << c.id;
        if (c.logLine.empty()) {
            EXPECT_EQ(log.text(), "") << c.id;
        } else {
            EXPECT_EQ(log.count(c.logLine), 1) << c.id;
        }
    }
    LogCapture log;
    UvcCapture::resolveDevice(fake, "usb-0000:00:14.0-5");
    EXPECT_EQ(log.count("UvcCapture::resolveDevice: /dev/video0 shares bus usb-0000:00:14.0-5 but is not a capture "
                        "node, skipping"),
              1);
    EXPECT_EQ(fake.openDescriptors(), 0);
}

TEST(UvcDiscoveryTest, twoCaptureNodesOnOneBusGetDistinctIdsThatResolveToEach)
{
    FakeV4l2 fake;
    fake.addCamera(camera("video0", "usb-5", {{kFourccMjpeg, {size(1280, 720)}}}, "Colour"));
    fake.addCamera(metadataNode("video1", "usb-5"));
    fake.addCamera(camera("video2", "usb-5", {{kFourccMjpeg, {size(640, 360)}}}, "Infrared"));

    const std::vector<CameraInfo> cameras = UvcCapture::enumerate(fake);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].busInfo, "usb-5");
    EXPECT_EQ(cameras[1].busInfo, "usb-5#2");
    EXPECT_EQ(UvcCapture::resolveDevice(fake, cameras[0].busInfo), "/dev/video0");
    EXPECT_EQ(UvcCapture::resolveDevice(fake, cameras[1].busInfo), "/dev/video2");
}

TEST(UvcDiscoveryTest, thisMachineHasNoCamera)
{
    // Real system calls: the build machines have no /dev/video node.
    LogCapture log;
    EXPECT_TRUE(UvcCapture::enumerate().empty());
    EXPECT_EQ(log.count("UvcCapture::enumerate: no usable camera found among"), 1);
    EXPECT_EQ(UvcCapture::resolveDevice("/dev/video0"), "/dev/video0");
}
