#include "GlReadback.h"

#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lagwell {
namespace {

class GlReadbackTest : public ::testing::TestWithParam<GlTestContext::Api> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_context.create(kWidth, kHeight, GetParam(), &error)) << error;
        ASSERT_TRUE(m_context.gl().hasCompositing());
    }
    void TearDown() override { m_readback.releaseGl(); }

    // Fills the target with a grey level and queues it with that level as
    // slot and a slot time derived from it.
    void queueGrey(int level)
    {
        m_context.clear(static_cast<float>(level) / 255.0f, 0, 0, 1);
        m_readback.enqueue(m_context.framebuffer(), GlReadback::Tag {level, slotNsOf(level)});
    }
    static int64_t slotNsOf(int64_t level) { return 3'000'000'000 + level * 1'000'000; }

    static constexpr int kWidth = 33;  // odd: rows of 132 bytes
    static constexpr int kHeight = 7;
    GlTestContext m_context;
    GlReadback m_readback {m_context.gl()};
};

TEST_P(GlReadbackTest, handsPicturesOutOldestFirstTwoBehind)
{
    m_readback.ensureInit(kWidth, kHeight);
    const uint8_t* data = nullptr;
    int stride = 0;
    GlReadback::Tag tag {-1, -1};
    std::vector<int64_t> tags;
    std::vector<int> reds;
    const int levels[] = {10, 60, 110, 160, 210};
    for (int level : levels) {
        queueGrey(level);
        if (m_readback.dequeue(&data, &stride, &tag)) {
            EXPECT_EQ(stride, kWidth * 4);
            tags.push_back(tag.slot);
            EXPECT_EQ(tag.slotNs, slotNsOf(tag.slot));
            // First and last byte of the picture: the whole buffer is there.
            reds.push_back(data[0]);
            EXPECT_EQ(data[(kHeight - 1) * stride + (kWidth - 1) * 4], data[0]);
            m_readback.release();
        }
    }
    EXPECT_EQ(tags, (std::vector<int64_t> {10, 60, 110}));
    ASSERT_EQ(reds.size(), 3u);
    for (size_t i = 0; i < reds.size(); ++i)
        EXPECT_NEAR(reds[i], tags[i], 1);
    EXPECT_EQ(m_readback.queued(), 5);
}

TEST_P(GlReadbackTest, resizingOrReleasingStartsTheRingAfresh)
{
    m_readback.ensureInit(0, kHeight);
    EXPECT_FALSE(m_readback.hasBuffers());
    m_readback.ensureInit(kWidth, kHeight);
    for (int i = 0; i < 3; ++i)
        queueGrey(50);
    const uint8_t* data = nullptr;
    int stride = 0;
    ASSERT_TRUE(m_readback.dequeue(&data, &stride));
    // A mapped buffer is unmapped by the resize.
    m_readback.ensureInit(kWidth - 1, kHeight);
    EXPECT_EQ(m_readback.queued(), 0);
    queueGrey(50);
    queueGrey(50);
    EXPECT_FALSE(m_readback.dequeue(&data, &stride));
    m_readback.releaseGl();
    EXPECT_EQ(m_readback.width(), 0);
    m_readback.enqueue(m_context.framebuffer());  // nothing without buffers
    EXPECT_EQ(m_readback.queued(), 0);
    EXPECT_EQ(m_context.gl().glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

INSTANTIATE_TEST_SUITE_P(Apis, GlReadbackTest,
                         ::testing::Values(GlTestContext::Api::PreferDesktop, GlTestContext::Api::Gles),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace lagwell
