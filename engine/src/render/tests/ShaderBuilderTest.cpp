#include "ShaderBuilder.h"

#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <string>

namespace lagwell {
namespace {

class ShaderBuilderTest : public ::testing::TestWithParam<GlTestContext::Api> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(4, 4, GetParam(), &error)) << error;
    }
    GlTestContext m_context;
};

TEST_P(ShaderBuilderTest, prefixesSuitTheContext)
{
    // Precision words must compile on desktop GLSL 1.20 as well as on ES.
    const ShaderBuilder builder(m_context.gl(), "QuadRenderer");
    const GLuint program = builder.build(ShaderBuilder::kQuadVertexShader,
                                         "varying vec2 vTexCoord;\n"
                                         "void main() { highp float x = vTexCoord.x; gl_FragColor = vec4(x); }\n");
    EXPECT_NE(program, 0u);
    EXPECT_EQ(m_context.gl().glIsProgram(program), GL_TRUE);
    m_context.gl().glDeleteProgram(program);
}

TEST_P(ShaderBuilderTest, compileFailureIsReportedAndGivesNoProgram)
{
    const ShaderBuilder builder(m_context.gl(), "OverlayPainter");
    ::testing::internal::CaptureStderr();
    const GLuint program = builder.build(ShaderBuilder::kQuadVertexShader, "void main() { gl_FragColor = oops; }\n");
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(program, 0u);
    EXPECT_EQ(output.rfind("OverlayPainter: shader compile failed: ", 0), 0u) << output;
    EXPECT_NE(output.find("oops"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Apis, ShaderBuilderTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         [](const auto& info) {
                             return info.param == GlTestContext::Api::Gles ? "Gles" : "Desktop";
                         });

}  // namespace
}  // namespace lagwell
