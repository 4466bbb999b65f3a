// What starting a recording costs the picture on screen. One thread stands in
// for Qt's render loop (every panel drawn, then the after-frame step, 60 times
// a second) and calls Engine::startRecording between two frames, as the GUI
// thread does. For several starts in one run it prints how long the call
// blocked that thread and the largest gap between two shown frames within a
// second either side of the start, next to the largest gap over two seconds
// of the same loop with no recording. Test-pattern camera at 720p, one panel
// filling a 1280x800 window, Mesa's software GL on a surfaceless context.

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

constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr auto kFrameInterval = std::chrono::microseconds(16667);
constexpr int kStarts = 6;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class FrameLoop {
public:
    FrameLoop(lagwell::Engine& engine, lagwell::GlTestContext& gl, int panelId)
        : m_engine(engine), m_gl(gl), m_panelId(panelId), m_last(Clock::now()), m_next(m_last)
    {
    }

    struct Worst {
        double gapMs = 0;         // between two shown frames
        double afterFrameMs = 0;  // the after-frame step alone (compositing)
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
        m_gl.bindTarget();
        m_engine.renderPanel(m_panelId, {0, 0, kWidth, kHeight}, kWidth, kHeight);
        const auto drawn = Clock::now();
        m_engine.afterFrame();
        const auto shown = Clock::now();
        Worst one {msBetween(m_last, shown), msBetween(drawn, shown)};
        m_last = shown;
        return one;
    }

    lagwell::Engine& m_engine;
    lagwell::GlTestContext& m_gl;
    int m_panelId;
    Clock::time_point m_last;
    Clock::time_point m_next;
};

struct Round {
    double blockMs = 0;
    FrameLoop::Worst aroundStart;
    FrameLoop::Worst without;
};

}  // namespace

int main()
{
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
    caps.maxCaptureHeight = 720;
    engine.setCapabilities(caps);
    engine.setGlResolver(gl.resolver());
    const int panel = engine.createPanel();
    lagwell::SessionConfig session;
    session.cameraIds = {"test"};
    session.bufferSeconds = 10;
    engine.startSession(session);

    FrameLoop loop(engine, gl, panel);
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
        rounds.push_back(round);

        engine.stopRecording();
        const auto deadline = Clock::now() + 30s;
        while (finished.load() <= i && Clock::now() < deadline)
            loop.run(100ms);
        std::remove(path.c_str());
    }
    engine.stopSession();
    engine.destroyPanel(panel);
    engine.releaseGl();
    rmdir(directory);

    std::printf("recording start, 720p test pattern, 1280x800 window, 60 frames/s loop (ms)\n");
    std::printf("%-6s %10s %16s %20s %16s %20s\n", "start", "GUI block", "gap near start", "after-frame near st.",
                "gap, no rec.", "after-frame, no rec.");
    for (size_t i = 0; i < rounds.size(); ++i)
        std::printf("%-6zu %10.1f %16.1f %20.1f %16.1f %20.1f\n", i + 1, rounds[i].blockMs,
                    rounds[i].aroundStart.gapMs, rounds[i].aroundStart.afterFrameMs, rounds[i].without.gapMs,
                    rounds[i].without.afterFrameMs);
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::vector<double> laterBlocks;
    std::vector<double> laterGaps;
    std::vector<double> withoutGaps;
    for (size_t i = 0; i < rounds.size(); ++i) {
        if (i > 0) {
            laterBlocks.push_back(rounds[i].blockMs);
            laterGaps.push_back(rounds[i].aroundStart.gapMs);
        }
        withoutGaps.push_back(rounds[i].without.gapMs);
    }
    std::printf("first start: block %.1f ms, gap %.1f ms; later starts (median): block %.1f ms, gap %.1f ms; "
                "no recording (median): gap %.1f ms\n",
                rounds[0].blockMs, rounds[0].aroundStart.gapMs, median(laterBlocks), median(laterGaps),
                median(withoutGaps));
    return 0;
}
