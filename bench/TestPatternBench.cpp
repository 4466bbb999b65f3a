// Test-pattern cost per frame (draw + JPEG) at the capture sizes, and the
// delivered rate over three seconds at 30 fps.

#include "TestPatternSource.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main()
{
    using Clock = std::chrono::steady_clock;
    const int sizes[][2] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
    for (const auto& size : sizes) {
        std::vector<uint8_t> rgb(static_cast<size_t>(size[0]) * size[1] * 3);
        const int frames = 60;
        const auto start = Clock::now();
        for (int i = 0; i < frames; ++i)
            lagwell::TestPatternSource::drawTestPattern(rgb.data(), size[0], size[1], 1, i, 30);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
        std::printf("draw %dx%d: %.2f ms/frame\n", size[0], size[1], ms);
    }

    for (const auto& size : sizes) {
        lagwell::TestPatternSource source;
        std::atomic<int> delivered {0};
        std::atomic<size_t> bytes {0};
        lagwell::CaptureRequest request;
        request.deviceId = "test";
        request.width = size[0];
        request.height = size[1];
        request.fps = 30;
        source.start(request, [&](lagwell::EncodedFrame&& f) {
            delivered.fetch_add(1);
            bytes.fetch_add(f.data.size());
        }, nullptr);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double fps = source.measuredFps();
        source.stop();
        std::printf("deliver %dx%d @30: %.1f fps measured, %d frames, %.0f KiB/frame\n", size[0], size[1], fps,
                    delivered.load(), delivered ? bytes.load() / 1024.0 / delivered.load() : 0.0);
    }
    return 0;
}
