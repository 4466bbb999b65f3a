#include "PanelDecoder.h"

#include "AnnexB.h"
#include "DecoderTestSupport.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cctype>
#include <functional>
#include <ostream>
#include <random>
#include <string>

// Bad frames fed between good ones through the real PanelDecoder: a bad frame
// costs that frame only, the panel never shows a picture with the wrong
// content, and it is back at its delay within one keyframe interval.

using lagwell::DecodedFrame;
using lagwell::EncodedFrame;
using lagwell::FrameRing;
using lagwell::PanelDecoder;
using lagwell::TripleBuffer;
using namespace decodetest;

namespace {

std::string testName(const char* text)
{
    std::string name;
    for (const char* p = text; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// Offset of the first marker FF xx at or after `from`, else the size.
size_t findMarker(const std::vector<uint8_t>& jpeg, uint8_t marker, size_t from = 0)
{
    for (size_t i = from; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
            return i;
    }
    ADD_FAILURE() << "no marker " << std::hex << int {marker};
    return jpeg.size();
}

std::vector<uint8_t> flatJpeg()
{
    return encodeFlatJpeg(64, 48, 100);
}

// A JPEG with a real amount of entropy-coded data to cut or damage.
std::vector<uint8_t> detailedJpeg()
{
    return encodeYuvJpeg(makeGradientPicture(160, 96, TJSAMP_420), 95);
}

std::vector<uint8_t> withSofSize(std::vector<uint8_t> jpeg, int width, int height)
{
    const size_t sof = findMarker(jpeg, 0xC0);
    jpeg.at(sof + 5) = static_cast<uint8_t>(height >> 8);
    jpeg.at(sof + 6) = static_cast<uint8_t>(height);
    jpeg.at(sof + 7) = static_cast<uint8_t>(width >> 8);
    jpeg.at(sof + 8) = static_cast<uint8_t>(width);
    return jpeg;
}

struct BadJpeg {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
};

const std::vector<BadJpeg>& badJpegs()
{
    static const std::vector<BadJpeg> table = {
        {"zero length", [] { return std::vector<uint8_t>(); }},
        {"truncated inside the header", [] { auto j = flatJpeg(); j.resize(findMarker(j, 0xDA)); return j; }},
        {"truncated in the scan", [] { auto j = detailedJpeg(); j.resize(j.size() * 3 / 5); return j; }},
        {"not a JPEG", [] { return std::vector<uint8_t>(1000, 0x5A); }},
        {"bit flips in the header",
         [] {
             auto j = flatJpeg();
             for (size_t i = 20; i < j.size() / 3; i += 7)
                 j[i] ^= 0x10;
             return j;
         }},
        {"bit flips in the scan",
         [] {
             auto j = detailedJpeg();
             for (size_t i = findMarker(j, 0xDA) + 20; i + 2 < j.size(); i += 11)
                 j[i] ^= 0x24;
             return j;
         }},
        {"SOF0 marked lossless (SOF3)", [] { auto j = flatJpeg(); j[findMarker(j, 0xC0) + 1] = 0xC3; return j; }},
        {"SOS turned into a comment", [] { auto j = flatJpeg(); j[findMarker(j, 0xDA) + 1] = 0xFE; return j; }},
        {"SOI turned into EOI", [] { auto j = flatJpeg(); j[1] = 0xD9; return j; }},
        {"SOF claims width 0", [] { return withSofSize(flatJpeg(), 0, 48); }},
        {"SOF claims 60000x60000", [] { return withSofSize(flatJpeg(), 60000, 60000); }},
        {"SOF claims 4000x3000 its data does not fill", [] { return withSofSize(flatJpeg(), 4000, 3000); }},
        {"wider than the limit", [] { return encodeFlatJpeg(8200, 16, 50); }},
    };
    return table;
}

}  // namespace

TEST(PanelDecoderBadDataTest, everyGoodJpegAfterABadOneShowsWithItsOwnContent)
{
    // One decoder through the whole table: good, bad, good, bad, ... so a bad
    // frame that spoils the decoder's state shows in every later good frame.
    const auto& table = badJpegs();
    auto ring = std::make_shared<FrameRing>(kLongWindowMs);
    ring->setStream(lagwell::kFourccMjpeg, 64, 48, {});
    const auto goodLuma = [](size_t row) { return static_cast<uint8_t>(30 + 14 * row); };
    int index = 0;
    ring->add(jpegFrame(encodeFlatJpeg(64, 48, 20), frameWallMs(index++)));
    for (size_t row = 0; row < table.size(); ++row) {
        ring->add(jpegFrame(table[row].make(), frameWallMs(index++)));
        ring->add(jpegFrame(encodeFlatJpeg(64, 48, goodLuma(row)), frameWallMs(index++)));
    }

    FakeClock clock(frameWallMs(0));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    ASSERT_TRUE(waitForSeq(out, 0));
    for (size_t row = 0; row < table.size(); ++row) {
        const int good = 2 + 2 * static_cast<int>(row);
        clock.set(frameWallMs(good));
        const auto picture = waitForSeq(out, static_cast<uint64_t>(good));
        ASSERT_TRUE(picture) << "the good frame after '" << table[row].name << "' never showed";
        EXPECT_EQ(picture->width, 64) << table[row].name;
        EXPECT_EQ(picture->height, 48) << table[row].name;
        EXPECT_NEAR(planeMean(picture->planes[0]), goodLuma(row), 2.0) << "after '" << table[row].name << "'";
    }
}

TEST(PanelDecoderBadDataTest, aLongRunOfBadJpegsWritesAboutOneWarningASecond)
{
    constexpr int kBadFrames = 300;
    auto ring = std::make_shared<FrameRing>(kLongWindowMs);
    ring->setStream(lagwell::kFourccMjpeg, 64, 48, {});
    ring->add(jpegFrame(encodeFlatJpeg(64, 48, 40), frameWallMs(0)));
    FakeClock clock(frameWallMs(0));
    TripleBuffer out;
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    std::shared_ptr<const DecodedFrame> picture;
    {
        PanelDecoder decoder(ring, out, clock.function());
        decoder.start();
        // Positioned on the good first frame, the decoder has to go through
        // every bad one to reach the last.
        EXPECT_TRUE(waitForSeq(out, 0));
        for (int i = 1; i <= kBadFrames; ++i)
            ring->add(jpegFrame(badJpegs()[3].make(), frameWallMs(i)));  // not a JPEG
        ring->add(jpegFrame(encodeFlatJpeg(64, 48, 160), frameWallMs(kBadFrames + 1)));
        clock.set(frameWallMs(kBadFrames + 1));
        picture = waitForSeq(out, kBadFrames + 1);
    }
    const double elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(picture);
    EXPECT_NEAR(planeMean(picture->planes[0]), 160.0, 2.0);
    const int lines = countLines(log, "PanelDecoder: tjDecompressHeader3 failed: ");
    EXPECT_GE(lines, 1) << "bad frames must still be reported";
    EXPECT_LE(lines, static_cast<int>(elapsedSeconds) + 1) << log;
    // Every line after the first carries the count of those held back.
    EXPECT_EQ(countLines(log, "more like this since the last"), lines - 1) << log;
}

TEST(PanelDecoderBadDataTest, picturesLargerThanTheRingsStreamSizeShowForBothCodecs)
{
    // The ring's size is what the camera negotiated; a picture of another
    // size is what it actually sends, and both codecs show it.
    {
        auto ring = std::make_shared<FrameRing>(kLongWindowMs);
        ring->setStream(lagwell::kFourccMjpeg, 640, 480, {});
        ring->add(jpegFrame(encodeFlatJpeg(1280, 720, 150), frameWallMs(0)));
        FakeClock clock(frameWallMs(0));
        TripleBuffer out;
        PanelDecoder decoder(ring, out, clock.function());
        decoder.start();
        const auto picture = waitForSeq(out, 0);
        ASSERT_TRUE(picture) << "a 1280x720 JPEG on a 640x480 ring was refused";
        EXPECT_EQ(picture->width, 1280);
        EXPECT_EQ(picture->height, 720);
        EXPECT_NEAR(planeMean(picture->planes[0]), 150.0, 2.0);
    }
    {
        H264Options options;
        options.width = 320;
        options.height = 192;
        options.frames = 5;
        const H264Stream stream = encodeH264(options);
        auto ring = std::make_shared<FrameRing>(kLongWindowMs);
        ring->setStream(lagwell::kFourccH264, 160, 96, {});
        for (int i = 0; i < options.frames; ++i) {
            EncodedFrame frame = stream.frames[static_cast<size_t>(i)];
            frame.wallMs = frameWallMs(i);
            ring->add(std::move(frame));
        }
        FakeClock clock(frameWallMs(options.frames - 1));
        TripleBuffer out;
        PanelDecoder decoder(ring, out, clock.function());
        decoder.start();
        const auto picture = waitForSeq(out, static_cast<uint64_t>(options.frames - 1));
        ASSERT_TRUE(picture) << "a 320x192 H.264 picture on a 160x96 ring was refused";
        EXPECT_EQ(picture->width, 320);
        EXPECT_EQ(picture->height, 192);
        EXPECT_EQ(indexForLuma(static_cast<int>(planeMean(picture->planes[0]) + 0.5)), options.frames - 1);
    }
}

// H.264: a stretch of damaged frames in the middle of a group of pictures.

enum class Damage { Garbage, BitFlips, Truncated, Empty, SliceHeaderFlips, EarlierPictureOrder };

struct BadH264Case {
    const char* name;
    int bFrames;
    bool withoutReorderLimit;  // the SPS leaves the reorder depth to libavcodec's guess
    Damage damage;
    bool interlaced = false;
};

void PrintTo(const BadH264Case& c, std::ostream* os)
{
    *os << c.name;
}

namespace {

constexpr int kGop = 20;
constexpr int kFrames = 60;
constexpr int kFirstBad = 6;
constexpr int kBadCount = 8;

void damage(std::vector<uint8_t>& data, Damage kind, std::mt19937& random, const std::vector<uint8_t>& keyframe)
{
    switch (kind) {
    case Damage::EarlierPictureOrder:
        // A picture that claims a place three pictures back: libavcodec takes
        // it for reordering and holds pictures back from then on, and no
        // decode error says so.
        ASSERT_TRUE(shiftPictureOrder(data, keyframe, -6));
        break;
    case Damage::Garbage:
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        break;
    case Damage::BitFlips:
        for (size_t i = 5; i < data.size(); i += 3)
            data[i] ^= static_cast<uint8_t>(1u << (random() % 8));
        break;
    case Damage::Truncated:
        data.resize(data.size() / 2);
        break;
    case Damage::Empty:
        data.clear();
        break;
    case Damage::SliceHeaderFlips: {
        // A few bits of the slice header: frame numbers and picture order
        // come out wrong while the slice still parses.
        size_t slice = 0;
        for (const auto& nal : lagwell::splitAnnexB(data)) {
            if (nal.type == 1 || nal.type == 5) {
                slice = nal.start + nal.startCodeBytes + 1;
                break;
            }
        }
        ASSERT_GT(slice, 0u);
        const int flips = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < flips; ++i)
            data.at(slice + random() % 6) ^= static_cast<uint8_t>(1u << (random() % 8));
        break;
    }
    }
}

}  // namespace

class H264BadStretchTest : public testing::TestWithParam<BadH264Case> {};

TEST_P(H264BadStretchTest, neverShowsAWrongPictureAndIsBackAtItsDelayByTheNextKeyframe)
{
    const BadH264Case c = GetParam();
    H264Options options;
    options.frames = kFrames;
    options.gop = kGop;
    options.bFrames = c.bFrames;
    options.interlaced = c.interlaced;
    H264Stream stream = encodeH264(options);
    ASSERT_EQ(stream.frames.size(), static_cast<size_t>(kFrames));
    if (c.withoutReorderLimit) {
        for (EncodedFrame& frame : stream.frames)
            frame.data = withoutReorderLimit(frame.data);
    }
    // What a decoder shows after each frame of the clean stream: the panel's
    // answer once it has recovered, reordering delay included.
    const std::vector<int> expected = referenceLatestPictures(stream);

    auto ring = std::make_shared<FrameRing>(kLongWindowMs);
    ring->setStream(lagwell::kFourccH264, options.width, options.height, {});
    std::mt19937 random(7);
    int nextKeyframe = -1;
    for (int i = 0; i < kFrames; ++i) {
        EncodedFrame frame = stream.frames[static_cast<size_t>(i)];
        // A wrong picture order is one frame's damage; the rest stay clean.
        const int badCount = c.damage == Damage::EarlierPictureOrder ? 1 : kBadCount;
        if (i >= kFirstBad && i < kFirstBad + badCount) {
            ASSERT_FALSE(frame.keyframe);
            damage(frame.data, c.damage, random, stream.frames.front().data);
        }
        if (frame.keyframe && i >= kFirstBad + kBadCount && nextKeyframe < 0)
            nextKeyframe = i;
        frame.wallMs = frameWallMs(i);
        ring->add(std::move(frame));
    }
    ASSERT_GT(nextKeyframe, 0);
    // From here on a fresh decoder and the reference agree on every frame.
    const int recovered = nextKeyframe + c.bFrames + 2;

    FakeClock clock(frameWallMs(0));
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    std::string wrong;
    const auto checkContent = [&](const DecodedFrame& picture) {
        const int index = stream.displayIndex.at(picture.seq);
        const int shown = indexForLuma(static_cast<int>(planeMean(picture.planes[0]) + 0.5));
        if (shown != index % kLumaCycle && wrong.empty())
            wrong = "frame " + std::to_string(picture.seq) + " shows picture " + std::to_string(shown) +
                    " instead of " + std::to_string(index % kLumaCycle);
    };
    for (int k = 0; k < kFrames; ++k) {
        clock.set(frameWallMs(k));
        const bool mayBeHeld = k >= kFirstBad && k < recovered;
        std::shared_ptr<const DecodedFrame> latest;
        const bool shown = waitUntil(
            [&] {
                latest = out.acquire();
                if (latest)
                    checkContent(*latest);
                return expected[static_cast<size_t>(k)] < 0 ||
                       (latest && latest->seq == static_cast<uint64_t>(expected[static_cast<size_t>(k)]));
            },
            mayBeHeld ? std::chrono::milliseconds(100) : kDeadline);
        ASSERT_TRUE(wrong.empty()) << "at frame " << k << ": " << wrong;
        if (!mayBeHeld) {
            ASSERT_TRUE(shown) << "at frame " << k << " the panel shows frame "
                               << (latest ? std::to_string(latest->seq) : "none") << ", not "
                               << expected[static_cast<size_t>(k)];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    DamagedStretches, H264BadStretchTest,
    testing::Values(BadH264Case {"no reordering, garbage", 0, false, Damage::Garbage},
                    BadH264Case {"no reordering, bit flips", 0, false, Damage::BitFlips},
                    BadH264Case {"no reordering, truncated", 0, false, Damage::Truncated},
                    BadH264Case {"no reordering, zero length", 0, false, Damage::Empty},
                    BadH264Case {"B frames, garbage", 2, false, Damage::Garbage},
                    BadH264Case {"B frames, bit flips", 2, false, Damage::BitFlips},
                    BadH264Case {"B frames, truncated", 2, false, Damage::Truncated},
                    BadH264Case {"B frames, guessed reorder, slice header flips", 2, true, Damage::SliceHeaderFlips},
                    BadH264Case {"no reordering, guessed reorder, a picture claims an earlier place", 0, true,
                                 Damage::EarlierPictureOrder, true}),
    [](const testing::TestParamInfo<BadH264Case>& info) { return testName(info.param.name); });
