// Cameras that go away and come back while the engine runs: handlers that
// call back into the engine while sessions start, stop and recover, and a
// camera replaced on its port by one that delivers another picture size.
// Run it under ThreadSanitizer too (see the README).

#include "Engine.h"

#include "FakeV4l2.h"
#include "GlTestContext.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using lagwell::Engine;
using lagwell::EngineEvent;
using lagwell::FakeCameraConfig;
using lagwell::FakeV4l2;
using lagwell::GlTestContext;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNode = "video0";
constexpr const char* kBusInfo = "usb-0000:00:14.0-3";

FakeCameraConfig mjpegCamera(uint32_t width, uint32_t height, std::vector<uint8_t> frame)
{
    FakeCameraConfig config;
    config.node = kNode;
    config.busInfo = kBusInfo;
    config.formats.push_back({lagwell::kFourccMjpeg, {{width, height, {{1, 30}}, false}}, false});
    config.autoFps = 30.0;
    config.autoFrame = std::move(frame);
    return config;
}

lagwell::SessionConfig sessionOf(std::vector<std::string> ids)
{
    lagwell::SessionConfig config;
    config.cameraIds = std::move(ids);
    config.bufferSeconds = 10;
    return config;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return predicate();
}

// Runs `scenario` on a thread of its own. A scenario still running after
// `limit` means the engine deadlocked: it can be neither finished nor torn
// down, so the process ends with a failure.
template <typename Scenario>
void runOrReportDeadlock(Scenario scenario, std::chrono::seconds limit)
{
    std::atomic<bool> done {false};
    std::thread worker([&] {
        scenario();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    if (!done.load()) {
        std::fprintf(stderr, "engine calls did not return within %lld s: deadlock\n",
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
}

// Sets HOME for the test's life (recordingsDirectory creates folders there).
class TemporaryHome {
public:
    TemporaryHome()
    {
        char pattern[] = "/tmp/tvx-home-XXXXXX";
        m_path = mkdtemp(pattern) ? pattern : "/tmp";
        const char* old = std::getenv("HOME");
        m_hadOld = old != nullptr;
        if (old)
            m_old = old;
        setenv("HOME", m_path.c_str(), 1);
    }
    ~TemporaryHome()
    {
        if (m_hadOld)
            setenv("HOME", m_old.c_str(), 1);
        else
            unsetenv("HOME");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::string m_old;
    bool m_hadOld = false;
};

}  // namespace

TEST(EngineRecoveryTest, everyHandlerMayCallEveryQueryWhileSessionsStartStopAndRecover)
{
    TemporaryHome home;
    FakeV4l2 fake;
    const std::vector<uint8_t> frame = lagwell::test::makeColourJpeg(640, 360, 200, 40, 40);
    ASSERT_FALSE(frame.empty());
    fake.addCamera(mjpegCamera(640, 360, frame));

    constexpr int kKinds = 9;
    std::array<std::atomic<int>, kKinds> answered {};  // handlers that got through every query
    std::atomic<int> lostSeen {0};                      // CameraLost handlers entered
    std::atomic<int> lostHandlerDelayMs {0};
    std::atomic<int> wrongAnswers {0};

    // Outlives the engine, whose teardown may still raise events.
    Engine engine(fake);
    engine.setCapabilities(lagwell::Capabilities {});
    const int panel = engine.createPanel();
    engine.setEventHandler([&](const EngineEvent& event) {
        if (event.kind == EngineEvent::Kind::CameraLost) {
            lostSeen.fetch_add(1);
            // Long enough for stopSession or the recovery thread to reach
            // the join of this very capture thread meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(lostHandlerDelayMs.load()));
        }
        const bool running = engine.isSessionRunning();
        (void)engine.isSessionHealthy();
        const lagwell::EngineStats stats = engine.stats();
        (void)engine.capabilities();
        (void)engine.panelParams(panel);
        (void)engine.recordingState();
        (void)engine.recordingElapsedMs();
        (void)engine.sharingInfo();
        (void)engine.recordingsDirectory();
        if (event.kind == EngineEvent::Kind::SessionStarted && (!running || stats.ringFrames.empty()))
            wrongAnswers.fetch_add(1);
        if (event.kind == EngineEvent::Kind::SessionStopped && (running || !stats.ringFrames.empty()))
            wrongAnswers.fetch_add(1);
        answered[static_cast<size_t>(event.kind)].fetch_add(1);
    });
    const auto count = [&](EngineEvent::Kind kind) { return answered[static_cast<size_t>(kind)].load(); };
    using K = EngineEvent::Kind;

    bool scenarioOk = false;
    runOrReportDeadlock(
        [&] {
            for (int round = 0; round < 4; ++round) {
                engine.startSession(round % 2 ? sessionOf({kBusInfo, "test"}) : sessionOf({kBusInfo}));
                if (!eventually([&] { return engine.isSessionHealthy(); }))
                    return;
                const int lostBefore = lostSeen.load();
                if (round < 2) {
                    // The camera returns while its loss is still being handled:
                    // recovery restarts it, joining that capture thread.
                    lostHandlerDelayMs = 1200;
                    const int recoveredBefore = count(K::CameraRecovered);
                    fake.pushUnplug(kNode);
                    if (!eventually([&] { return lostSeen.load() > lostBefore; }))
                        return;
                    fake.replug(kNode);
                    if (!eventually([&] { return count(K::CameraRecovered) > recoveredBefore; }))
                        return;
                    engine.stopSession();
                } else {
                    // The session stops while the loss is being handled.
                    lostHandlerDelayMs = 300;
                    fake.pushUnplug(kNode);
                    if (!eventually([&] { return lostSeen.load() > lostBefore; }))
                        return;
                    engine.stopSession();
                    fake.replug(kNode);
                }
            }
            // A recording's start and outcome, during a session.
            engine.startSession(sessionOf({kBusInfo}));
            engine.startRecording(home.path() + "/take.mp4", nullptr);
            engine.stopRecording();
            if (!eventually([&] { return count(K::RecordingSaved) + count(K::RecordingFailed) == 1; }))
                return;
            engine.stopSession();
            scenarioOk = true;
        },
        180s);

    ASSERT_TRUE(scenarioOk) << "an awaited event never came";
    EXPECT_EQ(count(K::SessionStarted), 5);
    EXPECT_EQ(count(K::SessionStopped), 5);
    EXPECT_EQ(count(K::CameraLost), 4);
    EXPECT_EQ(count(K::CameraRecovered), 2);
    EXPECT_EQ(count(K::RecordingStarted), 1);
    EXPECT_EQ(count(K::RecordingSaved) + count(K::RecordingFailed), 1);
    EXPECT_EQ(wrongAnswers.load(), 0) << "a handler saw a session half started or half stopped";
    EXPECT_EQ(fake.openDescriptors(), 0);
    engine.destroyPanel(panel);
}

TEST(EngineRecoveryTest, aCameraReplacedByOneOfAnotherSizeIsShownInItsNewSize)
{
    constexpr int kWidth = 320;
    constexpr int kHeight = 180;
    GlTestContext gl;
    std::string error;
    ASSERT_TRUE(gl.create(kWidth, kHeight, GlTestContext::Api::PreferDesktop, &error)) << error;

    struct Colour {
        uint8_t r, g, b;
    };
    struct Replacement {
        const char* name;
        uint32_t width;
        uint32_t height;
        Colour colour;
    };
    constexpr Colour kRed {210, 30, 30};
    const Replacement replacements[] = {
        {"larger", 1280, 720, {30, 40, 210}},
        {"same size", 640, 360, {30, 200, 40}},
        {"smaller", 320, 240, {230, 230, 230}},
    };
    for (const Replacement& replacement : replacements) {
        SCOPED_TRACE(replacement.name);
        FakeV4l2 fake;
        fake.addCamera(mjpegCamera(640, 360, lagwell::test::makeColourJpeg(640, 360, kRed.r, kRed.g, kRed.b)));

        std::atomic<int> lost {0};
        std::atomic<int> recovered {0};
        Engine engine(fake);
        engine.setCapabilities(lagwell::Capabilities {});
        engine.setEventHandler([&](const EngineEvent& event) {
            lost += event.kind == EngineEvent::Kind::CameraLost;
            recovered += event.kind == EngineEvent::Kind::CameraRecovered;
        });
        engine.setGlResolver(gl.resolver());
        const int panel = engine.createPanel();
        engine.startSession(sessionOf({kBusInfo}));

        // The centre of the panel drawn over the whole target, close to `c`.
        const auto shows = [&](Colour c) {
            gl.bindTarget();
            gl.clear(0, 0, 0, 1);
            engine.renderPanel(panel, {0, 0, kWidth, kHeight}, kWidth, kHeight);
            const GlTestContext::Pixel p = gl.pixel(kWidth / 2, kHeight / 2);
            return std::abs(p.r - c.r) < 40 && std::abs(p.g - c.g) < 40 && std::abs(p.b - c.b) < 40;
        };
        ASSERT_TRUE(eventually([&] { return shows(kRed); })) << "the first camera never showed";

        fake.pushUnplug(kNode);
        ASSERT_TRUE(eventually([&] { return lost.load() == 1; }));
        const Colour c = replacement.colour;
        fake.replug(kNode, mjpegCamera(replacement.width, replacement.height,
                                       lagwell::test::makeColourJpeg(static_cast<int>(replacement.width),
                                                                     static_cast<int>(replacement.height), c.r, c.g,
                                                                     c.b)));
        ASSERT_TRUE(eventually([&] { return recovered.load() == 1; }));
        EXPECT_TRUE(eventually([&] { return shows(c); })) << "the panel kept the old picture";
        EXPECT_TRUE(engine.isSessionHealthy());

        engine.stopSession();
        engine.destroyPanel(panel);
        engine.releaseGl();
        EXPECT_EQ(fake.openDescriptors(), 0);
    }
}
