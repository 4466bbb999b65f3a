#pragma once

// Writes one recording's H.264 and AAC samples into an MP4 file through
// libavformat's "mp4" muxer, with the movie index moved to the front when the
// file is finished. The video track needs the encoder's parameter sets and
// the audio track the AAC encoder's first packet, so samples are held (up to
// 16 MiB) until the header can be written, then written in time order.
// Every public operation takes the writer's lock; the owner calls video from
// its worker and audio from the microphone's thread. Lock order for owners:
// any lock of theirs before this one (the writer calls nothing back).

#include "CHandles.h"
#include "Encoder.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace lagwell {

class Mp4Writer {
public:
    static constexpr uint64_t kMaxPendingBytes = 16777216;
    // The header stops waiting for audio this long after the video track exists.
    static constexpr int64_t kLateAudioMs = 1500;

    Mp4Writer();
    // Frees an unfinished recording's handles; a file without header is deleted.
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Starts a recording: resets all state (dropping an unfinished earlier
    // one), creates the "mp4" output and opens `path` for writing. `width` and
    // `height` are the encoded picture size. The header is written later, so
    // until expectAudio() the recording is video only.
    bool open(const std::string& path, int32_t width, int32_t height, std::string* error = nullptr);

    // The AAC encoder is open: the header now waits (up to kLateAudioMs after
    // the video track) for the audio track. `sampleRate` is the audio time base.
    void expectAudio(int32_t sampleRate);

    // One encoded access unit (Annex-B). `codecConfig` is the encoder's SPS
    // and PPS; the video track is created from it once it is not empty.
    void onVideoAu(const Encoder::EncodedAU& au, const std::vector<uint8_t>& codecConfig);

    // One AAC packet (pts in samples). `aac` is the encoder that made it; its
    // parameters and global header describe the audio track.
    void onAudioPacket(const AVPacket& packet, const AVCodecContext& aac);

    // The late-audio rule; the owner calls it regularly (after each picture).
    void checkLateAudio();

    // Keeps `message` as the recording's error unless one is kept already.
    void keepError(const std::string& message);

    // Ends the recording: tries the header a last time, writes the trailer,
    // closes the file, and deletes it when no header was ever written.
    // Returns whether the file has a header (true also when a later error was
    // kept; see firstError()).
    bool finish();

    // The first error of the recording; empty when there was none.
    std::string firstError() const;
    bool headerWritten() const;
    bool isOpen() const;

    // Counts of samples written into the file, per track.
    int64_t videoSamplesWritten() const;
    int64_t audioSamplesWritten() const;

    // Exposed for tests: an access unit as an MP4 sample (4-byte lengths,
    // parameter sets left out) and the avcC record built from a codecConfig.
    static std::vector<uint8_t> sampleFromAnnexB(const std::vector<uint8_t>& au);
    static std::vector<uint8_t> buildAvcC(const std::vector<uint8_t>& codecConfig);

private:
    struct PendingPacket {
        bool isVideo = false;
        std::vector<uint8_t> data;
        int64_t pts = 0;     // microseconds for video, samples for audio
        int64_t sortUs = 0;  // microseconds
        bool keyframe = false;
    };

    void resetLocked();
    void keepErrorLocked(const std::string& message);
    void createVideoStreamLocked(const std::vector<uint8_t>& codecConfig);
    void maybeStartMuxerLocked();
    void writeOrBufferLocked(bool isVideo, std::vector<uint8_t> data, int64_t pts, int64_t sortUs, bool keyframe);
    void flushPendingLocked();
    void writePacketNowLocked(bool isVideo, const uint8_t* bytes, size_t size, int64_t pts, bool keyframe);
    void abandonLocked();

    mutable std::mutex m_mutex;
    // guards: everything below
    std::string m_path;
    int32_t m_width = 0;
    int32_t m_height = 0;
    AvOutputFormatContextPtr m_output;  // null when no recording is open
    AVStream* m_videoStream = nullptr;  // owned by m_output; null until the parameter sets are known
    AVStream* m_audioStream = nullptr;  // owned by m_output; null until the first AAC packet
    bool m_headerWritten = false;
    bool m_videoReady = false;
    bool m_audioSeen = false;
    bool m_noAudioWait = true;
    int64_t m_videoReadyMs = 0;  // steady clock
    int32_t m_audioSampleRate = 48000;
    std::vector<PendingPacket> m_pending;
    uint64_t m_pendingBytes = 0;
    // Decoding times last written, in each track's time base; INT64_MIN = none yet.
    int64_t m_lastVideoDts = INT64_MIN;
    int64_t m_lastAudioDts = INT64_MIN;
    // After a dropped video sample, later ones are dropped up to the next keyframe.
    bool m_videoNeedsKeyframe = true;
    // A held video sample was dropped: hold no more until the next keyframe.
    bool m_bufferVideoGap = false;
    int64_t m_videoWritten = 0;
    int64_t m_audioWritten = 0;
    std::string m_firstError;
};

}  // namespace lagwell
