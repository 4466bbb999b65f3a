#include "RenderEngine.h"

#include "GlTestContext.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <string>

namespace lagwell {
namespace {

using testpictures::BrightArea;
using testpictures::findBright;
using testpictures::solidI420;

constexpr int kWindowWidth = 160;
constexpr int kWindowHeight = 120;

class PanelDrawingTest : public ::testing::TestWithParam<GlTestContext::Api> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(kWindowWidth, kWindowHeight, GetParam(), &error)) << error;
        m_engine = std::make_unique<RenderEngine>(m_context.resolver());
        // Blue stands for whatever the window showed before the panel.
        m_context.clear(0, 0, 1, 1);
    }
    void TearDown() override
    {
        if (m_engine)
            m_engine->releaseGl();
    }

    void draw(int panelId, const DecodedFrame* frame, const PanelParams& params, const PanelRect& rect)
    {
        m_engine->drawPanel(panelId, frame, params, rect, kWindowWidth, kWindowHeight);
    }

    static bool inside(const PanelRect& rect, int x, int y)
    {
        return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
    }

    // Every pixel outside rect still shows the window's blue.
    void expectUntouchedOutside(const std::vector<uint8_t>& rgba, const PanelRect& rect)
    {
        int touched = 0;
        for (int y = 0; y < kWindowHeight; ++y) {
            for (int x = 0; x < kWindowWidth; ++x) {
                const GlTestContext::Pixel p = m_context.pixelOf(rgba, x, y);
                if (!inside(rect, x, y) && (p.r != 0 || p.g != 0 || p.b != 255))
                    ++touched;
            }
        }
        EXPECT_EQ(touched, 0) << "pixels drawn outside the panel";
    }

    GlTestContext m_context;
    std::unique_ptr<RenderEngine> m_engine;
};

std::string apiName(GlTestContext::Api api)
{
    return api == GlTestContext::Api::Gles ? "Gles" : "Desktop";
}

// A 64 x 64 black picture with a white 16 x 8 marker at columns 36..52 and
// rows 20..28: its centre sits 12 pixels right of and 8 above the
// picture's centre.
DecodedFrame markerPicture(int32_t rotationDeg = 0)
{
    DecodedFrame frame = solidI420(64, 64, 16, 128, 128);
    testpictures::fillLuma(frame, 36, 20, 52, 28, 235);
    frame.rotationDeg = rotationDeg;
    return frame;
}

// 64 x 64 panel whose centre is at (48, 40) of the window.
constexpr PanelRect kMarkerRect {16, 8, 64, 64};

struct MarkerCase {
    const char* name;
    float rotation;
    int32_t frameRotation;
    bool mirror;
    float zoom;
    float panX;
    float panY;
    double centreX;  // expected marker centre in window pixels
    double centreY;
    int area;        // expected marker pixels
};


TEST_P(PanelDrawingTest, markerLandsWhereTheTransformPutsIt)
{
    // Offsets from the panel centre: turned clockwise (x, y) -> (-y, x);
    // zoom 2 doubles and the panel edge cuts the marker to 24 x 16.
    const MarkerCase cases[] = {
        {"upright", 0, 0, false, 1, 0, 0, 60, 32, 128},
        {"turned90", 90, 0, false, 1, 0, 0, 56, 52, 128},
        {"turned180", 180, 0, false, 1, 0, 0, 36, 48, 128},
        {"turned270", 270, 0, false, 1, 0, 0, 40, 28, 128},
        {"almost90", 89.6f, 0, false, 1, 0, 0, 56, 52, 128},
        {"minus90", -90, 0, false, 1, 0, 0, 40, 28, 128},
        {"frameTurned90PanelTurned270", 270, 90, false, 1, 0, 0, 60, 32, 128},
        {"mirrored", 0, 0, true, 1, 0, 0, 36, 32, 128},
        {"mirroredThenTurned90", 90, 0, true, 1, 0, 0, 56, 28, 128},
        {"zoom2", 0, 0, false, 2, 0, 0, 68, 24, 384},
        {"panRightWhileTurned90", 90, 0, false, 1, 10, 0, 66, 52, 128},
        {"panUp", 0, 0, false, 1, 0, -6, 60, 26, 128},
    };
    int panelId = 1;
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_context.clear(0, 0, 1, 1);
        const DecodedFrame frame = markerPicture(c.frameRotation);
        PanelParams params;
        params.rotationDegrees = c.rotation;
        params.mirror = c.mirror;
        params.zoom = c.zoom;
        params.panX = c.panX;
        params.panY = c.panY;
        draw(panelId++, &frame, params, kMarkerRect);
        const std::vector<uint8_t> rgba = m_context.readRgba();
        const BrightArea marker = findBright(rgba, kWindowWidth, kWindowHeight);
        EXPECT_NEAR(marker.centreX, c.centreX, 0.75);
        EXPECT_NEAR(marker.centreY, c.centreY, 0.75);
        EXPECT_NEAR(marker.count, c.area, c.area / 10);
        expectUntouchedOutside(rgba, kMarkerRect);
    }
}

// A grey of the picture, neither the window's blue nor the panel's clear
// colour (0.02 = 5 of 255).
bool showsGreyPicture(const GlTestContext::Pixel& p)
{
    const bool grey = std::abs(p.r - p.b) <= 2 && std::abs(p.r - p.g) <= 3;
    const bool clearColour = p.r == 5 && p.g == 5 && p.b == 5;
    return grey && !clearColour;
}

// A 192 x 108 picture whose luma rises by 2 per row from 16 at the top.
DecodedFrame gradientPicture()
{
    DecodedFrame frame = solidI420(192, 108, 16, 128, 128);
    testpictures::verticalLumaGradient(frame);
    return frame;
}

TEST_P(PanelDrawingTest, widerPictureCoversTheRectangleAndTheScissorCutsTheRest)
{
    // Fit = max(96 / 192, 30 / 108) = 0.5: the picture is 96 x 54 on screen,
    // 12 rows cut above and below. Screen row r shows picture row
    // 2 x (r + 0.5) + 24.
    const PanelRect rect {20, 30, 96, 30};
    const DecodedFrame frame = gradientPicture();
    draw(1, &frame, PanelParams {}, rect);
    const std::vector<uint8_t> rgba = m_context.readRgba();
    expectUntouchedOutside(rgba, rect);
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        for (int x = rect.x; x < rect.x + rect.width; ++x) {
            const GlTestContext::Pixel p = m_context.pixelOf(rgba, x, y);
            ASSERT_TRUE(showsGreyPicture(p)) << "panel not covered at " << x << "," << y;
        }
    }
    // Top row: picture rows 24 and 25 (luma 65); bottom row: 82 and 83 (181).
    EXPECT_NEAR(m_context.pixelOf(rgba, 60, rect.y).r, 57, 3);
    EXPECT_NEAR(m_context.pixelOf(rgba, 60, rect.y + rect.height - 1).r, 192, 3);
}

TEST_P(PanelDrawingTest, turnedPictureCoversTheRectangleAndTheScissorCutsTheRest)
{
    // Turned a quarter: fit = max(96 / 108, 30 / 192) = 0.8889, the picture
    // is 96 x 170.7 on screen and its rows run across the panel: turned 90
    // the top row of the picture is on the right, turned 270 on the left.
    const PanelRect rect {20, 30, 96, 30};
    const DecodedFrame frame = gradientPicture();
    for (const float rotation : {90.0f, 270.0f}) {
        SCOPED_TRACE(rotation);
        m_context.clear(0, 0, 1, 1);
        PanelParams params;
        params.rotationDegrees = rotation;
        draw(1, &frame, params, rect);
        const std::vector<uint8_t> rgba = m_context.readRgba();
        expectUntouchedOutside(rgba, rect);
        for (int y = rect.y; y < rect.y + rect.height; ++y) {
            for (int x = rect.x; x < rect.x + rect.width; ++x) {
                const GlTestContext::Pixel p = m_context.pixelOf(rgba, x, y);
                ASSERT_TRUE(showsGreyPicture(p)) << "panel not covered at " << x << "," << y;
            }
        }
        const int left = m_context.pixelOf(rgba, rect.x, rect.y + 15).r;
        const int middle = m_context.pixelOf(rgba, rect.x + 47, rect.y + 15).r;
        const int right = m_context.pixelOf(rgba, rect.x + rect.width - 1, rect.y + 15).r;
        // Picture rows 107.4, 54.6 and 0.6 (luma 230, 124, 16).
        EXPECT_NEAR(rotation == 90.0f ? left : right, 249, 3);
        EXPECT_NEAR(middle, 126, 3);
        EXPECT_NEAR(rotation == 90.0f ? right : left, 0, 3);
        // The turned picture's columns run down the panel: luma is constant.
        EXPECT_EQ(m_context.pixelOf(rgba, rect.x + 47, rect.y).r, m_context.pixelOf(rgba, rect.x + 47, rect.y + 29).r);
    }
}

TEST_P(PanelDrawingTest, panelWithoutPictureShowsTheEmptyColour)
{
    const PanelRect rect {100, 10, 40, 50};
    draw(1, nullptr, PanelParams {}, rect);
    const std::vector<uint8_t> rgba = m_context.readRgba();
    expectUntouchedOutside(rgba, rect);
    for (const auto& [x, y] : {std::pair {100, 10}, std::pair {139, 59}, std::pair {120, 30}}) {
        const GlTestContext::Pixel p = m_context.pixelOf(rgba, x, y);
        EXPECT_NEAR(p.r, 26, 1);
        EXPECT_NEAR(p.g, 26, 1);
        EXPECT_NEAR(p.b, 28, 1);
    }
}

TEST_P(PanelDrawingTest, panelsSideBySideKeepEachOther)
{
    const DecodedFrame red = solidI420(8, 8, 81, 90, 240);
    const DecodedFrame green = solidI420(8, 8, 145, 54, 34);
    draw(1, &red, PanelParams {}, PanelRect {0, 0, 80, 120});
    draw(2, &green, PanelParams {}, PanelRect {80, 0, 80, 120});
    const std::vector<uint8_t> rgba = m_context.readRgba();
    EXPECT_NEAR(m_context.pixelOf(rgba, 79, 60).r, 233, 2);
    EXPECT_NEAR(m_context.pixelOf(rgba, 80, 60).g, 242, 2);
    EXPECT_NEAR(m_context.pixelOf(rgba, 0, 0).r, 233, 2);
    EXPECT_NEAR(m_context.pixelOf(rgba, 159, 119).g, 242, 2);
}

struct HostState {
    GLint viewport[4] = {};
    GLint scissorBox[4] = {};
    GLfloat clearColor[4] = {};
    GLint program = 0;
    GLint arrayBuffer = 0;
    GLint activeTexture = 0;
    GLint unpackAlignment = 0;
    GLboolean blend = GL_FALSE;
    GLboolean scissor = GL_FALSE;
};

HostState readHostState(const GlFunctions& gl)
{
    HostState state;
    gl.glGetIntegerv(GL_VIEWPORT, state.viewport);
    gl.glGetIntegerv(GL_SCISSOR_BOX, state.scissorBox);
    gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, state.clearColor);
    gl.glGetIntegerv(GL_CURRENT_PROGRAM, &state.program);
    gl.glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &state.arrayBuffer);
    gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &state.activeTexture);
    gl.glGetIntegerv(GL_UNPACK_ALIGNMENT, &state.unpackAlignment);
    state.blend = gl.glIsEnabled(GL_BLEND);
    state.scissor = gl.glIsEnabled(GL_SCISSOR_TEST);
    return state;
}

// Host state unlike anything the panel drawing sets itself.
GLuint setOddHostState(const GlFunctions& gl)
{
    GLuint buffer = 0;
    gl.glGenBuffers(1, &buffer);
    gl.glBindBuffer(GL_ARRAY_BUFFER, buffer);
    gl.glActiveTexture(GL_TEXTURE3);
    gl.glViewport(1, 2, 30, 40);
    gl.glScissor(3, 4, 50, 60);
    gl.glEnable(GL_SCISSOR_TEST);
    gl.glEnable(GL_BLEND);
    gl.glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    return buffer;
}

TEST_P(PanelDrawingTest, panelWithoutAreaDrawsNothingAndChangesNoState)
{
    const GlFunctions& gl = m_context.gl();
    const DecodedFrame frame = solidI420(8, 8, 235, 128, 128);
    const GLuint buffer = setOddHostState(gl);
    const HostState before = readHostState(gl);
    const std::vector<uint8_t> pixelsBefore = m_context.readRgba();

    for (const PanelRect& rect : {PanelRect {10, 10, 0, 40}, PanelRect {10, 10, 40, 0}, PanelRect {10, 10, -5, 40}})
        draw(1, &frame, PanelParams {}, rect);
    m_engine->drawPanel(1, &frame, PanelParams {}, PanelRect {0, 0, 40, 40}, 0, kWindowHeight);
    m_engine->drawPanel(1, &frame, PanelParams {}, PanelRect {0, 0, 40, 40}, kWindowWidth, 0);

    const HostState after = readHostState(gl);
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    EXPECT_EQ(m_context.readRgba(), pixelsBefore);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glDeleteBuffers(1, &buffer);
}

TEST_P(PanelDrawingTest, drawingRestoresTheHostStateAndLeavesTheWindowViewport)
{
    const GlFunctions& gl = m_context.gl();
    const DecodedFrame frame = solidI420(8, 8, 235, 128, 128);
    const GLuint buffer = setOddHostState(gl);
    HostState expected = readHostState(gl);
    expected.viewport[0] = expected.viewport[1] = 0;
    expected.viewport[2] = kWindowWidth;
    expected.viewport[3] = kWindowHeight;

    draw(1, &frame, PanelParams {}, PanelRect {10, 10, 40, 40});
    draw(2, nullptr, PanelParams {}, PanelRect {60, 10, 40, 40});

    const HostState after = readHostState(gl);
    EXPECT_EQ(0, std::memcmp(&expected, &after, sizeof expected));
    // Both panels were drawn despite the host's scissor box.
    EXPECT_GE(m_context.pixel(45, 45).r, 250);
    EXPECT_NEAR(m_context.pixel(95, 45).r, 26, 1);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glDeleteBuffers(1, &buffer);
}

TEST_P(PanelDrawingTest, releaseGlThenDrawAgainUploadsAfresh)
{
    const PanelRect rect {0, 0, 40, 40};
    const DecodedFrame green = solidI420(8, 8, 145, 54, 34, 5);
    draw(1, &green, PanelParams {}, rect);
    EXPECT_NEAR(m_context.pixel(20, 20).g, 242, 2);

    m_engine->releaseGl();
    m_context.clear(0, 0, 1, 1);
    // The very same picture (same seq) must be uploaded again.
    draw(1, &green, PanelParams {}, rect);
    const GlTestContext::Pixel p = m_context.pixel(20, 20);
    EXPECT_NEAR(p.r, 19, 2);
    EXPECT_NEAR(p.g, 242, 2);
    EXPECT_NEAR(p.b, 20, 2);

    m_engine->releaseGl();
    m_context.clear(0, 0, 1, 1);
    draw(1, nullptr, PanelParams {}, rect);
    EXPECT_NEAR(m_context.pixel(20, 20).r, 26, 1);
}

TEST_P(PanelDrawingTest, forgottenPanelShowsTheEmptyColourUntilItsNextPicture)
{
    const PanelRect rect {0, 0, 40, 40};
    const DecodedFrame white = solidI420(8, 8, 235, 128, 128, 9);
    draw(7, &white, PanelParams {}, rect);
    m_engine->forgetPanel(7);
    draw(7, nullptr, PanelParams {}, rect);
    EXPECT_NEAR(m_context.pixel(20, 20).r, 26, 1);
    draw(7, &white, PanelParams {}, rect);
    EXPECT_GE(m_context.pixel(20, 20).r, 250);
}

INSTANTIATE_TEST_SUITE_P(Apis, PanelDrawingTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         [](const auto& info) { return apiName(info.param); });

}  // namespace
}  // namespace lagwell
