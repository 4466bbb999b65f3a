// Sharing through the facade, inside a private network namespace with an
// Ethernet-like interface (the server serves only a LAN address).

#include "Engine.h"

#include "EngineMediaSupport.h"
#include "GlTestContext.h"
#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using lagwell::Engine;
using lagwell::EngineEvent;
using lagwell::GlTestContext;
using lagwell::test::EventRecorder;
using lagwell::test::pumpFrames;
using namespace std::chrono_literals;

namespace {

class EngineSharingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for a private network namespace";
        std::string error;
        // Root in a container may still be refused one.
        if (!lagwell::test::enterFreshNetNamespace(&error))
            GTEST_SKIP() << "needs a private network namespace, and none can be made here: " << error;
        ASSERT_TRUE(lagwell::test::addInterface("eth0", "10.200.0.1/24", &error)) << error;
        m_home = "/tmp/tvx-engine-share-" + std::to_string(::getpid());
        ::setenv("HOME", m_home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_home + "/config").c_str(), 1);
        ::unsetenv("SNAP_REAL_HOME");
    }

    void TearDown() override
    {
        if (!m_home.empty())
            std::system(("rm -rf '" + m_home + "'").c_str());
    }

    std::string m_home;
};

}  // namespace

TEST_F(EngineSharingTest, startStopAndInformationFollowTheServer)
{
    EventRecorder events;  // outlives the engine, whose teardown still raises events
    Engine engine;
    engine.setCapabilities(lagwell::Capabilities {});
    engine.setEventHandler(events.handler());
    EXPECT_FALSE(engine.sharingInfo());

    const lagwell::ShareInfo info = engine.startSharing();
    EXPECT_EQ(info.address, "10.200.0.1");
    EXPECT_EQ(info.port, 8080);
    ASSERT_EQ(info.code.size(), 3u);
    EXPECT_EQ(info.url, "http://10.200.0.1:8080/live.ts?k=" + info.code);
    const auto again = engine.startSharing();  // already running: same server
    EXPECT_EQ(again.port, info.port);
    EXPECT_EQ(again.code, info.code);
    ASSERT_TRUE(engine.sharingInfo());
    EXPECT_EQ(engine.sharingInfo()->url, info.url);

    // The connect page answers on the LAN address.
    const auto page = lagwell::test::get(info.address, info.port, "/");
    EXPECT_EQ(page.status, 200);

    const std::string fresh = engine.regenerateShareCode();
    EXPECT_EQ(fresh.size(), 3u);
    EXPECT_EQ(engine.sharingInfo()->code, fresh);

    engine.stopSharing();
    EXPECT_FALSE(engine.sharingInfo());
    engine.stopSharing();  // harmless when off
    // The recordings directory was made under HOME.
    EXPECT_EQ(engine.recordingsDirectory(), m_home + "/Videos/Tavrix");
}

TEST_F(EngineSharingTest, recordingsDirectoryFollowsTheHomeVariables)
{
    Engine engine;
    ::setenv("SNAP_REAL_HOME", (m_home + "/snap").c_str(), 1);
    ::mkdir((m_home + "/snap").c_str(), 0755);
    EXPECT_EQ(engine.recordingsDirectory(), m_home + "/snap/Videos/Tavrix");
    ::setenv("SNAP_REAL_HOME", "", 1);
    EXPECT_EQ(engine.recordingsDirectory(), m_home + "/Videos/Tavrix");
    ::unsetenv("SNAP_REAL_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(engine.recordingsDirectory(), "/tmp/Videos/Tavrix");
    ::setenv("HOME", m_home.c_str(), 1);
}

TEST_F(EngineSharingTest, recordingsFolderOfTheTmpFallbackIsPrivate)
{
    Engine engine;
    ::unsetenv("HOME");
    // In a fresh /tmp seen only by this thread (a mount namespace of its
    // own), so the machine's /tmp is left alone.
    std::string noPrivateTmp;
    std::string failure;
    std::string directory;
    struct stat videos {};
    struct stat tavrix {};
    std::thread([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
            noPrivateTmp = std::strerror(errno);
            return;
        }
        directory = engine.recordingsDirectory();
        if (::stat("/tmp/Videos", &videos) != 0 || ::stat(directory.c_str(), &tavrix) != 0)
            failure = "folders not made";
    }).join();
    ::setenv("HOME", m_home.c_str(), 1);
    if (!noPrivateTmp.empty())
        GTEST_SKIP() << "needs a private /tmp, and no mount namespace can be made here (" << noPrivateTmp << ")";
    ASSERT_EQ(failure, "");
    EXPECT_EQ(directory, "/tmp/Videos/Tavrix");
    EXPECT_EQ(videos.st_mode & 07777, 0700u);
    EXPECT_EQ(tavrix.st_mode & 07777, 0700u);
}

TEST_F(EngineSharingTest, liveStreamOfTheCompositeDecodesWithFfmpeg)
{
    GlTestContext gl;
    std::string error;
    ASSERT_TRUE(gl.create(1280, 720, GlTestContext::Api::PreferDesktop, &error)) << error;
    EventRecorder events;  // outlives the engine, whose teardown still raises events
    Engine engine;
    engine.setCapabilities(lagwell::Capabilities {});
    engine.setEventHandler(events.handler());
    engine.setGlResolver(gl.resolver());
    const std::vector<int> panels {engine.createPanel()};
    lagwell::SessionConfig config;
    config.cameraIds = {"test"};
    engine.startSession(config);
    pumpFrames(engine, gl, panels, 500ms);

    const lagwell::ShareInfo info = engine.startSharing();
    std::string probe;
    std::string decoded;
    std::atomic<bool> done {false};
    // The clients run beside the render loop, which keeps the composite coming.
    std::thread clients([&] {
        probe = lagwell::test::commandOutput("timeout 60 ffprobe -v error -select_streams v "
                                             "-show_entries stream=codec_name,width,height -of csv=p=0 '" +
                                             info.url + "'");
        decoded = lagwell::test::commandOutput("timeout 60 ffmpeg -v error -i '" + info.url +
                                               "' -frames:v 15 -f null - && echo decoded");
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done.load() && std::chrono::steady_clock::now() < deadline)
        pumpFrames(engine, gl, panels, 100ms);
    clients.join();
    EXPECT_NE(probe.find("h264,1280,720"), std::string::npos) << probe;
    EXPECT_NE(decoded.find("decoded"), std::string::npos) << decoded;

    // Viewers came and went, and the engine reported it.
    ASSERT_TRUE(events.waitFor(EngineEvent::Kind::ShareViewers, 5s));
    engine.stopSharing();
    EXPECT_FALSE(engine.sharingInfo());
    engine.releaseGl();
}
