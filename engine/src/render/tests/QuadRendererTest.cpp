#include "QuadRenderer.h"

#include "GlTestContext.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace lagwell {
namespace {

using testpictures::solidI420;
using testpictures::solidNv12;

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr int kSize = 20;

std::string apiName(GlTestContext::Api api)
{
    return api == GlTestContext::Api::Gles ? "Gles" : "Desktop";
}

class QuadRendererTest : public ::testing::TestWithParam<GlTestContext::Api> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(kSize, kSize, GetParam(), &error)) << error;
        m_renderer = std::make_unique<QuadRenderer>(m_context.gl());
    }
    void TearDown() override
    {
        if (m_renderer)
            m_renderer->releaseGl();
    }

    // Uploads and draws the frame over the whole target.
    void show(int panelId, const DecodedFrame& frame)
    {
        m_renderer->upload(panelId, frame);
        m_renderer->drawPanel(panelId, kIdentity);
    }

    GlTestContext m_context;
    std::unique_ptr<QuadRenderer> m_renderer;
};

// The pixel's colour is within tolerance of (r, g, b) on every channel.
::testing::AssertionResult rgbNear(const GlTestContext::Pixel& pixel, int r, int g, int b, int tolerance)
{
    if (std::abs(pixel.r - r) <= tolerance && std::abs(pixel.g - g) <= tolerance && std::abs(pixel.b - b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << int(pixel.r) << ", " << int(pixel.g) << ", " << int(pixel.b)
                                         << "), expected (" << r << ", " << g << ", " << b << ") +-" << tolerance;
}

struct ColourCase {
    uint8_t y, u, v;
    int r, g, b;  // BT.601, limited-range luma, full-range chroma, clamped
};

// Hand-worked from R = yy + 1.402 vv, G = yy - 0.344136 uu - 0.714136 vv,
// B = yy + 1.772 uu with yy = (Y - 16) / 219, uu = U / 255 - 0.5,
// vv = V / 255 - 0.5.
constexpr ColourCase kColourCases[] = {
    {16, 128, 128, 1, 0, 1},        // black (128 is a hair above 0.5)
    {235, 128, 128, 255, 254, 255}, // white
    {125, 128, 128, 128, 126, 128}, // mid grey
    {81, 90, 240, 233, 8, 9},       // red
    {145, 54, 34, 19, 242, 20},     // green
    {41, 240, 110, 5, 3, 228},      // blue
    {255, 255, 255, 255, 143, 255}, // clamped above
    {0, 0, 0, 0, 116, 0},           // clamped below
    {180, 16, 200, 255, 178, 0},    // mixed clamps
};

TEST_P(QuadRendererTest, convertsExactSamplesWithTheBt601Formula)
{
    for (const DecodedFrame::Layout layout : {DecodedFrame::Layout::I420, DecodedFrame::Layout::NV12}) {
        for (const ColourCase& c : kColourCases) {
            SCOPED_TRACE(::testing::Message() << (layout == DecodedFrame::Layout::NV12 ? "NV12" : "I420") << " Y "
                                              << int(c.y) << " U " << int(c.u) << " V " << int(c.v));
            const DecodedFrame frame = layout == DecodedFrame::Layout::NV12 ? solidNv12(4, 4, c.y, c.u, c.v)
                                                                            : solidI420(4, 4, c.y, c.u, c.v);
            m_context.clear(0, 0, 0, 0);
            show(1, frame);
            const GlTestContext::Pixel p = m_context.pixel(kSize / 2, kSize / 2);
            EXPECT_TRUE(rgbNear(p, c.r, c.g, c.b, 2));
            EXPECT_EQ(p.a, 255);
            m_renderer->forget(1);
        }
    }
}

TEST_P(QuadRendererTest, uploadsAPictureOnlyOnceAndReallocatesOnANewSize)
{
    show(1, solidI420(4, 4, 125, 128, 128, 7));
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 128, 126, 128, 2));
    const GLuint firstLuma = m_renderer->panelTextures(1)->textures[0];

    // Same seq with other content: the textures keep the first picture.
    show(1, solidI420(4, 4, 235, 128, 128, 7));
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 128, 126, 128, 2));

    show(1, solidI420(4, 4, 235, 128, 128, 8));
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 255, 254, 255, 2));
    EXPECT_EQ(m_renderer->panelTextures(1)->textures[0], firstLuma);

    // A new size reallocates, and then uploads even with the same seq.
    show(1, solidI420(6, 2, 16, 128, 128, 8));
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 1, 0, 1, 2));
    EXPECT_EQ(m_renderer->panelTextures(1)->width, 6);
    EXPECT_EQ(m_renderer->panelTextures(1)->height, 2);

    // So does a new layout.
    show(1, solidNv12(6, 2, 145, 54, 34, 8));
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 19, 242, 20, 2));
    EXPECT_EQ(m_renderer->panelTextures(1)->layout, DecodedFrame::Layout::NV12);
    EXPECT_EQ(m_renderer->panelTextures(1)->textures[2], 0u);
}

TEST_P(QuadRendererTest, oddWidthNv12KeepsEachRowsOwnChroma)
{
    // Width 5: each chroma row holds U V U V U, one byte short of three
    // pairs; the byte after it belongs to the next row (or lies past the
    // plane). The last pair must still show this row's colour.
    const DecodedFrame frame = solidNv12(5, 4, 145, 54, 34);
    ASSERT_EQ(frame.planes[1].size(), 10u);
    show(1, frame);
    const std::vector<uint8_t> rgba = m_context.readRgba();
    for (int y = 0; y < kSize; ++y) {
        SCOPED_TRACE(::testing::Message() << "row " << y);
        EXPECT_TRUE(rgbNear(m_context.pixelOf(rgba, kSize - 1, y), 19, 242, 20, 2));
        EXPECT_TRUE(rgbNear(m_context.pixelOf(rgba, 0, y), 19, 242, 20, 2));
    }
}

TEST_P(QuadRendererTest, singleColumnNv12GetsNeutralRedDifference)
{
    // Width 1: the chroma row is one U byte; V is taken as neutral.
    show(1, solidNv12(1, 2, 125, 54, 0));
    EXPECT_TRUE(rgbNear(m_context.pixel(kSize / 2, kSize / 2), 128, 152, 0, 2));
}

TEST_P(QuadRendererTest, paddedRowsUploadWithoutTheirPadding)
{
    // 4 x 4 black picture whose rows carry 4 bytes of white padding.
    DecodedFrame frame = solidI420(4, 4, 16, 128, 128);
    frame.planes[0].assign(8 * 4, 255);
    frame.planes[1].assign(4 * 2, 255);
    frame.planes[2].assign(4 * 2, 255);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 4; ++x)
            frame.planes[0][row * 8 + x] = 16;
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < 2; ++x)
            frame.planes[1][row * 4 + x] = frame.planes[2][row * 4 + x] = 128;
    frame.strides = {8, 4, 4};
    show(1, frame);
    const std::vector<uint8_t> rgba = m_context.readRgba();
    for (int y = 0; y < kSize; y += 3)
        for (int x = 0; x < kSize; x += 3)
            EXPECT_TRUE(rgbNear(m_context.pixelOf(rgba, x, y), 1, 0, 1, 2)) << "at " << x << "," << y;
}

TEST_P(QuadRendererTest, planesMissingOrTooShortAreSkippedButTheFrameCounts)
{
    DecodedFrame empty = solidI420(4, 4, 235, 128, 128, 3);
    for (auto& plane : empty.planes)
        plane.clear();
    m_renderer->upload(1, empty);
    EXPECT_TRUE(m_renderer->hasTexture(1));
    EXPECT_EQ(m_renderer->panelTextures(1)->lastSeq, 3u);

    DecodedFrame shortPlane = solidI420(64, 64, 235, 128, 128, 4);
    shortPlane.planes[0].resize(64 * 63);
    m_renderer->upload(2, shortPlane);
    EXPECT_TRUE(m_renderer->hasTexture(2));
    EXPECT_TRUE(m_renderer->panelTextures(2)->seqValid);

    DecodedFrame noArea = solidI420(0, 4, 235, 128, 128, 5);
    m_renderer->upload(3, noArea);
    EXPECT_TRUE(m_renderer->hasTexture(3));
    EXPECT_FALSE(m_renderer->hasTexture(4));
}

TEST_P(QuadRendererTest, solidColourBlendsOnlyWhenTranslucent)
{
    m_renderer->ensureInit();
    m_context.clear(0, 0, 1, 1);
    m_renderer->drawSolid(1, 0, 0, 0.5f, kIdentity);
    EXPECT_TRUE(rgbNear(m_context.pixel(3, 3), 128, 0, 128, 2));
    EXPECT_EQ(m_context.gl().glIsEnabled(GL_BLEND), GL_FALSE);

    m_renderer->drawSolid(0, 1, 0, 1, kIdentity);
    EXPECT_TRUE(rgbNear(m_context.pixel(3, 3), 0, 255, 0, 0));
}

TEST_P(QuadRendererTest, forgetAndReleaseDeleteTheirObjectsAndTheRendererStartsAgain)
{
    const GlFunctions& gl = m_context.gl();
    show(1, solidI420(4, 4, 235, 128, 128));
    show(2, solidNv12(4, 4, 235, 128, 128));
    const auto first = m_renderer->panelTextures(1)->textures;
    const auto second = m_renderer->panelTextures(2)->textures;

    m_renderer->forget(1);
    m_renderer->forget(42);  // unknown: nothing
    EXPECT_FALSE(m_renderer->hasTexture(1));
    for (GLuint texture : first)
        EXPECT_EQ(gl.glIsTexture(texture), GL_FALSE);
    EXPECT_EQ(gl.glIsTexture(second[0]), GL_TRUE);

    m_renderer->releaseGl();
    EXPECT_FALSE(m_renderer->isInited());
    EXPECT_FALSE(m_renderer->hasTexture(2));
    EXPECT_EQ(gl.glIsTexture(second[0]), GL_FALSE);
    EXPECT_EQ(gl.glIsTexture(second[1]), GL_FALSE);

    m_context.clear(0, 0, 0, 0);
    show(2, solidNv12(4, 4, 81, 90, 240));
    EXPECT_TRUE(m_renderer->isInited());
    EXPECT_TRUE(rgbNear(m_context.pixel(5, 5), 233, 8, 9, 2));
}

INSTANTIATE_TEST_SUITE_P(Apis, QuadRendererTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         [](const auto& info) { return apiName(info.param); });

}  // namespace
}  // namespace lagwell
