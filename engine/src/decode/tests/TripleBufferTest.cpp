#include "TripleBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using lagwell::DecodedFrame;
using lagwell::TripleBuffer;

namespace {
std::shared_ptr<const DecodedFrame> frameWithSeq(uint64_t seq)
{
    auto frame = std::make_shared<DecodedFrame>();
    frame->seq = seq;
    return frame;
}
}  // namespace

TEST(TripleBufferTest, acquireKeepsFrontUntilSomethingNewIsPublished)
{
    TripleBuffer buffer;
    EXPECT_EQ(buffer.acquire(), nullptr);
    buffer.publish(frameWithSeq(1));
    buffer.publish(frameWithSeq(2));  // 1 was never taken: dropped
    auto front = buffer.acquire();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->seq, 2u);
    EXPECT_EQ(buffer.acquire()->seq, 2u);
    buffer.publish(frameWithSeq(3));
    EXPECT_EQ(front->seq, 2u) << "a held picture stays valid";
    EXPECT_EQ(buffer.acquire()->seq, 3u);
}

TEST(TripleBufferTest, concurrentPublishAndAcquireNeverGoBackwards)
{
    TripleBuffer buffer;
    std::atomic<bool> done {false};
    std::thread decoder([&] {
        for (uint64_t seq = 1; seq <= 50000; ++seq)
            buffer.publish(frameWithSeq(seq));
        done.store(true);
    });
    uint64_t last = 0;
    int backwards = 0;
    while (!done.load()) {
        if (auto frame = buffer.acquire()) {
            if (frame->seq < last)
                ++backwards;
            last = frame->seq;
        }
    }
    decoder.join();
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(buffer.acquire()->seq, 50000u);
}
