#pragma once

#include "CaptureSource.h"

#include <atomic>
#include <functional>
#include <thread>

namespace lagwell {

// The synthetic camera: colour bars, a moving square and three lines of text,
// compressed to JPEG and delivered like an MJPEG camera at the requested rate.
// The camera number after "test:" changes the bars, square colour and speed.
class TestPatternSource final : public CaptureSource {
public:
    TestPatternSource() = default;
    ~TestPatternSource() override;

    TestPatternSource(const TestPatternSource&) = delete;
    TestPatternSource& operator=(const TestPatternSource&) = delete;

    // Fails only when already running.
    bool start(const CaptureRequest& request, std::function<void(EncodedFrame&&)> onFrame,
               std::string* error) override;
    void stop() override;

    bool isRunning() const override { return m_running.load(); }
    double measuredFps() const override { return m_measuredFps.load(); }
    int64_t lastFrameWallMs() const override { return m_lastFrameWallMs.load(); }
    int negotiatedWidth() const override { return m_width.load(); }
    int negotiatedHeight() const override { return m_height.load(); }
    uint32_t negotiatedFourcc() const override { return m_fourcc.load(); }
    std::vector<uint8_t> codecConfig() const override { return {}; }
    // Stored, never called: a synthetic source cannot disappear.
    void setLostHandler(std::function<void()> onLost) override { m_onLost = std::move(onLost); }

    // Camera number from an id: the text after the first ':' read like
    // std::stoi; 1 when absent, unreadable, out of range or below 1.
    static int cameraNumberFromId(const std::string& deviceId);

    // Draws frame `frameIndex` of camera `camera` into an RGB buffer of
    // width x height x 3 bytes, rows top-down. Exposed for tests.
    static void drawTestPattern(uint8_t* rgb, int width, int height, int camera, int64_t frameIndex, int fps);

private:
    void generateLoop(CaptureRequest request, int camera);

    std::thread m_thread;  // start/stop only; joinable after the loop ended by itself
    std::atomic<bool> m_running {false};
    // Installed before the thread starts and dropped after it is joined, so
    // the thread reads it without a lock.
    std::function<void(EncodedFrame&&)> m_onFrame;
    std::function<void()> m_onLost;
    std::atomic<int> m_width {0};
    std::atomic<int> m_height {0};
    std::atomic<uint32_t> m_fourcc {0};
    std::atomic<double> m_measuredFps {0.0};   // generator thread writes
    std::atomic<int64_t> m_lastFrameWallMs {0};  // generator thread writes; 0 = no frame yet
};

}  // namespace lagwell
