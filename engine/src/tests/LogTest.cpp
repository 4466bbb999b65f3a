#include "Log.h"

#include "AlsaLogBridge.h"
#include "FfmpegLogBridge.h"
#include "LogRepeatLimiter.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

TEST(LogTest, linesCarryTimeLevelFileAndLine)
{
    testing::internal::CaptureStderr();
    LW_LOG_INFO("Probe: %d cameras", 2);
    LW_LOG_WARN("FrameRing: %s", "warned");
    LW_LOG_ERROR("Engine: failed");
    lagwell::logPlain("RenderEngine: plain %s", "line");
    const std::string out = testing::internal::GetCapturedStderr();

    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d \[(INFO|WARN|ERROR)\] LogTest\.cpp:\d+: .*)");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "every line ends with a newline";
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], line)) << lines[0];
    EXPECT_NE(lines[0].find("[INFO] LogTest.cpp:"), std::string::npos);
    EXPECT_NE(lines[0].find(": Probe: 2 cameras"), std::string::npos);
    EXPECT_NE(lines[1].find("[WARN]"), std::string::npos);
    EXPECT_NE(lines[2].find("[ERROR]"), std::string::npos);
    EXPECT_EQ(lines[3], "RenderEngine: plain line");
}

TEST(LogTest, longMessagesAreNotCut)
{
    const std::string big(5000, 'x');
    testing::internal::CaptureStderr();
    LW_LOG_INFO("Big: %s", big.c_str());
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find(big + "\n"), std::string::npos);
}

TEST(LogTest, concurrentLinesStayWhole)
{
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                LW_LOG_INFO("Thread%d: %s", t, std::string(100, static_cast<char>('a' + t)).c_str());
        });
    }
    for (auto& th : threads)
        th.join();
    const std::string out = testing::internal::GetCapturedStderr();
    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d \[INFO\] LogTest\.cpp:\d+: Thread(\d): ([a-d]{100}))");
    size_t start = 0;
    int count = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::smatch match;
        const std::string text = out.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        EXPECT_EQ(match[2].str()[0], 'a' + std::stoi(match[1].str()));
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, 800);
}

struct LimiterStep {
    int64_t nowMs;
    bool admitted;
    uint64_t heldBack;  // reported when admitted
};

TEST(LogTest, repeatLimiterAdmitsOneLineAnIntervalAndCountsTheRest)
{
    const std::vector<LimiterStep> steps = {
        {10'000, true, 0},   // the first line always goes out
        {10'001, false, 0},  //
        {10'500, false, 0},  //
        {10'999, false, 0},  // just short of the interval
        {11'000, true, 3},   // the interval has passed: the three held back are reported
        {11'000, false, 0},  //
        {15'000, true, 1},   // a long quiet spell: the one held back is still reported
        {16'000, true, 0},   // nothing in between
        {12'000, true, 0},   // a clock that went back never silences the log
        {12'001, false, 0},
    };
    lagwell::LogRepeatLimiter limiter(1000);
    for (size_t i = 0; i < steps.size(); ++i) {
        uint64_t heldBack = 999;
        EXPECT_EQ(limiter.admit(steps[i].nowMs, &heldBack), steps[i].admitted) << "step " << i;
        if (steps[i].admitted) {
            EXPECT_EQ(heldBack, steps[i].heldBack) << "step " << i;
        }
    }
}

TEST(LogTest, limitedLinesFromManyThreadsStayFewAndCarryTheCount)
{
    lagwell::LogRepeatLimiter limiter;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&limiter] {
            for (int i = 0; i < kPerThread; ++i)
                LW_LOG_WARN_LIMITED(limiter, "PanelDecoder: bad frame %d", i);
        });
    }
    for (auto& th : threads)
        th.join();
    const double elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string out = testing::internal::GetCapturedStderr();

    const std::regex first(R"(\d\d:\d\d:\d\d\.\d\d\d \[WARN\] LogTest\.cpp:\d+: PanelDecoder: bad frame \d+)");
    const std::regex later(R"(\d\d:\d\d:\d\d\.\d\d\d \[WARN\] LogTest\.cpp:\d+: PanelDecoder: bad frame \d+ )"
                           R"(\((\d+) more like this since the last\))");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_GE(lines.size(), 1u);
    EXPECT_LE(lines.size(), static_cast<size_t>(elapsedSeconds) + 1) << out;
    EXPECT_TRUE(std::regex_match(lines[0], first)) << lines[0];
    uint64_t reported = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, later)) << lines[i];
        reported += std::stoull(match[1].str());
    }
    // Written lines plus those counted in them never exceed the calls.
    EXPECT_LE(reported + lines.size(), static_cast<uint64_t>(kThreads * kPerThread));
}

namespace {

// Debug logging on or off for one test, restored after it.
class DebugLogging {
public:
    explicit DebugLogging(bool on)
        : m_was(lagwell::isDebugLogging())
    {
        lagwell::setDebugLogging(on);
    }
    ~DebugLogging() { lagwell::setDebugLogging(m_was); }

private:
    bool m_was;
};

std::vector<std::string> linesOf(const std::string& out)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(LogTest, debugLinesAreWrittenOnlyWhileDebugLoggingIsOn)
{
    testing::internal::CaptureStderr();
    {
        const DebugLogging off(false);
        LW_LOG_DEBUG("Transcoder: hidden");
    }
    {
        const DebugLogging on(true);
        LW_LOG_DEBUG("Transcoder: shown %d", 1);
    }
    const std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \[DEBUG\] LogTest\.cpp:\d+: Transcoder: shown 1)")))
        << lines[0];
}

// FFmpeg's errors reach the log as ERROR lines, whole even when sent in
// pieces; its information (libx264's statistics, say) and the errors of a
// trial (a hardware encoder that is not there) only as DEBUG lines.
TEST(LogTest, ffmpegMessagesGoThroughTheLogAtTheirLevel)
{
    lagwell::FfmpegLogBridge::install();
    const std::regex error(R"(\d\d:\d\d:\d\d\.\d\d\d \[ERROR\] FfmpegLogBridge\.cpp:\d+: FfmpegLogBridge: )"
                           R"(\[\w+\] Picture size 0x0 is invalid)");
    {
        const DebugLogging off(false);
        testing::internal::CaptureStderr();
        av_log(nullptr, AV_LOG_INFO, "x264 [info]: frame I:1     Avg QP:20.00  size: 1000\n");
        av_log(nullptr, AV_LOG_WARNING, "deprecated pixel format used\n");
        {
            const lagwell::FfmpegLogBridge::Trial trial;
            av_log(nullptr, AV_LOG_ERROR, "Cannot load libcuda.so.1\n");
        }
        // A real error of the library, with its context's name.
        EXPECT_LT(av_image_check_size(0, 0, 0, nullptr), 0);
        const std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStderr());
        ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(lines);
        EXPECT_TRUE(std::regex_match(lines[0], error)) << lines[0];
    }
    {
        const DebugLogging on(true);
        testing::internal::CaptureStderr();
        av_log(nullptr, AV_LOG_INFO, "encoded %d frames, ", 3);
        av_log(nullptr, AV_LOG_INFO, "done\n");
        {
            const lagwell::FfmpegLogBridge::Trial trial;
            av_log(nullptr, AV_LOG_ERROR, "Cannot load libcuda.so.1\n");
        }
        av_log(nullptr, AV_LOG_DEBUG, "below FFmpeg's own level\n");
        const std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStderr());
        ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
        EXPECT_NE(lines[0].find("[DEBUG] FfmpegLogBridge.cpp:"), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(": FfmpegLogBridge: [ffmpeg] encoded 3 frames, done"), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find("[DEBUG]"), std::string::npos) << lines[1];
        EXPECT_NE(lines[1].find("Cannot load libcuda.so.1"), std::string::npos) << lines[1];
    }
}

// ALSA prints "ALSA lib ..." lines of its own when a device is missing; they
// become DEBUG lines of the log.
TEST(LogTest, alsaMessagesAreDebugLinesNotRawOutput)
{
    lagwell::AlsaLogBridge::install();
    const auto openMissing = [] {
        snd_pcm_t* pcm = nullptr;
        const int rc = snd_pcm_open(&pcm, "hw:97,0", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (rc == 0)
            snd_pcm_close(pcm);
        return rc;
    };
    {
        const DebugLogging off(false);
        testing::internal::CaptureStderr();
        EXPECT_LT(openMissing(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    {
        const DebugLogging on(true);
        testing::internal::CaptureStderr();
        EXPECT_LT(openMissing(), 0);
        const std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStderr());
        ASSERT_FALSE(lines.empty());
        const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d \[DEBUG\] AlsaLogBridge\.cpp:\d+: AlsaLogBridge: \S+\.c:\d+ .*)");
        for (const std::string& text : lines)
            EXPECT_TRUE(std::regex_match(text, line)) << text;
    }
}
