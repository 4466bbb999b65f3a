#include "RenderEngine.h"

#include <gtest/gtest.h>

#include <array>

namespace lagwell {
namespace {

struct Point {
    float x;
    float y;
};

// Where quad vertex (x, y) lands, in pixels from the rectangle's centre with
// y downward.
Point place(const std::array<float, 16>& m, int rectWidth, int rectHeight, float x, float y)
{
    const float clipX = m[0] * x + m[4] * y + m[12];
    const float clipY = m[1] * x + m[5] * y + m[13];
    const float clipW = m[3] * x + m[7] * y + m[15];
    return {clipX / clipW * rectWidth / 2.0f, -clipY / clipW * rectHeight / 2.0f};
}

struct MvpCase {
    const char* name;
    int rectWidth;
    int rectHeight;
    int frameWidth;
    int frameHeight;
    float rotation;
    int frameRotation;
    bool mirror;
    float zoom;
    float panX;
    float panY;
    float panScale;
    Point topLeft;  // where the picture's top-left corner (vertex -1, -1) lands
    Point centre;   // where the picture's centre lands
};

class PanelMvpTest : public ::testing::TestWithParam<MvpCase> {};

TEST_P(PanelMvpTest, placesThePictureCorner)
{
    const MvpCase& c = GetParam();
    PanelParams params;
    params.rotationDegrees = c.rotation;
    params.mirror = c.mirror;
    params.zoom = c.zoom;
    params.panX = c.panX;
    params.panY = c.panY;
    std::array<float, 16> m {};
    RenderEngine::buildPanelMvp(m.data(), c.rectWidth, c.rectHeight, c.frameWidth, c.frameHeight, params,
                                c.frameRotation, c.panScale);
    const Point corner = place(m, c.rectWidth, c.rectHeight, -1.0f, -1.0f);
    const Point centre = place(m, c.rectWidth, c.rectHeight, 0.0f, 0.0f);
    EXPECT_NEAR(corner.x, c.topLeft.x, 0.02f);
    EXPECT_NEAR(corner.y, c.topLeft.y, 0.02f);
    EXPECT_NEAR(centre.x, c.centre.x, 0.02f);
    EXPECT_NEAR(centre.y, c.centre.y, 0.02f);
}

// 1920 x 1080 in 960 x 300: fit 0.5 upright (960 x 540, top and bottom cut),
// 960 / 1080 turned (960 x 1706.7).
constexpr float kTurned = 1920.0f * 960.0f / 1080.0f / 2.0f;  // 853.33

INSTANTIATE_TEST_SUITE_P(
    Cases, PanelMvpTest,
    ::testing::Values(
        MvpCase {"upright", 960, 300, 1920, 1080, 0, 0, false, 1, 0, 0, 1, {-480, -270}, {0, 0}},
        MvpCase {"turned90", 960, 300, 1920, 1080, 90, 0, false, 1, 0, 0, 1, {480, -kTurned}, {0, 0}},
        MvpCase {"almost90Rounds", 960, 300, 1920, 1080, 89.6f, 0, false, 1, 0, 0, 1, {480, -kTurned}, {0, 0}},
        MvpCase {"minus90Is270", 960, 300, 1920, 1080, -90, 0, false, 1, 0, 0, 1, {-480, kTurned}, {0, 0}},
        MvpCase {"turned180", 960, 300, 1920, 1080, 180, 0, false, 1, 0, 0, 1, {480, 270}, {0, 0}},
        MvpCase {"frameRotationAddsUp", 960, 300, 1920, 1080, 270, 90, false, 1, 0, 0, 1, {-480, -270}, {0, 0}},
        MvpCase {"wrapsPastAFullTurn", 960, 300, 1920, 1080, 450, 0, false, 1, 0, 0, 1, {480, -kTurned}, {0, 0}},
        MvpCase {"mirrored", 960, 300, 1920, 1080, 0, 0, true, 1, 0, 0, 1, {480, -270}, {0, 0}},
        MvpCase {"mirroredThenTurned", 960, 300, 1920, 1080, 90, 0, true, 1, 0, 0, 1, {480, kTurned}, {0, 0}},
        MvpCase {"zoomAboutTheCentre", 960, 300, 1920, 1080, 0, 0, false, 2, 0, 0, 1, {-960, -540}, {0, 0}},
        MvpCase {"panIsInScreenPixels", 960, 300, 1920, 1080, 90, 0, false, 1, 10, 0, 1, {490, -kTurned}, {10, 0}},
        MvpCase {"panIsNotZoomed", 960, 300, 1920, 1080, 0, 0, false, 2, 0, -6, 1, {-960, -546}, {0, -6}},
        MvpCase {"panScaledForTheComposite", 960, 300, 1920, 1080, 0, 0, false, 1, 10, 4, 1.5f, {-465, -264},
                 {15, 6}},
        MvpCase {"notFiniteRotationCountsAsUpright", 960, 300, 1920, 1080, __builtin_inff(), 0, false, 1, 0, 0, 1,
                 {-480, -270}, {0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelMvpProjectionTest, withoutAPictureSizeOnlyTheProjectionIsLeft)
{
    std::array<float, 16> m {};
    RenderEngine::buildPanelMvp(m.data(), 200, 100, 0, 1080, PanelParams {}, 0, 1.0f);
    const std::array<float, 16> expected {2.0f / 200, 0, 0, 0, 0, -2.0f / 100, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(m[i], expected[i]) << "element " << i;
}

}  // namespace
}  // namespace lagwell
