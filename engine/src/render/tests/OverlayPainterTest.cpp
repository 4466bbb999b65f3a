#include "OverlayPainter.h"

#include "CardWords.h"
#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace lagwell {
namespace {

// The painter drawing straight into the test context's framebuffer, which
// stands in for a composite target.
class OverlayPainterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(kWidth, kHeight, GlTestContext::Api::PreferDesktop, &error)) << error;
        m_painter = std::make_unique<OverlayPainter>(m_context.gl());
        setCardStrings({});
        m_context.clear(0, 0, 0, 1);
    }
    void TearDown() override
    {
        if (m_painter)
            m_painter->releaseGl();
    }

    void draw(const OverlayState& state, const std::vector<std::pair<int, PanelRect>>& panels = {},
              int64_t nowMs = 0)
    {
        m_context.bindTarget();
        m_painter->draw(state, panels, kWidth, kHeight, nowMs);
    }

    struct Box {
        int count = 0;
        int minX = INT_MAX;
        int minY = INT_MAX;
        int maxX = INT_MIN;
        int maxY = INT_MIN;
    };
    // Where the pixels brighter than threshold in all three channels are,
    // within rows [y0, y1).
    Box brightPixels(const std::vector<uint8_t>& rgba, int y0, int y1, int threshold) const
    {
        Box box;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const GlTestContext::Pixel p = m_context.pixelOf(rgba, x, y);
                if (p.r > threshold && p.g > threshold && p.b > threshold) {
                    ++box.count;
                    box.minX = std::min(box.minX, x);
                    box.maxX = std::max(box.maxX, x);
                    box.minY = std::min(box.minY, y);
                    box.maxY = std::max(box.maxY, y);
                }
            }
        return box;
    }

    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    GlTestContext m_context;
    std::unique_ptr<OverlayPainter> m_painter;
};

TEST_F(OverlayPainterTest, titleGlyphsCoverTheirBoxAndNothingOutsideIt)
{
    ASSERT_TRUE(m_painter->measureText("x", 10, false, 100) > 0) << "DejaVu Sans is not installed";
    OverlayState state;
    state.labels = TitleCardLabels {};
    state.labels->title = "Hg Quality 42";
    draw(state);

    // 1280 wide: u = 12.8, title 38 px bold at y = 4.48 + 28.16 + 49.5.
    int textHeight = 0;
    const int textWidth = m_painter->measureText("Hg Quality 42", 38, true, kWidth, &textHeight);
    ASSERT_GT(textWidth, 150);
    ASSERT_GT(textHeight, 30);
    const int left = static_cast<int>(std::floor(640.0f - textWidth / 2.0f + 0.5f));
    const int top = static_cast<int>(std::floor(82.14f + 0.5f));

    const std::vector<uint8_t> rgba = m_context.readRgba();
    // White is the title alone (the people line is a greyer white).
    const Box white = brightPixels(rgba, 0, kHeight, 230);
    EXPECT_GT(white.count, textWidth * textHeight / 8);
    EXPECT_GE(white.minX, left - 1);
    EXPECT_LE(white.maxX, left + textWidth);
    EXPECT_GE(white.minY, top - 1);
    EXPECT_LE(white.maxY, top + textHeight);
    // The glyphs reach across most of their box.
    EXPECT_LT(white.minX, left + textWidth / 10);
    EXPECT_GT(white.maxX, left + textWidth * 9 / 10);
}

TEST_F(OverlayPainterTest, longLinesAreCutToTheFrameAndTheTextureLimit)
{
    const std::string longTitle(600, 'W');
    struct Case {
        const char* name;
        int pixelSize;
        int maxWidth;
        int limit;
    };
    const int maxTexture = [&] {
        m_painter->measureText("x", 10, false, 100);
        return m_painter->maxTextureSize();
    }();
    ASSERT_GE(maxTexture, 64);
    const Case cases[] = {
        {"frameOf320", 38, 320, 320},
        {"frameOf1280", 38, 1280, 1280},
        {"beyondTheTextureLimit", 200, INT_MAX, maxTexture},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = m_painter->measureText(longTitle, c.pixelSize, true, c.maxWidth);
        EXPECT_LE(width, c.limit);
        EXPECT_GT(width, c.limit * 3 / 4);
    }
    // A line that fits is left whole: one W less than the cut line holds.
    const int oneW = m_painter->measureText("W", 38, true, 1280);
    EXPECT_EQ(m_painter->measureText("WWWW", 38, true, 1280), 4 * oneW);

    // A title far wider than a small frame draws inside it.
    OverlayState state;
    state.labels = TitleCardLabels {};
    state.labels->title = longTitle;
    m_context.bindTarget();
    m_painter->draw(state, {}, 320, 180, 0);
    EXPECT_EQ(m_context.gl().glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(OverlayPainterTest, textCacheStaysBoundedAndEvictedTextsComeBack)
{
    OverlayState state;
    const std::vector<std::pair<int, PanelRect>> panels {{1, {0, 0, 640, 720}}};
    for (int delayMs = 500; delayMs <= 200 * 500; delayMs += 500) {
        state.panelDelayMs[1] = delayMs;
        draw(state, panels);
        ASSERT_LE(m_painter->cachedTextCount(), OverlayPainter::kMaxCachedTexts);
    }
    // "0.5s" went long ago; drawn again it shows.
    state.panelDelayMs[1] = 500;
    m_context.clear(0, 0, 0, 1);
    draw(state, panels);
    const Box white = brightPixels(m_context.readRgba(), 0, 60, 235);
    EXPECT_GT(white.count, 20);
    EXPECT_LE(m_painter->cachedTextCount(), OverlayPainter::kMaxCachedTexts);
}

TEST_F(OverlayPainterTest, invalidUtf8ByteStandsForItsOwnCodePoint)
{
    EXPECT_GT(m_painter->measureText("\xC3\xBF", 40, false, 1000), 0);  // U+00FF
    EXPECT_EQ(m_painter->measureText("a\xFF" "b", 40, false, 1000),
              m_painter->measureText("a\xC3\xBF" "b", 40, false, 1000));
    // A sequence cut off by the end of the text.
    EXPECT_EQ(m_painter->measureText("a\xE2\x80", 40, false, 1000),
              m_painter->measureText("a\xC3\xA2\xC2\x80", 40, false, 1000));
}

TEST_F(OverlayPainterTest, closingCardFadesInOverSixHundredMilliseconds)
{
    OverlayState state;
    state.closing = true;
    state.closingStartMs = 10'000;
    state.finalDurationMs = 13'000;
    struct Case {
        int64_t nowMs;
        int background;  // over mid grey (128)
        bool text;
        int textThreshold;  // white at the text's alpha over the background
    };
    const Case cases[] = {
        {10'000, 128, false, 140},
        {10'300, 69, true, 140},  // background 0.495 x 8 + 0.505 x 128, text at 0.5
        {10'600, 9, true, 200},
        {20'000, 9, true, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nowMs);
        m_context.clear(0.5f, 0.5f, 0.5f, 1);
        draw(state, {}, c.nowMs);
        const std::vector<uint8_t> rgba = m_context.readRgba();
        EXPECT_NEAR(m_context.pixelOf(rgba, 40, 40).r, c.background, 3);
        // "0:13" in 153 px white around the middle.
        const Box white = brightPixels(rgba, 200, 520, c.textThreshold);
        if (c.text) {
            EXPECT_GT(white.count, 2000);
            EXPECT_GT(white.minX, 400);
            EXPECT_LT(white.maxX, 880);
        } else {
            EXPECT_EQ(white.count, 0);
        }
    }
}

TEST_F(OverlayPainterTest, plainRectangleKeepsItsSoftEdgeAndBlendsEachPixelOnce)
{
    // The closing card's background covers the frame at alpha 0.495: along
    // the frame's edges and two columns clear of text, every pixel is the
    // distance function's coverage of (0.031, 0.031, 0.039) over mid grey,
    // neither blended twice nor left out where rim and inside meet.
    OverlayState state;
    state.closing = true;
    state.closingStartMs = 10'000;
    state.finalDurationMs = 13'000;
    m_context.clear(0.5f, 0.5f, 0.5f, 1);
    draw(state, {}, 10'300);
    const std::vector<uint8_t> rgba = m_context.readRgba();
    const auto expected = [](int x, int y) {
        const double d = std::max(std::abs(x + 0.5 - kWidth / 2.0) - kWidth / 2.0,
                                  std::abs(y + 0.5 - kHeight / 2.0) - kHeight / 2.0);
        const double t = std::clamp((d + 1.0) / 2.0, 0.0, 1.0);
        const double alpha = 0.495 * (1.0 - t * t * (3.0 - 2.0 * t));
        return 0.031 * 255.0 * alpha + 128.0 * (1.0 - alpha);
    };
    std::vector<std::pair<int, int>> points;
    for (int x = 0; x < kWidth; ++x)
        for (int y : {0, 1, 2, 3, kHeight - 4, kHeight - 3, kHeight - 2, kHeight - 1})
            points.emplace_back(x, y);
    for (int y = 0; y < kHeight; ++y)
        for (int x : {0, 1, 2, 3, 40, kWidth - 41, kWidth - 4, kWidth - 3, kWidth - 2, kWidth - 1})
            points.emplace_back(x, y);
    int wrong = 0;
    for (const auto& [x, y] : points) {
        const int red = m_context.pixelOf(rgba, x, y).r;
        if (std::abs(red - expected(x, y)) > 2.0 && ++wrong <= 5)
            ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << red << ", not " << expected(x, y);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(expected(0, 0) - expected(1, 1), 8.0);  // the soft edge is there to be seen
}

TEST_F(OverlayPainterTest, cardWordsComeFromTheCardLanguage)
{
    CardStrings words;
    words.live = "DIRECT";
    setCardStrings(words);
    const int direct = m_painter->measureText("DIRECT", 15, true, 1280);
    const int live = m_painter->measureText("LIVE", 15, true, 1280);
    ASSERT_NE(direct, live);

    OverlayState state;
    state.panelDelayMs[1] = 0;
    draw(state, {{1, {0, 0, 640, 720}}});
    const Box white = brightPixels(m_context.readRgba(), 0, 60, 235);
    setCardStrings({});
    // Text starts 34 px in; its ink spans about the word's width.
    ASSERT_GT(white.count, 20);
    EXPECT_NEAR(white.maxX - white.minX + 1, direct, 4);
}

}  // namespace
}  // namespace lagwell
