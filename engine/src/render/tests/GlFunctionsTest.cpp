#include "GlFunctions.h"

#include "GlTestContext.h"
#include "RenderEngine.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lagwell {
namespace {

TEST(GlFunctionsTest, refusesAnEmptyResolver)
{
    GlFunctions gl;
    std::string error;
    EXPECT_FALSE(gl.load(GlResolver {}, &error));
    EXPECT_FALSE(gl.isLoaded());
    EXPECT_FALSE(error.empty());
}

TEST(GlFunctionsTest, namesTheMissingPanelEntryPointsAndKeepsNothing)
{
    GlTestContext context;
    std::string error;
    ASSERT_TRUE(context.create(4, 4, GlTestContext::Api::PreferDesktop, &error)) << error;
    const GlResolver real = context.resolver();
    const GlResolver holed = [real](const char* name) -> GlProc {
        if (std::strcmp(name, "glTexSubImage2D") == 0 || std::strcmp(name, "glDrawArrays") == 0)
            return nullptr;
        return real(name);
    };
    GlFunctions gl;
    EXPECT_FALSE(gl.load(holed, &error));
    EXPECT_FALSE(gl.isLoaded());
    EXPECT_EQ(gl.glClear, nullptr);
    EXPECT_NE(error.find("glTexSubImage2D"), std::string::npos) << error;
    EXPECT_NE(error.find("glDrawArrays"), std::string::npos) << error;
}

TEST(GlFunctionsTest, loadsEverythingFromARealContext)
{
    for (const auto api : {GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles}) {
        GlTestContext context;
        std::string error;
        ASSERT_TRUE(context.create(4, 4, api, &error)) << error;
        GlFunctions gl;
        ASSERT_TRUE(gl.load(context.resolver(), &error)) << error;
        EXPECT_EQ(gl.isGles(), context.version().rfind("OpenGL ES", 0) == 0);
        // Mesa's software rasteriser is past the 3.0 level on both APIs.
        EXPECT_TRUE(gl.hasCompositing()) << context.version();
        EXPECT_NE(gl.glMapBufferRange, nullptr);
        gl.clear();
        EXPECT_FALSE(gl.isLoaded());
        EXPECT_EQ(gl.glReadPixels, nullptr);
    }
}

TEST(GlFunctionsTest, engineWithoutResolverDrawsNothing)
{
    GlTestContext context;
    std::string error;
    ASSERT_TRUE(context.create(16, 16, GlTestContext::Api::PreferDesktop, &error)) << error;
    context.clear(0.0f, 0.0f, 1.0f, 1.0f);

    RenderEngine engine;
    const DecodedFrame frame = testpictures::solidI420(8, 8, 235, 128, 128);
    for (int i = 0; i < 2; ++i)
        engine.drawPanel(1, &frame, PanelParams {}, PanelRect {0, 0, 16, 16}, 16, 16);
    const GlTestContext::Pixel p = context.pixel(8, 8);
    EXPECT_EQ(p.b, 255);
    EXPECT_EQ(p.r, 0);

    // A resolver given later is used at the next draw.
    engine.setGlResolver(context.resolver());
    engine.drawPanel(1, &frame, PanelParams {}, PanelRect {0, 0, 16, 16}, 16, 16);
    EXPECT_GE(context.pixel(8, 8).r, 250);
    engine.releaseGl();
}

}  // namespace
}  // namespace lagwell
