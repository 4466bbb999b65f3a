#pragma once

// A camera on Video4Linux2: discovery of the capture nodes (static
// enumerate/resolveDevice) and a CaptureSource streaming MJPEG or H.264 from
// memory-mapped buffers on a capture thread of its own ("tvx-cap"). All
// system calls go through a V4l2Io seam; the default is the kernel.

#include "CaptureSource.h"
#include "V4l2Io.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {

class UvcCapture final : public CaptureSource {
public:
    struct MappedBuffer {
        void* start = nullptr;  // nullptr or MAP_FAILED = not mapped
        size_t length = 0;
    };

    UvcCapture();
    // `io` must outlive the capture.
    explicit UvcCapture(V4l2Io& io);
    ~UvcCapture() override;

    UvcCapture(const UvcCapture&) = delete;
    UvcCapture& operator=(const UvcCapture&) = delete;

    // Every streaming capture node under /dev with its discrete sizes and
    // whole frame rates, in path order. Never fails; problems are logged.
    // Two capture nodes sharing one bus-info (a colour and an infrared camera
    // on one USB device) keep distinct ids: the second and later ones get
    // "#2", "#3"... appended to their busInfo, which resolveDevice understands.
    static std::vector<CameraInfo> enumerate();
    static std::vector<CameraInfo> enumerate(V4l2Io& io);

    // The node to open for a camera id (a path, a bus-info, or a bus-info
    // with the "#n" suffix enumerate gives). Never fails: an unknown id comes
    // back unchanged.
    static std::string resolveDevice(const std::string& id);
    static std::string resolveDevice(V4l2Io& io, const std::string& id);

    bool start(const CaptureRequest& request, std::function<void(EncodedFrame&&)> onFrame,
               std::string* error) override;
    void stop() override;

    bool isRunning() const override { return m_running.load(); }
    double measuredFps() const override { return m_measuredFps.load(); }
    int64_t lastFrameWallMs() const override { return m_lastFrameWallMs.load(); }
    int negotiatedWidth() const override { return m_width.load(); }
    int negotiatedHeight() const override { return m_height.load(); }
    uint32_t negotiatedFourcc() const override { return m_fourcc.load(); }
    std::vector<uint8_t> codecConfig() const override;
    void setLostHandler(std::function<void()> onLost) override { m_onLost = std::move(onLost); }

private:
    bool negotiateFormat(int fd, const CaptureRequest& request, std::string* error);
    bool requestAndMapBuffers(int fd, std::string* error);
    void handleH264Payload(const uint8_t* data, size_t size, bool* keyframe);
    void captureLoop();

    // Stops streaming, unmaps and frees the buffers and closes the device.
    // Controlling thread, capture thread joined.
    void releaseDevice();
    void unmapBuffers();
    // Sleeps up to `ms`, waking early when the running flag clears.
    void backOff(int ms) const;
    void reportLost(const char* reason);

    V4l2Io& m_io;
    int m_fd = -1;  // -1 = no device open; owned by the controlling thread, read by the capture thread
    std::vector<MappedBuffer> m_buffers;  // at the driver's buffer index; fixed while streaming
    std::thread m_thread;  // joinable after the loop ended by itself (camera lost)
    std::atomic<bool> m_running {false};
    // Installed before the thread starts and dropped after it is joined, so
    // the capture thread reads them without a lock.
    std::function<void(EncodedFrame&&)> m_onFrame;
    std::function<void()> m_onLost;
    std::atomic<uint32_t> m_fourcc {0};
    std::atomic<int32_t> m_width {0};
    std::atomic<int32_t> m_height {0};
    std::atomic<double> m_measuredFps {0.0};
    std::atomic<int64_t> m_lastFrameWallMs {0};  // 0 = no frame since start
    int64_t m_baseTimestampUs = -1;  // capture thread only (start resets); -1 = not taken yet
    int64_t m_baseWallMs = 0;        // capture thread only; system clock at the first frame

    mutable std::mutex m_configMutex;  // guards: m_codecConfig
    std::vector<uint8_t> m_codecConfig;  // SPS and PPS last seen, with start codes
};

}  // namespace lagwell
