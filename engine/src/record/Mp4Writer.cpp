#include "Mp4Writer.h"

#include "AnnexB.h"
#include "FfmpegError.h"
#include "Log.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace lagwell {
namespace {

constexpr int kPaddingBytes = AV_INPUT_BUFFER_PADDING_SIZE;
constexpr AVRational kVideoTimeBase {1, 1000000};
constexpr uint8_t kFallbackProfile[3] = {66, 0, 31};

int64_t steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

Mp4Writer::Mp4Writer() = default;

Mp4Writer::~Mp4Writer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    abandonLocked();
}

std::vector<uint8_t> Mp4Writer::sampleFromAnnexB(const std::vector<uint8_t>& au)
{
    std::vector<uint8_t> sample;
    sample.reserve(au.size() + 8);
    for (const AnnexBNal& nal : splitAnnexB(au)) {
        if (nal.type == kNalTypeSps || nal.type == kNalTypePps)
            continue;
        const size_t payload = nal.start + nal.startCodeBytes;
        const size_t length = nal.end > payload ? nal.end - payload : 0;
        appendBigEndian(sample, static_cast<uint32_t>(length), 4);
        sample.insert(sample.end(), au.begin() + payload, au.begin() + payload + length);
    }
    return sample;
}

std::vector<uint8_t> Mp4Writer::buildAvcC(const std::vector<uint8_t>& codecConfig)
{
    std::vector<std::vector<uint8_t>> spsList;
    std::vector<std::vector<uint8_t>> ppsList;
    for (const AnnexBNal& nal : splitAnnexB(codecConfig)) {
        const size_t payload = nal.start + nal.startCodeBytes;
        if (nal.end <= payload)
            continue;
        std::vector<uint8_t> unit(codecConfig.begin() + payload, codecConfig.begin() + nal.end);
        if (nal.type == kNalTypeSps)
            spsList.push_back(std::move(unit));
        else if (nal.type == kNalTypePps)
            ppsList.push_back(std::move(unit));
    }

    // Counts and lengths are limited by the record's field widths.
    const size_t spsCount = std::min<size_t>(spsList.size(), 31);
    const size_t ppsCount = std::min<size_t>(ppsList.size(), 255);

    std::vector<uint8_t> record;
    record.push_back(1);
    if (!spsList.empty() && spsList[0].size() > 3) {
        record.insert(record.end(), spsList[0].begin() + 1, spsList[0].begin() + 4);
    } else {
        record.insert(record.end(), std::begin(kFallbackProfile), std::end(kFallbackProfile));
    }
    record.push_back(0xFF);
    record.push_back(static_cast<uint8_t>(0xE0 | spsCount));
    for (size_t i = 0; i < spsCount; ++i) {
        const size_t length = std::min<size_t>(spsList[i].size(), 0xFFFF);
        appendBigEndian(record, static_cast<uint32_t>(length), 2);
        record.insert(record.end(), spsList[i].begin(), spsList[i].begin() + length);
    }
    record.push_back(static_cast<uint8_t>(ppsCount));
    for (size_t i = 0; i < ppsCount; ++i) {
        const size_t length = std::min<size_t>(ppsList[i].size(), 0xFFFF);
        appendBigEndian(record, static_cast<uint32_t>(length), 2);
        record.insert(record.end(), ppsList[i].begin(), ppsList[i].begin() + length);
    }
    return record;
}

bool Mp4Writer::open(const std::string& path, int32_t width, int32_t height, std::string* error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    abandonLocked();
    resetLocked();
    m_firstError.clear();
    m_path = path;
    m_width = width;
    m_height = height;

    AVFormatContext* raw = nullptr;
    const int allocRc = avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str());
    AvOutputFormatContextPtr output(raw);
    if (allocRc < 0 || !output) {
        if (error)
            *error = "Could not create the MP4 container (" + ffmpegError(allocRc < 0 ? allocRc : AVERROR(ENOMEM)) + ").";
        return false;
    }
    const int openRc = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (openRc < 0) {
        if (error)
            *error = "Could not open '" + path + "' for writing (" + ffmpegError(openRc) + ").";
        return false;
    }
    m_output = std::move(output);
    return true;
}

void Mp4Writer::expectAudio(int32_t sampleRate)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sampleRate > 0)
        m_audioSampleRate = sampleRate;
    if (!m_headerWritten)
        m_noAudioWait = false;
}

void Mp4Writer::onVideoAu(const Encoder::EncodedAU& au, const std::vector<uint8_t>& codecConfig)
{
    std::vector<uint8_t> sample = sampleFromAnnexB(au.data);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_output)
        return;
    if (!m_videoReady && !codecConfig.empty()) {
        m_videoReady = true;
        m_videoReadyMs = steadyNowMs();
        createVideoStreamLocked(codecConfig);
        maybeStartMuxerLocked();
    }
    writeOrBufferLocked(true, std::move(sample), au.ptsUs, au.ptsUs, au.keyframe);
}

void Mp4Writer::onAudioPacket(const AVPacket& packet, const AVCodecContext& aac)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_output)
        return;
    if (!m_audioSeen) {
        m_audioSeen = true;
        if (!m_headerWritten && !m_audioStream) {
            AVStream* stream = avformat_new_stream(m_output.get(), nullptr);
            if (!stream) {
                keepErrorLocked("Could not add the audio track to the recording.");
            } else {
                const int rc = avcodec_parameters_from_context(stream->codecpar, &aac);
                if (rc < 0) {
                    keepErrorLocked("Could not add the audio track to the recording (" + ffmpegError(rc) + ").");
                } else {
                    stream->time_base = AVRational {1, aac.sample_rate > 0 ? aac.sample_rate : m_audioSampleRate};
                    m_audioStream = stream;
                }
            }
            if (!m_audioStream) {
                // A stream left without parameters would make the header fail.
                m_noAudioWait = true;
            }
            maybeStartMuxerLocked();
        }
    }

    if (m_headerWritten && !m_audioStream)
        return;
    if (!packet.data || packet.size <= 0)
        return;

    if (m_headerWritten) {
        writePacketNowLocked(false, packet.data, static_cast<size_t>(packet.size), packet.pts, false);
        return;
    }
    if (m_pendingBytes + static_cast<uint64_t>(packet.size) > kMaxPendingBytes)
        return;
    PendingPacket pending;
    pending.isVideo = false;
    pending.data.assign(packet.data, packet.data + packet.size);
    pending.pts = packet.pts;
    pending.sortUs = packet.pts * 1000000 / m_audioSampleRate;
    m_pendingBytes += static_cast<uint64_t>(packet.size);
    m_pending.push_back(std::move(pending));
}

void Mp4Writer::checkLateAudio()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_headerWritten || m_noAudioWait || m_audioSeen || !m_videoStream)
        return;
    if (steadyNowMs() - m_videoReadyMs < kLateAudioMs)
        return;
    m_noAudioWait = true;
    maybeStartMuxerLocked();
}

void Mp4Writer::keepError(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    keepErrorLocked(message);
}

bool Mp4Writer::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_output)
        return false;

    if (!m_headerWritten) {
        m_noAudioWait = true;
        maybeStartMuxerLocked();
    }
    const bool hasHeader = m_headerWritten;
    if (hasHeader) {
        const int rc = av_write_trailer(m_output.get());
        if (rc < 0)
            keepErrorLocked("Could not finalise the recording (" + ffmpegError(rc) + ").");
    }
    m_output.reset();
    if (!hasHeader)
        std::remove(m_path.c_str());
    resetLocked();
    return hasHeader;
}

std::string Mp4Writer::firstError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_firstError;
}

bool Mp4Writer::headerWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_headerWritten;
}

bool Mp4Writer::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output != nullptr;
}

int64_t Mp4Writer::videoSamplesWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoWritten;
}

int64_t Mp4Writer::audioSamplesWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_audioWritten;
}

void Mp4Writer::resetLocked()
{
    m_output.reset();
    m_videoStream = nullptr;
    m_audioStream = nullptr;
    m_headerWritten = false;
    m_videoReady = false;
    m_audioSeen = false;
    m_noAudioWait = true;
    m_videoReadyMs = 0;
    m_audioSampleRate = 48000;
    m_pending.clear();
    m_pendingBytes = 0;
    m_lastVideoDts = INT64_MIN;
    m_lastAudioDts = INT64_MIN;
    m_videoNeedsKeyframe = true;
    m_bufferVideoGap = false;
}

void Mp4Writer::abandonLocked()
{
    if (!m_output)
        return;
    const bool hasHeader = m_headerWritten;
    m_output.reset();
    if (!hasHeader)
        std::remove(m_path.c_str());
    resetLocked();
}

void Mp4Writer::keepErrorLocked(const std::string& message)
{
    if (m_firstError.empty())
        m_firstError = message;
    else
        LW_LOG_WARN("Mp4Writer: %s", message.c_str());
}

void Mp4Writer::createVideoStreamLocked(const std::vector<uint8_t>& codecConfig)
{
    if (m_videoStream || !m_output)
        return;
    AVStream* stream = avformat_new_stream(m_output.get(), nullptr);
    if (!stream) {
        keepErrorLocked("Could not add the video track to the recording.");
        return;
    }
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_H264;
    stream->codecpar->width = m_width;
    stream->codecpar->height = m_height;
    stream->time_base = kVideoTimeBase;

    const std::vector<uint8_t> record = buildAvcC(codecConfig);
    auto* extradata = static_cast<uint8_t*>(av_mallocz(record.size() + kPaddingBytes));
    if (!extradata) {
        keepErrorLocked("Out of memory writing a sample.");
    } else {
        std::memcpy(extradata, record.data(), record.size());
        stream->codecpar->extradata = extradata;
        stream->codecpar->extradata_size = static_cast<int>(record.size());
    }
    m_videoStream = stream;
}

void Mp4Writer::maybeStartMuxerLocked()
{
    if (m_headerWritten || !m_output || !m_videoStream || (!m_audioStream && !m_noAudioWait))
        return;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int rc = avformat_write_header(m_output.get(), &options);
    av_dict_free(&options);
    if (rc < 0) {
        keepErrorLocked("Could not write the recording header (" + ffmpegError(rc) + ").");
        return;
    }
    m_headerWritten = true;
    flushPendingLocked();
}

void Mp4Writer::writeOrBufferLocked(bool isVideo, std::vector<uint8_t> data, int64_t pts, int64_t sortUs,
                                    bool keyframe)
{
    if (m_headerWritten) {
        writePacketNowLocked(isVideo, data.data(), data.size(), pts, keyframe);
        return;
    }
    if (isVideo && m_bufferVideoGap) {
        if (!keyframe)
            return;
        m_bufferVideoGap = false;
    }
    if (m_pendingBytes + data.size() > kMaxPendingBytes) {
        // A missing video sample breaks every picture up to the next keyframe.
        if (isVideo)
            m_bufferVideoGap = true;
        return;
    }
    m_pendingBytes += data.size();
    m_pending.push_back(PendingPacket {isVideo, std::move(data), pts, sortUs, keyframe});
}

void Mp4Writer::flushPendingLocked()
{
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [](const PendingPacket& a, const PendingPacket& b) { return a.sortUs < b.sortUs; });
    for (const PendingPacket& packet : m_pending)
        writePacketNowLocked(packet.isVideo, packet.data.data(), packet.data.size(), packet.pts, packet.keyframe);
    m_pending.clear();
    m_pendingBytes = 0;
    if (m_bufferVideoGap) {
        m_videoNeedsKeyframe = true;
        m_bufferVideoGap = false;
    }
}

void Mp4Writer::writePacketNowLocked(bool isVideo, const uint8_t* bytes, size_t size, int64_t pts, bool keyframe)
{
    AVStream* stream = isVideo ? m_videoStream : m_audioStream;
    if (!stream || !m_output)
        return;
    if (isVideo && m_videoNeedsKeyframe && !keyframe)
        return;

    const AVRational sourceTimeBase = isVideo ? kVideoTimeBase : AVRational {1, m_audioSampleRate};
    const int64_t dts = av_rescale_q(pts, sourceTimeBase, stream->time_base);
    int64_t& lastDts = isVideo ? m_lastVideoDts : m_lastAudioDts;
    if (dts <= lastDts) {
        // The muxer needs strictly increasing decoding times per track: drop
        // the sample (and, for video, everything up to the next keyframe)
        // rather than fail the rest of the recording.
        LW_LOG_WARN("Mp4Writer: dropped a %s sample at %lld (not after %lld)", isVideo ? "video" : "audio",
                    static_cast<long long>(dts), static_cast<long long>(lastDts));
        if (isVideo)
            m_videoNeedsKeyframe = true;
        return;
    }

    AvPacketPtr packet(av_packet_alloc());
    auto* buffer = static_cast<uint8_t*>(av_malloc(size + kPaddingBytes));
    if (!packet || !buffer) {
        av_free(buffer);
        keepErrorLocked("Out of memory writing a sample.");
        return;
    }
    std::memcpy(buffer, bytes, size);
    std::memset(buffer + size, 0, kPaddingBytes);
    const int fromDataRc = av_packet_from_data(packet.get(), buffer, static_cast<int>(size));
    if (fromDataRc < 0) {
        av_free(buffer);
        keepErrorLocked("Could not prepare a sample for writing (" + ffmpegError(fromDataRc) + ").");
        return;
    }
    packet->stream_index = stream->index;
    packet->pts = dts;
    packet->dts = dts;
    if (keyframe)
        packet->flags |= AV_PKT_FLAG_KEY;

    const int rc = av_interleaved_write_frame(m_output.get(), packet.get());
    if (rc < 0) {
        keepErrorLocked("Could not write a sample to the recording (" + ffmpegError(rc) + ").");
        return;
    }
    lastDts = dts;
    if (isVideo) {
        m_videoNeedsKeyframe = false;
        ++m_videoWritten;
    } else {
        ++m_audioWritten;
    }
}

}  // namespace lagwell
