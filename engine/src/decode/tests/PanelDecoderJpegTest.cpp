#include "PanelDecoder.h"

#include "DecoderTestSupport.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <set>

using lagwell::DecodedFrame;
using lagwell::FrameRing;
using lagwell::PanelDecoder;
using lagwell::TripleBuffer;
using namespace decodetest;

namespace {

constexpr int64_t kNoEvictionWindowMs = 1'000'000'000;

const char* subsamplingName(int subsampling)
{
    switch (subsampling) {
    case TJSAMP_444: return "4:4:4";
    case TJSAMP_422: return "4:2:2";
    case TJSAMP_420: return "4:2:0";
    case TJSAMP_GRAY: return "grey";
    case TJSAMP_440: return "4:4:0";
    case TJSAMP_411: return "4:1:1";
    }
    return "?";
}

// Runs one JPEG through a decoder at delay 0 and returns its picture.
std::shared_ptr<const DecodedFrame> decodeOne(std::vector<uint8_t> jpeg)
{
    auto ring = std::make_shared<FrameRing>(kNoEvictionWindowMs);
    ring->setStream(lagwell::kFourccMjpeg, 0, 0, {});
    ring->add(jpegFrame(std::move(jpeg), kBaseWallMs));
    FakeClock clock(kBaseWallMs + 1000);
    TripleBuffer out;
    PanelDecoder decoder(ring, out, clock.function());
    decoder.start();
    return waitForSeq(out, 0);
}

// A 4:2:0 JPEG of the given size with its SOF marker rewritten to claim
// another size.
std::vector<uint8_t> jpegClaimingSize(int width, int height)
{
    std::vector<uint8_t> jpeg = encodeFlatJpeg(64, 48, 100);
    for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no SOF marker";
    return jpeg;
}

}  // namespace

struct PlaneCase {
    int subsampling;
    int width;
    int height;
};

void PrintTo(const PlaneCase& c, std::ostream* os)
{
    *os << subsamplingName(c.subsampling) << " " << c.width << "x" << c.height;
}

class JpegPlanesTest : public testing::TestWithParam<PlaneCase> {};

TEST_P(JpegPlanesTest, decodesToI420WithEachChromaSampleOverItsOwnBlock)
{
    const PlaneCase c = GetParam();
    const YuvPicture source = makeGradientPicture(c.width, c.height, c.subsampling);
    const auto picture = decodeOne(encodeYuvJpeg(source));
    ASSERT_TRUE(picture) << "no picture published";

    const int chromaW = (c.width + 1) / 2;
    const int chromaH = (c.height + 1) / 2;
    EXPECT_EQ(picture->layout, DecodedFrame::Layout::I420);
    EXPECT_EQ(picture->width, c.width);
    EXPECT_EQ(picture->height, c.height);
    EXPECT_EQ(picture->strides[0], c.width);
    EXPECT_EQ(picture->strides[1], chromaW);
    EXPECT_EQ(picture->strides[2], chromaW);
    ASSERT_EQ(picture->planes[0].size(), static_cast<size_t>(c.width) * c.height);
    ASSERT_EQ(picture->planes[1].size(), static_cast<size_t>(chromaW) * chromaH);
    ASSERT_EQ(picture->planes[2].size(), static_cast<size_t>(chromaW) * chromaH);
    EXPECT_EQ(picture->wallMs, kBaseWallMs);
    EXPECT_EQ(picture->rotationDeg, 0);

    int worstY = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            worstY = std::max(worstY, std::abs(picture->planes[0][static_cast<size_t>(y) * c.width + x] -
                                               source.y[static_cast<size_t>(y) * source.lumaStride + x]));
    EXPECT_LE(worstY, 3) << "luma differs from the source";

    if (c.subsampling == TJSAMP_GRAY) {
        for (int plane = 1; plane <= 2; ++plane)
            for (uint8_t sample : picture->planes[plane])
                ASSERT_EQ(sample, 128) << "grey pictures carry neutral chroma";
        return;
    }
    // A source chroma sample may sit up to two luma pixels from the centre of
    // the destination block (4:1:1), so allow for the gradient over that.
    const int toleranceU = 4 + static_cast<int>(std::ceil(320.0 / c.width));
    const int toleranceV = 4 + static_cast<int>(std::ceil(320.0 / c.height));
    int worstU = 0;
    int worstV = 0;
    for (int y = 0; y < chromaH; ++y) {
        const double centreY = (2 * y + std::min(2 * y + 1, c.height - 1)) / 2.0;
        for (int x = 0; x < chromaW; ++x) {
            const double centreX = (2 * x + std::min(2 * x + 1, c.width - 1)) / 2.0;
            const size_t at = static_cast<size_t>(y) * chromaW + x;
            worstU = std::max(worstU, std::abs(picture->planes[1][at] - gradientU(centreX, c.width)));
            worstV = std::max(worstV, std::abs(picture->planes[2][at] - gradientV(centreY, c.height)));
        }
    }
    EXPECT_LE(worstU, toleranceU) << "U of the wrong source columns";
    EXPECT_LE(worstV, toleranceV) << "V of the wrong source rows";
}

INSTANTIATE_TEST_SUITE_P(
    SubsamplingsAndSizes, JpegPlanesTest,
    testing::Values(PlaneCase {TJSAMP_420, 640, 480}, PlaneCase {TJSAMP_420, 641, 481},
                    PlaneCase {TJSAMP_420, 1, 1}, PlaneCase {TJSAMP_444, 640, 480},
                    PlaneCase {TJSAMP_444, 641, 481}, PlaneCase {TJSAMP_444, 33, 17},
                    PlaneCase {TJSAMP_444, 1, 1}, PlaneCase {TJSAMP_422, 640, 480},
                    PlaneCase {TJSAMP_422, 641, 481}, PlaneCase {TJSAMP_422, 35, 9},
                    PlaneCase {TJSAMP_440, 640, 480}, PlaneCase {TJSAMP_440, 641, 481},
                    PlaneCase {TJSAMP_411, 640, 480}, PlaneCase {TJSAMP_411, 641, 481},
                    PlaneCase {TJSAMP_411, 33, 17}, PlaneCase {TJSAMP_411, 2, 1},
                    PlaneCase {TJSAMP_GRAY, 641, 481}, PlaneCase {TJSAMP_GRAY, 3, 3}),
    [](const testing::TestParamInfo<PlaneCase>& info) {
        std::string name = subsamplingName(info.param.subsampling);
        std::string clean;
        for (char ch : name)
            clean += (ch == ':') ? '_' : ch;
        return clean + "_" + std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

struct BadFrameCase {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    int streamWidth;  // 0 = the ring has no stream size
    int streamHeight;
    const char* expectedLog;
    int expectedLines;  // refusals are logged once per ring, decode failures about once a second
};

void PrintTo(const BadFrameCase& c, std::ostream* os)
{
    *os << c.name;
}

class JpegBadFrameTest : public testing::TestWithParam<BadFrameCase> {};

TEST_P(JpegBadFrameTest, isSkippedWithOneWarningAndTheNextFrameShows)
{
    const BadFrameCase c = GetParam();
    auto ring = std::make_shared<FrameRing>(kNoEvictionWindowMs);
    ring->setStream(lagwell::kFourccMjpeg, c.streamWidth, c.streamHeight, {});
    FakeClock clock(kBaseWallMs + 1000);
    TripleBuffer out;

    testing::internal::CaptureStderr();
    std::set<uint64_t> seen;
    {
        PanelDecoder decoder(ring, out, clock.function());
        decoder.start();
        // A good frame first, so the decoder holds a position and then has
        // to decode its way through the bad ones.
        ring->add(jpegFrame(encodeFlatJpeg(64, 48, 77), kBaseWallMs));  // seq 0
        EXPECT_TRUE(waitForSeq(out, 0));
        seen.insert(0);
        ring->add(jpegFrame(c.make(), kBaseWallMs + 33));                    // seq 1
        ring->add(jpegFrame(c.make(), kBaseWallMs + 66));                    // seq 2
        ring->add(jpegFrame(encodeFlatJpeg(64, 48, 99), kBaseWallMs + 99));  // seq 3
        waitUntil([&] {
            if (auto frame = out.acquire())
                seen.insert(frame->seq);
            return seen.count(3) == 1;
        });
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(seen, std::set<uint64_t>({0, 3})) << "only the good frame may show";
    EXPECT_EQ(countLines(log, c.expectedLog), c.expectedLines) << log;
}

INSTANTIATE_TEST_SUITE_P(
    HostileAndCorrupt, JpegBadFrameTest,
    testing::Values(
        BadFrameCase {"headerClaims60000x60000", [] { return jpegClaimingSize(60000, 60000); }, 0, 0,
                      "PanelDecoder: refusing a 60000x60000 picture", 1},
        BadFrameCase {"wider than the cap", [] { return encodeFlatJpeg(8200, 16, 50); }, 0, 0,
                      "PanelDecoder: refusing a 8200x16 picture", 1},
        BadFrameCase {"taller than the cap", [] { return encodeFlatJpeg(16, 8200, 50); }, 0, 0,
                      "PanelDecoder: refusing a 16x8200 picture", 1},
        BadFrameCase {"header claims more than the limit on a sized stream",
                      [] { return jpegClaimingSize(9000, 3000); }, 640, 480,
                      "PanelDecoder: refusing a 9000x3000 picture (limit 8192x8192)", 1},
        // The header reader sees no picture at all (size 0): skipped quietly.
        BadFrameCase {"truncated header", [] { auto j = encodeFlatJpeg(64, 48, 50); j.resize(12); return j; },
                      0, 0, "[WARN]", 0},
        // The second failure follows within a second: counted, not written.
        BadFrameCase {"not a JPEG", [] { return std::vector<uint8_t>(1000, 0x5A); }, 0, 0,
                      "PanelDecoder: tjDecompressHeader3 failed: ", 1},
        BadFrameCase {"empty payload", [] { return std::vector<uint8_t>(); }, 0, 0,
                      "PanelDecoder: tjDecompressHeader3 failed: ", 1}),
    [](const testing::TestParamInfo<BadFrameCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(PanelDecoderJpegTest, strayBytesBeforeTheEndMarkerStillShowThePicture)
{
    std::vector<uint8_t> jpeg = encodeFlatJpeg(64, 48, 140);
    ASSERT_GE(jpeg.size(), 2u);
    // Cameras sometimes pad the entropy data; libjpeg warns and decodes.
    jpeg.insert(jpeg.end() - 2, {0x00, 0x00, 0x00, 0x00});
    const auto picture = decodeOne(std::move(jpeg));
    ASSERT_TRUE(picture);
    EXPECT_NEAR(planeMean(picture->planes[0]), 140.0, 2.0);
}
