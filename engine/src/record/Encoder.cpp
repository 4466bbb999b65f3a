#include "Encoder.h"

#include "AnnexB.h"
#include "CHandles.h"
#include "FfmpegError.h"
#include "FfmpegLogBridge.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace lagwell {
namespace {

struct Candidate {
    const char* name;
    AVPixelFormat pixelFormat;
    bool hardwareUpload;
};

// Hardware first; the first that opens is kept.
constexpr Candidate kCandidates[] = {
    {"h264_vaapi", AV_PIX_FMT_NV12, true},
    {"h264_nvenc", AV_PIX_FMT_NV12, false},
    {"h264_v4l2m2m", AV_PIX_FMT_NV12, false},
    {"libx264", AV_PIX_FMT_YUV420P, false},
};

constexpr int kDefaultFps = 30;
constexpr int kHwPoolSize = 4;
constexpr int kFrameAlign = 32;
// Largest side accepted; keeps every buffer size far from overflow.
constexpr int32_t kMaxSide = 16384;
constexpr int64_t kMinBitRate = 1000;

// Hardware candidates that would not open, with the reason, for the rest of
// the run: on a machine without them every recording and share start would
// try them again, at tens of milliseconds each time. The software encoder is
// always tried.
std::mutex g_unusableMutex;
// guards: g_unusable
std::map<std::string, std::string> g_unusable;

bool isHardware(const Candidate& candidate)
{
    return std::strcmp(candidate.name, "libx264") != 0;
}

// The reason a hardware candidate failed earlier in this run, or empty.
std::string knownFailure(const Candidate& candidate)
{
    if (!isHardware(candidate))
        return {};
    std::lock_guard lock(g_unusableMutex);
    const auto it = g_unusable.find(candidate.name);
    return it == g_unusable.end() ? std::string() : it->second;
}

void rememberFailure(const Candidate& candidate, const std::string& reason)
{
    if (!isHardware(candidate))
        return;
    std::lock_guard lock(g_unusableMutex);
    g_unusable.emplace(candidate.name, reason);
}

int32_t evenDown(int32_t value)
{
    return value & ~1;
}

bool encoderSupports(const AVCodec* codec, AVPixelFormat format)
{
    if (!codec->pix_fmts)
        return true;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == format)
            return true;
    }
    return false;
}

}  // namespace

struct Encoder::Impl {
    // Declared in reverse order of release: members go last to first.
    AvBufferRefPtr hwDevice;
    AvBufferRefPtr hwFrames;
    AvCodecContextPtr codec;
    SwsContextPtr scaler;
    AvFramePtr swFrame;
    AvFramePtr hwFrame;
    AvPacketPtr packet;
    bool hardware = false;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    int32_t width = 0;        // encoded size
    int32_t height = 0;
    int32_t inputWidth = 0;   // size of the pictures handed in
    int32_t inputHeight = 0;

    // Builds one candidate's encoder; nullptr and `reason` on failure.
    static std::unique_ptr<Impl> build(const Candidate& candidate, const Config& config, std::string& reason);
};

std::unique_ptr<Encoder::Impl> Encoder::Impl::build(const Candidate& candidate, const Config& config,
                                                    std::string& reason)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(candidate.name);
    if (!codec) {
        reason = "not available in this FFmpeg build";
        return nullptr;
    }

    auto impl = std::make_unique<Encoder::Impl>();
    impl->inputWidth = config.width;
    impl->inputHeight = config.height;
    impl->width = evenDown(config.width);
    impl->height = evenDown(config.height);
    impl->hardware = candidate.hardwareUpload;
    impl->pixelFormat = candidate.pixelFormat;

    impl->codec.reset(avcodec_alloc_context3(codec));
    if (!impl->codec) {
        reason = "avcodec_alloc_context3 failed";
        return nullptr;
    }
    AVCodecContext* ctx = impl->codec.get();
    const int fps = config.fps >= 1 ? config.fps : kDefaultFps;
    ctx->width = impl->width;
    ctx->height = impl->height;
    ctx->time_base = AVRational {1, 1000000};
    ctx->framerate = AVRational {fps, 1};
    ctx->max_b_frames = 0;
    ctx->gop_size = config.gopSize;
    // libx264 counts in whole kbit/s, and 0 there is no rate at all.
    ctx->bit_rate = config.bitRate > 0 ? std::max<int64_t>(config.bitRate, kMinBitRate) : config.bitRate;

    if (candidate.hardwareUpload) {
        AVBufferRef* device = nullptr;
        const int rc = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0);
        impl->hwDevice.reset(device);
        if (rc < 0) {
            reason = "no VAAPI render node available (" + ffmpegError(rc) + ")";
            return nullptr;
        }
        impl->hwFrames.reset(av_hwframe_ctx_alloc(impl->hwDevice.get()));
        if (!impl->hwFrames) {
            reason = "av_hwframe_ctx_alloc failed";
            return nullptr;
        }
        auto* frames = reinterpret_cast<AVHWFramesContext*>(impl->hwFrames->data);
        frames->format = AV_PIX_FMT_VAAPI;
        frames->sw_format = AV_PIX_FMT_NV12;
        frames->width = impl->width;
        frames->height = impl->height;
        frames->initial_pool_size = kHwPoolSize;
        const int initRc = av_hwframe_ctx_init(impl->hwFrames.get());
        if (initRc < 0) {
            reason = "av_hwframe_ctx_init failed (" + ffmpegError(initRc) + ")";
            return nullptr;
        }
        ctx->pix_fmt = AV_PIX_FMT_VAAPI;
        ctx->hw_frames_ctx = av_buffer_ref(impl->hwFrames.get());
        if (!ctx->hw_frames_ctx) {
            reason = "av_buffer_ref failed";
            return nullptr;
        }
    } else {
        if (!encoderSupports(codec, candidate.pixelFormat)) {
            reason = "encoder does not report support for the required pixel format";
            return nullptr;
        }
        ctx->pix_fmt = candidate.pixelFormat;
    }

    if (std::strcmp(candidate.name, "libx264") == 0) {
        // One thread per core, as the ffmpeg tool does: a single core does not
        // hold 1080p at 30 fps on a busy or small machine.
        ctx->thread_count = 0;
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        if (config.lowLatency)
            av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    }

    const int openRc = avcodec_open2(ctx, codec, nullptr);
    if (openRc < 0) {
        reason = "avcodec_open2 failed (" + ffmpegError(openRc) + ")";
        return nullptr;
    }

    impl->swFrame.reset(av_frame_alloc());
    if (!impl->swFrame) {
        reason = "av_frame_alloc failed";
        return nullptr;
    }
    impl->swFrame->format = candidate.pixelFormat;
    impl->swFrame->width = impl->width;
    impl->swFrame->height = impl->height;
    const int bufferRc = av_frame_get_buffer(impl->swFrame.get(), kFrameAlign);
    if (bufferRc < 0) {
        reason = "av_frame_get_buffer failed (" + ffmpegError(bufferRc) + ")";
        return nullptr;
    }
    if (candidate.hardwareUpload) {
        impl->hwFrame.reset(av_frame_alloc());
        if (!impl->hwFrame) {
            reason = "av_frame_alloc failed";
            return nullptr;
        }
    }

    impl->scaler.reset(sws_getContext(impl->width, impl->height, AV_PIX_FMT_RGBA, impl->width, impl->height,
                                      candidate.pixelFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!impl->scaler) {
        reason = "sws_getContext failed";
        return nullptr;
    }
    impl->packet.reset(av_packet_alloc());
    if (!impl->packet) {
        reason = "av_packet_alloc failed";
        return nullptr;
    }
    return impl;
}

namespace {

// The SPS and PPS units of an access unit, each with its start code.
std::vector<uint8_t> parameterSetsOf(const std::vector<uint8_t>& au)
{
    std::vector<uint8_t> sets;
    for (const AnnexBNal& nal : splitAnnexB(au)) {
        if (nal.type == kNalTypeSps || nal.type == kNalTypePps)
            sets.insert(sets.end(), au.begin() + nal.start, au.begin() + nal.end);
    }
    return sets;
}

}  // namespace

Encoder::Encoder() = default;

Encoder::~Encoder()
{
    close();
}

bool Encoder::open(const Config& config, std::string* error)
{
    close();

    if (config.width < 2 || config.height < 2 || config.width > kMaxSide || config.height > kMaxSide) {
        if (error) {
            *error = "The picture size " + std::to_string(config.width) + "x" + std::to_string(config.height) +
                     " cannot be encoded (each side must be 2 to " + std::to_string(kMaxSide) + " pixels).";
        }
        return false;
    }

    std::string failures;
    for (const Candidate& candidate : kCandidates) {
        std::string reason = knownFailure(candidate);
        if (!reason.empty()) {
            reason = "failed earlier in this run: " + reason;
        } else {
            // A missing hardware encoder is an answer, not an error to show.
            std::optional<FfmpegLogBridge::Trial> trial;
            if (isHardware(candidate))
                trial.emplace();
            std::unique_ptr<Impl> impl = Impl::build(candidate, config, reason);
            if (impl) {
                m_impl = std::move(impl);
                m_name = candidate.name;
                return true;
            }
            rememberFailure(candidate, reason);
        }
        if (!failures.empty())
            failures += "; ";
        failures += std::string(candidate.name) + ": " + reason;
    }
    if (error)
        *error = "No H.264 encoder could be opened. " + failures;
    return false;
}

bool Encoder::encodeFrame(const uint8_t* rgba, int32_t strideBytes, int64_t ptsUs, const AuCallback& onAU,
                          std::string* error)
{
    if (!m_impl) {
        if (error)
            *error = "encoder not open";
        return false;
    }
    Impl& impl = *m_impl;
    const int64_t rowBytes = int64_t(impl.inputWidth) * 4;
    if (!rgba) {
        if (error)
            *error = "no picture given";
        return false;
    }
    if (strideBytes <= 0 || strideBytes < rowBytes) {
        if (error) {
            *error = "stride of " + std::to_string(strideBytes) + " bytes does not hold a row of " +
                     std::to_string(impl.inputWidth) + " pixels";
        }
        return false;
    }

    const int writableRc = av_frame_make_writable(impl.swFrame.get());
    if (writableRc < 0) {
        if (error)
            *error = "av_frame_make_writable failed (" + ffmpegError(writableRc) + ")";
        return false;
    }
    // Rows arrive bottom-up: start at the last row in memory and step back.
    // An odd input height leaves out the bottom row, an odd width the right column.
    const uint8_t* source[1] = {rgba + int64_t(impl.inputHeight - 1) * strideBytes};
    const int sourceStride[1] = {-strideBytes};
    sws_scale(impl.scaler.get(), source, sourceStride, 0, impl.height, impl.swFrame->data,
              impl.swFrame->linesize);

    AVFrame* toSend = impl.swFrame.get();
    if (impl.hardware) {
        const int getRc = av_hwframe_get_buffer(impl.hwFrames.get(), impl.hwFrame.get(), 0);
        if (getRc < 0) {
            if (error)
                *error = "av_hwframe_get_buffer failed (" + ffmpegError(getRc) + ")";
            return false;
        }
        const int transferRc = av_hwframe_transfer_data(impl.hwFrame.get(), impl.swFrame.get(), 0);
        if (transferRc < 0) {
            av_frame_unref(impl.hwFrame.get());
            if (error)
                *error = "av_hwframe_transfer_data failed (" + ffmpegError(transferRc) + ")";
            return false;
        }
        toSend = impl.hwFrame.get();
    }

    toSend->pts = ptsUs;
    const int sendRc = avcodec_send_frame(impl.codec.get(), toSend);
    if (impl.hardware)
        av_frame_unref(impl.hwFrame.get());
    if (sendRc < 0) {
        if (error)
            *error = "avcodec_send_frame failed (" + ffmpegError(sendRc) + ")";
        return false;
    }
    return drainAndDeliver(onAU, error);
}

bool Encoder::flush(const AuCallback& onAU, std::string* error)
{
    if (!m_impl) {
        if (error)
            *error = "encoder not open";
        return false;
    }
    const int rc = avcodec_send_frame(m_impl->codec.get(), nullptr);
    if (rc < 0 && rc != AVERROR_EOF) {
        if (error)
            *error = "avcodec_send_frame(flush) failed (" + ffmpegError(rc) + ")";
        return false;
    }
    return drainAndDeliver(onAU, error);
}

bool Encoder::drainAndDeliver(const AuCallback& onAU, std::string* error)
{
    AVPacket* packet = m_impl->packet.get();
    for (;;) {
        const int rc = avcodec_receive_packet(m_impl->codec.get(), packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            if (error)
                *error = "avcodec_receive_packet failed (" + ffmpegError(rc) + ")";
            return false;
        }

        EncodedAU au;
        au.data.assign(packet->data, packet->data + packet->size);
        au.keyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        au.ptsUs = packet->pts;
        av_packet_unref(packet);

        if (au.keyframe && m_codecConfig.empty())
            m_codecConfig = parameterSetsOf(au.data);
        if (onAU)
            onAU(au);
    }
}

void Encoder::close()
{
    m_impl.reset();
    m_name.clear();
    m_codecConfig.clear();
}

bool Encoder::isOpen() const
{
    return m_impl && m_impl->codec;
}

int32_t Encoder::width() const
{
    return m_impl ? m_impl->width : 0;
}

int32_t Encoder::height() const
{
    return m_impl ? m_impl->height : 0;
}

}  // namespace lagwell
