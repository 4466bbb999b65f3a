#pragma once

// One camera of a session: its source, the transcoder the source may feed,
// the replay buffer its frames go to, and what restarting it needs. The
// engine keeps one per camera under its session lock. start, restart and
// release start or join a capture thread, whose handlers may call back into
// the engine: they run with no engine lock held, on the controlling thread or
// on the recovery thread (which the controlling thread joins before it
// touches a slot). The other operations only read.

#include "EngineTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lagwell {

class CaptureSource;
class FrameRing;
class Transcoder;
class V4l2Io;

class CameraSlot {
public:
    enum class Restart {
        StillAway,    // the source would not start
        SameStream,   // frames flow into the same ring again
        OtherStream,  // another format or size: stopped again; the camera needs a new slot
    };

    CameraSlot();
    ~CameraSlot();  // release()
    CameraSlot(CameraSlot&& other) noexcept;
    // Releases what this slot held, then takes the other's parts.
    CameraSlot& operator=(CameraSlot&& other) noexcept;
    CameraSlot(const CameraSlot&) = delete;
    CameraSlot& operator=(const CameraSlot&) = delete;

    // Builds the camera of `request` into this empty slot and starts it: the
    // test pattern for the ids "test" and "test:<n>", else V4L2 through
    // `v4l2` (the kernel's when null); with capabilities.useH264Transcode an
    // MJPEG camera's frames are re-encoded to H.264 before the ring (or stored
    // as they come when the transcoder fails to start). onLost runs on the
    // capture thread when the camera goes away. False with the source's
    // sentence in `error`; the slot stays empty.
    bool start(const CaptureRequest& request, int64_t windowMs, const Capabilities& capabilities, V4l2Io* v4l2,
               std::function<void()> onLost, std::string* error);

    // True when the slot has a source that stopped by itself (camera lost).
    bool hasStopped() const;

    // Starts the stopped source again with its request. Its frames are held
    // back until it is known to deliver the stream it had before.
    Restart restart();

    // Stops the source, then the transcoder it feeds, and frees the slot;
    // decoders that hold the ring keep it, frozen. Harmless when empty.
    void release();

    const std::shared_ptr<FrameRing>& ring() const { return m_ring; }
    // As the source was started (a transcoded camera is asked for MJPEG).
    const CaptureRequest& request() const { return m_request; }
    double measuredFps() const;

private:
    std::unique_ptr<CaptureSource> m_source;
    std::unique_ptr<Transcoder> m_transcoder;
    std::shared_ptr<FrameRing> m_ring;
    CaptureRequest m_request;
    std::function<void(EncodedFrame&&)> m_onFrame;
    // Read by the frame callback on the capture thread; cleared while a
    // restarted source's stream is checked.
    std::shared_ptr<std::atomic<bool>> m_delivering;
    // The stream the source negotiated when the slot was started.
    uint32_t m_fourcc = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
};

}  // namespace lagwell
