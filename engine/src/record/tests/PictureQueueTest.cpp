#include "PictureQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace lagwell {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWidth = 64;
constexpr int kHeight = 32;

// Every byte of a picture's pixels is `level`; a stride wider than a row
// leaves its padding at 0xEE.
std::vector<uint8_t> levelPicture(uint8_t level, int strideBytes = kWidth * 4)
{
    std::vector<uint8_t> picture(size_t(strideBytes) * kHeight, 0xEE);
    for (int y = 0; y < kHeight; ++y)
        std::fill_n(picture.begin() + std::ptrdiff_t(y) * strideBytes, kWidth * 4, level);
    return picture;
}

bool allBytesAre(const PictureQueue::Picture& picture, uint8_t level)
{
    const size_t bytes = size_t(picture.strideBytes) * size_t(picture.height);
    for (size_t i = 0; i < bytes; ++i) {
        if (picture.rgba[i] != level)
            return false;
    }
    return true;
}

TEST(PictureQueueTest, aHeldPictureIsNeverOverwrittenAndOnlyTheNewestWait)
{
    PictureQueue queue(4);
    PictureQueue::Picture held;
    ASSERT_EQ(queue.push(levelPicture(1).data(), kWidth, kHeight, kWidth * 4, 1), PictureQueue::PushOutcome::Queued);
    ASSERT_TRUE(queue.take(Clock::now(), &held));
    const uint8_t* heldBytes = held.rgba;

    // Far more pictures than buffers, from a padded source: each is packed.
    for (int i = 2; i <= 30; ++i) {
        const PictureQueue::PushOutcome outcome =
            queue.push(levelPicture(uint8_t(i), kWidth * 4 + 16).data(), kWidth, kHeight, kWidth * 4 + 16, i);
        EXPECT_EQ(outcome, i <= 5 ? PictureQueue::PushOutcome::Queued : PictureQueue::PushOutcome::QueuedDroppingOldest)
            << i;
    }
    EXPECT_EQ(queue.queuedCount(), 4u);
    EXPECT_TRUE(allBytesAre(held, 1)) << "the held buffer was written";

    // The newest four wait, oldest first, none in the held buffer.
    for (int expected = 27; expected <= 30; ++expected) {
        PictureQueue::Picture picture;
        ASSERT_TRUE(queue.take(Clock::now(), &picture));
        EXPECT_EQ(picture.ptsUs, expected);
        EXPECT_EQ(picture.strideBytes, kWidth * 4);
        EXPECT_NE(picture.rgba, heldBytes);
        EXPECT_TRUE(allBytesAre(picture, uint8_t(expected)));
        queue.release(picture);
    }
    queue.release(held);

    // Empty: take waits for its deadline; interrupt ends waits until clear.
    PictureQueue::Picture none;
    EXPECT_FALSE(queue.take(Clock::now() + 10ms, &none));
    queue.interrupt();
    EXPECT_FALSE(queue.take(Clock::now() + 60s, &none));
    queue.push(levelPicture(9).data(), kWidth, kHeight, kWidth * 4, 9);
    EXPECT_FALSE(queue.take(Clock::now() + 60s, &none)) << "interrupted";
    queue.clear();
    EXPECT_EQ(queue.queuedCount(), 0u);
    queue.push(levelPicture(10).data(), kWidth, kHeight, kWidth * 4, 10);
    ASSERT_TRUE(queue.take(Clock::now(), &none));
    EXPECT_EQ(none.ptsUs, 10);
    queue.release(none);
}

// A producer outrunning a slow consumer, while the consumer also prepares and
// frees buffers: every picture taken is whole (one level throughout), times
// rise, and pictures are lost only to the overflow policy and freeBuffers().
TEST(PictureQueueTest, aFastProducerAndASlowConsumerNeverShareABuffer)
{
    constexpr int kPictures = 600;
    PictureQueue queue(3);
    std::atomic<bool> producing {true};
    std::atomic<int> dropped {0};
    std::thread producer([&] {
        std::vector<std::vector<uint8_t>> sources;
        for (int level = 0; level < 256; ++level)
            sources.push_back(levelPicture(uint8_t(level)));
        for (int i = 0; i < kPictures; ++i) {
            const auto outcome = queue.push(sources[size_t(i % 256)].data(), kWidth, kHeight, kWidth * 4, i);
            if (outcome != PictureQueue::PushOutcome::Queued)
                dropped.fetch_add(1);
            if (i % 50 == 0)
                std::this_thread::sleep_for(1ms);
        }
        producing.store(false);
    });

    int taken = 0;
    int64_t lastPts = -1;
    int broken = 0;
    for (int round = 0; producing.load() || queue.queuedCount() > 0; ++round) {
        if (round % 40 == 0) {
            dropped.fetch_add(int(queue.freeBuffers()));
            queue.prepare(kWidth, kHeight, 2);
        }
        PictureQueue::Picture picture;
        if (!queue.take(Clock::now() + 5ms, &picture))
            continue;
        ++taken;
        // Reading slowly gives the producer every chance to write here.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!allBytesAre(picture, uint8_t(picture.ptsUs % 256)))
            ++broken;
        EXPECT_GT(picture.ptsUs, lastPts);
        lastPts = picture.ptsUs;
        queue.release(picture);
    }
    producer.join();
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(taken + dropped.load(), kPictures);
}

}  // namespace
}  // namespace lagwell
