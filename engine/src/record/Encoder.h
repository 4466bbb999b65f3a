#pragma once

// The record area turns the composite picture into files: `Encoder` makes
// H.264 access units from bottom-up RGBA pictures, `AudioCapture` reads the
// microphone on a thread of its own, and `Mp4Writer` puts H.264 and AAC
// samples into an MP4 file. The encoder has no thread and no lock: its owner
// calls it from one thread at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lagwell {

class Encoder {
public:
    struct Config {
        int32_t width = 0;   // picture size in pixels; odd sizes are encoded one pixel smaller
        int32_t height = 0;
        int32_t fps = 30;    // frame rate fps/1; below 1 means 30
        int64_t bitRate = 0;  // target bits per second
        int32_t gopSize = 30;  // keyframe interval in frames
        bool lowLatency = false;  // zero-latency tuning (libx264)
    };

    // One encoded access unit, exactly as the encoder produced it.
    struct EncodedAU {
        std::vector<uint8_t> data;  // Annex-B; keyframes carry SPS and PPS in-band
        bool keyframe = false;
        int64_t ptsUs = 0;  // the time given to encodeFrame
    };

    using AuCallback = std::function<void(const EncodedAU&)>;

    Encoder();
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Closes whatever was open, then tries "h264_vaapi", "h264_nvenc",
    // "h264_v4l2m2m" and "libx264" in that order and keeps the first that
    // opens. A hardware candidate that failed once is not tried again in
    // this process (any thread). On failure the encoder is closed and
    // `error` names every candidate with its reason; on success `error` is
    // left untouched.
    bool open(const Config& config, std::string* error = nullptr);

    // Encodes one picture whose rows run bottom-up (`strideBytes` apart, at
    // least width x 4) and hands every finished access unit to `onAU`. The
    // encoded picture is upright. A failure loses only this picture.
    bool encodeFrame(const uint8_t* rgba, int32_t strideBytes, int64_t ptsUs, const AuCallback& onAU,
                     std::string* error = nullptr);

    // Signals end of stream and delivers the remaining access units. Calling
    // it again is harmless.
    bool flush(const AuCallback& onAU, std::string* error = nullptr);

    // Frees everything and forgets the name and codecConfig.
    void close();

    bool isOpen() const;

    // The candidate that opened; empty while closed.
    const std::string& name() const { return m_name; }

    // SPS and PPS (with their start codes) of the first keyframe that had
    // any; empty until then and after close().
    const std::vector<uint8_t>& codecConfig() const { return m_codecConfig; }

    // The encoded picture size: the configured size rounded down to even
    // numbers (4:2:0 needs whole chroma samples). 0 while closed.
    int32_t width() const;
    int32_t height() const;

private:
    struct Impl;

    bool drainAndDeliver(const AuCallback& onAU, std::string* error);

    std::unique_ptr<Impl> m_impl;
    std::string m_name;
    std::vector<uint8_t> m_codecConfig;
};

}  // namespace lagwell
