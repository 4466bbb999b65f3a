#include "Engine.h"

#include "FakeV4l2.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using lagwell::Capabilities;
using lagwell::Engine;
using lagwell::EngineEvent;
using lagwell::PanelParams;
using lagwell::SessionConfig;
using namespace std::chrono_literals;

namespace {

// Records events in order and lets a test wait for one.
class EventLog {
public:
    std::function<void(const EngineEvent&)> handler()
    {
        return [this](const EngineEvent& event) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(event);
            m_changed.notify_all();
        };
    }

    bool waitFor(EngineEvent::Kind kind, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const auto& e : m_events)
                if (e.kind == kind)
                    return true;
            return false;
        });
    }

    std::vector<EngineEvent::Kind> kinds()
    {
        std::lock_guard lock(m_mutex);
        std::vector<EngineEvent::Kind> out;
        for (const auto& e : m_events)
            out.push_back(e.kind);
        return out;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<EngineEvent> m_events;
};

Capabilities testCapabilities()
{
    Capabilities caps;
    caps.maxCaptureHeight = 720;
    return caps;
}

SessionConfig sessionOf(std::vector<std::string> ids, int tier = 0, int bufferSeconds = 10)
{
    SessionConfig config;
    config.cameraIds = std::move(ids);
    config.resolutionTier = tier;
    config.bufferSeconds = bufferSeconds;
    return config;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return predicate();
}

}  // namespace

TEST(EngineTest, sessionsFillRingsAndRaiseEventsInOrder)
{
    EventLog events;  // outlives the engine, whose teardown may still raise events
    Engine engine;
    engine.setCapabilities(testCapabilities());
    engine.setEventHandler(events.handler());

    engine.stopSession();  // nothing runs: no event
    EXPECT_TRUE(events.kinds().empty());
    EXPECT_FALSE(engine.isSessionHealthy());

    engine.startSession(sessionOf({"test"}));
    EXPECT_TRUE(engine.isSessionRunning());
    ASSERT_TRUE(eventually([&] { return engine.isSessionHealthy(); }));
    ASSERT_TRUE(eventually([&] {
        auto s = engine.stats();
        return s.ringFrames.size() == 1 && s.ringFrames[0] > 5;
    }));

    // A new session stops the old one first.
    engine.startSession(sessionOf({"test:1", "test:2", "test:3"}));
    ASSERT_TRUE(eventually([&] {
        auto s = engine.stats();
        return s.ringFrames.size() == 2 && s.ringFrames[0] > 5 && s.ringFrames[1] > 5;
    }));
    engine.stopSession();
    EXPECT_FALSE(engine.isSessionRunning());
    EXPECT_FALSE(engine.isSessionHealthy());
    using K = EngineEvent::Kind;
    EXPECT_EQ(events.kinds(), (std::vector<K> {K::SessionStarted, K::SessionStopped, K::SessionStarted,
                                               K::SessionStopped}));
}

TEST(EngineTest, emptyCameraListStopsTheSessionThenThrows)
{
    EventLog events;  // outlives the engine, whose teardown may still raise events
    Engine engine;
    engine.setCapabilities(testCapabilities());
    engine.setEventHandler(events.handler());
    engine.startSession(sessionOf({"test"}));
    try {
        engine.startSession(sessionOf({}));
        FAIL() << "expected a throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "No camera specified in SessionConfig");
    }
    EXPECT_FALSE(engine.isSessionRunning());
    using K = EngineEvent::Kind;
    EXPECT_EQ(events.kinds(), (std::vector<K> {K::SessionStarted, K::SessionStopped}));
}

TEST(EngineTest, failingCameraStopsEarlierSlotsAndRaisesNothing)
{
    EventLog events;  // outlives the engine, whose teardown may still raise events
    Engine engine;
    engine.setCapabilities(testCapabilities());
    engine.setEventHandler(events.handler());
    try {
        engine.startSession(sessionOf({"test", "/dev/video-does-not-exist"}));
        FAIL() << "expected a throw";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Failed to start camera 1: ", 0), 0u) << e.what();
    }
    EXPECT_FALSE(engine.isSessionRunning());
    EXPECT_TRUE(engine.stats().ringFrames.empty());
    EXPECT_TRUE(events.kinds().empty());
}

TEST(EngineTest, panelIdsAreNeverReused)
{
    Engine engine;
    EXPECT_EQ(engine.createPanel(), 1);
    EXPECT_EQ(engine.createPanel(), 2);
    engine.destroyPanel(1);
    engine.destroyPanel(1);   // unknown now: nothing
    engine.destroyPanel(42);  // never existed: nothing
    EXPECT_EQ(engine.createPanel(), 3);

    PanelParams params;
    params.delayMs = 2500;
    params.source = 5;
    params.zoom = 2.0f;
    engine.setPanelParams(2, params);
    engine.setPanelParams(99, params);  // unknown: nothing
    EXPECT_EQ(engine.panelParams(2).delayMs, 2500);
    EXPECT_EQ(engine.panelParams(2).source, 5) << "source is stored as given";
    EXPECT_EQ(engine.panelParams(99).zoom, 1.0f) << "unknown ids give the defaults";
}

TEST(EngineTest, eventHandlerCanBeSwappedOrSwitchedOff)
{
    Engine engine;
    engine.setCapabilities(testCapabilities());
    EventLog first;
    engine.setEventHandler(first.handler());
    engine.startSession(sessionOf({"test"}));
    engine.setEventHandler(nullptr);
    engine.stopSession();
    EXPECT_EQ(first.kinds().size(), 1u);
}

TEST(EngineTest, handlerMayQueryRunningFlagWithoutDeadlock)
{
    // The bridge's handler only copies, but any handler may read the engine.
    Engine engine;
    engine.setCapabilities(testCapabilities());
    std::atomic<int> seen {0};
    engine.setEventHandler([&](const EngineEvent&) {
        (void)engine.isSessionRunning();
        seen.fetch_add(1);
    });
    engine.startSession(sessionOf({"test"}));
    engine.stopSession();
    EXPECT_EQ(seen.load(), 2);
}

TEST(EngineTest, transcodedRoutingStoresH264WithParameterSets)
{
    Engine engine;
    Capabilities caps = testCapabilities();
    caps.useH264Transcode = true;
    engine.setCapabilities(caps);
    engine.startSession(sessionOf({"test"}));
    ASSERT_TRUE(eventually([&] {
        auto s = engine.stats();
        return !s.ringFrames.empty() && s.ringFrames[0] > 10;
    }));
    engine.stopSession();
}

TEST(EngineTest, teardownWithRunningSessionAndPanelsIsClean)
{
    EventLog events;  // outlives the engine
    auto engine = std::make_unique<Engine>();
    engine->setCapabilities(testCapabilities());
    engine->setEventHandler(events.handler());
    for (int i = 0; i < 3; ++i)
        engine->createPanel();
    engine->startSession(sessionOf({"test", "test:2"}));
    PanelParams params;
    params.delayMs = 500;
    params.source = 1;
    engine->setPanelParams(2, params);
    std::this_thread::sleep_for(300ms);
    engine.reset();
    using K = EngineEvent::Kind;
    EXPECT_EQ(events.kinds(), (std::vector<K> {K::SessionStarted, K::SessionStopped}));
}

TEST(EngineTest, lostCameraIsReportedOnceAndRecoveredByTheRecoveryThread)
{
    lagwell::FakeV4l2 fake;
    lagwell::FakeCameraConfig config;
    config.node = "video0";
    config.busInfo = "usb-0000:00:14.0-1";
    config.formats.push_back({lagwell::kFourccMjpeg, {{1280, 720, {{1, 30}}, false}}, false});
    // As a camera does: frames keep coming while it streams, also after it
    // is back, so health does not hang on one frame surviving the restart.
    config.autoFps = 30.0;
    config.autoFrame = std::vector<uint8_t>(4096, 7);
    fake.addCamera(config);
    for (int i = 0; i < 5; ++i)
        fake.pushFrame("video0", std::vector<uint8_t>(4096, static_cast<uint8_t>(i)));

    // These outlive the engine, whose teardown may still raise events.
    EventLog events;
    std::atomic<bool> calledBack {false};
    auto record = events.handler();
    Engine engine(fake);
    engine.setCapabilities(testCapabilities());
    // A loss is raised with no engine lock held: the handler may call back in.
    engine.setEventHandler([&](const EngineEvent& event) {
        if (event.kind == EngineEvent::Kind::CameraLost) {
            (void)engine.isSessionHealthy();
            (void)engine.panelParams(1);
            (void)engine.stats();
            calledBack = true;
        }
        record(event);
    });
    engine.startSession(sessionOf({"usb-0000:00:14.0-1"}));
    // Unplugged once the session has started: a loss during startSession
    // may be reported before SessionStarted, from the capture thread.
    fake.pushUnplug("video0");
    ASSERT_TRUE(events.waitFor(EngineEvent::Kind::CameraLost));
    EXPECT_TRUE(calledBack.load());
    EXPECT_TRUE(engine.isSessionRunning()) << "a lost camera does not end the session";

    // While it is away the recovery thread keeps failing quietly.
    std::this_thread::sleep_for(1500ms);
    using K = EngineEvent::Kind;
    EXPECT_EQ(events.kinds(), (std::vector<K> {K::SessionStarted, K::CameraLost}));

    fake.replug("video0");
    ASSERT_TRUE(events.waitFor(EngineEvent::Kind::CameraRecovered));
    ASSERT_TRUE(eventually([&] { return engine.isSessionHealthy(); }));
    engine.stopSession();
    EXPECT_EQ(events.kinds(), (std::vector<K> {K::SessionStarted, K::CameraLost, K::CameraRecovered,
                                               K::SessionStopped}));
    EXPECT_EQ(fake.openDescriptors(), 0);
}
