#include "PanelDecoder.h"

#include "DecoderTestSupport.h"
#include "TestPatternSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using lagwell::DecodedFrame;
using lagwell::FrameRing;
using lagwell::PanelDecoder;
using lagwell::TripleBuffer;
using namespace decodetest;

namespace {

using SteadyClock = std::chrono::steady_clock;

// JPEG frames 100 ms apart; frame i is flat with luma lumaForIndex(i).
constexpr int64_t kStepMs = 100;

int64_t wallOf(int index)
{
    return kBaseWallMs + index * kStepMs;
}

void addJpegFrames(FrameRing& ring, int first, int last)
{
    for (int i = first; i < last; ++i)
        ring.add(jpegFrame(encodeFlatJpeg(32, 16, lumaForIndex(i)), wallOf(i)));
}

std::shared_ptr<FrameRing> jpegRing(int frames, int64_t windowMs = 1'000'000)
{
    auto ring = std::make_shared<FrameRing>(windowMs);
    ring->setStream(lagwell::kFourccMjpeg, 32, 16, {});
    addJpegFrames(*ring, 0, frames);
    return ring;
}

// The sequence number the panel shows at `delayMs` with the clock at `nowMs`
// (ring sequence numbers equal frame indices in these tests).
uint64_t seqFor(int64_t nowMs, int32_t delayMs)
{
    return static_cast<uint64_t>((nowMs - delayMs - kBaseWallMs) / kStepMs);
}

}  // namespace

TEST(PanelDecoderTest, lifecycleCallsInAnyOrderAreSafe)
{
    auto ring = jpegRing(5);
    FakeClock clock(wallOf(4));
    TripleBuffer out;
    {
        PanelDecoder neverStarted(ring, out, clock.function());
        neverStarted.stop();  // stop without start
        neverStarted.stop();
    }
    {
        PanelDecoder decoder(ring, out, clock.function());
        decoder.start();
        decoder.start();  // already running: nothing
        ASSERT_TRUE(waitForSeq(out, 4));
        decoder.stop();
        decoder.stop();
        // Started again it carries on from where it was.
        decoder.start();
        addJpegFrames(*ring, 5, 6);
        clock.set(wallOf(5));
        EXPECT_TRUE(waitForSeq(out, 5));
        decoder.stop();
    }
    {
        PanelDecoder destroyedRunning(ring, out, clock.function());
        destroyedRunning.start();
    }
    {
        PanelDecoder withoutRing(nullptr, out, clock.function());
        withoutRing.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

TEST(PanelDecoderTest, stopJoinsPromptlyWhileFramesKeepComing)
{
    auto ring = jpegRing(1);
    TripleBuffer out;
    PanelDecoder decoder(ring, out);
    decoder.start();
    std::atomic<bool> feeding {true};
    std::thread feeder([&] {
        for (int i = 1; feeding.load(); ++i) {
            ring->add(jpegFrame(encodeFlatJpeg(32, 16, lumaForIndex(i)),
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count()));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_TRUE(waitUntil([&] { return out.acquire() != nullptr; }));
    const auto start = SteadyClock::now();
    decoder.stop();
    const auto took = SteadyClock::now() - start;
    feeding.store(false);
    feeder.join();
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(PanelDecoderTest, delayChangesSeekOnlyBeyond250MsFromTheLastSeek)
{
    auto ring = jpegRing(100);  // ten seconds
    FakeClock clock(wallOf(99));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());

    struct Step {
        int32_t delayMs;
        int32_t shownDelayMs;  // the delay whose frame the panel shows afterwards
    } steps[] = {
        {1000, 1000},
        {1100, 1000},  // 100 from the seek: waits
        {1200, 1000},  // 200: waits
        {1300, 1300},  // 300: seeks
        {2000, 2000},
        {2250, 2000},  // exactly 250: no seek
        {2251, 2251},  // seeks
        {1800, 1800},  // shorter: decodes forward, seek or not
    };
    decoder.start();
    for (const Step& step : steps) {
        decoder.setDelayMs(step.delayMs);
        const uint64_t expected = seqFor(clock.now(), step.shownDelayMs);
        auto picture = waitForSeq(out, expected);
        ASSERT_TRUE(picture) << "delay " << step.delayMs << ": expected seq " << expected;
        // Give a wrong seek time to show itself.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(out.acquire()->seq, expected) << "delay " << step.delayMs;
        EXPECT_EQ(indexForLuma(static_cast<int>(planeMean(out.acquire()->planes[0]) + 0.5)),
                  static_cast<int>(expected % kLumaCycle));
    }
}

TEST(PanelDecoderTest, delayLongerThanTheBufferShowsTheOldestFrameAsTheWindowSlides)
{
    auto ring = jpegRing(50, 2000);  // holds the last two seconds
    FakeClock clock(wallOf(49));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.setDelayMs(10000);
    decoder.start();
    const uint64_t oldest = ring->newestInfo()->seq - ring->count() + 1;
    ASSERT_TRUE(waitForSeq(out, oldest));

    addJpegFrames(*ring, 50, 60);
    clock.set(wallOf(59));
    const uint64_t newOldest = ring->newestInfo()->seq - ring->count() + 1;
    ASSERT_GT(newOldest, oldest);
    EXPECT_TRUE(waitForSeq(out, newOldest));
}

TEST(PanelDecoderTest, setRingStartsAgainInTheGivenRing)
{
    auto first = jpegRing(10);
    auto second = std::make_shared<FrameRing>(1'000'000);
    second->setStream(lagwell::kFourccMjpeg, 64, 32, {});
    second->add(jpegFrame(encodeFlatJpeg(64, 32, 222), wallOf(3)));
    FakeClock clock(wallOf(9));
    TripleBuffer out;
    PanelDecoder decoder(first, out, clock.function());
    decoder.start();
    const auto fromFirst = waitForSeq(out, 9);
    ASSERT_TRUE(fromFirst);

    // The same ring again: position dropped, the frame decoded afresh.
    decoder.setRing(first);
    ASSERT_TRUE(waitUntil([&] {
        auto frame = out.acquire();
        return frame && frame->seq == 9 && frame != fromFirst;
    }));

    decoder.setRing(second);
    ASSERT_TRUE(waitUntil([&] {
        auto frame = out.acquire();
        return frame && frame->width == 64;
    }));
    const auto fromSecond = out.acquire();
    EXPECT_EQ(fromSecond->seq, 0u);
    EXPECT_NEAR(planeMean(fromSecond->planes[0]), 222.0, 2.0);

    // No ring: nothing new is published; a ring again: pictures again.
    decoder.setRing(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(out.acquire(), fromSecond);
    decoder.setRing(first);
    ASSERT_TRUE(waitUntil([&] {
        auto frame = out.acquire();
        return frame && frame->width == 32 && frame->seq == 9;
    }));
}

TEST(PanelDecoderTest, heldPicturesNeverChangeWhileLaterOnesArePublished)
{
    // Pictures are recycled once nobody holds them; one the render side
    // still holds must stay as it was, however many follow.
    auto ring = jpegRing(1);
    FakeClock clock(wallOf(0));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    std::vector<std::shared_ptr<const DecodedFrame>> held;
    std::vector<std::vector<uint8_t>> lumaAtAcquire;
    for (int i = 0; i < 16; ++i) {
        if (i > 0) {
            addJpegFrames(*ring, i, i + 1);
            clock.set(wallOf(i));
        }
        auto picture = waitForSeq(out, static_cast<uint64_t>(i));
        ASSERT_TRUE(picture) << i;
        if (i % 3 == 0) {  // hold some, let the others go back to the pool
            held.push_back(picture);
            lumaAtAcquire.push_back(picture->planes[0]);
        }
    }
    for (size_t k = 0; k < held.size(); ++k) {
        EXPECT_EQ(held[k]->planes[0], lumaAtAcquire[k]) << "seq " << held[k]->seq;
        EXPECT_EQ(indexForLuma(held[k]->planes[0][0]), static_cast<int>(held[k]->seq % kLumaCycle));
    }
}

TEST(PanelDecoderTest, renderSideNeverSeesTornStaleOrFuturePictures)
{
    // Real clock: a feeder adds flat frames as fast as it can, the decoder
    // follows at delay 0, a render thread checks every picture it takes.
    auto ring = std::make_shared<FrameRing>(2000);
    ring->setStream(lagwell::kFourccMjpeg, 96, 64, {});
    TripleBuffer out;
    PanelDecoder decoder(ring, out);
    decoder.start();
    std::atomic<bool> running {true};
    std::thread feeder([&] {
        for (int i = 0; running.load(); ++i) {
            const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
            ring->add(jpegFrame(encodeFlatJpeg(96, 64, lumaForIndex(i)), nowMs));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int pictures = 0;
    int torn = 0;
    int backwards = 0;
    int future = 0;
    uint64_t lastSeq = 0;
    const auto end = SteadyClock::now() + std::chrono::milliseconds(1500);
    std::shared_ptr<const DecodedFrame> previous;
    while (SteadyClock::now() < end) {
        auto picture = out.acquire();
        const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        if (!picture || picture == previous)
            continue;
        previous = picture;
        ++pictures;
        const uint8_t first = picture->planes[0].front();
        for (uint8_t sample : picture->planes[0])
            torn += std::abs(sample - first) > 2 ? 1 : 0;
        if (indexForLuma(first) != static_cast<int>(picture->seq % kLumaCycle))
            ++torn;
        if (picture->seq < lastSeq)
            ++backwards;
        if (picture->wallMs > nowMs)
            ++future;
        lastSeq = picture->seq;
    }
    running.store(false);
    feeder.join();
    decoder.stop();
    EXPECT_GT(pictures, 5);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(future, 0);
}

TEST(PanelDecoderTest, testPatternCameraThroughTheRingToPanelsAtTwoDelays)
{
    auto ring = std::make_shared<FrameRing>(10000);
    lagwell::TestPatternSource camera;
    lagwell::CaptureRequest request;
    request.deviceId = "test";
    request.width = 320;
    request.height = 240;
    request.fps = 30;
    std::string error;
    ASSERT_TRUE(camera.start(request, [&](lagwell::EncodedFrame&& frame) { ring->add(std::move(frame)); }, &error))
        << error;
    ring->setStream(camera.negotiatedFourcc(), camera.negotiatedWidth(), camera.negotiatedHeight(), {});

    TripleBuffer liveOut;
    TripleBuffer delayedOut;
    PanelDecoder live(ring, liveOut);
    PanelDecoder delayed(ring, delayedOut);
    delayed.setDelayMs(1000);
    live.start();
    delayed.start();

    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    // Until the ring holds a second the delayed panel shows its oldest
    // frame; from then on both panels show pictures no newer than now minus
    // their delay, and catch up to within a generous margin of it.
    ASSERT_TRUE(waitUntil([&] { return ring->count() > 0 && ring->oldestWallMs() <= nowMs() - 1300; }));
    bool liveCaughtUp = false;
    bool delayedCaughtUp = false;
    int tooNew = 0;
    const auto end = SteadyClock::now() + kDeadline;
    while (SteadyClock::now() < end && !(liveCaughtUp && delayedCaughtUp)) {
        const auto l = liveOut.acquire();
        const auto d = delayedOut.acquire();
        const int64_t now = nowMs();
        if (l) {
            tooNew += l->wallMs > now ? 1 : 0;
            liveCaughtUp = liveCaughtUp || l->wallMs >= now - 1000;
        }
        if (d) {
            tooNew += d->wallMs > now - 1000 ? 1 : 0;
            delayedCaughtUp = delayedCaughtUp || (d->wallMs >= now - 2500 && liveCaughtUp);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(liveCaughtUp);
    EXPECT_TRUE(delayedCaughtUp);
    EXPECT_EQ(tooNew, 0);
    const auto picture = liveOut.acquire();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->layout, DecodedFrame::Layout::I420);
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(picture->height, 240);
    EXPECT_EQ(picture->planes[0].size(), 320u * 240u);
    EXPECT_EQ(picture->planes[1].size(), 160u * 120u);
    EXPECT_TRUE(waitUntil([&] { return live.decodesPerSecond() > 5.0; })) << "the meter never ran";

    live.stop();
    delayed.stop();
    camera.stop();
}

TEST(PanelDecoderTest, aPictureDecodedAheadWaitsForItsDueTimeThroughDelayChangesAndSeeks)
{
    // The clock stops 1 ms before frame 85 is due at 1000 ms: the decoder
    // has it decoded and waiting, and must not hand it over early.
    auto ring = jpegRing(100);
    FakeClock clock(wallOf(95) - 1);
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());

    struct Step {
        int32_t delayMs;
        uint64_t shownSeq;
    } steps[] = {
        {1000, 84},
        {1200, 84},  // 200 from the seek: no seek, and no going back
        {900, 85},   // shorter: the waiting picture is due at once; 86 waits
        {1251, 82},  // 251 from the seek at 1000: seeks, the waiting 86 is dropped
    };
    decoder.start();
    for (const Step& step : steps) {
        decoder.setDelayMs(step.delayMs);
        ASSERT_TRUE(waitForSeq(out, step.shownSeq)) << "delay " << step.delayMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(out.acquire()->seq, step.shownSeq) << "delay " << step.delayMs << ": a picture shown before it was due";
    }
    // The clock moves on: the next pictures come when due.
    clock.set(wallOf(96) - 1);
    EXPECT_TRUE(waitForSeq(out, 83));
    clock.set(wallOf(97));
    const auto picture = waitForSeq(out, 84);
    ASSERT_TRUE(picture);
    EXPECT_EQ(indexForLuma(picture->planes[0][0]), static_cast<int>(84 % kLumaCycle));

    // Stopped while 85 waits, started again: 85 still comes when due.
    clock.set(wallOf(97) + 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    decoder.stop();
    decoder.start();
    EXPECT_EQ(out.acquire()->seq, 84u);
    clock.set(wallOf(97) + 51);
    EXPECT_TRUE(waitForSeq(out, 85));
}

TEST(PanelDecoderTest, aPictureWaitingForItsDueTimeIsDroppedWithItsRing)
{
    auto first = jpegRing(100);
    // A ring without a keyframe: nothing to seek to.
    auto undecodable = std::make_shared<FrameRing>(1'000'000);
    undecodable->setStream(lagwell::kFourccMjpeg, 32, 16, {});
    lagwell::EncodedFrame frame = jpegFrame(encodeFlatJpeg(32, 16, 10), wallOf(50));
    frame.keyframe = false;
    undecodable->add(std::move(frame));
    auto second = std::make_shared<FrameRing>(1'000'000);
    second->setStream(lagwell::kFourccMjpeg, 64, 32, {});
    for (int i = 0; i < 100; ++i)
        second->add(jpegFrame(encodeFlatJpeg(64, 32, lumaForIndex(i)), wallOf(i)));
    FakeClock clock(wallOf(95) - 1);
    TripleBuffer out;
    PanelDecoder decoder(first, out, clock.function());
    decoder.setDelayMs(1000);
    decoder.start();
    const auto shown = waitForSeq(out, 84);  // and 85 decoded, waiting
    ASSERT_TRUE(shown);

    decoder.setRing(undecodable);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    clock.set(wallOf(95));  // the old ring's 85 would be due now
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(out.acquire(), shown) << "a picture of the old ring was shown after the ring changed";

    decoder.setRing(second);
    ASSERT_TRUE(waitUntil([&] {
        auto picture = out.acquire();
        return picture && picture->width == 64 && picture->seq == 85;
    }));
}

TEST(PanelDecoderTest, delayedPanelOnTheRealClockNeverShowsAPictureBeforeItIsDue)
{
    constexpr int32_t kDelayMs = 200;
    auto ring = std::make_shared<FrameRing>(2000);
    ring->setStream(lagwell::kFourccMjpeg, 96, 64, {});
    TripleBuffer out;
    PanelDecoder decoder(ring, out);
    decoder.setDelayMs(kDelayMs);
    decoder.start();
    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    std::atomic<bool> running {true};
    std::thread feeder([&] {
        for (int i = 0; running.load(); ++i) {
            ring->add(jpegFrame(encodeFlatJpeg(96, 64, lumaForIndex(i)), nowMs()));
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });
    int pictures = 0;
    int early = 0;
    int backwards = 0;
    std::shared_ptr<const DecodedFrame> previous;
    const auto end = SteadyClock::now() + std::chrono::milliseconds(1500);
    while (SteadyClock::now() < end) {
        auto picture = out.acquire();
        const int64_t targetMs = nowMs() - kDelayMs;  // read after the take
        if (picture && picture != previous) {
            ++pictures;
            // Until the ring holds the delay the oldest frame is shown.
            early += picture->wallMs > targetMs && picture->seq != 0 ? 1 : 0;
            backwards += previous && picture->seq < previous->seq ? 1 : 0;
            previous = picture;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    running.store(false);
    feeder.join();
    decoder.stop();
    EXPECT_GT(pictures, 20);
    EXPECT_EQ(early, 0);
    EXPECT_EQ(backwards, 0);
}

TEST(PanelDecoderTest, stopWhileWaitingForAFarPictureReturnsPromptly)
{
    // The next frame is due in ten minutes.
    auto ring = std::make_shared<FrameRing>(10'000'000);
    ring->setStream(lagwell::kFourccMjpeg, 32, 16, {});
    ring->add(jpegFrame(encodeFlatJpeg(32, 16, 50), wallOf(0)));
    ring->add(jpegFrame(encodeFlatJpeg(32, 16, 150), wallOf(0) + 600'000));
    FakeClock clock(wallOf(0) + 1);
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    ASSERT_TRUE(waitForSeq(out, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto start = SteadyClock::now();
    decoder.stop();
    EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(out.acquire()->seq, 0u);
}
