#pragma once

// Camera sources: a source owns one capture thread while it runs and hands
// every compressed picture to a callback. Implemented by UvcCapture (V4L2)
// and TestPatternSource (synthetic).

#include "EngineTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lagwell {

class CaptureSource {
public:
    // Stops the source first: destroying a running source joins its thread
    // and releases the device.
    virtual ~CaptureSource() = default;

    // Opens the source, settles the format and starts the capture thread.
    // True when frames will flow. On false nothing is left running and `error`
    // (when given) holds one sentence; a running source refuses with
    // "Capture already running". `onFrame` runs on the capture thread, no lock
    // of the source held, once per picture in capture order; it may move the
    // payload out. Callable again after a loss without stop(): the ended
    // capture is released first. Never concurrent with stop().
    virtual bool start(const CaptureRequest& request, std::function<void(EncodedFrame&&)> onFrame,
                       std::string* error) = 0;

    // Clears the running flag, joins the thread, releases the device and drops
    // onFrame. Harmless when idle and when called twice.
    virtual void stop() = 0;

    // Atomic reads, callable from any thread.
    virtual bool isRunning() const = 0;
    virtual double measuredFps() const = 0;        // 0 until measured and after stop()
    virtual int64_t lastFrameWallMs() const = 0;   // 0 until the first frame of a start
    virtual int negotiatedWidth() const = 0;
    virtual int negotiatedHeight() const = 0;
    virtual uint32_t negotiatedFourcc() const = 0;

    // H.264 parameter sets seen so far, each with its start code; empty for
    // MJPEG. Any thread, including from inside onFrame.
    virtual std::vector<uint8_t> codecConfig() const = 0;

    // Called on the capture thread, once, when the device goes away, after the
    // running flag is cleared. Install before start(); must not call stop().
    virtual void setLostHandler(std::function<void()> onLost) = 0;
};

}  // namespace lagwell
