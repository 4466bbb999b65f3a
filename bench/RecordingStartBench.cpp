// What starting and running a recording costs the picture on screen. One
// thread stands in for Qt's render loop (every panel drawn, then the
// after-frame step, 60 times a second) and calls Engine::startRecording
// between two frames, as the GUI thread does. For several starts in one run it
// prints how long the call blocked that thread, the largest gap between two
// shown frames within a second either side of the start and over two seconds
// of the running recording, each also as a ratio to the largest gap over two
// seconds of the same loop with no recording just before. Test-pattern camera
// at 1080p, two panels side by side in a 1920x1080 window, Mesa's software GL
// on a surfaceless context. With --sharing a live share runs throughout, so
// the compositing is already under way before each recording and the ratios
// show what the recording itself adds (its encoder and hand-over).

#include "Engine.h"
#include "GlTestContext.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPanels = 2;
constexpr auto kFrameInterval = std::chrono::microseconds(16667);
constexpr int kStarts = 5;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class FrameLoop {
public:
    FrameLoop(lagwell::Engine& engine, lagwell::GlTestContext& gl, std::vector<int> panelIds)
        : m_engine(engine), m_gl(gl), m_panelIds(std::move(panelIds)), m_last(Clock::now()), m_next(m_last)
    {
    }

    struct Worst {
        double gapMs = 0;         // between two shown frames
        double afterFrameMs = 0;  // the after-frame step alone (compositing)
        double drawMs = 0;        // drawing the panels alone
    };

    // Shows frames for `span`; the gap from the frame shown before this call
    // counts too.
    Worst run(Clock::duration span)
    {
        Worst worst;
        const auto end = Clock::now() + span;
        while (Clock::now() < end) {
            const Worst one = frame();
            worst.gapMs = std::max(worst.gapMs, one.gapMs);
            worst.afterFrameMs = std::max(worst.afterFrameMs, one.afterFrameMs);
            worst.drawMs = std::max(worst.drawMs, one.drawMs);
        }
        return worst;
    }

    // A stretch of the loop's own work that is not a frame (the GUI thread's
    // call) goes into the next gap.
    template <typename Work>
    double between(Work work)
    {
        const auto before = Clock::now();
        work();
        return msBetween(before, Clock::now());
    }

private:
    Worst frame()
    {
        std::this_thread::sleep_until(m_next);
        m_next += kFrameInterval;
        if (m_next < Clock::now())
            m_next = Clock::now();  // late: no burst to catch up
        const auto begun = Clock::now();
        m_gl.bindTarget();
        const int panelWidth = kWidth / int(m_panelIds.size());
        for (size_t i = 0; i < m_panelIds.size(); ++i)
            m_engine.renderPanel(m_panelIds[i], {int(i) * panelWidth, 0, panelWidth, kHeight}, kWidth, kHeight);
        const auto drawn = Clock::now();
        m_engine.afterFrame();
        const auto shown = Clock::now();
        Worst one {msBetween(m_last, shown), msBetween(drawn, shown), msBetween(begun, drawn)};
        m_last = shown;
        return one;
    }

    lagwell::Engine& m_engine;
    lagwell::GlTestContext& m_gl;
    std::vector<int> m_panelIds;
    Clock::time_point m_last;
    Clock::time_point m_next;
};

struct Round {
    double blockMs = 0;
    FrameLoop::Worst aroundStart;
    FrameLoop::Worst during;
    FrameLoop::Worst without;
};

}  // namespace

int main(int argc, char** argv)
{
    const bool sharing = argc > 1 && std::string(argv[1]) == "--sharing";
    lagwell::GlTestContext gl;
    std::string error;
    if (!gl.create(kWidth, kHeight, lagwell::GlTestContext::Api::PreferDesktop, &error)) {
        std::fprintf(stderr, "bench_recording_start: no GL context: %s\n", error.c_str());
        return 1;
    }
    char directory[] = "/tmp/tvx-recstart-XXXXXX";
    if (!mkdtemp(directory)) {
        std::perror("mkdtemp");
        return 1;
    }

    std::atomic<int> finished {0};
    lagwell::Engine engine;
    engine.setEventHandler([&finished](const lagwell::EngineEvent& event) {
        if (event.kind == lagwell::EngineEvent::Kind::RecordingSaved ||
            event.kind == lagwell::EngineEvent::Kind::RecordingFailed)
            finished.fetch_add(1);
    });
    lagwell::Capabilities caps;
    caps.maxCaptureHeight = 1080;
    engine.setCapabilities(caps);
    engine.setGlResolver(gl.resolver());
    std::vector<int> panels;
    for (int i = 0; i < kPanels; ++i)
        panels.push_back(engine.createPanel());
    lagwell::SessionConfig session;
    session.cameraIds = {"test"};
    session.resolutionTier = 1;
    session.bufferSeconds = 10;
    engine.startSession(session);
    if (sharing) {
        try {
            engine.startSharing();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_recording_start: %s\n", e.what());
            return 1;
        }
    }

    FrameLoop loop(engine, gl, panels);
    loop.run(2s);  // the decoder settles and the panel's textures exist

    std::vector<Round> rounds;
    for (int i = 0; i < kStarts; ++i) {
        Round round;
        round.without = loop.run(2s);
        const FrameLoop::Worst before = loop.run(1s);
        const std::string path = std::string(directory) + "/start-" + std::to_string(i) + ".mp4";
        bool started = true;
        round.blockMs = loop.between([&] {
            try {
                engine.startRecording(path, nullptr);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bench_recording_start: %s\n", e.what());
                started = false;
            }
        });
        if (!started)
            return 1;
        const FrameLoop::Worst after = loop.run(1s);
        round.aroundStart.gapMs = std::max(before.gapMs, after.gapMs);
        round.aroundStart.afterFrameMs = std::max(before.afterFrameMs, after.afterFrameMs);
        round.aroundStart.drawMs = std::max(before.drawMs, after.drawMs);
        round.during = loop.run(2s);
        rounds.push_back(round);

        engine.stopRecording();
        const auto deadline = Clock::now() + 30s;
        while (finished.load() <= i && Clock::now() < deadline)
            loop.run(100ms);
        std::remove(path.c_str());
    }
    engine.stopSharing();
    engine.stopSession();
    for (int panel : panels)
        engine.destroyPanel(panel);
    engine.releaseGl();
    rmdir(directory);

    std::printf("recording start, 1080p test pattern, %d panels, %dx%d window, 60 frames/s loop%s (ms)\n", kPanels,
                kWidth, kHeight, sharing ? ", live share running" : "");
    std::printf("%-6s %9s %10s %10s %10s %8s %8s %11s %11s %11s %8s %8s\n", "start", "GUI block", "gap before",
                "gap near", "gap during", "x near", "x during", "after-fr. n.", "draw before", "draw during",
                "x near", "x during");
    std::vector<double> laterBlocks;
    std::vector<double> nearRatios;
    std::vector<double> duringRatios;
    std::vector<double> drawNearRatios;
    std::vector<double> drawDuringRatios;
    for (size_t i = 0; i < rounds.size(); ++i) {
        const Round& r = rounds[i];
        const double nearRatio = r.aroundStart.gapMs / r.without.gapMs;
        const double duringRatio = r.during.gapMs / r.without.gapMs;
        const double drawNearRatio = r.aroundStart.drawMs / r.without.drawMs;
        const double drawDuringRatio = r.during.drawMs / r.without.drawMs;
        std::printf("%-6zu %9.1f %10.1f %10.1f %10.1f %7.2fx %7.2fx %11.1f %11.1f %11.1f %7.2fx %7.2fx\n", i + 1,
                    r.blockMs, r.without.gapMs, r.aroundStart.gapMs, r.during.gapMs, nearRatio, duringRatio,
                    r.aroundStart.afterFrameMs, r.without.drawMs, r.during.drawMs, drawNearRatio, drawDuringRatio);
        drawNearRatios.push_back(drawNearRatio);
        drawDuringRatios.push_back(drawDuringRatio);
        if (i > 0)
            laterBlocks.push_back(r.blockMs);
        nearRatios.push_back(nearRatio);
        duringRatios.push_back(duringRatio);
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf("GUI block: first start %.1f ms, later starts median %.1f ms, max %.1f ms\n", rounds[0].blockMs,
                median(laterBlocks), *std::max_element(laterBlocks.begin(), laterBlocks.end()));
    std::printf("largest gap as a ratio to the gap before: near a start median %.2fx (max %.2fx), during a "
                "recording median %.2fx (max %.2fx)\n",
                median(nearRatios), *std::max_element(nearRatios.begin(), nearRatios.end()), median(duringRatios),
                *std::max_element(duringRatios.begin(), duringRatios.end()));
    std::printf("largest panel-drawing time as a ratio to the one before (the CPU the encoder takes from the "
                "render thread): near a start median %.2fx, during a recording median %.2fx (max %.2fx)\n",
                median(drawNearRatios), median(drawDuringRatios),
                *std::max_element(drawDuringRatios.begin(), drawDuringRatios.end()));
    return 0;
}
