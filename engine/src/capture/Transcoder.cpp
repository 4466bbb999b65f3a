#include "Transcoder.h"

#include "AnnexB.h"
#include "Log.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

namespace lagwell {
namespace {

constexpr int kDefaultFps = 30;
constexpr const char* kRenderNode = "/dev/dri/renderD128";
// Each picture takes its own surface and the encoder keeps a few while it
// works, so the pool holds more than a handful.
constexpr int kSurfacePoolSize = 16;

bool fail(std::string* error, const char* message)
{
    if (error)
        *error = message;
    return false;
}

}  // namespace

Transcoder::~Transcoder()
{
    stop();
    m_onFrame = nullptr;
}

std::vector<uint8_t> Transcoder::codecConfig() const
{
    std::lock_guard lock(m_configMutex);
    return m_codecConfig;
}

bool Transcoder::ensureHwFramesContext(AVCodecContext* encoder, int32_t width, int32_t height,
                                       AvBufferRefPtr* device, AvBufferRefPtr* frames, std::string* error)
{
    AVBufferRef* rawDevice = nullptr;
    if (av_hwdevice_ctx_create(&rawDevice, AV_HWDEVICE_TYPE_VAAPI, kRenderNode, nullptr, 0) < 0 || !rawDevice)
        return fail(error, "Failed to create a VAAPI device context on /dev/dri/renderD128");
    AvBufferRefPtr newDevice(rawDevice);
    AvBufferRefPtr newFrames(av_hwframe_ctx_alloc(newDevice.get()));
    if (!newFrames)
        return fail(error, "av_hwframe_ctx_alloc failed");
    auto* framesContext = reinterpret_cast<AVHWFramesContext*>(newFrames->data);
    framesContext->format = AV_PIX_FMT_VAAPI;
    framesContext->sw_format = AV_PIX_FMT_NV12;
    framesContext->width = width;
    framesContext->height = height;
    framesContext->initial_pool_size = kSurfacePoolSize;
    if (av_hwframe_ctx_init(newFrames.get()) < 0)
        return fail(error, "av_hwframe_ctx_init failed");
    encoder->hw_frames_ctx = av_buffer_ref(newFrames.get());
    if (!encoder->hw_frames_ctx)
        return fail(error, "av_hwframe_ctx_init failed");
    *device = std::move(newDevice);
    *frames = std::move(newFrames);
    return true;
}

bool Transcoder::start(uint32_t fourcc, int32_t width, int32_t height, int32_t fps, const std::string& encoderName,
                       std::function<void(EncodedFrame&&)> onFrame, std::string* error)
{
    if (m_running.load())
        return fail(error, "Transcoder already running");
    if (fourcc != kFourccMjpeg)
        return fail(error, "Transcoder only supports MJPEG camera input");
    // Built into locals: a failure on the way frees everything by itself.
    releaseAll();

    const AVCodec* mjpeg = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!mjpeg)
        return fail(error, "No MJPEG decoder available in this libavcodec build");
    AvCodecContextPtr decoder(avcodec_alloc_context3(mjpeg));
    if (!decoder || avcodec_open2(decoder.get(), mjpeg, nullptr) < 0)
        return fail(error, "Failed to open the MJPEG decoder");

    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
    if (!codec) {
        if (error)
            *error = "Encoder not available: " + encoderName;
        return false;
    }
    AvCodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        return fail(error, "avcodec_alloc_context3 (encoder) failed");

    const int32_t rate = fps < 1 ? kDefaultFps : fps;
    encoder->width = width;
    encoder->height = height;
    encoder->time_base = AVRational {1, rate};
    encoder->framerate = AVRational {rate, 1};
    encoder->max_b_frames = 0;
    encoder->gop_size = rate;
    encoder->bit_rate = int64_t {width} * int64_t {height} * int64_t {rate} * 15 / 100;

    const bool isVaapi = encoderName.find("vaapi") != std::string::npos;
    AvBufferRefPtr hwDevice;
    AvBufferRefPtr hwFrames;
    if (isVaapi) {
        encoder->pix_fmt = AV_PIX_FMT_VAAPI;
        if (!ensureHwFramesContext(encoder.get(), width, height, &hwDevice, &hwFrames, error))
            return false;
    } else {
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    if (width < 1 || height < 1 || avcodec_open2(encoder.get(), codec, nullptr) < 0) {
        if (error)
            *error = "Failed to open encoder: " + encoderName;
        return false;
    }

    AvFramePtr decoded(av_frame_alloc());
    AvFramePtr software(av_frame_alloc());
    if (!decoded || !software)
        return fail(error, "av_frame_alloc failed");
    software->format = isVaapi ? AV_PIX_FMT_NV12 : encoder->pix_fmt;
    software->width = width;
    software->height = height;
    if (av_frame_get_buffer(software.get(), 32) < 0)
        return fail(error, "av_frame_get_buffer failed");
    if (isVaapi) {
        // Proves the pool works; every picture takes a surface of its own.
        AvFramePtr surface(av_frame_alloc());
        if (!surface || av_hwframe_get_buffer(hwFrames.get(), surface.get(), 0) < 0)
            return fail(error, "av_hwframe_get_buffer failed");
    }
    AvPacketPtr input(av_packet_alloc());
    AvPacketPtr output(av_packet_alloc());
    if (!input || !output)
        return fail(error, "av_packet_alloc failed");

    m_decoder = std::move(decoder);
    m_encoder = std::move(encoder);
    m_hwDevice = std::move(hwDevice);
    m_hwFrames = std::move(hwFrames);
    m_decoded = std::move(decoded);
    m_software = std::move(software);
    m_input = std::move(input);
    m_output = std::move(output);
    m_isVaapi = isVaapi;
    m_width = width;
    m_height = height;
    m_fps = rate;
    m_onFrame = std::move(onFrame);
    m_frameCounter = 0;
    m_pending.clear();
    {
        std::lock_guard lock(m_configMutex);
        m_codecConfig.clear();
    }
    m_running.store(true);
    return true;
}

void Transcoder::feed(const EncodedFrame& frame)
{
    if (!m_running.load())
        return;
    if (frame.data.empty()) {
        // An empty packet would mean end of stream to the decoder.
        LW_LOG_WARN("Transcoder: MJPEG decode send failed (%d)", AVERROR_INVALIDDATA);
        return;
    }
    m_input->data = const_cast<uint8_t*>(frame.data.data());
    m_input->size = static_cast<int>(frame.data.size());
    const int sent = avcodec_send_packet(m_decoder.get(), m_input.get());
    m_input->data = nullptr;
    m_input->size = 0;
    if (sent < 0) {
        LW_LOG_WARN("Transcoder: MJPEG decode send failed (%d)", sent);
        return;
    }
    for (;;) {
        const int received = avcodec_receive_frame(m_decoder.get(), m_decoded.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0) {
            LW_LOG_WARN("Transcoder: MJPEG decode failed (%d)", received);
            break;
        }
        encodePicture(*m_decoded, PendingTimes {frame.ptsUs, frame.wallMs});
        av_frame_unref(m_decoded.get());
    }
}

bool Transcoder::ensureScaler(const AVFrame& decoded)
{
    if (m_scaler && decoded.width == m_scalerWidth && decoded.height == m_scalerHeight &&
        decoded.format == m_scalerFormat)
        return true;
    m_scaler.reset(sws_getContext(decoded.width, decoded.height, static_cast<AVPixelFormat>(decoded.format), m_width,
                                  m_height, static_cast<AVPixelFormat>(m_software->format), SWS_BILINEAR, nullptr,
                                  nullptr, nullptr));
    if (!m_scaler) {
        m_scalerFormat = -1;
        return false;
    }
    if (decoded.width != m_width || decoded.height != m_height) {
        LW_LOG_INFO("Transcoder: camera pictures are %dx%d, scaling them to %dx%d", decoded.width, decoded.height,
                    m_width, m_height);
    }
    m_scalerWidth = decoded.width;
    m_scalerHeight = decoded.height;
    m_scalerFormat = decoded.format;
    return true;
}

void Transcoder::encodePicture(const AVFrame& decoded, const PendingTimes& times)
{
    if (!ensureScaler(decoded)) {
        LW_LOG_ERROR("Transcoder: sws_getContext failed");
        return;
    }
    // The encoder may still hold the last picture; never write into it.
    if (av_frame_make_writable(m_software.get()) < 0) {
        LW_LOG_ERROR("Transcoder: av_frame_make_writable failed");
        return;
    }
    sws_scale(m_scaler.get(), decoded.data, decoded.linesize, 0, decoded.height, m_software->data,
              m_software->linesize);
    m_software->pts = m_frameCounter++;

    AVFrame* toEncode = m_software.get();
    AvFramePtr surface;
    if (m_isVaapi) {
        surface.reset(av_frame_alloc());
        if (!surface || av_hwframe_get_buffer(m_hwFrames.get(), surface.get(), 0) < 0) {
            LW_LOG_ERROR("Transcoder: av_hwframe_get_buffer failed");
            return;
        }
        if (av_hwframe_transfer_data(surface.get(), m_software.get(), 0) < 0) {
            LW_LOG_ERROR("Transcoder: av_hwframe_transfer_data failed");
            return;
        }
        surface->pts = m_software->pts;
        toEncode = surface.get();
    }

    m_pending.push_back(times);
    if (avcodec_send_frame(m_encoder.get(), toEncode) < 0) {
        m_pending.pop_back();
        return;
    }
    drainEncoder();
}

void Transcoder::drainEncoder()
{
    while (avcodec_receive_packet(m_encoder.get(), m_output.get()) == 0) {
        PendingTimes times;
        if (!m_pending.empty()) {
            times = m_pending.front();
            m_pending.pop_front();
        }
        EncodedFrame frame;
        frame.data.assign(m_output->data, m_output->data + m_output->size);
        frame.ptsUs = times.ptsUs;
        frame.wallMs = times.wallMs;
        frame.keyframe = (m_output->flags & AV_PKT_FLAG_KEY) != 0;
        frame.seq = 0;
        av_packet_unref(m_output.get());
        if (frame.keyframe) {
            AnnexBScan scan = scanAnnexB(frame.data.data(), frame.data.size());
            if (!scan.parameterSets.empty()) {
                std::lock_guard lock(m_configMutex);
                m_codecConfig = std::move(scan.parameterSets);
            }
        }
        if (m_onFrame)
            m_onFrame(std::move(frame));
    }
}

void Transcoder::stop()
{
    if (!m_running.exchange(false)) {
        releaseAll();
        return;
    }
    if (m_encoder && avcodec_send_frame(m_encoder.get(), nullptr) >= 0)
        drainEncoder();
    releaseAll();
    m_pending.clear();
    m_isVaapi = false;
    m_frameCounter = 0;
    m_onFrame = nullptr;
    std::lock_guard lock(m_configMutex);
    m_codecConfig.clear();
}

void Transcoder::releaseAll()
{
    m_software.reset();
    m_decoded.reset();
    m_input.reset();
    m_output.reset();
    m_scaler.reset();
    m_scalerWidth = 0;
    m_scalerHeight = 0;
    m_scalerFormat = -1;
    m_encoder.reset();
    m_decoder.reset();
    m_hwFrames.reset();
    m_hwDevice.reset();
}

}  // namespace lagwell
