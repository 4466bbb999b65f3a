// Many threads at the facade at once: sessions restarting, panels coming and
// going with their parameters changing, and a render thread drawing them.
// Run it under ThreadSanitizer too (see the README).

#include "Engine.h"

#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using lagwell::Engine;
using namespace std::chrono_literals;

TEST(EngineStressTest, sessionsPanelsAndRenderingFromSeveralThreads)
{
    std::atomic<int> events {0};  // outlives the engine, whose teardown may still raise events
    Engine engine;
    engine.setCapabilities(lagwell::Capabilities {});
    engine.setEventHandler([&](const lagwell::EngineEvent&) { events.fetch_add(1); });

    std::atomic<bool> done {false};
    std::mutex idsMutex;
    std::vector<int> ids;  // guarded by idsMutex
    std::atomic<int> renders {0};
    std::atomic<bool> glOk {true};

    std::thread render([&] {
        lagwell::GlTestContext gl;
        if (!gl.create(320, 180)) {
            glOk = false;
            return;
        }
        engine.setGlResolver(gl.resolver());
        while (!done.load()) {
            std::vector<int> snapshot;
            {
                std::lock_guard lock(idsMutex);
                snapshot = ids;
            }
            gl.bindTarget();
            for (size_t i = 0; i < snapshot.size(); ++i)
                engine.renderPanel(snapshot[i], {static_cast<int>(i % 2) * 160, static_cast<int>(i / 2) * 90, 160, 90},
                                   320, 180);
            engine.afterFrame();
            renders.fetch_add(1);
            if (renders.load() % 50 == 0)
                engine.releaseGl();
        }
        engine.releaseGl();
    });

    std::thread panels([&] {
        std::mt19937 random(7);
        while (!done.load()) {
            const int id = engine.createPanel();
            {
                std::lock_guard lock(idsMutex);
                ids.push_back(id);
            }
            for (int k = 0; k < 5; ++k) {
                lagwell::PanelParams params;
                params.delayMs = static_cast<int>(random() % 3000);
                params.source = static_cast<int>(random() % 4) - 1;
                params.rotationDegrees = static_cast<float>(random() % 360);
                params.zoom = 1.0f + static_cast<float>(random() % 3);
                params.mirror = random() % 2;
                engine.setPanelParams(id, params);
                std::this_thread::sleep_for(2ms);
            }
            std::lock_guard lock(idsMutex);
            if (ids.size() > 4) {
                const int victim = ids.front();
                ids.erase(ids.begin());
                engine.destroyPanel(victim);
            }
        }
    });

    std::thread sessions([&] {
        int round = 0;
        while (!done.load()) {
            lagwell::SessionConfig config;
            config.cameraIds = round % 2 ? std::vector<std::string> {"test:1", "test:2"}
                                         : std::vector<std::string> {"test:3"};
            config.bufferSeconds = 5;
            engine.startSession(config);
            std::this_thread::sleep_for(150ms);
            (void)engine.isSessionHealthy();
            (void)engine.stats();
            if (round % 3 == 0)
                engine.stopSession();
            ++round;
        }
    });

    // At least four seconds and twenty rendered frames (slow under sanitizers).
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 60s &&
           (std::chrono::steady_clock::now() - start < 4s || (renders.load() < 20 && glOk.load())))
        std::this_thread::sleep_for(50ms);
    done = true;
    render.join();
    panels.join();
    sessions.join();
    ASSERT_TRUE(glOk.load());
    EXPECT_GE(renders.load(), 20);
    EXPECT_GT(events.load(), 4);
}
