// Cost of one composite with read-back on the calling (render) thread: four
// panels, badges and the title band into a 1280x720 and a 1920x1080 target,
// handed to a sink that copies the picture, against a bare synchronous
// glReadPixels of the same size in the same context. Mesa's software GL on
// a surfaceless EGL context, as in the tests.

#include "GlReadback.h"
#include "GlTestContext.h"
#include "RenderEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

class CopySink : public lagwell::CompositeSink {
public:
    CopySink(int width, int height) : m_width(width), m_height(height) {}
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool active() const override { return true; }
    void submitRgba(const uint8_t* rgba, int strideBytes, int64_t) override
    {
        m_copy.assign(rgba, rgba + static_cast<size_t>(strideBytes) * m_height);
        ++pictures;
    }
    int pictures = 0;

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_copy;
};

std::shared_ptr<const lagwell::DecodedFrame> picture(int width, int height, uint8_t luma, uint64_t seq)
{
    auto frame = std::make_shared<lagwell::DecodedFrame>();
    frame->width = width;
    frame->height = height;
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    frame->planes[0].resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < frame->planes[0].size(); ++i)
        frame->planes[0][i] = static_cast<uint8_t>(luma + (i % 97));
    frame->planes[1].assign(static_cast<size_t>(cw) * ch, 100);
    frame->planes[2].assign(static_cast<size_t>(cw) * ch, 150);
    frame->strides = {width, cw, cw};
    frame->seq = seq;
    return frame;
}

struct Stats {
    double medianMs = 0;
    double meanMs = 0;
    double maxMs = 0;
};

Stats summarise(std::vector<double> ms)
{
    Stats s;
    std::sort(ms.begin(), ms.end());
    s.medianMs = ms[ms.size() / 2];
    for (double v : ms)
        s.meanMs += v;
    s.meanMs /= static_cast<double>(ms.size());
    s.maxMs = ms.back();
    return s;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Composites `count` times at 30 per second of injected clock; fresh pictures
// each time when `freshPictures` (upload included), else the same ones;
// badges and the title band when `overlays`.
Stats benchComposite(lagwell::GlTestContext& context, int width, int height, bool freshPictures, bool overlays,
                     int count)
{
    lagwell::RenderEngine engine(context.resolver());
    CopySink sink(width, height);
    engine.setCompositeSinks({&sink});
    lagwell::OverlayState overlay;
    overlay.labels = lagwell::TitleCardLabels {"Ann", "Bob", "Sprint", "Morning Drills", "", "2026-12-09"};
    overlay.panelDelayMs = {{1, 0}, {2, 1500}, {3, 3000}, {4, 12000}};
    if (overlays)
        engine.setOverlayState(overlay);

    const lagwell::PanelRect rects[4] = {{0, 0, 640, 360}, {640, 0, 640, 360}, {0, 360, 640, 360},
                                         {640, 360, 640, 360}};
    std::vector<lagwell::PanelDraw> panels(4);
    uint64_t seq = 1;
    const auto refresh = [&] {
        for (int i = 0; i < 4; ++i) {
            panels[i].panelId = i + 1;
            panels[i].picture = picture(1280, 720, static_cast<uint8_t>(40 + 30 * i), seq++);
            panels[i].frame = panels[i].picture.get();
            panels[i].rect = rects[i];
        }
    };
    refresh();

    int64_t nowNs = 1'000'000'000;
    const int warmUp = 5;
    std::vector<double> ms;
    for (int i = 0; i < warmUp + count; ++i) {
        if (freshPictures)
            refresh();
        const auto start = Clock::now();
        engine.compositeIfDue(panels, nowNs);
        if (i >= warmUp)
            ms.push_back(msSince(start));
        // The title band lasts five seconds of recording clock: keep it on.
        nowNs += lagwell::RenderEngine::kCompositePeriodNs;
    }
    if (sink.pictures < count)
        std::fprintf(stderr, "CompositeBench: only %d pictures reached the sink\n", sink.pictures);
    engine.releaseGl();
    return summarise(ms);
}

// A bare synchronous glReadPixels of a freshly cleared width x height FBO.
Stats benchReadPixels(lagwell::GlTestContext& context, int width, int height, int count)
{
    const lagwell::GlFunctions& gl = context.gl();
    GLuint texture = 0;
    GLuint fbo = 0;
    gl.glGenTextures(1, &texture);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &fbo);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    gl.glViewport(0, 0, width, height);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    std::vector<double> ms;
    for (int i = 0; i < 5 + count; ++i) {
        gl.glClearColor(static_cast<float>(i % 7) / 7.0f, 0.3f, 0.6f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
        const auto start = Clock::now();
        gl.glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        if (i >= 5)
            ms.push_back(msSince(start));
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.glDeleteFramebuffers(1, &fbo);
    gl.glDeleteTextures(1, &texture);
    return summarise(ms);
}

// The read-back ring alone: clear, enqueue, map the picture of two rounds
// earlier and copy it out, as the compositor does after drawing.
Stats benchRing(lagwell::GlTestContext& context, int width, int height, int count)
{
    const lagwell::GlFunctions& gl = context.gl();
    GLuint texture = 0;
    GLuint fbo = 0;
    gl.glGenTextures(1, &texture);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &fbo);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    gl.glViewport(0, 0, width, height);
    lagwell::GlReadback ring(gl);
    ring.ensureInit(width, height);
    std::vector<uint8_t> copy;
    std::vector<double> ms;
    for (int i = 0; i < 5 + count; ++i) {
        gl.glClearColor(static_cast<float>(i % 7) / 7.0f, 0.3f, 0.6f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
        const auto start = Clock::now();
        ring.enqueue(fbo);
        const uint8_t* data = nullptr;
        int stride = 0;
        if (ring.dequeue(&data, &stride)) {
            copy.assign(data, data + static_cast<size_t>(stride) * height);
            ring.release();
        }
        if (i >= 5)
            ms.push_back(msSince(start));
    }
    ring.releaseGl();
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.glDeleteFramebuffers(1, &fbo);
    gl.glDeleteTextures(1, &texture);
    return summarise(ms);
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    lagwell::GlTestContext context;
    std::string error;
    if (!context.create(16, 16, lagwell::GlTestContext::Api::PreferDesktop, &error)) {
        std::fprintf(stderr, "CompositeBench: %s\n", error.c_str());
        return 1;
    }
    const char* threads = std::getenv("LP_NUM_THREADS");
    std::printf("GL: %s; LP_NUM_THREADS=%s; %d composites per figure (median / mean / max ms)\n",
                context.version().c_str(), threads ? threads : "(default)", count);
    const int sizes[2][2] = {{1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        const int w = size[0];
        const int h = size[1];
        const Stats read = benchReadPixels(context, w, h, count);
        const Stats ring = benchRing(context, w, h, count);
        const Stats bare = benchComposite(context, w, h, false, false, count);
        const Stats kept = benchComposite(context, w, h, false, true, count);
        const Stats fresh = benchComposite(context, w, h, true, true, count);
        std::printf("%4dx%-4d bare glReadPixels          %7.2f / %7.2f / %7.2f\n", w, h, read.medianMs,
                    read.meanMs, read.maxMs);
        std::printf("%4dx%-4d  read-back ring + copy     %7.2f / %7.2f / %7.2f  ratio %.2f\n", w, h, ring.medianMs,
                    ring.meanMs, ring.maxMs, ring.medianMs / read.medianMs);
        std::printf("%4dx%-4d  panels only, no overlays  %7.2f / %7.2f / %7.2f  ratio %.2f\n", w, h, bare.medianMs,
                    bare.meanMs, bare.maxMs, bare.medianMs / read.medianMs);
        std::printf("%4dx%-4d composite+read-back        %7.2f / %7.2f / %7.2f  ratio %.2f\n", w, h, kept.medianMs,
                    kept.meanMs, kept.maxMs, kept.medianMs / read.medianMs);
        std::printf("%4dx%-4d  same, 4 new 720p uploads  %7.2f / %7.2f / %7.2f  ratio %.2f\n", w, h,
                    fresh.medianMs, fresh.meanMs, fresh.maxMs, fresh.medianMs / read.medianMs);
    }
    return 0;
}
