#include "Encoder.h"

#include "AnnexB.h"
#include "CHandles.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace lagwell {
namespace {

struct Rgba {
    uint8_t r, g, b;
};

constexpr Rgba kRed {220, 30, 30};
constexpr Rgba kGreen {30, 200, 40};
constexpr Rgba kBlue {30, 40, 220};
constexpr Rgba kWhite {235, 235, 235};

// A picture whose upright quadrants are red (top left), green (top right),
// blue (bottom left) and white (bottom right), stored bottom-up as the
// compositor hands it over.
std::vector<uint8_t> quadrantPicture(int width, int height, int strideBytes)
{
    std::vector<uint8_t> pixels(size_t(strideBytes) * height, 0x55);
    for (int uprightRow = 0; uprightRow < height; ++uprightRow) {
        uint8_t* row = pixels.data() + size_t(height - 1 - uprightRow) * strideBytes;
        for (int x = 0; x < width; ++x) {
            const bool top = uprightRow < height / 2;
            const bool left = x < width / 2;
            const Rgba c = top ? (left ? kRed : kGreen) : (left ? kBlue : kWhite);
            row[x * 4 + 0] = c.r;
            row[x * 4 + 1] = c.g;
            row[x * 4 + 2] = c.b;
            row[x * 4 + 3] = 255;
        }
    }
    return pixels;
}

// Decodes Annex-B access units with libavcodec and keeps the pictures as
// upright RGB24.
class H264Decoder {
public:
    struct Picture {
        int width = 0;
        int height = 0;
        int stride = 0;
        std::vector<uint8_t> rgb;
        bool keyframe = false;
        int64_t pts = 0;

        Rgba at(int x, int y) const
        {
            const uint8_t* p = rgb.data() + size_t(y) * stride + size_t(x) * 3;
            return {p[0], p[1], p[2]};
        }
    };

    H264Decoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        m_codec.reset(avcodec_alloc_context3(codec));
        EXPECT_EQ(avcodec_open2(m_codec.get(), codec, nullptr), 0);
        m_packet.reset(av_packet_alloc());
        m_frame.reset(av_frame_alloc());
    }

    void decode(const Encoder::EncodedAU& au) { send(au.data.data(), int(au.data.size()), au.ptsUs); }
    void finish() { send(nullptr, 0, 0); }

    std::vector<Picture> pictures;

private:
    void send(const uint8_t* data, int size, int64_t pts)
    {
        if (data) {
            ASSERT_EQ(av_new_packet(m_packet.get(), size), 0);
            std::copy(data, data + size, m_packet->data);
            m_packet->pts = pts;
            ASSERT_EQ(avcodec_send_packet(m_codec.get(), m_packet.get()), 0);
            av_packet_unref(m_packet.get());
        } else {
            avcodec_send_packet(m_codec.get(), nullptr);
        }
        while (avcodec_receive_frame(m_codec.get(), m_frame.get()) == 0) {
            Picture picture;
            picture.width = m_frame->width;
            picture.height = m_frame->height;
            picture.keyframe = m_frame->key_frame != 0;
            picture.pts = m_frame->pts;
            // swscale may write whole vector registers: pad rows and the end.
            picture.stride = (picture.width * 3 + 63) & ~63;
            picture.rgb.resize(size_t(picture.stride) * (picture.height + 1) + 64);
            SwsContextPtr sws(sws_getContext(picture.width, picture.height, AVPixelFormat(m_frame->format),
                                             picture.width, picture.height, AV_PIX_FMT_RGB24, SWS_BILINEAR,
                                             nullptr, nullptr, nullptr));
            uint8_t* dst[1] = {picture.rgb.data()};
            const int dstStride[1] = {picture.stride};
            sws_scale(sws.get(), m_frame->data, m_frame->linesize, 0, picture.height, dst, dstStride);
            pictures.push_back(std::move(picture));
            av_frame_unref(m_frame.get());
        }
    }

    AvCodecContextPtr m_codec;
    AvPacketPtr m_packet;
    AvFramePtr m_frame;
};

bool near(Rgba got, Rgba want, int tolerance = 24)
{
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

std::string describe(Rgba c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

Encoder::Config configFor(int width, int height, int gop = 30)
{
    Encoder::Config config;
    config.width = width;
    config.height = height;
    config.fps = 30;
    config.bitRate = int64_t(width) * height * 30 / 5;
    config.gopSize = gop;
    config.lowLatency = true;
    return config;
}

bool hasNalType(const std::vector<uint8_t>& au, uint8_t type)
{
    for (const AnnexBNal& nal : splitAnnexB(au)) {
        if (nal.type == type)
            return true;
    }
    return false;
}

TEST(EncoderTest, fallsBackToLibx264AndLeavesErrorUntouched)
{
    Encoder encoder;
    std::string error = "untouched";
    ASSERT_TRUE(encoder.open(configFor(64, 48), &error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(encoder.name(), "libx264");
    EXPECT_TRUE(encoder.isOpen());
    EXPECT_TRUE(encoder.codecConfig().empty());
}

TEST(EncoderTest, encodesUprightPicturesWithInBandParameterSetsAndGopSpacing)
{
    constexpr int kWidth = 96;
    constexpr int kHeight = 64;
    constexpr int kGop = 5;
    constexpr int kFrames = 12;
    Encoder encoder;
    ASSERT_TRUE(encoder.open(configFor(kWidth, kHeight, kGop)));

    const std::vector<uint8_t> picture = quadrantPicture(kWidth, kHeight, kWidth * 4);
    std::vector<Encoder::EncodedAU> aus;
    const auto collect = [&](const Encoder::EncodedAU& au) { aus.push_back(au); };
    std::string error;
    for (int i = 0; i < kFrames; ++i)
        ASSERT_TRUE(encoder.encodeFrame(picture.data(), kWidth * 4, 66666 + i * 33333, collect, &error)) << error;
    ASSERT_TRUE(encoder.flush(collect, &error)) << error;
    ASSERT_EQ(aus.size(), size_t(kFrames));

    std::vector<uint8_t> firstSets;
    for (size_t i = 0; i < aus.size(); ++i) {
        SCOPED_TRACE("access unit " + std::to_string(i));
        EXPECT_EQ(aus[i].ptsUs, 66666 + int64_t(i) * 33333);
        EXPECT_EQ(aus[i].keyframe, i % kGop == 0);
        EXPECT_EQ(hasNalType(aus[i].data, kNalTypeSps), aus[i].keyframe);
        EXPECT_EQ(hasNalType(aus[i].data, kNalTypePps), aus[i].keyframe);
    }

    // codecConfig: exactly the SPS and PPS units of the first keyframe.
    const std::vector<uint8_t>& config = encoder.codecConfig();
    const std::vector<AnnexBNal> configNals = splitAnnexB(config);
    ASSERT_EQ(configNals.size(), 2u);
    EXPECT_EQ(configNals[0].type, kNalTypeSps);
    EXPECT_EQ(configNals[1].type, kNalTypePps);
    EXPECT_EQ(configNals[0].start, 0u);
    const std::vector<uint8_t>& first = aus[0].data;
    EXPECT_NE(std::search(first.begin(), first.end(), config.begin(), config.end()), first.end());

    H264Decoder decoder;
    for (const Encoder::EncodedAU& au : aus)
        decoder.decode(au);
    decoder.finish();
    ASSERT_EQ(decoder.pictures.size(), size_t(kFrames));
    for (const H264Decoder::Picture& p : decoder.pictures) {
        ASSERT_EQ(p.width, kWidth);
        ASSERT_EQ(p.height, kHeight);
        EXPECT_TRUE(near(p.at(kWidth / 4, kHeight / 4), kRed)) << describe(p.at(kWidth / 4, kHeight / 4));
        EXPECT_TRUE(near(p.at(3 * kWidth / 4, kHeight / 4), kGreen)) << describe(p.at(3 * kWidth / 4, kHeight / 4));
        EXPECT_TRUE(near(p.at(kWidth / 4, 3 * kHeight / 4), kBlue)) << describe(p.at(kWidth / 4, 3 * kHeight / 4));
        EXPECT_TRUE(near(p.at(3 * kWidth / 4, 3 * kHeight / 4), kWhite))
            << describe(p.at(3 * kWidth / 4, 3 * kHeight / 4));
    }
    EXPECT_TRUE(decoder.pictures[0].keyframe);
    EXPECT_TRUE(decoder.pictures[kGop].keyframe);
}

TEST(EncoderTest, readsRowsThroughAWiderStride)
{
    constexpr int kWidth = 64;
    constexpr int kHeight = 32;
    constexpr int kStride = kWidth * 4 + 48;
    Encoder encoder;
    ASSERT_TRUE(encoder.open(configFor(kWidth, kHeight)));
    const std::vector<uint8_t> picture = quadrantPicture(kWidth, kHeight, kStride);
    H264Decoder decoder;
    const auto decode = [&](const Encoder::EncodedAU& au) { decoder.decode(au); };
    ASSERT_TRUE(encoder.encodeFrame(picture.data(), kStride, 0, decode));
    ASSERT_TRUE(encoder.flush(decode));
    decoder.finish();
    ASSERT_EQ(decoder.pictures.size(), 1u);
    EXPECT_TRUE(near(decoder.pictures[0].at(8, 8), kRed)) << describe(decoder.pictures[0].at(8, 8));
    EXPECT_TRUE(near(decoder.pictures[0].at(56, 24), kWhite)) << describe(decoder.pictures[0].at(56, 24));
}

TEST(EncoderTest, oddSizesAreEncodedOnePixelSmaller)
{
    struct Case {
        int width, height, encodedWidth, encodedHeight;
    };
    const Case cases[] = {{63, 47, 62, 46}, {65, 48, 64, 48}, {64, 33, 64, 32}, {3, 3, 2, 2}, {2, 2, 2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Encoder encoder;
        std::string error;
        ASSERT_TRUE(encoder.open(configFor(c.width, c.height), &error)) << error;
        EXPECT_EQ(encoder.width(), c.encodedWidth);
        EXPECT_EQ(encoder.height(), c.encodedHeight);
        // A buffer of exactly width x 4 x height bytes: nothing past it is read.
        const std::vector<uint8_t> picture = quadrantPicture(c.width, c.height, c.width * 4);
        H264Decoder decoder;
        const auto decode = [&](const Encoder::EncodedAU& au) { decoder.decode(au); };
        ASSERT_TRUE(encoder.encodeFrame(picture.data(), c.width * 4, 0, decode, &error)) << error;
        ASSERT_TRUE(encoder.flush(decode, &error)) << error;
        decoder.finish();
        ASSERT_EQ(decoder.pictures.size(), 1u);
        EXPECT_EQ(decoder.pictures[0].width, c.encodedWidth);
        EXPECT_EQ(decoder.pictures[0].height, c.encodedHeight);
        if (c.width >= 32) {
            EXPECT_TRUE(near(decoder.pictures[0].at(4, 4), kRed)) << describe(decoder.pictures[0].at(4, 4));
            EXPECT_TRUE(near(decoder.pictures[0].at(c.encodedWidth - 5, c.encodedHeight - 5), kWhite));
        }
    }
}

TEST(EncoderTest, readsNothingPastThePictureWhateverTheWidth)
{
    // The picture ends exactly where an inaccessible page begins: any read
    // past its last byte faults.
    const long page = sysconf(_SC_PAGESIZE);
    for (int width : {30, 36, 50, 64, 101, 1000, 1278, 1918}) {
        SCOPED_TRACE(width);
        constexpr int kHeight = 6;
        const size_t bytes = size_t(width) * 4 * kHeight;
        const size_t mapped = ((bytes + size_t(page) - 1) / size_t(page) + 1) * size_t(page);
        void* region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(region, MAP_FAILED);
        uint8_t* guard = static_cast<uint8_t*>(region) + mapped - size_t(page);
        ASSERT_EQ(mprotect(guard, size_t(page), PROT_NONE), 0);
        uint8_t* pixels = guard - bytes;
        const std::vector<uint8_t> picture = quadrantPicture(width, kHeight, width * 4);
        std::copy(picture.begin(), picture.end(), pixels);

        Encoder encoder;
        ASSERT_TRUE(encoder.open(configFor(width, kHeight)));
        int delivered = 0;
        const auto count = [&](const Encoder::EncodedAU&) { ++delivered; };
        EXPECT_TRUE(encoder.encodeFrame(pixels, width * 4, 0, count));
        EXPECT_TRUE(encoder.flush(count));
        EXPECT_EQ(delivered, 1);
        munmap(region, mapped);
    }
}

TEST(EncoderTest, aHardwareEncoderThatWouldNotOpenIsNotTriedAgain)
{
    Encoder first;
    ASSERT_TRUE(first.open(configFor(64, 48)));
    if (first.name() != "libx264")
        GTEST_SKIP() << "a hardware encoder opened here: " << first.name();
    first.close();

    // Trying them again would make the libraries say why once more.
    ::testing::internal::CaptureStderr();
    Encoder second;
    const bool opened = second.open(configFor(64, 48));
    const std::string printed = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened);
    EXPECT_EQ(second.name(), "libx264");
    for (const char* name : {"h264_vaapi", "h264_nvenc", "h264_v4l2m2m", "AVHWDeviceContext"})
        EXPECT_EQ(printed.find(name), std::string::npos) << name << " was tried again:\n" << printed;
}

TEST(EncoderTest, refusesSizesItCannotEncode)
{
    struct Case {
        int width, height;
    };
    const Case cases[] = {{0, 0}, {-2, 10}, {10, -2}, {1, 1}, {1, 64}, {64, 1}, {20000, 64}, {64, 20000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Encoder encoder;
        std::string error;
        EXPECT_FALSE(encoder.open(configFor(c.width, c.height), &error));
        EXPECT_NE(error.find("cannot be encoded"), std::string::npos) << error;
        EXPECT_FALSE(encoder.isOpen());
        EXPECT_TRUE(encoder.name().empty());
    }
}

TEST(EncoderTest, refusesStridesThatDoNotHoldARow)
{
    constexpr int kWidth = 32;
    constexpr int kHeight = 16;
    Encoder encoder;
    ASSERT_TRUE(encoder.open(configFor(kWidth, kHeight)));
    const std::vector<uint8_t> picture = quadrantPicture(kWidth, kHeight, kWidth * 4);
    int delivered = 0;
    const auto count = [&](const Encoder::EncodedAU&) { ++delivered; };
    for (int stride : {0, -kWidth * 4, kWidth * 4 - 4, 1}) {
        SCOPED_TRACE(stride);
        std::string error;
        EXPECT_FALSE(encoder.encodeFrame(picture.data(), stride, 0, count, &error));
        EXPECT_EQ(error, "stride of " + std::to_string(stride) + " bytes does not hold a row of 32 pixels");
    }
    std::string error;
    EXPECT_FALSE(encoder.encodeFrame(nullptr, kWidth * 4, 0, count, &error));
    EXPECT_EQ(error, "no picture given");
    EXPECT_EQ(delivered, 0);
    // The encoder is still usable afterwards.
    EXPECT_TRUE(encoder.encodeFrame(picture.data(), kWidth * 4, 0, count, &error)) << error;
    EXPECT_TRUE(encoder.flush(count, &error)) << error;
    EXPECT_EQ(delivered, 1);
}

TEST(EncoderTest, closedEncoderRefusesWork)
{
    Encoder encoder;
    std::vector<uint8_t> picture(16 * 16 * 4);
    std::string error;
    EXPECT_FALSE(encoder.encodeFrame(picture.data(), 64, 0, nullptr, &error));
    EXPECT_EQ(error, "encoder not open");
    error.clear();
    EXPECT_FALSE(encoder.flush(nullptr, &error));
    EXPECT_EQ(error, "encoder not open");
    EXPECT_FALSE(encoder.flush(nullptr));  // no error string: only the result

    ASSERT_TRUE(encoder.open(configFor(16, 16)));
    encoder.close();
    encoder.close();
    EXPECT_FALSE(encoder.isOpen());
    EXPECT_TRUE(encoder.name().empty());
    EXPECT_EQ(encoder.width(), 0);
    EXPECT_FALSE(encoder.encodeFrame(picture.data(), 64, 0, nullptr, &error));
}

TEST(EncoderTest, flushTwiceSucceedsAndReopenForgetsCodecConfig)
{
    Encoder encoder;
    ASSERT_TRUE(encoder.open(configFor(32, 32)));
    const std::vector<uint8_t> picture = quadrantPicture(32, 32, 128);
    ASSERT_TRUE(encoder.encodeFrame(picture.data(), 128, 0, nullptr));
    std::string error;
    EXPECT_TRUE(encoder.flush(nullptr, &error)) << error;
    EXPECT_TRUE(encoder.flush(nullptr, &error)) << error;
    EXPECT_FALSE(encoder.codecConfig().empty());

    ASSERT_TRUE(encoder.open(configFor(48, 32)));
    EXPECT_TRUE(encoder.codecConfig().empty());
    EXPECT_EQ(encoder.width(), 48);
}

TEST(EncoderTest, laterKeyframesLeaveCodecConfigAlone)
{
    Encoder encoder;
    ASSERT_TRUE(encoder.open(configFor(32, 32, 2)));
    const std::vector<uint8_t> picture = quadrantPicture(32, 32, 128);
    std::vector<uint8_t> afterFirst;
    int keyframes = 0;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(encoder.encodeFrame(picture.data(), 128, i * 33333, [&](const Encoder::EncodedAU& au) {
            if (au.keyframe && ++keyframes == 1)
                afterFirst = encoder.codecConfig();
        }));
    }
    EXPECT_EQ(keyframes, 3);
    EXPECT_FALSE(afterFirst.empty());
    EXPECT_EQ(encoder.codecConfig(), afterFirst);
}

}  // namespace
}  // namespace lagwell
