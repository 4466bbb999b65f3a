#include "Log.h"

#include <gtest/gtest.h>

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
