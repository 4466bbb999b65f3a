#include "TestSupport.h"

#include "CHandles.h"
#include "TestPatternSource.h"

#include <gtest/gtest.h>

#include <sstream>

extern "C" {
#include <libavutil/opt.h>
}

namespace lagwell::test {

std::vector<uint8_t> makeJpeg(int width, int height, int64_t frameIndex, int quality)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    TestPatternSource::drawTestPattern(rgb.data(), width, height, 1, frameIndex, 30);
    TjHandlePtr handle(tjInitCompress());
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size,
                               TJSAMP_420, quality, TJFLAG_FASTDCT);
    TjBufferPtr owner(jpeg);
    if (rc != 0 || !jpeg)
        return {};
    return std::vector<uint8_t>(jpeg, jpeg + size);
}

std::vector<uint8_t> makeColourJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    constexpr int kNoiseRows = 16;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    uint32_t noise = 12345;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const bool inBand = i / 3 < static_cast<size_t>(width) * kNoiseRows;
        for (size_t c = 0; c < 3; ++c) {
            noise = noise * 1664525u + 1013904223u;
            rgb[i + c] = inBand ? static_cast<uint8_t>(noise >> 24) : (c == 0 ? r : c == 1 ? g : b);
        }
    }
    TjHandlePtr handle(tjInitCompress());
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size,
                               TJSAMP_420, 90, TJFLAG_FASTDCT);
    TjBufferPtr owner(jpeg);
    if (rc != 0 || !jpeg)
        return {};
    return std::vector<uint8_t>(jpeg, jpeg + size);
}

std::vector<std::vector<uint8_t>> makeH264(int width, int height, int count, int gopSize)
{
    std::vector<std::vector<uint8_t>> units;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return units;
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->time_base = AVRational {1, 30};
    context->framerate = AVRational {30, 1};
    context->gop_size = gopSize;
    context->max_b_frames = 0;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return units;
    AvFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), 32);
    AvPacketPtr packet(av_packet_alloc());
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            units.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(frame.get());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + i * 3);
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < height / 2; ++y)
                for (int x = 0; x < width / 2; ++x)
                    frame->data[plane][y * frame->linesize[plane] + x] = static_cast<uint8_t>(128 + plane * i);
        frame->pts = i;
        avcodec_send_frame(context.get(), frame.get());
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return units;
}

std::vector<DecodedPicture> decodeH264(const std::vector<std::vector<uint8_t>>& accessUnits)
{
    std::vector<DecodedPicture> pictures;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return pictures;
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            pictures.push_back({frame->width, frame->height, frame->key_frame != 0});
            av_frame_unref(frame.get());
        }
    };
    for (const auto& unit : accessUnits) {
        std::vector<uint8_t> padded(unit);
        padded.resize(unit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = static_cast<int>(unit.size());
        avcodec_send_packet(context.get(), packet.get());
        drain();
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
    return pictures;
}

std::function<void(EncodedFrame&&)> FrameCollector::callback()
{
    return [this](EncodedFrame&& frame) {
        std::lock_guard lock(m_mutex);
        m_frames.push_back(std::move(frame));
        m_changed.notify_all();
    };
}

bool FrameCollector::waitFor(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

std::vector<EncodedFrame> FrameCollector::frames()
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

LogCapture::LogCapture()
{
    testing::internal::CaptureStderr();
}

LogCapture::~LogCapture()
{
    text();
}

const std::string& LogCapture::text()
{
    if (m_capturing) {
        m_text = testing::internal::GetCapturedStderr();
        m_capturing = false;
        std::fputs(m_text.c_str(), stderr);  // keep it in the test's output
    }
    return m_text;
}

int LogCapture::count(const std::string& needle)
{
    std::istringstream lines(text());
    int found = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos)
            ++found;
    return found;
}

}  // namespace lagwell::test
