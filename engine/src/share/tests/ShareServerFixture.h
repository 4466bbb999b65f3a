#pragma once

// Fixtures of the share server tests: a private network namespace and
// configuration directory per test, a started server on a LAN address, and
// a feeder that hands the server's sink synthetic composites at 30 fps.

#include "ShareServer.h"

#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace lagwell::test {

namespace fs = std::filesystem;

constexpr const char* kLan = "10.200.0.1";

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits until this process has `fds` descriptors and `threads` threads again:
// a connection's thread ends shortly after its socket is closed.
inline bool returnsToCounts(int fds, int threads, int timeoutMs = 15000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (openFdCount() != fds || threadCount() != threads) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Each test runs in a network namespace of its own (so it has its own ports
// 8080 to 8091) with a private configuration directory.
class NamespaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a private network namespace needs root";
        std::string error;
        ASSERT_TRUE(test::enterFreshNetNamespace(&error)) << error;
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        m_savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
        m_configDir = fs::temp_directory_path()
            / ("shareserver-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::error_code ignored;  // a helper process may still be writing there
        fs::remove_all(m_configDir, ignored);
        fs::create_directories(m_configDir / "tavrix");
        ::setenv("XDG_CONFIG_HOME", m_configDir.c_str(), 1);
    }
    void TearDown() override
    {
        if (m_configDir.empty())
            return;
        m_savedXdg ? ::setenv("XDG_CONFIG_HOME", m_savedXdg->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;  // a helper process may still be writing there
        fs::remove_all(m_configDir, ignored);
    }

    std::string codeFile() const { return (m_configDir / "tavrix" / "share-code").string(); }
    void storeCode(const std::string& code) { std::ofstream(codeFile()) << code << "\n"; }

    fs::path m_configDir;
    std::optional<std::string> m_savedXdg;
};

class ShareServerTest : public NamespaceTest {
protected:
    void SetUp() override
    {
        NamespaceTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        ASSERT_TRUE(test::addInterface("eth0", std::string(kLan) + "/24", &error)) << error;
        storeCode("K7Q");
        m_server = std::make_unique<ShareServer>([this] { return m_nowMs.load(); });
    }
    void TearDown() override
    {
        m_server.reset();
        NamespaceTest::TearDown();
    }

    int startServer()
    {
        std::string error;
        EXPECT_TRUE(m_server->start(&error)) << error;
        const auto info = m_server->info();
        return info ? info->port : 0;
    }

    std::atomic<int64_t> m_nowMs {10'000'000};
    std::unique_ptr<ShareServer> m_server;
};


// Submits RGBA composites to a sink from a thread of its own at about 30 fps
// until stopped: a bar moving over still noise (Calm: mostly small predicted
// pictures between the keyframes) or over noise that changes every picture
// (Busy: every picture large).
class FrameFeeder {
public:
    FrameFeeder() = default;
    FrameFeeder(const FrameFeeder&) = delete;
    FrameFeeder& operator=(const FrameFeeder&) = delete;
    ~FrameFeeder() { stop(); }

    enum class Motion { Calm, Busy };

    void start(CompositeSink* sink, int width, int height, Motion motion = Motion::Calm)
    {
        stop();
        m_running.store(true);
        m_thread = std::thread([this, sink, width, height, motion] { run(sink, width, height, motion); });
    }
    void stop()
    {
        m_running.store(false);
        if (m_thread.joinable())
            m_thread.join();
    }
    int64_t framesSubmitted() const { return m_frames.load(); }

private:
    void run(CompositeSink* sink, int width, int height, Motion motion)
    {
        const size_t stride = size_t(width) * 4;
        std::vector<uint8_t> noise(stride * height);
        uint32_t seed = 12345;
        for (auto& byte : noise) {
            seed = seed * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(seed >> 24);
        }
        std::vector<uint8_t> picture(noise.size());
        const auto begin = std::chrono::steady_clock::now();
        for (int64_t index = 0; m_running.load(); ++index) {
            const size_t shift = motion == Motion::Busy ? size_t(index * 97) % noise.size() : 0;
            std::copy(noise.begin() + static_cast<std::ptrdiff_t>(shift), noise.end(), picture.begin());
            std::copy(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(shift),
                      picture.end() - static_cast<std::ptrdiff_t>(shift));
            const int bar = int((index * 4) % width);
            for (int y = 0; y < height; ++y)
                for (int x = bar; x < std::min(width, bar + 16); ++x)
                    std::fill_n(picture.begin() + static_cast<std::ptrdiff_t>(y * stride + x * 4), 4, uint8_t(255));
            const auto slot = std::chrono::steady_clock::now().time_since_epoch();
            const int64_t slotNs = std::chrono::duration_cast<std::chrono::nanoseconds>(slot).count();
            sink->submitRgba(picture.data(), static_cast<int>(stride), 1000000 + index * 33333, slotNs);
            m_frames.fetch_add(1);
            std::this_thread::sleep_until(begin + std::chrono::microseconds((index + 1) * 33333));
        }
    }

    std::atomic<bool> m_running {false};
    std::atomic<int64_t> m_frames {0};
    std::thread m_thread;
};

}  // namespace lagwell::test
