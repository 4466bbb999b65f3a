#include "Log.h"

#include "LogRepeatLimiter.h"

#include <gtest/gtest.h>

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
