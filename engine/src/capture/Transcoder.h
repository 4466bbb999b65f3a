#pragma once

// Re-encodes a camera's MJPEG stream to H.264 on the caller's thread: feed()
// decodes one JPEG, scales it to the stream size, encodes it and hands every
// access unit that is ready to the output callback before it returns. Each
// output carries the capture times of the JPEG it came from. Software
// encoders take YUV420P; a VAAPI encoder ("h264_vaapi") gets NV12 uploaded
// into a fresh surface of /dev/dri/renderD128 per picture.

#include "CHandles.h"
#include "EngineTypes.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lagwell {

class Transcoder {
public:
    Transcoder() = default;
    // Stops (flushing into the callback), then drops the callback.
    ~Transcoder();

    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    // Opens the MJPEG decoder and the named H.264 encoder for width x height
    // at `fps` (below 1 means 30; one keyframe per second). On false nothing
    // stays allocated and `error` holds the reason. Engine thread, camera
    // stopped.
    bool start(uint32_t fourcc, int32_t width, int32_t height, int32_t fps, const std::string& encoderName,
               std::function<void(EncodedFrame&&)> onFrame, std::string* error);

    // Transcodes one JPEG; ignored unless running. Capture thread; calls the
    // callback on this thread, no lock held. A JPEG the decoder rejects is
    // logged and produces nothing.
    void feed(const EncodedFrame& frame);

    // Flushes the encoder (remaining access units reach the callback on this
    // thread) and frees everything. Harmless when stopped.
    void stop();

    bool isRunning() const { return m_running.load(); }

    // SPS and PPS (with start codes) of the latest keyframe that carried
    // them; any thread.
    std::vector<uint8_t> codecConfig() const;

private:
    struct PendingTimes {
        int64_t ptsUs = 0;
        int64_t wallMs = 0;
    };

    static bool ensureHwFramesContext(AVCodecContext* encoder, int32_t width, int32_t height,
                                      AvBufferRefPtr* device, AvBufferRefPtr* frames, std::string* error);
    // Encodes one decoded picture with the capture times of its JPEG.
    void encodePicture(const AVFrame& decoded, const PendingTimes& times);
    bool ensureScaler(const AVFrame& decoded);
    void drainEncoder();
    void releaseAll();

    // All below but the configuration: start/stop on the engine thread, feed
    // on the capture thread, never at the same time.
    AvCodecContextPtr m_decoder;
    AvCodecContextPtr m_encoder;
    SwsContextPtr m_scaler;  // made at the first picture, remade when the picture geometry changes
    int m_scalerWidth = 0;   // source geometry m_scaler was made for
    int m_scalerHeight = 0;
    int m_scalerFormat = -1;
    AvBufferRefPtr m_hwDevice;  // VAAPI only
    AvBufferRefPtr m_hwFrames;  // VAAPI only: pool of surfaces, one taken per picture
    AvFramePtr m_decoded;
    AvFramePtr m_software;  // NV12 (VAAPI) or the encoder's format, 32-byte aligned
    AvPacketPtr m_input;    // points at the JPEG bytes during feed, never owns them
    AvPacketPtr m_output;
    bool m_isVaapi = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_fps = 30;
    int64_t m_frameCounter = 0;  // pts of the next picture, in frames
    // Capture times of pictures inside the encoder, in sending order (no
    // B-frames, so packets leave in the same order). Bounded by the
    // encoder's own delay.
    std::deque<PendingTimes> m_pending;
    std::function<void(EncodedFrame&&)> m_onFrame;
    std::atomic<bool> m_running {false};

    mutable std::mutex m_configMutex;  // guards: m_codecConfig
    std::vector<uint8_t> m_codecConfig;
};

}  // namespace lagwell
