#include "DecoderTestSupport.h"

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
    context->max_b_frames = 0;
    context->thread_count = 1;
    if (options.globalHeader)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0:qp=8", 0);
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
