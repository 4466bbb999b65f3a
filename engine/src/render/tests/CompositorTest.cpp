#include "RenderEngine.h"

#include "CardWords.h"
#include "GlTestContext.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <string>
#include <vector>

namespace lagwell {
namespace {

using testpictures::solidI420;

constexpr int64_t kPeriodNs = RenderEngine::kCompositePeriodNs;
constexpr int64_t kStartNs = 5'000'000'000;  // any steady-clock reading

// Keeps every timestamp and pointer it was given and a copy of the last
// picture (rows bottom-up, as handed over).
class TestSink : public CompositeSink {
public:
    TestSink(int width, int height, std::vector<std::string>* callLog = nullptr, std::string name = {})
        : m_width(width), m_height(height), m_callLog(callLog), m_name(std::move(name))
    {
    }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool active() const override { return m_active; }
    void submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs, int64_t slotNs) override
    {
        ptsUs_.push_back(ptsUs);
        slotNs_.push_back(slotNs);
        pointers.push_back(rgba);
        strides.push_back(strideBytes);
        last.assign(rgba, rgba + static_cast<size_t>(strideBytes) * m_height);
        if (m_callLog)
            m_callLog->push_back(m_name);
    }

    void setActive(bool active) { m_active = active; }

    // One pixel of the last picture, y counted from the top.
    GlTestContext::Pixel pixel(int x, int yFromTop) const
    {
        const size_t row = static_cast<size_t>(m_height - 1 - yFromTop);
        const uint8_t* p = last.data() + row * static_cast<size_t>(m_width) * 4 + static_cast<size_t>(x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }

    std::vector<int64_t> ptsUs_;
    std::vector<int64_t> slotNs_;
    std::vector<const uint8_t*> pointers;
    std::vector<int> strides;
    std::vector<uint8_t> last;

private:
    int m_width;
    int m_height;
    bool m_active = true;
    std::vector<std::string>* m_callLog;
    std::string m_name;
};

bool near(const GlTestContext::Pixel& p, int r, int g, int b, int tolerance = 4)
{
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

::testing::AssertionResult pixelIs(const GlTestContext::Pixel& p, int r, int g, int b, int tolerance = 4)
{
    if (near(p, r, g, b, tolerance))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << int(p.r) << ", " << int(p.g) << ", " << int(p.b)
                                         << ") is not (" << r << ", " << g << ", " << b << ")";
}

// Red and grey pictures and what they become on screen.
constexpr int kRed[3] = {233, 8, 9};
constexpr int kGrey[3] = {191, 191, 191};

class CompositorTest : public ::testing::TestWithParam<GlTestContext::Api> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(16, 16, GetParam(), &error)) << error;
        m_engine = std::make_unique<RenderEngine>(m_context.resolver());
        m_red = std::make_shared<const DecodedFrame>(solidI420(64, 36, 81, 90, 240, 1));
        m_grey = std::make_shared<const DecodedFrame>(solidI420(64, 36, 180, 128, 128, 2));
        // Two side-by-side halves of a 1280 x 720 window.
        m_panels.push_back(panel(1, m_red, {0, 0, 640, 720}));
        m_panels.push_back(panel(2, m_grey, {640, 0, 640, 720}));
    }
    void TearDown() override
    {
        if (m_engine)
            m_engine->releaseGl();
    }

    static PanelDraw panel(int id, std::shared_ptr<const DecodedFrame> picture, PanelRect rect)
    {
        PanelDraw draw;
        draw.panelId = id;
        draw.frame = picture.get();
        draw.picture = std::move(picture);
        draw.rect = rect;
        return draw;
    }

    // Composites at slot k of the regular 30 per second grid.
    void compositeAtSlot(int64_t k) { m_engine->compositeIfDue(m_panels, kStartNs + k * kPeriodNs); }

    GlTestContext m_context;
    std::unique_ptr<RenderEngine> m_engine;
    std::shared_ptr<const DecodedFrame> m_red;
    std::shared_ptr<const DecodedFrame> m_grey;
    std::vector<PanelDraw> m_panels;
};

TEST_P(CompositorTest, sinkReceivesFromTheThirdCompositeWithSlotTimestamps)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    compositeAtSlot(0);
    m_engine->compositeIfDue(m_panels, kStartNs + kPeriodNs / 2);  // a 60 Hz frame between slots
    compositeAtSlot(1);
    EXPECT_TRUE(sink.ptsUs_.empty());
    for (int64_t k = 2; k < 6; ++k) {
        compositeAtSlot(k);
        m_engine->compositeIfDue(m_panels, kStartNs + k * kPeriodNs + kPeriodNs / 2);
    }
    EXPECT_EQ(sink.ptsUs_, (std::vector<int64_t> {66'666, 99'999, 133'332, 166'665}));
    ASSERT_FALSE(sink.strides.empty());
    EXPECT_EQ(sink.strides.front(), 1280 * 4);
    EXPECT_EQ(m_engine->compositeTargetCount(), 1u);
}

TEST_P(CompositorTest, lateCompositesKeepRealTimeSlotsDoNotCatchUpAndCarryTheirSlotTime)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    compositeAtSlot(0);
    compositeAtSlot(1);
    compositeAtSlot(2);  // hands slot 0
    // The render thread stalls for 100 ms: one composite when it resumes,
    // for the latest slot due, the slots in between left empty.
    const int64_t resumeNs = kStartNs + 2 * kPeriodNs + 100'000'000;
    m_engine->compositeIfDue(m_panels, resumeNs);  // slot 5, hands slot 1
    m_engine->compositeIfDue(m_panels, resumeNs + kPeriodNs / 3);  // not due
    const int64_t lateNs = resumeNs + kPeriodNs + 4'000'000;  // 4 ms into its slot
    m_engine->compositeIfDue(m_panels, lateNs);  // slot 6, hands slot 2
    m_engine->compositeIfDue(m_panels, resumeNs + 2 * kPeriodNs);  // slot 7, hands slot 5
    m_engine->compositeIfDue(m_panels, resumeNs + 3 * kPeriodNs);  // slot 8, hands slot 6
    EXPECT_EQ(sink.ptsUs_, (std::vector<int64_t> {66'666, 99'999, 133'332, 233'331, 266'664}));
    // Each picture carries its slot's moment on the grid of the first
    // composite, however late it was drawn.
    const auto slotAt = [](int64_t k) { return kStartNs + k * kPeriodNs; };
    EXPECT_EQ(sink.slotNs_, (std::vector<int64_t> {slotAt(0), slotAt(1), slotAt(2), slotAt(5), slotAt(6)}));
}

TEST_P(CompositorTest, readBackShowsThePanelsScaledToTheSinkSize)
{
    TestSink small(1280, 720);
    TestSink large(1920, 1080);
    m_engine->setCompositeSinks({&large, &small});
    for (int k = 0; k < 3; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(small.ptsUs_.size(), 1u);
    ASSERT_EQ(large.ptsUs_.size(), 1u);
    // 1280 x 720: the halves as on screen.
    EXPECT_TRUE(pixelIs(small.pixel(320, 360), kRed[0], kRed[1], kRed[2], 6));
    EXPECT_TRUE(pixelIs(small.pixel(636, 700), kRed[0], kRed[1], kRed[2], 6));
    EXPECT_TRUE(pixelIs(small.pixel(644, 10), kGrey[0], kGrey[1], kGrey[2]));
    // 1920 x 1080: scaled by 1.5, the seam at 960.
    EXPECT_TRUE(pixelIs(large.pixel(955, 540), kRed[0], kRed[1], kRed[2], 6));
    EXPECT_TRUE(pixelIs(large.pixel(965, 540), kGrey[0], kGrey[1], kGrey[2]));
    EXPECT_TRUE(pixelIs(large.pixel(1919, 1079), kGrey[0], kGrey[1], kGrey[2]));
    EXPECT_EQ(large.pixel(100, 100).a, 255);
}

TEST_P(CompositorTest, panelWithoutPictureShowsItsEmptyColourAndEmptyPanelsAreLeftOut)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    m_panels[1].frame = nullptr;
    m_panels[1].picture.reset();
    // A panel without area does not widen the box.
    m_panels.push_back(panel(3, m_red, {5000, 5000, 0, 100}));
    for (int k = 0; k < 3; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(sink.ptsUs_.size(), 1u);
    EXPECT_TRUE(pixelIs(sink.pixel(960, 360), 26, 26, 28, 2));  // (0.1, 0.1, 0.11)
    EXPECT_TRUE(pixelIs(sink.pixel(320, 360), kRed[0], kRed[1], kRed[2], 6));
}

TEST_P(CompositorTest, whatAPictureLeavesUncoveredShowsNothingOfEarlierComposites)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    int64_t slot = 0;
    const auto picture = [&] {
        for (int k = 0; k < 3; ++k)
            compositeAtSlot(slot++);
    };
    // Two halves that tile the target: red and grey everywhere.
    picture();
    ASSERT_FALSE(sink.ptsUs_.empty());
    EXPECT_TRUE(pixelIs(sink.pixel(20, 20), kRed[0], kRed[1], kRed[2], 6));

    // The picture overflows its panel by 320 pixels either side; panned
    // right by 480, the red panel's left strip is its clear colour (0.02),
    // not the red drawn there before.
    m_panels[0].params.panX = 480;
    picture();
    EXPECT_TRUE(pixelIs(sink.pixel(20, 360), 5, 5, 5, 2));
    EXPECT_TRUE(pixelIs(sink.pixel(400, 360), kRed[0], kRed[1], kRed[2], 6));

    // Zoomed out, and turned by 45 degrees: corners uncovered.
    m_panels[0].params.panX = 0;
    m_panels[0].params.zoom = 0.5f;
    picture();
    EXPECT_TRUE(pixelIs(sink.pixel(20, 20), 5, 5, 5, 2));
    m_panels[0].params.zoom = 1.0f;
    m_panels[0].params.rotationDegrees = 45.0f;
    m_panels[0].rect = {0, 0, 100, 720};  // tall enough to leave its corners bare
    picture();
    EXPECT_TRUE(pixelIs(sink.pixel(2, 2), 5, 5, 5, 2));
    EXPECT_TRUE(pixelIs(sink.pixel(50, 360), kRed[0], kRed[1], kRed[2], 6));
    EXPECT_TRUE(pixelIs(sink.pixel(320, 360), 0, 0, 0, 1));  // beside it, nothing

    // A gap between the panels: black, not the grey drawn there before.
    m_panels[0].params.rotationDegrees = 0.0f;
    m_panels[0].rect = {0, 0, 640, 720};
    m_panels[1].rect = {660, 0, 620, 720};
    picture();
    EXPECT_TRUE(pixelIs(sink.pixel(650, 360), 0, 0, 0, 1));
    EXPECT_TRUE(pixelIs(sink.pixel(20, 20), kRed[0], kRed[1], kRed[2], 6));
}

TEST_P(CompositorTest, noPanelWithAreaMakesNoComposite)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    for (PanelDraw& draw : m_panels)
        draw.rect.width = 0;
    for (int k = 0; k < 5; ++k)
        compositeAtSlot(k);
    EXPECT_TRUE(sink.ptsUs_.empty());
    EXPECT_EQ(m_engine->compositeTargetCount(), 0u);
}

TEST_P(CompositorTest, sinksOfOneSizeShareThePictureAndLargerSizesComeAfter)
{
    std::vector<std::string> calls;
    TestSink large(1920, 1080, &calls, "large");
    TestSink first(1280, 720, &calls, "first");
    TestSink second(1280, 720, &calls, "second");
    TestSink unsized(0, 720, &calls, "unsized");
    m_engine->setCompositeSinks({&large, nullptr, &first, &unsized, &second});
    for (int k = 0; k < 3; ++k)
        compositeAtSlot(k);
    EXPECT_EQ(calls, (std::vector<std::string> {"first", "second", "large"}));
    ASSERT_EQ(first.pointers.size(), 1u);
    ASSERT_EQ(second.pointers.size(), 1u);
    EXPECT_EQ(first.pointers[0], second.pointers[0]);
    EXPECT_EQ(first.ptsUs_, second.ptsUs_);
    EXPECT_EQ(large.ptsUs_, (std::vector<int64_t> {66'666}));
    EXPECT_EQ(m_engine->compositeTargetCount(), 2u);
}

TEST_P(CompositorTest, sizeBeyondTheTextureLimitGetsNothingAndHarmsNoOther)
{
    TestSink huge(1'000'000, 720);
    TestSink normal(1280, 720);
    m_engine->setCompositeSinks({&huge, &normal});
    for (int k = 0; k < 3; ++k)
        compositeAtSlot(k);
    EXPECT_TRUE(huge.ptsUs_.empty());
    EXPECT_EQ(normal.ptsUs_, (std::vector<int64_t> {66'666}));
    EXPECT_EQ(m_engine->compositeTargetCount(), 1u);
    EXPECT_EQ(m_context.gl().glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_P(CompositorTest, overlayAndSinksChangeHandsWhileCompositing)
{
    TestSink a(320, 180);
    TestSink b(320, 180);
    m_engine->setCompositeSinks({&a, &b});
    std::atomic<bool> done {false};
    // A control thread swaps the lists and overlays as recording and
    // sharing start and stop; the render thread always sees a whole one.
    std::thread control([&] {
        OverlayState state;
        for (int i = 0; !done.load(); ++i) {
            state.labels = TitleCardLabels {};
            state.labels->title = std::string(static_cast<size_t>(i % 50), 'x');
            state.panelDelayMs[i % 4] = i;
            m_engine->setOverlayState(state);
            if (i % 2 == 0)
                m_engine->setCompositeSinks({&a, &b});
            else
                m_engine->setCompositeSinks({&b, &a});
        }
    });
    for (int k = 0; k < 30; ++k)
        compositeAtSlot(k);
    done = true;
    control.join();
    EXPECT_EQ(a.ptsUs_.size(), 28u);
    EXPECT_EQ(a.ptsUs_, b.ptsUs_);
}

TEST_P(CompositorTest, inactiveSinkStopsAtOnceAndTheLastOneFreesTheTargets)
{
    TestSink a(1280, 720);
    TestSink b(1280, 720);
    TestSink other(640, 360);
    m_engine->setCompositeSinks({&a, &b, &other});
    for (int k = 0; k < 3; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(a.ptsUs_.size(), 1u);
    EXPECT_EQ(m_engine->compositeTargetCount(), 2u);

    a.setActive(false);
    other.setActive(false);
    compositeAtSlot(3);
    EXPECT_EQ(a.ptsUs_.size(), 1u);
    EXPECT_EQ(b.ptsUs_, (std::vector<int64_t> {66'666, 99'999}));
    EXPECT_EQ(m_engine->compositeTargetCount(), 1u);  // 640 x 360 is gone

    b.setActive(false);
    compositeAtSlot(4);
    EXPECT_EQ(b.ptsUs_.size(), 2u);
    EXPECT_EQ(m_engine->compositeTargetCount(), 0u);

    // Coming back later starts a fresh target and a fresh count.
    b.setActive(true);
    for (int k = 10; k < 13; ++k)
        compositeAtSlot(k);
    EXPECT_EQ(b.ptsUs_, (std::vector<int64_t> {66'666, 99'999, 66'666}));
}

TEST_P(CompositorTest, releaseGlMidStreamKeepsTimestampsMovingForward)
{
    TestSink sink(1280, 720);
    m_engine->setCompositeSinks({&sink});
    for (int k = 0; k < 5; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(sink.ptsUs_.size(), 3u);
    const int64_t lastBefore = sink.ptsUs_.back();

    m_engine->releaseGl();  // scene graph invalidated while recording
    EXPECT_EQ(m_engine->compositeTargetCount(), 0u);
    for (int k = 5; k < 10; ++k)
        compositeAtSlot(k);
    // Slots 5 and 6 refill the ring; slot 7 hands slot 5.
    ASSERT_EQ(sink.ptsUs_.size(), 6u);
    EXPECT_GT(sink.ptsUs_[3], lastBefore);
    EXPECT_EQ(sink.ptsUs_[3], 7 * 33'333);
    for (size_t i = 1; i < sink.ptsUs_.size(); ++i)
        EXPECT_GT(sink.ptsUs_[i], sink.ptsUs_[i - 1]);
    EXPECT_TRUE(pixelIs(sink.pixel(320, 360), kRed[0], kRed[1], kRed[2], 6));
}

// GL texture and buffer names alive in the context among the first few hundred.
std::vector<GLuint> liveNames(const GlFunctions& gl)
{
    std::vector<GLuint> names;
    for (GLuint name = 1; name < 400; ++name) {
        if (gl.glIsTexture(name) == GL_TRUE)
            names.push_back(name);
        if (gl.glIsBuffer(name) == GL_TRUE)
            names.push_back(name + 100'000);
    }
    return names;
}

TEST_P(CompositorTest, expectedTargetIsBuiltAheadUsedByTheRecordingAndFreedWhenNoLongerExpected)
{
    const GlFunctions& gl = m_context.gl();
    TestSink sink(1280, 720);
    sink.setActive(false);
    m_engine->setCompositeSinks({&sink});
    int64_t nowNs = kStartNs;
    const auto frame = [&] {
        m_engine->compositeIfDue(m_panels, nowNs);
        nowNs += kPeriodNs;
    };
    const auto settle = [&] {
        const int64_t settledNs = nowNs + RenderEngine::kExpectedSizeSettleNs;
        while (nowNs <= settledNs + kPeriodNs)
            frame();
    };
    const std::vector<GLuint> contextOnly = liveNames(gl);
    // Programs, quads, panel textures and the brand line's text stay after the first preparation.
    m_engine->expectCompositeSize(1280, 720);
    settle();
    ASSERT_EQ(m_engine->compositeTargetCount(), 1u);
    m_engine->expectCompositeSize(0, 0);
    frame();
    ASSERT_EQ(m_engine->compositeTargetCount(), 0u);
    const std::vector<GLuint> baseline = liveNames(gl);

    // A size that changes at every frame, as while a window is resized, builds nothing.
    for (int i = 0; i < 40; ++i) {
        m_engine->expectCompositeSize(1280 + 16 * i, 720);
        frame();
        ASSERT_EQ(m_engine->compositeTargetCount(), 0u);
    }
    m_engine->expectCompositeSize(1280, 720);
    settle();
    ASSERT_EQ(m_engine->compositeTargetCount(), 1u);
    const std::vector<GLuint> prepared = liveNames(gl);
    EXPECT_EQ(prepared.size(), baseline.size() + 4);  // colour texture and three pack buffers
    EXPECT_TRUE(sink.ptsUs_.empty());

    // The recording draws into the prepared target, and its first picture
    // still comes at its third composite.
    sink.setActive(true);
    for (int k = 0; k < 3; ++k)
        frame();
    EXPECT_EQ(liveNames(gl), prepared);
    EXPECT_EQ(sink.ptsUs_, (std::vector<int64_t> {66'666}));
    EXPECT_TRUE(pixelIs(sink.pixel(320, 360), kRed[0], kRed[1], kRed[2], 6));

    // Between recordings the target stays; none of the last recording's
    // pictures reaches the next one.
    sink.setActive(false);
    frame();
    EXPECT_EQ(m_engine->compositeTargetCount(), 1u);
    m_panels[0] = panel(1, m_grey, {0, 0, 640, 720});
    sink.setActive(true);
    for (int k = 0; k < 2; ++k)
        frame();
    EXPECT_EQ(sink.ptsUs_.size(), 1u);
    frame();
    EXPECT_EQ(sink.ptsUs_, (std::vector<int64_t> {66'666, 66'666}));
    EXPECT_TRUE(pixelIs(sink.pixel(320, 360), kGrey[0], kGrey[1], kGrey[2], 6));
    EXPECT_EQ(liveNames(gl), prepared);

    // Nothing expected and nothing recording: the target goes.
    sink.setActive(false);
    m_engine->expectCompositeSize(0, 0);
    frame();
    EXPECT_EQ(m_engine->compositeTargetCount(), 0u);
    EXPECT_EQ(liveNames(gl), baseline);

    // A prepared target goes with releaseGl, and is built again afterwards.
    m_engine->expectCompositeSize(640, 360);
    settle();
    ASSERT_EQ(m_engine->compositeTargetCount(), 1u);
    m_engine->releaseGl();
    EXPECT_EQ(m_engine->compositeTargetCount(), 0u);
    EXPECT_EQ(liveNames(gl), contextOnly);
    frame();
    EXPECT_EQ(m_engine->compositeTargetCount(), 1u);
}

TEST_P(CompositorTest, compositeLeavesTheHostsStateAsItWas)
{
    // An odd width: rows the host's pack alignment of 8 would pad.
    TestSink sink(641, 361);
    m_engine->setCompositeSinks({&sink});
    const GlFunctions& gl = m_context.gl();
    m_context.bindTarget();
    gl.glViewport(1, 2, 3, 4);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 8);
    const auto expectHostState = [&] {
        GLint framebuffer = 0;
        GLint viewport[4] = {};
        GLint packAlignment = 0;
        gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        gl.glGetIntegerv(GL_VIEWPORT, viewport);
        gl.glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        EXPECT_EQ(static_cast<GLuint>(framebuffer), m_context.framebuffer());
        EXPECT_EQ(viewport[0], 1);
        EXPECT_EQ(viewport[3], 4);
        EXPECT_EQ(packAlignment, 8);
        EXPECT_EQ(gl.glIsEnabled(GL_BLEND), GL_FALSE);
        EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    };
    // Building the target ahead, before the sink is active, as well.
    sink.setActive(false);
    m_engine->expectCompositeSize(641, 361);
    for (int k = 0; k < 20; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(m_engine->compositeTargetCount(), 1u);
    expectHostState();
    sink.setActive(true);
    for (int k = 20; k < 23; ++k)
        compositeAtSlot(k);
    ASSERT_EQ(sink.ptsUs_.size(), 1u);
    expectHostState();
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    EXPECT_EQ(sink.strides[0], 641 * 4);
    EXPECT_TRUE(pixelIs(sink.pixel(100, 300), kRed[0], kRed[1], kRed[2], 6));
    EXPECT_TRUE(pixelIs(sink.pixel(640, 360), kGrey[0], kGrey[1], kGrey[2]));
}

// Badge and title band as the sink sees them, over grey panels.
class CompositorOverlayTest : public CompositorTest {
protected:
    void SetUp() override
    {
        CompositorTest::SetUp();
        m_panels[0] = panel(1, m_grey, {0, 0, 640, 720});
        m_engine->setCompositeSinks({&m_sink});
        setCardStrings({});
    }

    // Composites three slots after `slot` and gives the picture of the first.
    void compositeFrom(int64_t slot)
    {
        for (int64_t k = slot; k < slot + 3; ++k)
            compositeAtSlot(k);
    }

    TestSink m_sink {1280, 720};
};

TEST_P(CompositorOverlayTest, delayBadgesSitInEachPanelsCornerWithTheirDotColour)
{
    OverlayState state;
    state.panelDelayMs = {{1, 1500}, {2, 0}, {7, 3000}};  // 7 has no panel
    m_engine->setOverlayState(state);
    compositeFrom(0);
    ASSERT_EQ(m_sink.ptsUs_.size(), 1u);

    // At 720 lines: badge 30 high at (8.64, 8.64); dot 9 wide centred at
    // (22.74, 23.64) from the panel's corner.
    EXPECT_TRUE(pixelIs(m_sink.pixel(22, 23), 255, 107, 53, 6));        // delayed: orange
    EXPECT_TRUE(pixelIs(m_sink.pixel(640 + 22, 23), 76, 175, 80, 6));  // live: green
    // Badge background: (0.067) at 0.75 over grey.
    EXPECT_TRUE(pixelIs(m_sink.pixel(13, 24), 61, 61, 61, 5));
    // Outside the badge the panel is untouched.
    EXPECT_TRUE(pixelIs(m_sink.pixel(22, 45), kGrey[0], kGrey[1], kGrey[2]));
    EXPECT_TRUE(pixelIs(m_sink.pixel(200, 23), kGrey[0], kGrey[1], kGrey[2]));

    // The text is white, after the dot, inside the badge's height.
    int white = 0;
    int minX = 1280;
    int maxX = 0;
    int minY = 720;
    int maxY = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 200; ++x) {
            const GlTestContext::Pixel p = m_sink.pixel(x, y);
            if (p.r > 235 && p.g > 235 && p.b > 235) {
                ++white;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    EXPECT_GT(white, 30);
    EXPECT_GE(minX, 33);
    EXPECT_LE(maxX, 34 + 50);
    EXPECT_GE(minY, 15);
    EXPECT_LE(maxY, 16 + 18);
}

TEST_P(CompositorOverlayTest, titleBandShowsItsTextAndFadesOut)
{
    OverlayState state;
    state.labels = TitleCardLabels {"Ann", "Bob", "Sprint", "Morning Drills", "", "2026-12-09"};
    struct Case {
        int64_t elapsedMs;
        int band;    // band colour over grey at (20, 150)
        int accent;  // red of the accent line at (640, 2)
        bool text;
        int white;  // the title's white at its alpha over the band
    };
    const Case cases[] = {
        {0, 53, 245, true, 235},
        {4500, 53, 245, true, 235},
        {4750, 122, 184, true, 175},  // alpha 0.5: band at 0.38 over grey, accent over the band
        {5000, 191, 191, false, 235},
    };
    int64_t slot = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.elapsedMs);
        state.elapsedMs = c.elapsedMs;
        m_engine->setOverlayState(state);
        compositeFrom(slot);
        slot += 3;
        EXPECT_TRUE(pixelIs(m_sink.pixel(20, 150), c.band, c.band, c.band, 4));
        EXPECT_NEAR(m_sink.pixel(640, 2).r, c.accent, 4);
        EXPECT_TRUE(pixelIs(m_sink.pixel(20, 300), kGrey[0], kGrey[1], kGrey[2]));
        // The title line (white, 38 px at y = 82) around the centre.
        int white = 0;
        for (int y = 80; y < 135; ++y)
            for (int x = 400; x < 880; ++x) {
                const GlTestContext::Pixel p = m_sink.pixel(x, y);
                if (p.r > c.white && p.g > c.white && p.b > c.white)
                    ++white;
            }
        if (c.text)
            EXPECT_GT(white, 300);
        else
            EXPECT_EQ(white, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Apis, CompositorTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         ::testing::PrintToStringParamName());
INSTANTIATE_TEST_SUITE_P(Apis, CompositorOverlayTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace lagwell
