#include "PicturePool.h"

#include <gtest/gtest.h>

#include <set>

using lagwell::DecodedFrame;
using lagwell::PicturePool;

TEST(PicturePoolTest, reusesAPictureOnlyOnceNobodyElseHoldsIt)
{
    PicturePool pool;
    pool.prepare(DecodedFrame::Layout::I420, 4, 2);
    std::shared_ptr<DecodedFrame> held = pool.take();
    ASSERT_TRUE(held);
    EXPECT_FALSE(pool.take()) << "nothing prepared since";

    DecodedFrame& next = pool.prepare(DecodedFrame::Layout::I420, 4, 2);
    EXPECT_NE(&next, held.get()) << "a held picture must not be written";
    EXPECT_EQ(&pool.prepare(DecodedFrame::Layout::I420, 4, 2), &next) << "same picture until taken";
    const DecodedFrame* nextAddress = pool.take().get();  // published and let go at once

    EXPECT_EQ(&pool.prepare(DecodedFrame::Layout::I420, 4, 2), nextAddress) << "a released picture is reused";
}

TEST(PicturePoolTest, picturesHeldBeyondThePoolSizeStayIntact)
{
    PicturePool pool;
    std::vector<std::shared_ptr<DecodedFrame>> held;
    for (int i = 0; i < 10; ++i) {
        DecodedFrame& picture = pool.prepare(DecodedFrame::Layout::I420, 3, 3);
        std::fill(picture.planes[0].begin(), picture.planes[0].end(), static_cast<uint8_t>(i));
        held.push_back(pool.take());
    }
    std::set<const DecodedFrame*> distinct;
    for (int i = 0; i < 10; ++i) {
        distinct.insert(held[i].get());
        EXPECT_EQ(held[i]->planes[0][0], i);
    }
    EXPECT_EQ(distinct.size(), 10u);
}

TEST(PicturePoolTest, planesFollowLayoutAndSize)
{
    struct Case {
        DecodedFrame::Layout layout;
        int32_t width;
        int32_t height;
        std::array<int32_t, 3> strides;
        std::array<size_t, 3> sizes;
    } cases[] = {
        {DecodedFrame::Layout::I420, 640, 480, {640, 320, 320}, {640 * 480, 320 * 240, 320 * 240}},
        {DecodedFrame::Layout::I420, 641, 481, {641, 321, 321}, {641 * 481, 321 * 241, 321 * 241}},
        {DecodedFrame::Layout::NV12, 640, 480, {640, 640, 0}, {640 * 480, 640 * 240, 0}},
        // An odd width keeps its last U,V pair.
        {DecodedFrame::Layout::NV12, 641, 481, {641, 642, 0}, {641 * 481, 642 * 241, 0}},
        {DecodedFrame::Layout::I420, 1, 1, {1, 1, 1}, {1, 1, 1}},
    };
    PicturePool pool;
    for (const Case& c : cases) {
        DecodedFrame& picture = pool.prepare(c.layout, c.width, c.height);
        EXPECT_EQ(picture.layout, c.layout);
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_EQ(picture.strides, c.strides) << c.width << "x" << c.height;
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_EQ(picture.planes[plane].size(), c.sizes[plane]) << c.width << "x" << c.height << " plane " << plane;
        pool.take();
    }
}
