// When delayed panels show their pictures. The test-pattern camera feeds one
// ring at 1920x1080, 30 fps; four panels follow it at 2 s and 5 s; a render
// thread ticks at 60 Hz and takes each panel's freshest picture, as the
// renderer does. At every tick the picture shown is compared with the ideal
// one: the newest frame in the ring whose wall time is at or before now minus
// the delay. Printed per delay and overall:
//   - lag: (now - delay) - the picture's wallMs, p50 and p99, for the shown
//     picture and for the ideal one, and the difference of the two p99s;
//   - excess: per tick, the ideal picture's wallMs - the shown one's, p99
//     (goal: at most 5 ms), mean and max;
//   - behind: ticks where the panel shows an older picture than the ideal
//     (goal: at most 2 %), and how long the ideal had been due at those
//     ticks (p50, max); ahead: ticks where it shows a picture not yet due
//     (must be 0);
//   - decode cost: the decode thread's CPU time per picture against a bare
//     TurboJPEG decode of the same frames paced at 30 fps on its own thread
//     beside the panels;
//   - wake-ups: the decode thread's voluntary context switches per picture.

#include "PanelBenchSupport.h"

#include "FrameRing.h"
#include "PanelDecoder.h"
#include "TestPatternSource.h"
#include "TripleBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
using bench::PacedBaseline;
using bench::threadCpuNs;
using bench::wallNowMs;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPanelCount = 4;
constexpr int32_t kDelaysMs[kPanelCount] = {2000, 5000, 2000, 5000};
constexpr double kMeasureSeconds = 20.0;
constexpr auto kTick = std::chrono::microseconds(16667);

// Times the thread blocked of its own accord (sleeps, waits): its wake-ups.
uint64_t threadWakeUps(int tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::strtoull(line.c_str() + 24, nullptr, 10);
    }
    return 0;
}

struct Panel {
    int32_t delayMs = 0;
    lagwell::TripleBuffer out;
    std::unique_ptr<lagwell::PanelDecoder> decoder;
    int tid = 0;
    // Per render tick, milliseconds.
    std::vector<int64_t> shownLag;
    std::vector<int64_t> idealLag;
    std::vector<int64_t> excess;
    std::vector<int64_t> dueFor;  // behind ticks: how long the ideal had been due
    int behind = 0;
    int ahead = 0;
    int ticks = 0;
};

double percentile(std::vector<int64_t> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5));
    return static_cast<double>(values[at]);
}

struct Lags {
    std::vector<int64_t> shown;
    std::vector<int64_t> ideal;
    std::vector<int64_t> excess;
    std::vector<int64_t> dueFor;
    int behind = 0;
    int ahead = 0;
    int ticks = 0;

    void add(const Panel& panel)
    {
        shown.insert(shown.end(), panel.shownLag.begin(), panel.shownLag.end());
        ideal.insert(ideal.end(), panel.idealLag.begin(), panel.idealLag.end());
        excess.insert(excess.end(), panel.excess.begin(), panel.excess.end());
        dueFor.insert(dueFor.end(), panel.dueFor.begin(), panel.dueFor.end());
        behind += panel.behind;
        ahead += panel.ahead;
        ticks += panel.ticks;
    }

    void print(const char* label) const
    {
        const double shownP99 = percentile(shown, 99);
        const double idealP99 = percentile(ideal, 99);
        double excessSum = 0.0;
        for (int64_t ms : excess)
            excessSum += static_cast<double>(ms);
        std::printf("  %-13s %5d ticks: lag shown p50 %4.1f p99 %4.1f ms, ideal p50 %4.1f p99 %4.1f ms "
                    "(p99s differ by %4.1f ms); excess p99 %4.1f ms, mean %4.2f ms, max %.0f ms; behind %5.2f %% (the ideal due for p50 %.0f, max %.0f ms); "
                    "ahead %d\n",
                    label, ticks, percentile(shown, 50), shownP99, percentile(ideal, 50), idealP99,
                    shownP99 - idealP99, percentile(excess, 99), excess.empty() ? 0.0 : excessSum / excess.size(),
                    percentile(excess, 100),
                    ticks ? 100.0 * behind / ticks : 0.0, percentile(dueFor, 50), percentile(dueFor, 100), ahead);
    }
};

}  // namespace

int main()
{
    auto ring = std::make_shared<lagwell::FrameRing>(10000);
    bench::KeptFrames kept;  // frames for the baseline
    lagwell::TestPatternSource camera;
    std::string error;
    if (!bench::feedRingFromTestPattern(camera, ring, kWidth, kHeight, kept, &error)) {
        std::fprintf(stderr, "test pattern did not start: %s\n", error.c_str());
        return 1;
    }

    std::vector<std::unique_ptr<Panel>> panels;
    for (int i = 0; i < kPanelCount; ++i) {
        auto panel = std::make_unique<Panel>();
        panel->delayMs = kDelaysMs[i];
        panel->decoder = std::make_unique<lagwell::PanelDecoder>(ring, panel->out);
        panel->decoder->setDelayMs(panel->delayMs);
        panel->tid = bench::startDecoderAndFindThread(*panel->decoder);
        panels.push_back(std::move(panel));
    }

    // History for the longest delay, then a second to settle.
    while (ring->count() == 0 || ring->oldestWallMs() > wallNowMs() - 5300)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PacedBaseline paced(bench::keptFrames(kept), kWidth, kHeight);
    std::this_thread::sleep_for(std::chrono::seconds(1));

    std::vector<uint64_t> cpuStart;
    std::vector<uint64_t> wakeStart;
    std::vector<uint64_t> seqStart;
    for (auto& panel : panels) {
        cpuStart.push_back(threadCpuNs(panel->tid));
        wakeStart.push_back(threadWakeUps(panel->tid));
        const auto picture = panel->out.acquire();
        seqStart.push_back(picture ? picture->seq : 0);
    }

    // The render thread: 60 Hz, each panel's freshest picture.
    std::thread render([&] {
        auto next = SteadyClock::now();
        const auto end = next + std::chrono::duration_cast<SteadyClock::duration>(
                                    std::chrono::duration<double>(kMeasureSeconds));
        while (next < end) {
            next += kTick;
            std::this_thread::sleep_until(next);
            for (auto& panel : panels) {
                // The clock read on both sides of the take: behind means older
                // than what was due before it, ahead newer than what was due
                // after it, so a preemption in between counts as neither.
                const int64_t targetMs = wallNowMs() - panel->delayMs;
                const auto shown = panel->out.acquire();
                const int64_t afterMs = wallNowMs() - panel->delayMs;
                // Every JPEG is a keyframe: the frame due at a time.
                const auto ideal = ring->keyframeInfoAtOrBefore(targetMs);
                const auto dueAfter = ring->keyframeInfoAtOrBefore(afterMs);
                if (!shown || !ideal || !dueAfter)
                    continue;
                ++panel->ticks;
                panel->shownLag.push_back(targetMs - shown->wallMs);
                panel->idealLag.push_back(targetMs - ideal->wallMs);
                panel->excess.push_back(ideal->wallMs - shown->wallMs);
                if (shown->seq < ideal->seq) {
                    ++panel->behind;
                    panel->dueFor.push_back(targetMs - ideal->wallMs);
                }
                panel->ahead += shown->seq > dueAfter->seq ? 1 : 0;
            }
        }
    });
    render.join();

    std::vector<uint64_t> cpuEnd;
    std::vector<uint64_t> wakeEnd;
    std::vector<uint64_t> seqEnd;
    for (auto& panel : panels) {
        cpuEnd.push_back(threadCpuNs(panel->tid));
        wakeEnd.push_back(threadWakeUps(panel->tid));
        const auto picture = panel->out.acquire();
        seqEnd.push_back(picture ? picture->seq : 0);
    }
    const double pacedMs = paced.stopAndReportMs();
    const double fps = camera.measuredFps();
    for (auto& panel : panels)
        panel->decoder->stop();
    camera.stop();

    std::printf("%dx%d test pattern at %.1f fps, %d panels, delays 2000 and 5000 ms, %.0f s of 60 Hz render "
                "ticks\n",
                kWidth, kHeight, fps, kPanelCount, kMeasureSeconds);
    Lags all;
    for (int32_t delayMs : {2000, 5000}) {
        Lags lags;
        for (const auto& panel : panels) {
            if (panel->delayMs == delayMs)
                lags.add(*panel);
        }
        char label[32];
        std::snprintf(label, sizeof label, "delay %d ms", delayMs);
        lags.print(label);
    }
    for (const auto& panel : panels)
        all.add(*panel);
    all.print("all panels");

    uint64_t pictures = 0;
    double cpuMs = 0.0;
    uint64_t wakeUps = 0;
    for (size_t i = 0; i < panels.size(); ++i) {
        const uint64_t decoded = seqEnd[i] - seqStart[i];
        const double panelCpuMs = (cpuEnd[i] - cpuStart[i]) / 1e6;
        const uint64_t panelWakeUps = wakeEnd[i] - wakeStart[i];
        std::printf("  panel %zu delay %4d ms: %4llu pictures, %.3f ms CPU and %.2f wake-ups per picture\n", i,
                    panels[i]->delayMs, static_cast<unsigned long long>(decoded),
                    decoded ? panelCpuMs / decoded : 0.0, decoded ? static_cast<double>(panelWakeUps) / decoded : 0.0);
        pictures += decoded;
        cpuMs += panelCpuMs;
        wakeUps += panelWakeUps;
    }
    const double perPictureMs = pictures ? cpuMs / pictures : 0.0;
    std::printf("  decode cost %.3f ms CPU per picture; bare TurboJPEG paced at 30 fps %.3f ms: ratio %.3f\n",
                perPictureMs, pacedMs, pacedMs > 0 ? perPictureMs / pacedMs : 0.0);
    std::printf("  wake-ups per picture %.2f\n", pictures ? static_cast<double>(wakeUps) / pictures : 0.0);
    return 0;
}
