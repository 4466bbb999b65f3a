#pragma once

// Helpers shared by the capture tests: real JPEG and H.264 payloads made with
// the libraries, decoding H.264 back, and catching the engine's log lines.

#include "EngineTypes.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lagwell::test {

// A test-pattern picture compressed by TurboJPEG (4:2:0).
std::vector<uint8_t> makeJpeg(int width, int height, int64_t frameIndex, int quality = 80);

// A picture of one colour below a 16-row band of noise (which keeps the JPEG
// above the capture's 2048-byte floor), compressed by TurboJPEG (4:2:0).
std::vector<uint8_t> makeColourJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b);

// `count` H.264 access units from libx264 (Annex-B, one per picture, no
// B-frames, parameter sets before every IDR, IDR every `gopSize`).
std::vector<std::vector<uint8_t>> makeH264(int width, int height, int count, int gopSize);

struct DecodedPicture {
    int width = 0;
    int height = 0;
    bool keyframe = false;
};
// Decodes Annex-B access units with libavcodec's H.264 decoder, flushing at
// the end; one entry per picture out.
std::vector<DecodedPicture> decodeH264(const std::vector<std::vector<uint8_t>>& accessUnits);

// Collects frames from a capture thread; a test waits for a count.
class FrameCollector {
public:
    std::function<void(EncodedFrame&&)> callback();
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<EncodedFrame> frames();

private:
    std::mutex m_mutex;  // guards: m_frames
    std::condition_variable m_changed;
    std::vector<EncodedFrame> m_frames;
};

// Everything written to standard error while it lives (log lines included).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    // Ends the capture (once) and returns the text.
    const std::string& text();
    // Lines containing `needle`.
    int count(const std::string& needle);

private:
    bool m_capturing = true;
    std::string m_text;
};

}  // namespace lagwell::test
