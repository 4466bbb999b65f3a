#include "DecoderTestSupport.h"

#include "AnnexB.h"
#include "CHandles.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace decodetest {

int gradientY(int x, int y, int width, int height)
{
    return 20 + (200 * (x + y)) / std::max(1, width + height);
}

int gradientU(double lumaX, int width)
{
    return static_cast<int>(std::lround(40.0 + 160.0 * lumaX / std::max(1, width)));
}

int gradientV(double lumaY, int height)
{
    return static_cast<int>(std::lround(200.0 - 160.0 * lumaY / std::max(1, height)));
}

YuvPicture makeGradientPicture(int width, int height, int subsampling)
{
    YuvPicture picture;
    picture.width = width;
    picture.height = height;
    picture.subsampling = subsampling;
    picture.lumaStride = tjPlaneWidth(0, width, subsampling);
    const int lumaRows = tjPlaneHeight(0, height, subsampling);
    picture.y.resize(static_cast<size_t>(picture.lumaStride) * lumaRows);
    for (int y = 0; y < lumaRows; ++y)
        for (int x = 0; x < picture.lumaStride; ++x)
            picture.y[static_cast<size_t>(y) * picture.lumaStride + x] = static_cast<uint8_t>(
                gradientY(std::min(x, width - 1), std::min(y, height - 1), width, height));
    if (subsampling == TJSAMP_GRAY)
        return picture;
    const int stepX = tjMCUWidth[subsampling] / 8;
    const int stepY = tjMCUHeight[subsampling] / 8;
    picture.chromaWidth = tjPlaneWidth(1, width, subsampling);
    picture.chromaHeight = tjPlaneHeight(1, height, subsampling);
    picture.u.resize(static_cast<size_t>(picture.chromaWidth) * picture.chromaHeight);
    picture.v.resize(picture.u.size());
    for (int j = 0; j < picture.chromaHeight; ++j) {
        // Centre of the luma rows this sample covers, clipped to the picture.
        const int top = j * stepY;
        const int bottom = std::min(top + stepY, height) - 1;
        const double centreY = (top + std::max(top, bottom)) / 2.0;
        for (int i = 0; i < picture.chromaWidth; ++i) {
            const int left = i * stepX;
            const int right = std::min(left + stepX, width) - 1;
            const double centreX = (left + std::max(left, right)) / 2.0;
            const size_t at = static_cast<size_t>(j) * picture.chromaWidth + i;
            picture.u[at] = static_cast<uint8_t>(gradientU(centreX, width));
            picture.v[at] = static_cast<uint8_t>(gradientV(centreY, height));
        }
    }
    return picture;
}

std::vector<uint8_t> encodeYuvJpeg(const YuvPicture& picture, int quality)
{
    lagwell::TjHandlePtr compressor(tjInitCompress());
    if (!compressor)
        throw std::runtime_error("tjInitCompress failed");
    const unsigned char* planes[3] = {picture.y.data(), picture.u.empty() ? nullptr : picture.u.data(),
                                      picture.v.empty() ? nullptr : picture.v.data()};
    const int strides[3] = {picture.lumaStride, picture.chromaWidth, picture.chromaWidth};
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (tjCompressFromYUVPlanes(compressor.get(), planes, picture.width, strides, picture.height,
                                picture.subsampling, &jpeg, &jpegSize, quality, TJFLAG_ACCURATEDCT) != 0)
        throw std::runtime_error(std::string("tjCompressFromYUVPlanes failed: ") + tjGetErrorStr2(compressor.get()));
    lagwell::TjBufferPtr owned(jpeg);
    return std::vector<uint8_t>(jpeg, jpeg + jpegSize);
}

std::vector<uint8_t> encodeFlatJpeg(int width, int height, uint8_t luma)
{
    YuvPicture picture;
    picture.width = width;
    picture.height = height;
    picture.subsampling = TJSAMP_420;
    picture.lumaStride = tjPlaneWidth(0, width, TJSAMP_420);
    picture.chromaWidth = tjPlaneWidth(1, width, TJSAMP_420);
    picture.chromaHeight = tjPlaneHeight(1, height, TJSAMP_420);
    picture.y.assign(static_cast<size_t>(picture.lumaStride) * tjPlaneHeight(0, height, TJSAMP_420), luma);
    picture.u.assign(static_cast<size_t>(picture.chromaWidth) * picture.chromaHeight, 128);
    picture.v = picture.u;
    return encodeYuvJpeg(picture, 90);
}

lagwell::EncodedFrame jpegFrame(std::vector<uint8_t> data, int64_t wallMs)
{
    lagwell::EncodedFrame frame;
    frame.data = std::move(data);
    frame.wallMs = wallMs;
    frame.ptsUs = wallMs * 1000;
    frame.keyframe = true;
    return frame;
}

uint8_t lumaForIndex(int index)
{
    return static_cast<uint8_t>(30 + (index % kLumaCycle) * 5);
}

int indexForLuma(int luma)
{
    return static_cast<int>(std::lround((luma - 30) / 5.0));
}

H264Stream encodeH264(const H264Options& options)
{
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        throw std::runtime_error("libx264 is not available");
    lagwell::AvCodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = options.width;
    context->height = options.height;
    context->pix_fmt = options.yuv444 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    context->time_base = AVRational {1, 30};
    context->framerate = AVRational {30, 1};
    context->gop_size = options.gop;
    context->keyint_min = options.gop;
    context->max_b_frames = options.bFrames;
    context->thread_count = 1;
    if (options.globalHeader)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    if (options.bFrames == 0) {
        av_opt_set(context->priv_data, "tune", "zerolatency", 0);
        const char* params = options.interlaced ? "scenecut=0:qp=8:tff=1" : "scenecut=0:qp=8";
        av_opt_set(context->priv_data, "x264-params", params, 0);
    } else {
        av_opt_set(context->priv_data, "x264-params", "scenecut=0:qp=8:b-adapt=0:b-pyramid=none", 0);
    }
    if (avcodec_open2(context.get(), codec, nullptr) != 0)
        throw std::runtime_error("libx264 failed to open");

    H264Stream stream;
    if (options.globalHeader && context->extradata_size > 0)
        stream.extradata.assign(context->extradata, context->extradata + context->extradata_size);

    lagwell::AvFramePtr picture(av_frame_alloc());
    picture->format = context->pix_fmt;
    picture->width = options.width;
    picture->height = options.height;
    if (av_frame_get_buffer(picture.get(), 0) != 0)
        throw std::runtime_error("av_frame_get_buffer failed");
    lagwell::AvPacketPtr packet(av_packet_alloc());

    const auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            lagwell::EncodedFrame frame;
            frame.data.assign(packet->data, packet->data + packet->size);
            frame.keyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            stream.frames.push_back(std::move(frame));
            stream.displayIndex.push_back(static_cast<int>(packet->pts));
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < options.frames; ++i) {
        if (av_frame_make_writable(picture.get()) != 0)
            throw std::runtime_error("av_frame_make_writable failed");
        const int chromaHeight = options.yuv444 ? options.height : (options.height + 1) / 2;
        for (int y = 0; y < options.height; ++y)
            std::memset(picture->data[0] + y * picture->linesize[0], lumaForIndex(i), options.width);
        for (int y = 0; y < chromaHeight; ++y) {
            std::memset(picture->data[1] + y * picture->linesize[1], 90, picture->linesize[1]);
            std::memset(picture->data[2] + y * picture->linesize[2], 170, picture->linesize[2]);
        }
        picture->pts = i;
        if (avcodec_send_frame(context.get(), picture.get()) != 0)
            throw std::runtime_error("avcodec_send_frame failed");
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return stream;
}

namespace {

// Exp-Golomb bit reading and writing over an unescaped NAL unit payload.
class BitReader {
public:
    explicit BitReader(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    uint32_t bits(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_position / 8 >= m_bytes.size())
                throw std::runtime_error("SPS ends early");
            value = (value << 1) | ((m_bytes[m_position / 8] >> (7 - m_position % 8)) & 1u);
            ++m_position;
        }
        return value;
    }
    uint32_t unsignedGolomb()
    {
        int zeros = 0;
        while (bits(1) == 0)
            ++zeros;
        return ((1u << zeros) - 1) + bits(zeros);
    }
    void skipGolomb() { unsignedGolomb(); }
    size_t position() const { return m_position; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

std::vector<uint8_t> removeEmulationPrevention(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(data[i]);
        zeros = data[i] == 0 ? zeros + 1 : 0;
    }
    return out;
}

std::vector<uint8_t> addEmulationPrevention(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t byte : payload) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
}

// What the slice headers and the VUI rewrite need from an SPS.
struct SpsFacts {
    bool separateColourPlanes = false;
    int frameNumBits = 0;
    uint32_t pocType = 0;
    int pocLsbBits = 0;
    bool frameMbsOnly = true;
    size_t restrictionFlagBit = 0;  // bit offset of bitstream_restriction_flag in the unescaped payload
};

// Parses an SPS (unescaped, header byte first) up to the VUI's
// bitstream_restriction_flag.
SpsFacts parseSps(const std::vector<uint8_t>& payload)
{
    SpsFacts facts;
    BitReader in(payload);
    in.bits(8);  // NAL header
    const uint32_t profile = in.bits(8);
    in.bits(16);  // constraint flags, level
    in.skipGolomb();  // seq_parameter_set_id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
        profile == 86 || profile == 118 || profile == 128) {
        if (in.unsignedGolomb() == 3)  // chroma_format_idc
            facts.separateColourPlanes = in.bits(1) != 0;
        in.skipGolomb();
        in.skipGolomb();
        in.bits(1);
        if (in.bits(1))
            throw std::runtime_error("SPS with scaling lists");
    }
    facts.frameNumBits = static_cast<int>(in.unsignedGolomb()) + 4;
    facts.pocType = in.unsignedGolomb();
    if (facts.pocType == 0) {
        facts.pocLsbBits = static_cast<int>(in.unsignedGolomb()) + 4;
    } else if (facts.pocType == 1) {
        in.bits(1);
        in.skipGolomb();
        in.skipGolomb();
        const uint32_t cycle = in.unsignedGolomb();
        for (uint32_t i = 0; i < cycle; ++i)
            in.skipGolomb();
    }
    in.skipGolomb();  // max_num_ref_frames
    in.bits(1);
    in.skipGolomb();  // width in macroblocks
    in.skipGolomb();  // height in map units
    facts.frameMbsOnly = in.bits(1) != 0;
    if (!facts.frameMbsOnly)
        in.bits(1);
    in.bits(1);
    if (in.bits(1)) {  // cropping
        for (int i = 0; i < 4; ++i)
            in.skipGolomb();
    }
    if (!in.bits(1))
        throw std::runtime_error("SPS without VUI");
    if (in.bits(1) && in.bits(8) == 255)  // aspect ratio
        in.bits(32);
    if (in.bits(1))  // overscan
        in.bits(1);
    if (in.bits(1)) {  // video signal type
        in.bits(4);
        if (in.bits(1))
            in.bits(24);
    }
    if (in.bits(1)) {  // chroma location
        in.skipGolomb();
        in.skipGolomb();
    }
    if (in.bits(1)) {  // timing
        in.bits(32);
        in.bits(32);
        in.bits(1);
    }
    if (in.bits(1) || in.bits(1))
        throw std::runtime_error("SPS with HRD parameters");
    in.bits(1);  // pic_struct_present_flag
    facts.restrictionFlagBit = in.position();
    return facts;
}

void setBit(std::vector<uint8_t>& bytes, size_t bit, bool value)
{
    const auto mask = static_cast<uint8_t>(0x80u >> (bit % 8));
    bytes[bit / 8] = value ? (bytes[bit / 8] | mask) : (bytes[bit / 8] & ~mask);
}

// An SPS payload (unescaped, header byte first) with the VUI's
// bitstream_restriction_flag cleared and the fields after it dropped.
std::vector<uint8_t> spsWithoutReorderLimit(const std::vector<uint8_t>& payload)
{
    const size_t flagAt = parseSps(payload).restrictionFlagBit;
    // Everything before the flag, the flag cleared, the stop bit.
    std::vector<uint8_t> out(payload.begin(), payload.begin() + static_cast<ptrdiff_t>((flagAt + 2 + 7) / 8));
    setBit(out, flagAt, false);
    setBit(out, flagAt + 1, true);
    for (size_t bit = flagAt + 2; bit < out.size() * 8; ++bit)
        setBit(out, bit, false);
    return out;
}

// Each NAL unit of an access unit as its unescaped payload.
std::vector<std::vector<uint8_t>> nalPayloads(const std::vector<uint8_t>& accessUnit)
{
    std::vector<std::vector<uint8_t>> payloads;
    for (const lagwell::AnnexBNal& nal : lagwell::splitAnnexB(accessUnit)) {
        const size_t begin = nal.start + nal.startCodeBytes;
        size_t end = nal.end;
        if (end < accessUnit.size()) {
            while (end > begin && accessUnit[end - 1] == 0)
                --end;  // the zero that opens a four-byte start code
        }
        payloads.push_back(removeEmulationPrevention(accessUnit.data() + begin, end - begin));
    }
    return payloads;
}

std::vector<uint8_t> joinNals(const std::vector<std::vector<uint8_t>>& payloads)
{
    std::vector<uint8_t> out;
    for (const auto& payload : payloads) {
        out.insert(out.end(), {0, 0, 0, 1});
        const std::vector<uint8_t> escaped = addEmulationPrevention(payload);
        out.insert(out.end(), escaped.begin(), escaped.end());
    }
    return out;
}

}  // namespace

std::vector<uint8_t> withoutReorderLimit(const std::vector<uint8_t>& accessUnit)
{
    std::vector<std::vector<uint8_t>> payloads = nalPayloads(accessUnit);
    for (auto& payload : payloads) {
        if (!payload.empty() && (payload[0] & 0x1F) == lagwell::kNalTypeSps)
            payload = spsWithoutReorderLimit(payload);
    }
    return joinNals(payloads);
}

bool shiftPictureOrder(std::vector<uint8_t>& accessUnit, const std::vector<uint8_t>& spsAccessUnit, int delta)
{
    SpsFacts sps;
    bool found = false;
    for (const auto& payload : nalPayloads(spsAccessUnit)) {
        if (!payload.empty() && (payload[0] & 0x1F) == lagwell::kNalTypeSps) {
            sps = parseSps(payload);
            found = true;
        }
    }
    if (!found || sps.pocType != 0)
        throw std::runtime_error("no SPS with picture order counts in the slice header");
    std::vector<std::vector<uint8_t>> payloads = nalPayloads(accessUnit);
    bool shifted = false;
    for (auto& payload : payloads) {
        const int type = payload.empty() ? 0 : payload[0] & 0x1F;
        if (type != 1)
            continue;
        BitReader in(payload);
        in.bits(8);
        in.skipGolomb();  // first_mb_in_slice
        in.skipGolomb();  // slice_type
        in.skipGolomb();  // pic_parameter_set_id
        if (sps.separateColourPlanes)
            in.bits(2);
        in.bits(sps.frameNumBits);
        if (!sps.frameMbsOnly && in.bits(1))
            in.bits(1);
        const size_t at = in.position();
        const uint32_t modulus = 1u << sps.pocLsbBits;
        const uint32_t lsb = (in.bits(sps.pocLsbBits) + modulus + static_cast<uint32_t>(delta)) % modulus;
        for (int i = 0; i < sps.pocLsbBits; ++i)
            setBit(payload, at + static_cast<size_t>(i), (lsb >> (sps.pocLsbBits - 1 - i)) & 1u);
        shifted = true;
    }
    if (shifted)
        accessUnit = joinNals(payloads);
    return shifted;
}

std::vector<int> referenceLatestPictures(const H264Stream& stream)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    lagwell::AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_open2(context.get(), codec, nullptr) != 0)
        throw std::runtime_error("the H.264 decoder failed to open");
    if (!stream.extradata.empty())
        throw std::runtime_error("reference decoding takes in-band parameter sets only");
    lagwell::AvPacketPtr packet(av_packet_alloc());
    lagwell::AvFramePtr picture(av_frame_alloc());
    std::vector<int> latest;
    int shown = -1;
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        const std::vector<uint8_t>& data = stream.frames[i].data;
        if (av_new_packet(packet.get(), static_cast<int>(data.size())) != 0)
            throw std::runtime_error("av_new_packet failed");
        std::memcpy(packet->data, data.data(), data.size());
        packet->pts = static_cast<int64_t>(i);
        if (avcodec_send_packet(context.get(), packet.get()) != 0)
            throw std::runtime_error("the reference decoder refused a frame");
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context.get(), picture.get()) == 0) {
            shown = static_cast<int>(picture->pts);
            av_frame_unref(picture.get());
        }
        latest.push_back(shown);
    }
    return latest;
}

double planeMean(const std::vector<uint8_t>& plane)
{
    if (plane.empty())
        return 0.0;
    double sum = 0.0;
    for (uint8_t sample : plane)
        sum += sample;
    return sum / static_cast<double>(plane.size());
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

std::shared_ptr<const lagwell::DecodedFrame> waitForSeq(lagwell::TripleBuffer& buffer, uint64_t seq)
{
    std::shared_ptr<const lagwell::DecodedFrame> found;
    waitUntil([&] {
        auto frame = buffer.acquire();
        if (frame && frame->seq == seq)
            found = std::move(frame);
        return found != nullptr;
    });
    return found;
}

int countLines(const std::string& text, const std::string& needle)
{
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (text.substr(start, end - start).find(needle) != std::string::npos)
            ++count;
        start = end + 1;
    }
    return count;
}

}  // namespace decodetest
