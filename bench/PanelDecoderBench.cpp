// Panel decoder cost against the bare codec. One ring is fed by the
// test-pattern camera at 30 fps (1280x720, then 1920x1080); 1, 2 and 4
// panels follow it at different delays. Per panel: frames decoded, the
// decode thread's CPU time and its CPU time per frame; then a bare TurboJPEG
// loop decodes the same frames into the same planes as the baseline, and the
// ratio of the two is printed (target: at most 1.1). A second baseline runs
// the same bare decode paced at 30 fps on its own thread beside the panels,
// so it pays the same cold caches and wake-ups as a panel does.

#include "PanelBenchSupport.h"

#include "FrameRing.h"
#include "PanelDecoder.h"
#include "TestPatternSource.h"
#include "TripleBuffer.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::bareTurboJpegMs;
using bench::PacedBaseline;
using bench::threadCpuNs;
using bench::wallNowMs;

// CPU milliseconds per second a decoder spends polling a ring that has
// nothing new for it (its 8 ms passes and wake-ups).
double idlePollCpuMsPerSecond()
{
    auto ring = std::make_shared<lagwell::FrameRing>(10000);
    lagwell::EncodedFrame frame;
    frame.data.assign(64, 0);
    frame.wallMs = wallNowMs() - 100000;  // long past, and not a JPEG: nothing decodes
    frame.keyframe = true;
    ring->add(std::move(frame));
    lagwell::TripleBuffer out;
    lagwell::PanelDecoder decoder(ring, out);
    const int tid = bench::startDecoderAndFindThread(decoder);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t start = threadCpuNs(tid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const uint64_t end = threadCpuNs(tid);
    decoder.stop();
    return (end - start) / 1e6 / 3.0;
}

struct Panel {
    int32_t delayMs = 0;
    lagwell::TripleBuffer out;
    std::unique_ptr<lagwell::PanelDecoder> decoder;
    int tid = 0;
};

void run(int width, int height, int panelCount, double pollMsPerSecond)
{
    auto ring = std::make_shared<lagwell::FrameRing>(10000);
    bench::KeptFrames kept;  // the frames, for the baseline
    lagwell::TestPatternSource camera;
    bench::feedRingFromTestPattern(camera, ring, width, height, kept, nullptr);

    // Enough history for the longest delay.
    const int32_t delays[] = {0, 500, 1000, 1500};
    while (ring->count() == 0 || ring->oldestWallMs() > wallNowMs() - 1700)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::vector<std::unique_ptr<Panel>> panels;
    for (int i = 0; i < panelCount; ++i) {
        auto panel = std::make_unique<Panel>();
        panel->delayMs = delays[i];
        panel->decoder = std::make_unique<lagwell::PanelDecoder>(ring, panel->out);
        panel->decoder->setDelayMs(panel->delayMs);
        panel->tid = bench::startDecoderAndFindThread(*panel->decoder);
        panels.push_back(std::move(panel));
    }

    std::vector<std::vector<uint8_t>> frames = bench::keptFrames(kept);
    PacedBaseline paced(frames, width, height);

    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // seek and catch up
    std::vector<uint64_t> cpuStart;
    std::vector<uint64_t> seqStart;
    for (auto& panel : panels) {
        cpuStart.push_back(threadCpuNs(panel->tid));
        const auto picture = panel->out.acquire();
        seqStart.push_back(picture ? picture->seq : 0);
    }
    const double seconds = 4.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::vector<uint64_t> cpuEnd;
    std::vector<uint64_t> seqEnd;
    for (auto& panel : panels) {
        cpuEnd.push_back(threadCpuNs(panel->tid));
        const auto picture = panel->out.acquire();
        seqEnd.push_back(picture ? picture->seq : 0);
    }
    const double fps = camera.measuredFps();
    const double pacedMs = paced.stopAndReportMs();
    for (auto& panel : panels)
        panel->decoder->stop();
    camera.stop();

    frames = bench::keptFrames(kept);
    const double baselineMs = bareTurboJpegMs(frames, width, height);

    std::printf("%dx%d, %d panel(s), camera %.1f fps; bare TurboJPEG over %zu of its frames: tight loop %.3f "
                "ms/frame, paced at 30 fps %.3f ms/frame\n",
                width, height, panelCount, fps, frames.size(), baselineMs, pacedMs);
    for (size_t i = 0; i < panels.size(); ++i) {
        const uint64_t decoded = seqEnd[i] - seqStart[i];
        const double cpuMs = (cpuEnd[i] - cpuStart[i]) / 1e6;
        const double perFrameMs = decoded ? cpuMs / decoded : 0.0;
        const double netPerFrameMs = decoded ? (cpuMs - pollMsPerSecond * seconds) / decoded : 0.0;
        std::printf("  panel %zu delay %4d ms: %3llu frames in %.1f s, thread CPU %7.1f ms, %.3f ms/frame, "
                    "ratio %.3f to the tight loop, %.3f to the paced one; without idle polling %.3f ms/frame, "
                    "ratios %.3f and %.3f\n",
                    i, panels[i]->delayMs, static_cast<unsigned long long>(decoded), seconds, cpuMs, perFrameMs,
                    baselineMs > 0 ? perFrameMs / baselineMs : 0.0, pacedMs > 0 ? perFrameMs / pacedMs : 0.0,
                    netPerFrameMs, baselineMs > 0 ? netPerFrameMs / baselineMs : 0.0,
                    pacedMs > 0 ? netPerFrameMs / pacedMs : 0.0);
    }
}

}  // namespace

int main()
{
    const double pollMsPerSecond = idlePollCpuMsPerSecond();
    std::printf("idle decoder (8 ms passes, nothing to decode): %.2f ms CPU per second\n", pollMsPerSecond);
    const int sizes[][2] = {{1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        for (int panels : {1, 2, 4})
            run(size[0], size[1], panels, pollMsPerSecond);
    }
    return 0;
}
