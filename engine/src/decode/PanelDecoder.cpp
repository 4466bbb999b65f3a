#include "PanelDecoder.h"

#include "Log.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

// Locks: the ring lock, the wait lock and the output buffer's lock are each
// taken alone, never two at once.

namespace lagwell {
namespace {

std::atomic<int> g_threadCounter {0};

int64_t systemWallClockUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Milliseconds rounded down, also before the epoch.
int64_t floorMs(int64_t us)
{
    return us >= 0 ? us / 1000 : -((-us + 999) / 1000);
}

// get_format callback: the wanted hardware format when offered, else
// libavcodec's own default choice (the list may open with hardware formats
// that have no device behind them, so its first entry is not it).
AVPixelFormat negotiateHwPixelFormat(AVCodecContext* context, const AVPixelFormat* offered)
{
    if (!offered || *offered == AV_PIX_FMT_NONE)
        return AV_PIX_FMT_NONE;
    if (context->opaque) {
        const int wanted = *static_cast<const int*>(context->opaque);
        for (const AVPixelFormat* format = offered; *format != AV_PIX_FMT_NONE; ++format) {
            if (*format == wanted)
                return *format;
        }
    }
    return avcodec_default_get_format(context, offered);
}

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Copies `rows` rows of `rowBytes` from a strided source into a packed plane.
void copyRows(const uint8_t* src, int srcStride, uint8_t* dst, size_t rowBytes, int rows)
{
    for (int row = 0; row < rows; ++row)
        std::memcpy(dst + row * rowBytes, src + static_cast<ptrdiff_t>(row) * srcStride, rowBytes);
}

}  // namespace

PanelDecoder::PanelDecoder(std::shared_ptr<FrameRing> ring, TripleBuffer& out, WallClockMs wallClockMs)
    : m_ring(std::move(ring)),
      m_out(out),
      m_wallClockMs(std::move(wallClockMs))
{
}

PanelDecoder::~PanelDecoder()
{
    stop();
}

void PanelDecoder::setHardwareDecoder(std::string name)
{
    m_hardwareName = std::move(name);
}

void PanelDecoder::start()
{
    if (m_running.exchange(true))
        return;
    try {
        m_thread = std::thread(&PanelDecoder::decodeLoop, this);
    } catch (const std::system_error& e) {
        m_running.store(false);
        LW_LOG_ERROR("PanelDecoder: could not start the decode thread (%s)", e.what());
    }
}

void PanelDecoder::stop()
{
    if (!m_running.exchange(false))
        return;
    {
        std::lock_guard lock(m_waitMutex);
        m_wakePending = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void PanelDecoder::setDelayMs(int32_t delayMs)
{
    m_delayMs.store(delayMs);
    {
        std::lock_guard lock(m_waitMutex);
        m_wakePending = true;
    }
    m_wake.notify_one();
}

void PanelDecoder::setRing(std::shared_ptr<FrameRing> ring)
{
    {
        std::lock_guard lock(m_ringMutex);
        m_ring = std::move(ring);
        m_ringChanged = true;
    }
    {
        std::lock_guard lock(m_waitMutex);
        m_wakePending = true;
    }
    m_wake.notify_one();
}

int64_t PanelDecoder::wallNowUs() const
{
    return m_wallClockMs ? m_wallClockMs() * 1000 : systemWallClockUs();
}

std::chrono::microseconds PanelDecoder::untilDue(int64_t wallMs, int64_t delayMs) const
{
    constexpr int64_t kDayMs = 86'400'000;  // bounds a nonsense wall time, so nothing overflows
    const int64_t nowUs = wallNowUs();
    const int64_t nowMs = floorMs(nowUs);
    const int64_t aheadMs = std::clamp<int64_t>(wallMs - (nowMs - delayMs), -kDayMs, kDayMs);
    return std::chrono::microseconds(aheadMs * 1000 - (nowUs - nowMs * 1000));
}

void PanelDecoder::waitUntil(SteadyClock::time_point deadline)
{
    if (deadline <= SteadyClock::now())
        return;
    bool woken = false;
    {
        std::unique_lock lock(m_waitMutex);
        woken = m_wake.wait_until(lock, deadline, [this] { return m_wakePending || !m_running.load(); });
        m_wakePending = false;
    }
    if (!woken)
        m_lead.recordWakeLateness(std::chrono::duration_cast<DecodeLead::Duration>(SteadyClock::now() - deadline));
}

void PanelDecoder::decodeLoop()
{
    char name[16];
    std::snprintf(name, sizeof name, "tvx-dec%d", g_threadCounter.fetch_add(1) % 10000);
    pthread_setname_np(pthread_self(), name);

    auto meterStart = SteadyClock::now();
    int meterCount = 0;
    uint64_t publishedTotal = 0;

    while (m_running.load()) {
        std::shared_ptr<FrameRing> ring;
        bool ringChanged = false;
        {
            std::lock_guard lock(m_ringMutex);
            ring = m_ring;
            ringChanged = m_ringChanged;
            m_ringChanged = false;
        }
        if (ringChanged) {
            releaseDecoders();
            m_nextSeq = -1;
            m_seekDelayMs = kNoSeek;
            m_parameterSets.clear();
            m_sizeRefusalLogged = false;
            m_streamHasBPictures = false;
            m_held.clear();
            m_lead.clear();
        }
        if (!ring || ring->count() == 0) {
            waitUntil(SteadyClock::now() + std::chrono::milliseconds(kIdleWaitMs));
            continue;
        }

        const PassResult pass = decodePass(*ring);
        meterCount += pass.decoded;
        publishedTotal += static_cast<uint64_t>(pass.decoded);

        const auto now = SteadyClock::now();
        const int64_t elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now - meterStart).count();
        if (elapsedNs > kMeterWindowNs) {
            m_decodesPerSecond.store(meterCount * 1e9 / static_cast<double>(elapsedNs));
            meterStart = now;
            meterCount = 0;
        }
        waitUntil(pass.wakeAt);
    }
    // A held picture was never shown: a restart seeks back to it.
    if (!m_held.empty())
        m_nextSeq = -1;
    m_held.clear();
    releaseDecoders();
    m_pictures.clear();
    m_frame = {};
    LW_LOG_INFO("PanelDecoder: decode thread stopped on request after %llu pictures",
                static_cast<unsigned long long>(publishedTotal));
}

PanelDecoder::PassResult PanelDecoder::decodePass(const FrameRing& ring)
{
    const int64_t delayMs = m_delayMs.load();
    int64_t targetMs = floorMs(wallNowUs()) - delayMs;
    const int64_t oldestMs = ring.oldestWallMs();
    // A delay longer than the buffer shows the oldest frame, which moves
    // with the ring's evictions, not with the clock: that state is polled.
    const bool atOldest = oldestMs != 0 && targetMs < oldestMs;
    if (atOldest)
        targetMs = oldestMs;
    const bool isH264 = ring.fourcc() == kFourccH264;

    if (isH264) {
        std::vector<uint8_t> config = ring.codecConfig();
        if (!config.empty())
            m_parameterSets = std::move(config);
    }

    // Metadata look-ups only: payloads are copied just for frames that get decoded.
    bool evicted = false;
    if (m_nextSeq >= 0 && !ring.infoBySequence(static_cast<uint64_t>(m_nextSeq))) {
        const auto newest = ring.newestInfo();
        evicted = newest && newest->seq >= static_cast<uint64_t>(m_nextSeq);
    }
    const bool seek = m_nextSeq < 0 || m_seekDelayMs == kNoSeek ||
                      std::llabs(delayMs - m_seekDelayMs) > kSeekThresholdMs || evicted;
    if (seek) {
        if (const auto keyframe = ring.keyframeInfoAtOrBefore(targetMs)) {
            if (isH264) {
                if (m_codec && m_nextSeq >= 0)
                    avcodec_flush_buffers(m_codec.get());
                m_pending.clear();
            }
            m_nextSeq = static_cast<int64_t>(keyframe->seq);
            m_seekDelayMs = delayMs;
            m_held.clear();
        }
    }

    m_targetMs = targetMs;
    handOverDue(targetMs);

    PassResult result;
    std::optional<SteadyClock::time_point> decodeAheadAt;
    for (int i = 0; i < kMaxDecodesPerPass; ++i) {
        const auto info = m_nextSeq >= 0 ? ring.infoBySequence(static_cast<uint64_t>(m_nextSeq)) : std::nullopt;
        if (!info)
            break;
        if (info->wallMs > targetMs) {
            // Not due yet: one frame is decoded ahead, once its decode has
            // to start.
            if (atOldest || !m_held.empty())
                break;
            const auto untilStart = untilDue(info->wallMs, delayMs) - m_lead.lead();
            if (untilStart > DecodeLead::Duration::zero()) {
                decodeAheadAt = SteadyClock::now() + untilStart;
                break;
            }
        }
        if (isH264 && m_awaitingKeyframe && !info->keyframe) {
            ++m_nextSeq;  // refers to data the decoder lost; not even copied
            continue;
        }
        if (!ring.copyBySequence(info->seq, m_frame))
            break;  // evicted since the look-up; the next pass resynchronises
        m_sentWallMs = info->wallMs;
        const auto decodeStart = SteadyClock::now();
        const bool ok = isH264 ? decodeH264Frame(m_frame) : decodeMjpegFrame(m_frame);
        m_lead.recordDecode(std::chrono::duration_cast<DecodeLead::Duration>(SteadyClock::now() - decodeStart));
        if (ok)
            ++result.decoded;
        ++m_nextSeq;
    }

    // Sleep until the held picture is due, else until the next decode has
    // to start; poll while the next frame has not arrived, while the panel
    // shows the oldest frame and between the batches of a catch-up.
    const auto now = SteadyClock::now();
    if (!atOldest && !m_held.empty())
        result.wakeAt = now + untilDue(m_held.front().dueWallMs, delayMs);
    else if (!atOldest && decodeAheadAt)
        result.wakeAt = *decodeAheadAt;
    else
        result.wakeAt = now + std::chrono::milliseconds(kPassWaitMs);
    result.wakeAt = std::min(result.wakeAt, now + std::chrono::milliseconds(kMaxSleepMs));
    return result;
}

void PanelDecoder::handOverDue(int64_t targetMs)
{
    std::shared_ptr<DecodedFrame> due;
    while (!m_held.empty() && m_held.front().dueWallMs <= targetMs) {
        due = std::move(m_held.front().picture);
        m_held.pop_front();
    }
    if (due)
        m_out.publish(std::move(due));
}

void PanelDecoder::releaseDecoders()
{
    releaseH264Decoder();
    m_awaitingKeyframe = false;
    m_scaler.reset();
    m_scalerFormat = -1;
    m_jpegDecoder.release();
}

void PanelDecoder::releaseH264Decoder()
{
    m_avFrame.reset();
    m_downloadFrame.reset();
    m_codec.reset();
    m_hwPixelFormat = -1;
    m_declaredReorder = -1;
    m_pending.clear();
}

void PanelDecoder::dropH264AfterError()
{
    releaseH264Decoder();
    m_awaitingKeyframe = true;
}

bool PanelDecoder::pictureSizeAllowed(int64_t width, int64_t height)
{
    const bool allowed = width <= kMaxPictureDimension && height <= kMaxPictureDimension;
    if (!allowed && !m_sizeRefusalLogged) {
        m_sizeRefusalLogged = true;
        LW_LOG_WARN("PanelDecoder: refusing a %lldx%lld picture (limit %dx%d); such frames are skipped",
                    static_cast<long long>(width), static_cast<long long>(height), kMaxPictureDimension,
                    kMaxPictureDimension);
    }
    return allowed;
}

void PanelDecoder::publishPicture(int64_t wallMs, uint64_t seq)
{
    std::shared_ptr<DecodedFrame> picture = m_pictures.take();
    picture->wallMs = wallMs;
    picture->seq = seq;
    picture->rotationDeg = 0;
    // A picture the H.264 decoder gives out late (reordering) waits for the
    // frame just sent, as it would have without decoding ahead.
    m_held.push_back(HeldPicture {std::move(picture), std::max(wallMs, m_sentWallMs)});
    if (m_held.size() > kMaxHeldPictures)
        m_held.pop_front();
    handOverDue(m_targetMs);
}

bool PanelDecoder::decodeMjpegFrame(const EncodedFrame& frame)
{
    if (!m_jpegDecoder.decode(frame.data, m_pictures,
                              [this](int64_t width, int64_t height) { return pictureSizeAllowed(width, height); }))
        return false;
    publishPicture(frame.wallMs, frame.seq);
    return true;
}

AvCodecContextPtr PanelDecoder::openHardwareH264Decoder()
{
    const std::string& name = m_hardwareName;
    if (name == "v4l2m2m") {
        const AVCodec* decoder = avcodec_find_decoder_by_name("h264_v4l2m2m");
        if (!decoder) {
            m_hardwareFailed = true;  // not built into this FFmpeg: software, quietly
            return {};
        }
        AvCodecContextPtr context(avcodec_alloc_context3(decoder));
        if (!context)
            return {};
        const int rc = avcodec_open2(context.get(), decoder, nullptr);
        if (rc == 0)
            return context;
        m_hardwareFailed = true;
        LW_LOG_WARN("PanelDecoder: the %s H.264 decoder failed to open, falling back to software H.264 (%s)",
                    name.c_str(), avErrorText(rc).c_str());
        return {};
    }

    AVHWDeviceType deviceType = AV_HWDEVICE_TYPE_NONE;
    AVPixelFormat hardwareFormat = AV_PIX_FMT_NONE;
    if (name == "vaapi") {
        deviceType = AV_HWDEVICE_TYPE_VAAPI;
        hardwareFormat = AV_PIX_FMT_VAAPI;
    } else if (name == "cuda") {
        deviceType = AV_HWDEVICE_TYPE_CUDA;
        hardwareFormat = AV_PIX_FMT_CUDA;
    } else {
        m_hardwareFailed = true;  // unknown name: software
        return {};
    }
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!decoder)
        return {};
    AvCodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context)
        return {};
    AVBufferRef* device = nullptr;
    if (av_hwdevice_ctx_create(&device, deviceType, nullptr, nullptr, 0) < 0) {
        m_hardwareFailed = true;
        LW_LOG_WARN("PanelDecoder: failed to create a %s hw device, falling back to software H.264", name.c_str());
        return {};
    }
    context->hw_device_ctx = device;  // the context owns the reference now
    m_hwPixelFormat = hardwareFormat;
    context->opaque = &m_hwPixelFormat;
    context->get_format = negotiateHwPixelFormat;
    context->max_pixels = static_cast<int64_t>(kMaxPictureDimension) * kMaxPictureDimension;
    const int rc = avcodec_open2(context.get(), decoder, nullptr);
    if (rc == 0)
        return context;
    m_hwPixelFormat = -1;
    m_hardwareFailed = true;
    LW_LOG_WARN("PanelDecoder: the %s H.264 decoder failed to open, falling back to software H.264 (%s)",
                name.c_str(), avErrorText(rc).c_str());
    return {};
}

AvCodecContextPtr PanelDecoder::openSoftwareH264Decoder()
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!decoder)
        return {};
    AvCodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context)
        return {};
    context->max_pixels = static_cast<int64_t>(kMaxPictureDimension) * kMaxPictureDimension;
    if (avcodec_open2(context.get(), decoder, nullptr) != 0)
        return {};  // the next frame tries again
    return context;
}

bool PanelDecoder::ensureH264Decoder()
{
    if (m_codec)
        return true;
    m_hwPixelFormat = -1;
    AvCodecContextPtr context;
    if (!m_hardwareFailed && !m_hardwareName.empty())
        context = openHardwareH264Decoder();
    if (!context) {
        m_hwPixelFormat = -1;
        context = openSoftwareH264Decoder();
        if (!context)
            return false;
    }
    m_codec = std::move(context);
    m_avFrame.reset(av_frame_alloc());
    m_downloadFrame.reset(av_frame_alloc());
    if (!m_avFrame || !m_downloadFrame) {
        releaseDecoders();
        return false;
    }
    return true;
}

std::optional<PanelDecoder::PendingTimes> PanelDecoder::takePendingTimes(int64_t pts, const EncodedFrame* sent)
{
    // Packets carry their ring number as pts, so a picture finds its own
    // times even when the decoder swallowed packets without a picture.
    if (pts != AV_NOPTS_VALUE) {
        for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
            if (static_cast<int64_t>(it->seq) == pts) {
                const PendingTimes times = *it;
                m_pending.erase(it);
                return times;
            }
        }
    }
    if (m_pending.empty()) {
        if (!sent)
            return std::nullopt;
        return PendingTimes {sent->wallMs, sent->seq};
    }
    const PendingTimes times = m_pending.front();
    m_pending.pop_front();
    return times;
}

bool PanelDecoder::h264HoldsBackTooMuch() const
{
    // Without B pictures nothing needs reordering; only a depth the SPS
    // itself declares is kept.
    return m_codec && !m_streamHasBPictures && m_codec->has_b_frames > std::max(m_declaredReorder, 0);
}

bool PanelDecoder::decodeH264Frame(const EncodedFrame& frame)
{
    // After a decode error a picture that refers to the lost data would show
    // the wrong content: nothing goes in until the next keyframe.
    if (m_awaitingKeyframe && !frame.keyframe)
        return false;
    int published = 0;
    // libavcodec guesses the reorder depth of a stream whose SPS does not
    // state it and only ever raises the guess within a context; pictures
    // that claim a wrong place raise it for good. A stream without B
    // pictures needs none: a fresh context at the keyframe drops the guess.
    if (frame.keyframe && h264HoldsBackTooMuch())
        published += drainH264Decoder();
    if (!ensureH264Decoder())
        return published > 0;
    // An empty packet would put the decoder into draining mode for good; a
    // frame lost this way breaks the pictures that refer to it.
    if (frame.data.empty()) {
        LW_LOG_WARN_LIMITED(m_emptyWarnings, "PanelDecoder: empty H264 frame %llu; waiting for the next keyframe",
                            static_cast<unsigned long long>(frame.seq));
        dropH264AfterError();
        return published > 0;
    }
    const bool withParameterSets = frame.keyframe && !m_parameterSets.empty();
    const size_t prefixBytes = withParameterSets ? m_parameterSets.size() : 0;
    const size_t packetBytes = prefixBytes + frame.data.size();
    AvPacketPtr packet(av_packet_alloc());
    if (packetBytes > static_cast<size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) || !packet ||
        av_new_packet(packet.get(), static_cast<int>(packetBytes)) < 0) {
        dropH264AfterError();
        return published > 0;
    }
    if (withParameterSets)
        std::memcpy(packet->data, m_parameterSets.data(), prefixBytes);
    std::memcpy(packet->data + prefixBytes, frame.data.data(), frame.data.size());
    packet->pts = static_cast<int64_t>(frame.seq & static_cast<uint64_t>(INT64_MAX));
    if (frame.keyframe)
        packet->flags |= AV_PKT_FLAG_KEY;

    m_pending.push_back(PendingTimes {frame.wallMs, frame.seq});
    while (m_pending.size() > kMaxPendingPackets)
        m_pending.pop_front();
    const int sent = avcodec_send_packet(m_codec.get(), packet.get());
    if (sent < 0) {
        LW_LOG_WARN_LIMITED(m_sendWarnings, "PanelDecoder: H264 decode send failed (%d)", sent);
        dropH264AfterError();
        return published > 0;
    }
    m_awaitingKeyframe = false;
    if (m_declaredReorder < 0)
        m_declaredReorder = m_codec->has_b_frames;

    bool damaged = false;
    published += receiveH264Pictures(&frame, &damaged);
    if (damaged) {
        LW_LOG_WARN_LIMITED(m_damagedWarnings,
                            "PanelDecoder: H264 picture with decode errors dropped (frame %llu); waiting for the next "
                            "keyframe",
                            static_cast<unsigned long long>(frame.seq));
        dropH264AfterError();
    }
    return published > 0;
}

int PanelDecoder::receiveH264Pictures(const EncodedFrame* sent, bool* damaged)
{
    int published = 0;
    AVFrame* decoded = m_avFrame.get();
    AVFrame* download = m_downloadFrame.get();
    while (avcodec_receive_frame(m_codec.get(), decoded) == 0) {
        // Once one picture is damaged, later ones may refer to it.
        if (*damaged || decoded->decode_error_flags != 0 || (decoded->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
            *damaged = true;
            av_frame_unref(decoded);
            continue;
        }
        if (decoded->pict_type == AV_PICTURE_TYPE_B)
            m_streamHasBPictures = true;
        const std::optional<PendingTimes> times = takePendingTimes(decoded->pts, sent);
        const AVFrame* picture = decoded;
        if (times && m_hwPixelFormat >= 0 && decoded->format == m_hwPixelFormat) {
            if (av_hwframe_transfer_data(download, decoded, 0) < 0) {
                LW_LOG_WARN_LIMITED(m_transferWarnings, "PanelDecoder: av_hwframe_transfer_data failed");
                picture = nullptr;
            } else {
                picture = download;
            }
        }
        if (times && picture && publishAvFrame(picture, times->wallMs, times->seq))
            ++published;
        av_frame_unref(decoded);
        av_frame_unref(download);
    }
    return published;
}

int PanelDecoder::drainH264Decoder()
{
    int published = 0;
    if (m_codec && avcodec_send_packet(m_codec.get(), nullptr) == 0) {
        bool damaged = false;
        published = receiveH264Pictures(nullptr, &damaged);
    }
    releaseH264Decoder();
    return published;
}

bool PanelDecoder::publishAvFrame(const AVFrame* source, int64_t wallMs, uint64_t seq)
{
    const int width = source->width;
    const int height = source->height;
    if (width < 1 || height < 1)
        return false;
    if (!pictureSizeAllowed(width, height))
        return false;
    const size_t chromaWidth = (static_cast<size_t>(width) + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    const auto format = static_cast<AVPixelFormat>(source->format);

    if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
        DecodedFrame& picture = m_pictures.prepare(DecodedFrame::Layout::I420, width, height);
        copyRows(source->data[0], source->linesize[0], picture.planes[0].data(), width, height);
        copyRows(source->data[1], source->linesize[1], picture.planes[1].data(), chromaWidth, chromaHeight);
        copyRows(source->data[2], source->linesize[2], picture.planes[2].data(), chromaWidth, chromaHeight);
    } else if (format == AV_PIX_FMT_NV12) {
        DecodedFrame& picture = m_pictures.prepare(DecodedFrame::Layout::NV12, width, height);
        copyRows(source->data[0], source->linesize[0], picture.planes[0].data(), width, height);
        copyRows(source->data[1], source->linesize[1], picture.planes[1].data(), 2 * chromaWidth, chromaHeight);
    } else {
        if (!m_scaler || m_scalerWidth != width || m_scalerHeight != height || m_scalerFormat != format) {
            m_scaler.reset(sws_getContext(width, height, format, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                          nullptr, nullptr, nullptr));
            m_scalerFormat = m_scaler ? static_cast<int>(format) : -1;
            m_scalerWidth = width;
            m_scalerHeight = height;
            if (!m_scaler)
                return false;
        }
        DecodedFrame& picture = m_pictures.prepare(DecodedFrame::Layout::I420, width, height);
        uint8_t* out[4] = {picture.planes[0].data(), picture.planes[1].data(), picture.planes[2].data(),
                           nullptr};
        const int strides[4] = {picture.strides[0], picture.strides[1], picture.strides[2], 0};
        if (sws_scale(m_scaler.get(), source->data, source->linesize, 0, height, out, strides) <= 0)
            return false;
    }
    publishPicture(wallMs, seq);
    return true;
}

}  // namespace lagwell
