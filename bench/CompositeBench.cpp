// Cost of the engine's composite on the render thread, against a minimal
// composite of the same four pictures with the same read-back: one clear,
// four textured quads, the read-back ring and a copy into the sink. The
// variants run interleaved, one frame of each in turn, so that load from
// other programs weighs on all of them alike. Then the render-thread time of
// the first composite after a sink becomes active, against a steady frame.
// Mesa's software GL on a surfaceless EGL context, as in the tests.
//
// Usage: bench_composite [frames] [width height]   (default 120, 1920 1080)

#include "GlReadback.h"
#include "GlTestContext.h"
#include "QuadRenderer.h"
#include "RenderEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPanels = 4;
constexpr int kPictureWidth = 1280;
constexpr int kPictureHeight = 720;

class CopySink : public lagwell::CompositeSink {
public:
    CopySink(int width, int height) : m_width(width), m_height(height) {}
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool active() const override { return isActive; }
    void submitRgba(const uint8_t* rgba, int strideBytes, int64_t, int64_t) override
    {
        m_copy.assign(rgba, rgba + static_cast<size_t>(strideBytes) * m_height);
        ++pictures;
    }
    bool isActive = true;
    int pictures = 0;

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_copy;
};

std::shared_ptr<const lagwell::DecodedFrame> picture(uint8_t luma, uint64_t seq)
{
    auto frame = std::make_shared<lagwell::DecodedFrame>();
    frame->width = kPictureWidth;
    frame->height = kPictureHeight;
    const int cw = (kPictureWidth + 1) / 2;
    const int ch = (kPictureHeight + 1) / 2;
    frame->planes[0].resize(static_cast<size_t>(kPictureWidth) * kPictureHeight);
    for (size_t i = 0; i < frame->planes[0].size(); ++i)
        frame->planes[0][i] = static_cast<uint8_t>(luma + (i % 97));
    frame->planes[1].assign(static_cast<size_t>(cw) * ch, 100);
    frame->planes[2].assign(static_cast<size_t>(cw) * ch, 150);
    frame->strides = {kPictureWidth, cw, cw};
    frame->seq = seq;
    return frame;
}

// Four panels in a 2 x 2 grid of a 1280 x 720 window, one picture each.
std::vector<lagwell::PanelDraw> makePanels()
{
    const lagwell::PanelRect rects[kPanels] = {{0, 0, 640, 360}, {640, 0, 640, 360}, {0, 360, 640, 360},
                                               {640, 360, 640, 360}};
    std::vector<lagwell::PanelDraw> panels(kPanels);
    for (int i = 0; i < kPanels; ++i) {
        panels[i].panelId = i + 1;
        panels[i].picture = picture(static_cast<uint8_t>(40 + 30 * i), static_cast<uint64_t>(i + 1));
        panels[i].frame = panels[i].picture.get();
        panels[i].rect = rects[i];
    }
    return panels;
}

lagwell::OverlayState badgesAndTitle()
{
    lagwell::OverlayState overlay;
    overlay.labels = lagwell::TitleCardLabels {"Ann", "Bob", "Sprint", "Morning Drills", "", "2026-12-09"};
    overlay.panelDelayMs = {{1, 0}, {2, 1500}, {3, 3000}, {4, 12000}};
    overlay.elapsedMs = 1000;
    return overlay;
}

lagwell::OverlayState badgesAndClosingCard()
{
    lagwell::OverlayState overlay = badgesAndTitle();
    overlay.elapsedMs = 20'000;
    overlay.closing = true;
    overlay.closingStartMs = 0;  // long faded in
    overlay.finalDurationMs = 23'000;
    return overlay;
}

// The plain way: the same pictures drawn by the same quad renderer as four
// quads into one framebuffer, read back through the same ring.
class MinimalComposite {
public:
    MinimalComposite(lagwell::GlTestContext& context, int width, int height)
        : m_gl(context.gl()), m_quads(m_gl), m_readback(m_gl), m_sink(width, height), m_width(width),
          m_height(height)
    {
        m_gl.glGenTextures(1, &m_texture);
        m_gl.glBindTexture(GL_TEXTURE_2D, m_texture);
        m_gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        m_gl.glBindTexture(GL_TEXTURE_2D, 0);
        m_gl.glGenFramebuffers(1, &m_fbo);
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
        m_gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        m_readback.ensureInit(width, height);
    }

    ~MinimalComposite()
    {
        m_readback.releaseGl();
        m_quads.releaseGl();
        m_gl.glDeleteFramebuffers(1, &m_fbo);
        m_gl.glDeleteTextures(1, &m_texture);
    }

    void composite(const std::vector<lagwell::PanelDraw>& panels)
    {
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
        m_gl.glViewport(0, 0, m_width, m_height);
        m_gl.glClear(GL_COLOR_BUFFER_BIT);
        const int cellWidth = m_width / 2;
        const int cellHeight = m_height / 2;
        for (size_t i = 0; i < panels.size(); ++i) {
            const lagwell::DecodedFrame& frame = *panels[i].frame;
            m_quads.upload(panels[i].panelId, frame);
            m_gl.glViewport(static_cast<int>(i % 2) * cellWidth, static_cast<int>(1 - i / 2) * cellHeight,
                            cellWidth, cellHeight);
            float mvp[16];
            lagwell::RenderEngine::buildPanelMvp(mvp, cellWidth, cellHeight, frame.width, frame.height,
                                                 panels[i].params, 0, 1.0f);
            m_quads.drawPanel(panels[i].panelId, mvp);
        }
        m_readback.enqueue(m_fbo);
        const uint8_t* data = nullptr;
        int stride = 0;
        if (m_readback.dequeue(&data, &stride)) {
            m_sink.submitRgba(data, stride, 0, 0);
            m_readback.release();
        }
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

private:
    const lagwell::GlFunctions& m_gl;
    lagwell::QuadRenderer m_quads;
    lagwell::GlReadback m_readback;
    CopySink m_sink;
    GLuint m_texture = 0;
    GLuint m_fbo = 0;
    int m_width;
    int m_height;
};

// One engine with its own sink and clock.
struct EngineRun {
    EngineRun(lagwell::GlTestContext& context, int width, int height) : engine(context.resolver()), sink(width, height)
    {
        engine.setCompositeSinks({&sink});
    }
    void composite(const std::vector<lagwell::PanelDraw>& panels)
    {
        engine.compositeIfDue(panels, nowNs);
        nowNs += lagwell::RenderEngine::kCompositePeriodNs;
    }
    lagwell::RenderEngine engine;
    CopySink sink;
    int64_t nowNs = 1'000'000'000;
};

double msOf(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / static_cast<double>(values.size());
}

// A recording's start as the render thread sees it: panels on screen for a
// second with no sink active and the composite size announced, as the
// engine does while a session runs, then a sink of that size becomes
// active with the overlays of a fresh recording. Gives the first composite's time
// and the median of the next steadyFrames.
struct StartCost {
    double firstMs = 0;
    double steadyMs = 0;
};

StartCost recordingStart(const lagwell::GlFunctions& gl, lagwell::RenderEngine& engine, CopySink& sink,
                         const std::vector<lagwell::PanelDraw>& panels, int64_t* nowNs, int steadyFrames)
{
    sink.isActive = false;
    engine.setOverlayState(lagwell::OverlayState {});
    engine.expectCompositeSize(sink.width(), sink.height());
    // A second of window frames at 60 Hz before the recording starts.
    for (int i = 0; i < 60; ++i) {
        for (const lagwell::PanelDraw& panel : panels)
            engine.drawPanel(panel.panelId, panel.frame, panel.params, panel.rect, 1280, 720);
        engine.compositeIfDue(panels, *nowNs);
        *nowNs += lagwell::RenderEngine::kCompositePeriodNs / 2;
    }
    gl.glFinish();  // as the window's buffer swap would
    lagwell::OverlayState overlay = badgesAndTitle();
    overlay.elapsedMs = 0;
    engine.setOverlayState(overlay);
    sink.isActive = true;
    StartCost cost;
    cost.firstMs = msOf([&] { engine.compositeIfDue(panels, *nowNs); });
    std::vector<double> steady;
    for (int i = 0; i < steadyFrames; ++i) {
        *nowNs += lagwell::RenderEngine::kCompositePeriodNs;
        steady.push_back(msOf([&] { engine.compositeIfDue(panels, *nowNs); }));
    }
    cost.steadyMs = median(steady);
    sink.isActive = false;
    engine.compositeIfDue(panels, *nowNs + lagwell::RenderEngine::kCompositePeriodNs);
    return cost;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    const int width = argc > 3 ? std::max(16, std::atoi(argv[2])) : 1920;
    const int height = argc > 3 ? std::max(16, std::atoi(argv[3])) : 1080;
    lagwell::GlTestContext context;
    std::string error;
    if (!context.create(1280, 720, lagwell::GlTestContext::Api::PreferDesktop, &error)) {
        std::fprintf(stderr, "CompositeBench: %s\n", error.c_str());
        return 1;
    }
    const char* threads = std::getenv("LP_NUM_THREADS");
    std::printf("GL: %s; LP_NUM_THREADS=%s\n", context.version().c_str(), threads ? threads : "(default)");
    std::printf("%dx%d composite of %d panels (%dx%d pictures) with read-back and copy, %d frames each, "
                "interleaved\n\n",
                width, height, kPanels, kPictureWidth, kPictureHeight, frames);

    const std::vector<lagwell::PanelDraw> panels = makePanels();
    // A recording's start, measured first so that the program's first start
    // meets cold memory: each round a new engine (a program's first
    // recording), then a second recording on the same engine.
    const int rounds = 5;
    std::vector<double> firstOfEngine;
    std::vector<double> firstAgain;
    std::vector<double> steady;
    for (int round = 0; round < rounds; ++round) {
        context.bindTarget();  // the window the panels are drawn into
        lagwell::RenderEngine engine(context.resolver());
        CopySink sink(width, height);
        engine.setCompositeSinks({&sink});
        int64_t nowNs = 1'000'000'000;
        const StartCost first = recordingStart(context.gl(), engine, sink, panels, &nowNs, 20);
        const StartCost again = recordingStart(context.gl(), engine, sink, panels, &nowNs, 20);
        firstOfEngine.push_back(first.firstMs);
        firstAgain.push_back(again.firstMs);
        steady.push_back(first.steadyMs);
        steady.push_back(again.steadyMs);
        engine.releaseGl();
    }
    const double steadyMs = median(steady);
    std::printf("render-thread time of a composite after a sink becomes active (median of %d starts)\n", rounds);
    std::printf("%-38s %9s %7s\n", "", "ms", "ratio");
    std::printf("%-38s %9.2f %7.2f\n", "steady-state frame", steadyMs, 1.0);
    std::printf("%-38s %9.2f %7.2f\n", "first frame, the program's first", firstOfEngine.front(),
                firstOfEngine.front() / steadyMs);
    std::printf("%-38s %9.2f %7.2f\n", "first frame, first recording", median(firstOfEngine),
                median(firstOfEngine) / steadyMs);
    std::printf("%-38s %9.2f %7.2f\n", "first frame, next recording", median(firstAgain),
                median(firstAgain) / steadyMs);

    std::printf("\n");
    {
        MinimalComposite minimal(context, width, height);
        EngineRun panelsOnly(context, width, height);
        EngineRun titled(context, width, height);
        titled.engine.setOverlayState(badgesAndTitle());
        EngineRun closing(context, width, height);
        closing.engine.setOverlayState(badgesAndClosingCard());

        struct Variant {
            const char* name;
            std::function<void()> run;
            std::vector<double> ms;
        };
        std::vector<Variant> variants;
        variants.push_back({"minimal 4-quad composite (baseline)", [&] { minimal.composite(panels); }, {}});
        variants.push_back({"engine, panels only", [&] { panelsOnly.composite(panels); }, {}});
        variants.push_back({"engine, badges + title band", [&] { titled.composite(panels); }, {}});
        variants.push_back({"engine, badges + closing card", [&] { closing.composite(panels); }, {}});
        const int warmUp = 5;
        for (int i = 0; i < warmUp + frames; ++i) {
            for (Variant& variant : variants) {
                const double ms = msOf(variant.run);
                if (i >= warmUp)
                    variant.ms.push_back(ms);
            }
        }
        const double baseline = median(variants.front().ms);
        std::printf("%-38s %9s %9s %7s\n", "ms per frame", "median", "mean", "ratio");
        for (const Variant& variant : variants)
            std::printf("%-38s %9.2f %9.2f %7.2f\n", variant.name, median(variant.ms), mean(variant.ms),
                        median(variant.ms) / baseline);
        for (EngineRun* run : {&panelsOnly, &titled, &closing}) {
            if (run->sink.pictures < frames)
                std::fprintf(stderr, "CompositeBench: only %d pictures reached a sink\n", run->sink.pictures);
            run->engine.releaseGl();
        }
    }

    return 0;
}
