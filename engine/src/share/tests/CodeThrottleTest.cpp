#include "CodeThrottle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using lagwell::CodeThrottle;

namespace {

class CodeThrottleTest : public ::testing::Test {
protected:
    std::atomic<int64_t> m_nowMs {5'000'000};
    CodeThrottle m_throttle {[this] { return m_nowMs.load(); }};

    void wrong(const std::string& code, const std::string& peer = "10.0.0.7") { m_throttle.noteFailure(peer, code); }
};

TEST_F(CodeThrottleTest, eightDistinctWrongCodesThrottleUntilTheWindowHasPassed)
{
    for (const char* code : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF", "GGG"})
        wrong(code);
    wrong("CCC");  // a repeat does not count
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.7"));
    m_nowMs += 1000;
    wrong("HHH");
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.7"));
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.8"));  // per peer

    m_nowMs = 5'000'000 + CodeThrottle::kWindowMs;  // measured from the first wrong code
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.7"));
    m_nowMs += 1;
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.7"));
    wrong("III");  // counting starts again at one
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.7"));
}

TEST_F(CodeThrottleTest, codesDifferingOnlyInCaseCountOnce)
{
    for (const char* code : {"abc", "ABC", "aBc", "AbC", "", "", "x", "X"})
        wrong(code);
    for (const char* code : {"D1", "D2", "D3", "D4"})
        wrong(code);
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.7"));  // ABC, "", X and four more: seven
    wrong("d5");
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.7"));
}

TEST_F(CodeThrottleTest, aWrongCodeAfterTheWindowStartsANewWindow)
{
    wrong("AAA");
    m_nowMs += CodeThrottle::kWindowMs + 1;
    for (const char* code : {"B", "C", "D", "E", "F", "G", "H"})
        wrong(code);
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.7"));  // AAA was forgotten: seven in this window
    wrong("I");
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.7"));
}

TEST_F(CodeThrottleTest, checkCodeJudgesCountsAndForgetsOnTheRightCode)
{
    using Verdict = CodeThrottle::Verdict;
    const std::string peer = "10.0.0.9";
    for (const char* code : {"AAA", "BBB", "CCC", "DDD", "EEE"})
        EXPECT_EQ(m_throttle.checkCode(peer, code, "K7Q"), Verdict::Wrong);
    EXPECT_EQ(m_throttle.checkCode(peer, "k7q", "K7Q"), Verdict::Right);
    for (const char* code : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF", "GGG"})
        EXPECT_EQ(m_throttle.checkCode(peer, code, "K7Q"), Verdict::Wrong);
    EXPECT_FALSE(m_throttle.isThrottled(peer));
    EXPECT_EQ(m_throttle.checkCode(peer, "HHH", "K7Q"), Verdict::Wrong);
    // Throttled: even the right code is not compared any more.
    EXPECT_EQ(m_throttle.checkCode(peer, "K7Q", "K7Q"), Verdict::Throttled);

    const std::vector<std::pair<std::string, bool>> matches = {
        {"K7Q", true}, {"k7q", true}, {"K7", false}, {"K7QQ", false}, {" K7Q", false}, {"", false}};
    for (const auto& [sent, match] : matches)
        EXPECT_EQ(CodeThrottle::codesMatch(sent, "K7Q"), match) << sent;
}

TEST_F(CodeThrottleTest, parallelWrongCodesOfOnePeerAreNeverComparedPastTheLimit)
{
    using Verdict = CodeThrottle::Verdict;
    constexpr int kThreads = 32;
    std::atomic<int> ready {0};
    std::atomic<int> wrongCount {0};
    std::atomic<int> throttledCount {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            const Verdict verdict = m_throttle.checkCode("10.0.0.5", "W" + std::to_string(i), "K7Q");
            (verdict == Verdict::Wrong ? wrongCount : throttledCount)++;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrongCount.load(), 8);
    EXPECT_EQ(throttledCount.load(), kThreads - 8);
}

TEST_F(CodeThrottleTest, clearForgetsEveryPeer)
{
    for (const char* code : {"A", "B", "C", "D", "E", "F", "G", "H"}) {
        wrong(code, "10.0.0.1");
        wrong(code, "10.0.0.2");
    }
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.1"));
    m_throttle.clearFailures("10.0.0.1");
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.1"));
    EXPECT_TRUE(m_throttle.isThrottled("10.0.0.2"));
    m_throttle.clear();
    EXPECT_FALSE(m_throttle.isThrottled("10.0.0.2"));
}

}  // namespace
