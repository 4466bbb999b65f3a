#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <string>

namespace lagwell {
namespace {

class GlTestContextTest : public ::testing::TestWithParam<GlTestContext::Api> {};

TEST_P(GlTestContextTest, createsAContextOfTheAskedKindAndReadsBackTopRowFirst)
{
    GlTestContext context;
    std::string error;
    ASSERT_TRUE(context.create(8, 6, GetParam(), &error)) << error;
    RecordProperty("gl_version", context.version());
    if (GetParam() == GlTestContext::Api::Gles) {
        EXPECT_TRUE(context.isGles()) << context.version();
    }
    EXPECT_EQ(context.isGles(), context.version().rfind("OpenGL ES", 0) == 0);

    // A fresh target is transparent black.
    const GlTestContext::Pixel fresh = context.pixel(3, 3);
    EXPECT_EQ(fresh.r + fresh.g + fresh.b + fresh.a, 0);

    context.clear(0.0f, 0.0f, 1.0f, 1.0f);
    // Red into the top two rows only: OpenGL counts rows from the bottom.
    const GlFunctions& gl = context.gl();
    gl.glEnable(GL_SCISSOR_TEST);
    gl.glScissor(0, 4, 8, 2);
    gl.glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    gl.glClear(GL_COLOR_BUFFER_BIT);
    gl.glDisable(GL_SCISSOR_TEST);

    const std::vector<uint8_t> rgba = context.readRgba();
    ASSERT_EQ(rgba.size(), 8u * 6u * 4u);
    for (int y = 0; y < 6; ++y) {
        const GlTestContext::Pixel p = context.pixelOf(rgba, 5, y);
        EXPECT_EQ(p.r, y < 2 ? 255 : 0) << "row " << y;
        EXPECT_EQ(p.b, y < 2 ? 0 : 255) << "row " << y;
        EXPECT_EQ(p.a, 255);
    }
}

TEST_P(GlTestContextTest, canBeCreatedAgainAfterDestruction)
{
    for (int round = 0; round < 2; ++round) {
        GlTestContext context;
        std::string error;
        ASSERT_TRUE(context.create(4, 4, GetParam(), &error)) << "round " << round << ": " << error;
        context.clear(0.0f, 1.0f, 0.0f, 1.0f);
        EXPECT_EQ(context.pixel(0, 0).g, 255);
    }
}

TEST(GlTestContextSizeTest, refusesAnEmptyTarget)
{
    GlTestContext context;
    std::string error;
    EXPECT_FALSE(context.create(0, 4, GlTestContext::Api::PreferDesktop, &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Apis, GlTestContextTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         [](const auto& info) {
                             return info.param == GlTestContext::Api::Gles ? "Gles" : "Desktop";
                         });

}  // namespace
}  // namespace lagwell
