#include "FrameRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using lagwell::EncodedFrame;
using lagwell::FrameRing;

namespace {

EncodedFrame makeFrame(int64_t wallMs, bool keyframe, size_t size = 10, uint8_t fill = 0)
{
    EncodedFrame frame;
    frame.data.assign(size, fill);
    frame.wallMs = wallMs;
    frame.ptsUs = wallMs * 1000;
    frame.keyframe = keyframe;
    frame.seq = 999;  // the ring must overwrite this
    return frame;
}

// An H.264-like stream: one keyframe every `gop` frames at `fps`.
void addStream(FrameRing& ring, int64_t startMs, int frames, int fps, int gop)
{
    for (int i = 0; i < frames; ++i)
        ring.add(makeFrame(startMs + i * 1000 / fps, i % gop == 0));
}

}  // namespace

TEST(FrameRingTest, emptyRingAnswersEmpty)
{
    FrameRing ring(1000);
    EXPECT_FALSE(ring.newest());
    EXPECT_FALSE(ring.bySequence(0));
    EXPECT_FALSE(ring.nextAfter(0));
    EXPECT_FALSE(ring.keyframeAtOrBefore(0));
    EXPECT_EQ(ring.newestWallMs(), 0);
    EXPECT_EQ(ring.oldestWallMs(), 0);
    EXPECT_EQ(ring.count(), 0u);
    EXPECT_EQ(ring.bytes(), 0u);
}

TEST(FrameRingTest, stampsContiguousSequenceFromZero)
{
    FrameRing ring(1000);
    for (int i = 0; i < 5; ++i)
        ring.add(makeFrame(i, true, 3, static_cast<uint8_t>(i)));
    for (uint64_t seq = 0; seq < 5; ++seq) {
        auto frame = ring.bySequence(seq);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->seq, seq);
        EXPECT_EQ(frame->data[0], seq);
    }
    EXPECT_FALSE(ring.bySequence(5));
    EXPECT_EQ(ring.bytes(), 15u);
}

TEST(FrameRingTest, singleFrameIsNeverEvicted)
{
    FrameRing ring(10);
    ring.add(makeFrame(1'000'000, true));
    EXPECT_EQ(ring.count(), 1u);
    // The old keyframe is far outside the window, but it is the only keyframe
    // at or before the cutoff and already at the front: it stays.
    ring.add(makeFrame(1'000'000 + 100000, false));
    EXPECT_EQ(ring.count(), 2u);
    EXPECT_EQ(ring.oldestWallMs(), 1'000'000);
}

TEST(FrameRingTest, frameExactlyAtCutoffIsOutsideWindow)
{
    // Window 100 ms; keyframes at 0, 50, 100. Adding 150: cutoff 50, so the
    // frames at 0 and 50 are outside; the ring starts at the keyframe at 50.
    FrameRing ring(100);
    ring.add(makeFrame(0, true));
    ring.add(makeFrame(50, true));
    ring.add(makeFrame(100, true));
    ring.add(makeFrame(150, true));
    EXPECT_EQ(ring.oldestWallMs(), 50);
    EXPECT_EQ(ring.count(), 3u);
    // Cutoff 51: the only keyframe outside the window is already the front.
    ring.add(makeFrame(151, true));
    EXPECT_EQ(ring.oldestWallMs(), 50);
    ring.add(makeFrame(200, true));  // cutoff 100: keyframe at 100 leads
    EXPECT_EQ(ring.oldestWallMs(), 100);
}

TEST(FrameRingTest, evictsOnlyWholeGroupsOfPictures)
{
    // Window 1000 ms, 10 fps, a keyframe every 5 frames (500 ms).
    FrameRing ring(1000);
    addStream(ring, 0, 40, 10, 5);  // frames at 0..3900 ms
    auto front = ring.bySequence(ring.newest()->seq - ring.count() + 1);
    ASSERT_TRUE(front);
    EXPECT_TRUE(front->keyframe);
    // Newest 3900, cutoff 2900: keyframes at 2500 (<= cutoff) and 3000 (>).
    EXPECT_EQ(ring.oldestWallMs(), 2500);
    EXPECT_EQ(ring.count(), 15u);
}

TEST(FrameRingTest, keyframeAtFrontStaysWhenNoLaterKeyframeLeftTheWindow)
{
    FrameRing ring(100);
    ring.add(makeFrame(0, true));
    for (int t = 10; t <= 500; t += 10)
        ring.add(makeFrame(t, false));
    EXPECT_EQ(ring.oldestWallMs(), 0);
    EXPECT_EQ(ring.count(), 51u);
}

TEST(FrameRingTest, streamWithoutKeyframesIsNotTrimmedAndHasNoSeekPoint)
{
    FrameRing ring(100);
    for (int t = 0; t <= 1000; t += 10)
        ring.add(makeFrame(t, false));
    EXPECT_EQ(ring.count(), 101u);
    EXPECT_FALSE(ring.keyframeAtOrBefore(500));
    EXPECT_FALSE(ring.keyframeAtOrBefore(-1));
}

TEST(FrameRingTest, mjpegAt30FpsSettlesAtWindowPlusOne)
{
    FrameRing ring(60000);
    // 30 fps with exact millisecond spacing over 3 minutes.
    for (int i = 0; i < 30 * 180; ++i)
        ring.add(makeFrame(int64_t {i} * 1000 / 30, true));
    EXPECT_GE(ring.count(), 1800u);
    EXPECT_LE(ring.count(), 1802u);
    EXPECT_LE(ring.newestWallMs() - ring.oldestWallMs(), 60000 + 34);
    EXPECT_GE(ring.newestWallMs() - ring.oldestWallMs(), 60000);
}

TEST(FrameRingTest, h264OneKeyPerSecondHoldsBetween60And61Seconds)
{
    FrameRing ring(60000);
    bool evicted = false;
    for (int i = 0; i < 30 * 150; ++i) {
        ring.add(makeFrame(int64_t {i} * 1000 / 30, i % 30 == 0));
        if (ring.oldestWallMs() > 0)
            evicted = true;
        if (evicted) {
            const auto span = ring.newestWallMs() - ring.oldestWallMs();
            ASSERT_GE(span, 60000) << "frame " << i;
            ASSERT_LE(span, 61000) << "frame " << i;
            auto front = ring.keyframeAtOrBefore(ring.oldestWallMs());
            ASSERT_TRUE(front);
            ASSERT_EQ(front->wallMs, ring.oldestWallMs());
        }
    }
    EXPECT_TRUE(evicted);
}

TEST(FrameRingTest, keyframeAtOrBeforeCoversEveryBranch)
{
    // Keyframes at 100 and 300; deltas at 200 and 400.
    FrameRing ring(100000);
    ring.add(makeFrame(100, true));
    ring.add(makeFrame(200, false));
    ring.add(makeFrame(300, true));
    ring.add(makeFrame(400, false));

    struct Case {
        int64_t t;
        int64_t expectedWallMs;
    } cases[] = {
        {50, 100},    // older than everything: the oldest keyframe
        {100, 100},   // exactly a keyframe
        {250, 100},   // between: the last keyframe at or before
        {300, 300},
        {399, 300},
        {10000, 300}, // newer than everything: the newest keyframe
    };
    for (const Case& c : cases) {
        auto frame = ring.keyframeAtOrBefore(c.t);
        ASSERT_TRUE(frame) << c.t;
        EXPECT_EQ(frame->wallMs, c.expectedWallMs) << c.t;
        EXPECT_TRUE(frame->keyframe);
    }
}

TEST(FrameRingTest, keyframeSearchFallsBackToOldestKeyframeWhenFrontIsDelta)
{
    FrameRing ring(100000);
    ring.add(makeFrame(100, false));
    ring.add(makeFrame(200, false));
    ring.add(makeFrame(300, true));
    auto frame = ring.keyframeAtOrBefore(150);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->wallMs, 300);
}

TEST(FrameRingTest, wallTimesGoingBackwardsStopTheWalks)
{
    FrameRing ring(100000);
    ring.add(makeFrame(500, true));
    ring.add(makeFrame(600, false));
    ring.add(makeFrame(100, true));  // clock stepped back
    // The walk stops at 600 (> 550), so the key at 100 is never considered.
    auto frame = ring.keyframeAtOrBefore(550);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->wallMs, 500);
}

TEST(FrameRingTest, bySequenceRejectsEvictedAndFutureNumbers)
{
    FrameRing ring(100);
    for (int t = 0; t <= 1000; t += 50)
        ring.add(makeFrame(t, true));
    const uint64_t newestSeq = ring.newest()->seq;
    const uint64_t oldestSeq = newestSeq - ring.count() + 1;
    EXPECT_GT(oldestSeq, 0u);
    EXPECT_FALSE(ring.bySequence(oldestSeq - 1));
    EXPECT_FALSE(ring.bySequence(newestSeq + 1));
    EXPECT_FALSE(ring.bySequence(UINT64_MAX));
    EXPECT_TRUE(ring.bySequence(oldestSeq));
    EXPECT_TRUE(ring.bySequence(newestSeq));
}

TEST(FrameRingTest, infoLookupsAgreeWithTheCopies)
{
    FrameRing ring(1000);
    EXPECT_FALSE(ring.newestInfo());
    EXPECT_FALSE(ring.infoBySequence(0));
    EXPECT_FALSE(ring.keyframeInfoAtOrBefore(0));
    // Keyframe every fifth frame, 40 ms apart, long enough to evict.
    for (int i = 0; i < 100; ++i)
        ring.add(makeFrame(1000 + i * 40, i % 5 == 0, 100 + i));

    const auto newest = ring.newest();
    const auto newestInfo = ring.newestInfo();
    ASSERT_TRUE(newest && newestInfo);
    EXPECT_EQ(newestInfo->seq, newest->seq);
    EXPECT_EQ(newestInfo->wallMs, newest->wallMs);
    EXPECT_EQ(newestInfo->keyframe, newest->keyframe);

    const uint64_t oldestSeq = newest->seq - ring.count() + 1;
    for (uint64_t seq = 0; seq <= newest->seq + 2; ++seq) {
        const auto frame = ring.bySequence(seq);
        const auto info = ring.infoBySequence(seq);
        ASSERT_EQ(frame.has_value(), info.has_value()) << seq;
        ASSERT_EQ(info.has_value(), seq >= oldestSeq && seq <= newest->seq) << seq;
        lagwell::EncodedFrame copy = makeFrame(-1, false, 3, 7);
        ASSERT_EQ(ring.copyBySequence(seq, copy), info.has_value()) << seq;
        if (!info) {
            EXPECT_EQ(copy.wallMs, -1) << "left untouched";
            EXPECT_EQ(copy.data.size(), 3u);
        }
        if (info) {
            EXPECT_EQ(copy.data, frame->data);
            EXPECT_EQ(copy.seq, frame->seq);
            EXPECT_EQ(copy.wallMs, frame->wallMs);
            EXPECT_EQ(copy.ptsUs, frame->ptsUs);
            EXPECT_EQ(copy.keyframe, frame->keyframe);
            EXPECT_EQ(info->seq, frame->seq);
            EXPECT_EQ(info->wallMs, frame->wallMs);
            EXPECT_EQ(info->keyframe, frame->keyframe);
        }
    }
    for (int64_t t = 0; t < 6000; t += 7) {
        const auto frame = ring.keyframeAtOrBefore(t);
        const auto info = ring.keyframeInfoAtOrBefore(t);
        ASSERT_TRUE(frame && info) << t;
        EXPECT_EQ(info->seq, frame->seq) << t;
        EXPECT_TRUE(info->keyframe);
    }
}

TEST(FrameRingTest, nextAfterReturnsFollowerOrFront)
{
    FrameRing ring(100);
    for (int t = 0; t <= 1000; t += 50)
        ring.add(makeFrame(t, true));
    const uint64_t newestSeq = ring.newest()->seq;
    const uint64_t oldestSeq = newestSeq - ring.count() + 1;
    EXPECT_EQ(ring.nextAfter(0)->seq, oldestSeq);
    EXPECT_EQ(ring.nextAfter(oldestSeq)->seq, oldestSeq + 1);
    EXPECT_FALSE(ring.nextAfter(newestSeq));
}

TEST(FrameRingTest, clearKeepsSequenceCounterRunning)
{
    FrameRing ring(1000);
    ring.setStream(lagwell::kFourccH264, 640, 480, {0, 0, 0, 1, 0x67});
    ring.add(makeFrame(0, true));
    ring.add(makeFrame(1, true));
    ring.clear();
    EXPECT_EQ(ring.count(), 0u);
    EXPECT_EQ(ring.bytes(), 0u);
    EXPECT_EQ(ring.fourcc(), 0u);
    EXPECT_EQ(ring.width(), 0);
    EXPECT_TRUE(ring.codecConfig().empty());
    ring.add(makeFrame(2, true));
    EXPECT_EQ(ring.newest()->seq, 2u);
    EXPECT_FALSE(ring.bySequence(0));
}

TEST(FrameRingTest, setStreamReplacesAllValuesAtOnce)
{
    FrameRing ring(1000);
    EXPECT_EQ(ring.fourcc(), 0u);
    ring.setStream(lagwell::kFourccH264, 1920, 1080, {0, 0, 0, 1, 0x67, 0, 0, 0, 1, 0x68});
    EXPECT_EQ(ring.fourcc(), lagwell::kFourccH264);
    EXPECT_EQ(ring.width(), 1920);
    EXPECT_EQ(ring.height(), 1080);
    EXPECT_EQ(ring.codecConfig().size(), 10u);
    ring.setStream(lagwell::kFourccMjpeg, 1280, 720, {});
    EXPECT_EQ(ring.fourcc(), lagwell::kFourccMjpeg);
    EXPECT_TRUE(ring.codecConfig().empty());
}

TEST(FrameRingTest, countAndBytesAreSixtyFourBit)
{
    static_assert(sizeof(decltype(std::declval<FrameRing>().count())) == 8);
    static_assert(sizeof(decltype(std::declval<FrameRing>().bytes())) == 8);
    SUCCEED();
}

TEST(FrameRingTest, safetyLimitBoundsKeyframelessStream)
{
    FrameRing ring(60000, FrameRing::Limits {100, 1u << 30});
    testing::internal::CaptureStderr();
    ring.add(makeFrame(0, true));
    for (int i = 1; i < 1000; ++i)
        ring.add(makeFrame(i, false));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LE(ring.count(), 100u);
    EXPECT_EQ(ring.newest()->seq, 999u);
    // Logged once, not once per frame.
    const auto first = log.find("safety limit");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("safety limit", first + 1), std::string::npos);
    EXPECT_NE(log.find("[WARN] FrameRing.cpp:"), std::string::npos);
}

TEST(FrameRingTest, safetyLimitBoundsBytesWhenClockStepsBack)
{
    FrameRing ring(1000, FrameRing::Limits {1u << 20, 10'000});
    testing::internal::CaptureStderr();
    ring.add(makeFrame(1'000'000, true, 1000));
    // The clock stepped back an hour: the window never closes on these.
    for (int i = 0; i < 100; ++i)
        ring.add(makeFrame(1000 + i, true, 1000));
    testing::internal::GetCapturedStderr();
    EXPECT_LE(ring.bytes(), 10'000u);
    EXPECT_EQ(ring.bytes(), ring.count() * 1000);
    // Still starts at a keyframe and keeps the newest frame.
    EXPECT_EQ(ring.newestWallMs(), 1099);
}

TEST(FrameRingTest, safetyLimitRealignsFrontToKeyframe)
{
    FrameRing ring(1'000'000, FrameRing::Limits {10, 1u << 30});
    testing::internal::CaptureStderr();
    for (int i = 0; i < 25; ++i)
        ring.add(makeFrame(i, i % 4 == 0));
    testing::internal::GetCapturedStderr();
    EXPECT_LE(ring.count(), 10u);
    auto oldest = ring.bySequence(ring.newest()->seq - ring.count() + 1);
    ASSERT_TRUE(oldest);
    EXPECT_TRUE(oldest->keyframe);
}

TEST(FrameRingTest, oneHugeFrameOverTheByteLimitIsKept)
{
    FrameRing ring(1000, FrameRing::Limits {100, 100});
    testing::internal::CaptureStderr();
    ring.add(makeFrame(0, true, 500));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ring.count(), 1u);
}

TEST(FrameRingTest, concurrentWriterAndReadersSeeConsistentCopies)
{
    FrameRing ring(200);
    std::atomic<bool> done {false};
    std::atomic<int> checks {0};
    std::atomic<int> failures {0};
    std::atomic<int> readersStarted {0};

    std::thread writer([&] {
        // Let every reader in first, so the race really happens.
        while (readersStarted.load() < 4)
            std::this_thread::yield();
        for (int i = 0; i < 20000; ++i) {
            EncodedFrame frame = makeFrame(i / 3, i % 7 == 0, 16 + static_cast<size_t>(i % 64),
                                           static_cast<uint8_t>(i & 0xFF));
            ring.add(std::move(frame));
        }
        done.store(true);
    });

    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            uint64_t lastNewest = 0;
            readersStarted.fetch_add(1);
            do {
                if (auto newest = ring.newest()) {
                    if (newest->seq < lastNewest)
                        failures.fetch_add(1);
                    lastNewest = newest->seq;
                    // Payload bytes were written from the sequence number.
                    if (newest->data.empty() || newest->data[0] != static_cast<uint8_t>(newest->seq & 0xFF))
                        failures.fetch_add(1);
                    if (auto again = ring.bySequence(newest->seq)) {
                        if (again->seq != newest->seq)
                            failures.fetch_add(1);
                    }
                }
                if (auto key = ring.keyframeAtOrBefore(ring.newestWallMs() - 100)) {
                    if (!key->keyframe)
                        failures.fetch_add(1);
                }
                (void)ring.bytes();
                (void)ring.oldestWallMs();
                checks.fetch_add(1);
            } while (!done.load());
        });
    }
    writer.join();
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(checks.load(), 0);
    EXPECT_EQ(ring.newest()->seq, 19999u);
}
