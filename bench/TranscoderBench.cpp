// Transcoding cost per camera frame (MJPEG decode, scale, libx264 encode) at
// the capture sizes, and the probe's JPEG decode figure on this machine.

#include "CapabilityProbe.h"
#include "Transcoder.h"
#include "TestPatternSource.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

std::vector<uint8_t> jpegOf(int width, int height, int64_t index)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    lagwell::TestPatternSource::drawTestPattern(rgb.data(), width, height, 1, index, 30);
    lagwell::TjHandlePtr handle(tjInitCompress());
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 80,
                TJFLAG_FASTDCT);
    lagwell::TjBufferPtr owner(jpeg);
    return jpeg ? std::vector<uint8_t>(jpeg, jpeg + size) : std::vector<uint8_t>();
}

}  // namespace

int main()
{
    using Clock = std::chrono::steady_clock;
    std::printf("CPU decode of the 1280x720 benchmark JPEG: %.2f ms\n", lagwell::CapabilityProbe::measureCpuDecodeMs());

    const int sizes[][2] = {{1280, 720}, {1920, 1080}};
    const int frames = 90;
    for (const auto& size : sizes) {
        std::vector<lagwell::EncodedFrame> inputs(frames);
        for (int i = 0; i < frames; ++i) {
            inputs[static_cast<size_t>(i)].data = jpegOf(size[0], size[1], i);
            inputs[static_cast<size_t>(i)].ptsUs = i * 33'333;
        }
        size_t outputs = 0;
        size_t bytes = 0;
        lagwell::Transcoder transcoder;
        std::string error;
        if (!transcoder.start(lagwell::kFourccMjpeg, size[0], size[1], 30, "libx264",
                              [&](lagwell::EncodedFrame&& frame) {
                                  ++outputs;
                                  bytes += frame.data.size();
                              },
                              &error)) {
            std::printf("transcoder %dx%d: %s\n", size[0], size[1], error.c_str());
            continue;
        }
        const auto start = Clock::now();
        for (const auto& input : inputs)
            transcoder.feed(input);
        transcoder.stop();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("transcode %dx%d: %.2f ms/frame (%.1f fps), %zu access units, %.1f kB each\n", size[0], size[1],
                    ms / frames, frames * 1000.0 / ms, outputs, outputs ? bytes / 1024.0 / outputs : 0.0);
    }
    return 0;
}
