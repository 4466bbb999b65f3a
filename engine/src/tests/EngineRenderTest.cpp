// The engine end to end on a real (headless) OpenGL context: test-pattern
// cameras, panel decoders at their delays, panels drawn by renderPanel.

#include "Engine.h"

#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

using lagwell::Engine;
using lagwell::GlTestContext;
using lagwell::PanelParams;
using lagwell::PanelRect;
using namespace std::chrono_literals;

namespace {

// The test pattern's 5x7 digits and punctuation, as drawn into the picture.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x04, 0x00, 0x00, 0x04, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x06}},
};

// Reads the clock line "hh:mm:ss.mmm" that camera 4 of the test pattern draws
// in cyan at row 655 (1280x720, text scale 5) and gives milliseconds of the day.
std::optional<int64_t> readClockMs(const GlTestContext& gl, const std::vector<uint8_t>& rgba)
{
    constexpr int kScale = 5;
    constexpr int kLeft = 20;
    constexpr int kTop = 655;
    std::string text;
    for (int ch = 0; ch < 12; ++ch) {
        std::array<uint8_t, 7> rows {};
        for (int r = 0; r < 7; ++r) {
            for (int c = 0; c < 5; ++c) {
                const auto p = gl.pixelOf(rgba, kLeft + ch * 6 * kScale + c * kScale + 2, kTop + r * kScale + 2);
                const bool lit = p.r < 110 && p.g > 150 && p.b > 150;
                if (lit)
                    rows[static_cast<size_t>(r)] |= static_cast<uint8_t>(0x10 >> c);
            }
        }
        char best = '?';
        int bestDistance = 99;
        for (const Glyph& g : kGlyphs) {
            int distance = 0;
            for (size_t r = 0; r < 7; ++r)
                distance += __builtin_popcount(static_cast<unsigned>(g.rows[r] ^ rows[r]));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = g.c;
            }
        }
        if (bestDistance > 3)
            return std::nullopt;
        text.push_back(best);
    }
    if (text.size() != 12 || text[2] != ':' || text[5] != ':' || text[8] != '.')
        return std::nullopt;
    const auto num = [&](size_t at, size_t n) { return std::stoll(text.substr(at, n)); };
    return ((num(0, 2) * 60 + num(3, 2)) * 60 + num(6, 2)) * 1000 + num(9, 3);
}

}  // namespace

TEST(EngineRenderTest, panelsShowTheCameraAtTheirOwnDelays)
{
    GlTestContext gl;
    std::string error;
    ASSERT_TRUE(gl.create(1280, 720, GlTestContext::Api::PreferDesktop, &error)) << error;

    Engine engine;
    lagwell::Capabilities caps;
    engine.setCapabilities(caps);
    engine.setGlResolver(gl.resolver());

    const int delays[] = {0, 2000, 5000};
    int ids[3];
    for (int i = 0; i < 3; ++i) {
        ids[i] = engine.createPanel();
        PanelParams params;
        params.delayMs = delays[i];
        engine.setPanelParams(ids[i], params);
    }
    lagwell::SessionConfig config;
    config.cameraIds = {"test:4"};
    config.bufferSeconds = 10;
    engine.startSession(config);
    std::this_thread::sleep_for(6500ms);

    // Allow a few tries: a loaded machine may still be decoding.
    std::optional<int64_t> clocks[3];
    const PanelRect full {0, 0, 1280, 720};
    for (int attempt = 0; attempt < 20; ++attempt) {
        for (int i = 0; i < 3; ++i) {
            gl.bindTarget();
            gl.clear(0, 0, 0, 1);
            engine.renderPanel(ids[i], full, 1280, 720);
            clocks[i] = readClockMs(gl, gl.readRgba());
        }
        if (clocks[0] && clocks[1] && clocks[2]) {
            const int64_t d1 = *clocks[0] - *clocks[1];
            const int64_t d2 = *clocks[0] - *clocks[2];
            if (d1 > 1500 && d1 < 2500 && d2 > 4500 && d2 < 5500)
                break;
        }
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(clocks[0] && clocks[1] && clocks[2]) << "the clock line could not be read";
    EXPECT_NEAR(static_cast<double>(*clocks[0] - *clocks[1]), 2000.0, 500.0);
    EXPECT_NEAR(static_cast<double>(*clocks[0] - *clocks[2]), 5000.0, 500.0);

    // An unknown panel draws nothing.
    gl.bindTarget();
    gl.clear(1, 0, 1, 1);
    engine.renderPanel(999, full, 1280, 720);
    const auto untouched = gl.pixel(640, 360);
    EXPECT_EQ(untouched.r, 255);
    EXPECT_EQ(untouched.g, 0);

    // A destroyed panel's textures go on the render thread; drawing goes on.
    engine.destroyPanel(ids[1]);
    engine.renderPanel(ids[0], full, 1280, 720);
    engine.afterFrame();
    engine.releaseGl();
    gl.bindTarget();
    engine.renderPanel(ids[0], full, 1280, 720);
    EXPECT_TRUE(readClockMs(gl, gl.readRgba()).has_value()) << "draws again after releaseGl";
    engine.releaseGl();
}
