#include "TestPatternSource.h"

#include "CHandles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using lagwell::CaptureRequest;
using lagwell::EncodedFrame;
using lagwell::TestPatternSource;

namespace {

using namespace std::chrono_literals;

struct Rgb {
    int r, g, b;
};

const Rgb kBars[8] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                      {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    Rgb at(int x, int y) const
    {
        const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

Picture draw(int width, int height, int camera, int64_t frame, int fps)
{
    Picture p {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, 0)};
    TestPatternSource::drawTestPattern(p.rgb.data(), width, height, camera, frame, fps);
    return p;
}

Picture decodeJpeg(const std::vector<uint8_t>& jpeg)
{
    lagwell::TjHandlePtr handle(tjInitDecompress());
    Picture p;
    int subsamp = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), &p.width,
                            &p.height, &subsamp, &colorspace) != 0)
        return {};
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    if (tjDecompress2(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), p.rgb.data(), p.width, 0,
                      p.height, TJPF_RGB, 0) != 0)
        return {};
    return p;
}

bool near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// Collects delivered frames and lets a test wait for a count.
class FrameCollector {
public:
    std::function<void(EncodedFrame&&)> callback()
    {
        return [this](EncodedFrame&& frame) {
            std::lock_guard lock(m_mutex);
            m_frames.push_back(std::move(frame));
            m_changed.notify_all();
        };
    }

    bool waitFor(size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
    }

    std::vector<EncodedFrame> frames()
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<EncodedFrame> m_frames;
};

CaptureRequest request(const std::string& id, int width, int height, int fps = 30)
{
    CaptureRequest r;
    r.deviceId = id;
    r.width = width;
    r.height = height;
    r.fps = fps;
    return r;
}

}  // namespace

TEST(TestPatternSourceTest, cameraNumberIsParsedLikeStoi)
{
    struct Case {
        const char* id;
        int expected;
    } cases[] = {
        {"test", 1},     {"test:", 1},     {"test:abc", 1},        {"test:0", 1},   {"test:-3", 1},
        {"test:2", 2},   {"test: 7", 7},   {"test:+4", 4},         {"test:9x", 9},  {"test:12:3", 12},
        {"test:9", 9},   {"test:2147483647", 2147483647},          {"test:2147483648", 1},
        {"test:99999999999999999999", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TestPatternSource::cameraNumberFromId(c.id), c.expected) << c.id;
}

TEST(TestPatternSourceTest, requestIsAdjustedToEvenSizeAndDefaults)
{
    struct Case {
        int width, height;
        int expectedWidth, expectedHeight;
    } cases[] = {
        {1281, 721, 1280, 720}, {0, 0, 1280, 720}, {-4, -1, 1280, 720}, {640, 480, 640, 480},
        {1, 1, 2, 2},  // a side of 1 must not become 0
        {3, 5, 2, 4},   {100000, 9, 8192, 8},
    };
    for (const Case& c : cases) {
        TestPatternSource source;
        ASSERT_TRUE(source.start(request("test", c.width, c.height, 0), nullptr, nullptr));
        EXPECT_EQ(source.negotiatedWidth(), c.expectedWidth) << c.width;
        EXPECT_EQ(source.negotiatedHeight(), c.expectedHeight) << c.height;
        EXPECT_EQ(source.negotiatedFourcc(), lagwell::kFourccMjpeg);
        EXPECT_TRUE(source.codecConfig().empty());
        source.stop();
    }
}

TEST(TestPatternSourceTest, tinyPictureStillDeliversDecodableFrames)
{
    TestPatternSource source;
    FrameCollector collector;
    ASSERT_TRUE(source.start(request("test", 1, 1), collector.callback(), nullptr));
    ASSERT_TRUE(collector.waitFor(2));
    source.stop();
    const Picture p = decodeJpeg(collector.frames().front().data);
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 2);
}

TEST(TestPatternSourceTest, geometryAt1280x720MatchesTheLayout)
{
    const Picture p = draw(1280, 720, 1, 0, 30);
    // Bars: camera 1 starts with white.
    for (int k = 0; k < 8; ++k) {
        const int x = k * 160 + 80;
        const Rgb c = p.at(x, 100);
        EXPECT_TRUE(near(c, kBars[k], 0)) << "bar " << k;
    }
    // Square: side 90 at row 480, frame 0 at the left edge, orange for odd cameras.
    EXPECT_TRUE(near(p.at(0, 480), {255, 140, 0}, 0));
    EXPECT_TRUE(near(p.at(89, 569), {255, 140, 0}, 0));
    EXPECT_FALSE(near(p.at(90, 480), {255, 140, 0}, 0));
    EXPECT_FALSE(near(p.at(0, 479), {255, 140, 0}, 0));
    // Text scale 5 at x = 20, lines at rows 565, 610 and 655. "C" has its
    // first lit cell at column 1 of row 0; "F" at column 0 of row 0.
    EXPECT_TRUE(near(p.at(25, 565), {255, 255, 255}, 0));
    EXPECT_TRUE(near(p.at(29, 569), {255, 255, 255}, 0));
    EXPECT_FALSE(near(p.at(20, 565), {255, 255, 255}, 0));
    EXPECT_TRUE(near(p.at(20, 610), {255, 255, 0}, 0));
    // The clock starts with an hour digit; every digit lights row 0 or row 1
    // somewhere in its five columns.
    bool cyanSeen = false;
    for (int x = 20; x < 45; ++x)
        for (int y = 655; y < 665; ++y)
            cyanSeen = cyanSeen || near(p.at(x, y), {0, 255, 255}, 0);
    EXPECT_TRUE(cyanSeen);
}

TEST(TestPatternSourceTest, squareSweepsOutAndBackOncePerPeriod)
{
    struct Case {
        int camera;
        int fps;
        int64_t frame;
        int expectedLeft;
    } cases[] = {
        {1, 4, 8, 1190},   // camera 1: 4 s period, half way at 2 s
        {1, 4, 16, 0},     // back at the start after one period
        {1, 4, 4, 595},    // a quarter: half the travel
        {2, 4, 11, 1190},  // camera 2: 5.5 s period
        {2, 4, 22, 0},
        {9, 4, 32, 1190},  // camera 9: 16 s period
    };
    for (const Case& c : cases) {
        const Picture p = draw(1280, 720, c.camera, c.frame, c.fps);
        const Rgb color = c.camera % 2 ? Rgb {255, 140, 0} : Rgb {40, 200, 255};
        int left = -1;
        for (int x = 0; x < 1280 && left < 0; ++x)
            if (near(p.at(x, 500), color, 0))
                left = x;
        EXPECT_EQ(left, c.expectedLeft) << "camera " << c.camera << " frame " << c.frame;
    }
}

TEST(TestPatternSourceTest, cameraNumberShiftsBarsAndSquareColour)
{
    const Picture two = draw(1280, 720, 2, 0, 30);
    EXPECT_TRUE(near(two.at(80, 100), kBars[1], 0));  // yellow first
    EXPECT_TRUE(near(two.at(1200, 100), kBars[0], 0));  // wraps to white last
    EXPECT_TRUE(near(two.at(10, 500), {40, 200, 255}, 0));
    const Picture nine = draw(1280, 720, 9, 0, 30);
    EXPECT_TRUE(near(nine.at(80, 100), kBars[0], 0));  // same bars as camera 1
}

TEST(TestPatternSourceTest, smallPicturesUseTwentyPixelSquareAndClipText)
{
    const Picture p = draw(160, 120, 1, 0, 30);
    EXPECT_TRUE(near(p.at(0, 80), {255, 140, 0}, 0));
    EXPECT_TRUE(near(p.at(15, 99), {255, 140, 0}, 0));
    EXPECT_FALSE(near(p.at(20, 80), {255, 140, 0}, 0));
    // Height 120 < 31 * 4: the camera line starts at row 0.
    EXPECT_TRUE(near(p.at(16 + 4, 0), {255, 255, 255}, 0));
}

TEST(TestPatternSourceTest, deliveredJpegsDecodeToThePattern)
{
    TestPatternSource source;
    FrameCollector collector;
    const int64_t before = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    ASSERT_TRUE(source.start(request("test:2", 640, 360), collector.callback(), nullptr));
    ASSERT_TRUE(collector.waitFor(5));
    source.stop();
    const auto frames = collector.frames();

    int64_t lastPts = 0;
    for (const EncodedFrame& frame : frames) {
        EXPECT_TRUE(frame.keyframe);
        EXPECT_EQ(frame.seq, 0u);
        EXPECT_GE(frame.wallMs, before);
        EXPECT_GT(frame.ptsUs, lastPts);
        lastPts = frame.ptsUs;
    }
    EXPECT_EQ(source.lastFrameWallMs(), frames.back().wallMs);

    const Picture p = decodeJpeg(frames.front().data);
    ASSERT_EQ(p.width, 640);
    ASSERT_EQ(p.height, 360);
    for (int k = 0; k < 8; ++k) {
        const Rgb c = p.at(k * 80 + 40, 60);
        EXPECT_TRUE(near(c, kBars[(k + 1) % 8], 12)) << "bar " << k << ": " << c.r << "," << c.g << "," << c.b;
    }
    // Square of camera 2, side 45 at row 240, at the left edge in frame 0, left of the text.
    EXPECT_TRUE(near(p.at(8, 260), {40, 200, 255}, 24));
}

TEST(TestPatternSourceTest, pacesAboutThirtyFramesPerSecondWithoutBursts)
{
    TestPatternSource source;
    FrameCollector collector;
    ASSERT_TRUE(source.start(request("test", 320, 240, 30), collector.callback(), nullptr));
    std::this_thread::sleep_for(2500ms);
    const double fps = source.measuredFps();
    source.stop();
    const auto frames = collector.frames();
    // Generous bounds: a loaded machine delivers fewer, never many more.
    EXPECT_GT(frames.size(), 30u);
    EXPECT_LT(frames.size(), 90u);
    EXPECT_GT(fps, 10.0);
    EXPECT_LT(fps, 35.0);
    int shortRun = 0;
    int longestShortRun = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const int64_t gapUs = frames[i].ptsUs - frames[i - 1].ptsUs;
        shortRun = gapUs < 10'000 ? shortRun + 1 : 0;
        longestShortRun = std::max(longestShortRun, shortRun);
    }
    EXPECT_LE(longestShortRun, 2) << "late frames must not be caught up in a burst";
    EXPECT_EQ(source.measuredFps(), 0.0);
}

TEST(TestPatternSourceTest, lifecycleEdges)
{
    {
        TestPatternSource idle;
        idle.stop();
        idle.stop();
        EXPECT_FALSE(idle.isRunning());
        EXPECT_EQ(idle.lastFrameWallMs(), 0);
    }
    {
        // Collectors outlive the source, also when an assertion returns early.
        FrameCollector collector;
        FrameCollector second;
        TestPatternSource source;
        ASSERT_TRUE(source.start(request("test", 320, 240), collector.callback(), nullptr));
        std::string error;
        EXPECT_FALSE(source.start(request("test:2", 640, 480), nullptr, &error));
        EXPECT_EQ(error, "Capture already running");
        EXPECT_TRUE(source.isRunning());
        EXPECT_EQ(source.negotiatedWidth(), 320);
        ASSERT_TRUE(collector.waitFor(2));
        source.stop();
        EXPECT_FALSE(source.isRunning());
        const int64_t last = source.lastFrameWallMs();
        EXPECT_GT(last, 0);
        source.stop();
        EXPECT_EQ(source.lastFrameWallMs(), last);

        // Restart with another camera: new bars at once, last-frame time reset.
        ASSERT_TRUE(source.start(request("test:2", 320, 240), second.callback(), nullptr));
        EXPECT_EQ(source.lastFrameWallMs(), 0);
        ASSERT_TRUE(second.waitFor(1));
        const Picture p = decodeJpeg(second.frames().front().data);
        EXPECT_TRUE(near(p.at(20, 20), kBars[1], 12));
        const size_t firstCount = collector.frames().size();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(collector.frames().size(), firstCount) << "old callback dropped by stop";
    }
    {
        // Destroying a running source stops it.
        FrameCollector collector;
        auto source = std::make_unique<TestPatternSource>();
        ASSERT_TRUE(source->start(request("test", 320, 240), collector.callback(), nullptr));
        ASSERT_TRUE(collector.waitFor(1));
        source.reset();
        const size_t count = collector.frames().size();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(collector.frames().size(), count);
    }
}

TEST(TestPatternSourceTest, lowFrameRateStopsPromptly)
{
    TestPatternSource source;
    ASSERT_TRUE(source.start(request("test", 64, 64, 1), nullptr, nullptr));
    std::this_thread::sleep_for(50ms);
    const auto begin = std::chrono::steady_clock::now();
    source.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 900ms);
}
