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

TEST_F(CodeThrottleTest, manyAddressesGuessNoFasterThanOne)
{
    using Verdict = CodeThrottle::Verdict;
    // An hour of guessing, one distinct code a second: from one address,
    // then from a /24 taking turns, each address with its own throttle.
    const auto guessForAnHour = [this](int addresses) {
        CodeThrottle throttle([this] { return m_nowMs.load(); });
        int compared = 0;
        for (int second = 0; second < 3600; ++second) {
            m_nowMs += 1000;
            const std::string peer = "10.4.0." + std::to_string(1 + second % addresses);
            compared += throttle.checkCode(peer, "C" + std::to_string(second), "K7Q") == Verdict::Wrong;
        }
        return compared;
    };
    const int fromOne = guessForAnHour(1);
    const int fromMany = guessForAnHour(254);
    EXPECT_GE(fromOne, 90);
    EXPECT_LE(fromMany, fromOne + int(CodeThrottle::kThrottleAtCodes));
}

TEST_F(CodeThrottleTest, lockOutIsShortAndSparesPeersThatSentTheCurrentCode)
{
    using Verdict = CodeThrottle::Verdict;
    EXPECT_EQ(m_throttle.checkCode("10.5.0.1", "k7q", "K7Q"), Verdict::Right);
    for (int i = 0; i < int(CodeThrottle::kThrottleAtCodes); ++i)
        EXPECT_EQ(m_throttle.checkCode("10.5.1." + std::to_string(i), "BAD", "K7Q"), Verdict::Wrong);

    struct Case {
        const char* name;
        std::string peer;
        std::string sent;
        std::string roomCode;
        Verdict verdict;
    };
    const std::vector<Case> locked = {
        {"a new peer's right code is not compared", "10.5.2.1", "K7Q", "K7Q", Verdict::Throttled},
        {"a new peer's wrong code is not counted", "10.5.2.2", "ABC", "K7Q", Verdict::Throttled},
        {"the admitted peer is served", "10.5.0.1", "K7Q", "K7Q", Verdict::Right},
        {"the admitted peer's wrong code is compared", "10.5.0.1", "XYZ", "K7Q", Verdict::Wrong},
        {"admitted with a code since replaced", "10.5.0.1", "M4P", "M4P", Verdict::Throttled},
    };
    for (const Case& c : locked) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m_throttle.checkCode(c.peer, c.sent, c.roomCode), c.verdict);
    }
    // Only the codes themselves are held back: no peer is refused its pages.
    EXPECT_FALSE(m_throttle.isThrottled("10.5.2.1"));

    // The admitted peer's wrong code above cost one more interval.
    m_nowMs += 2 * CodeThrottle::kGlobalIntervalMs - 1;
    EXPECT_EQ(m_throttle.checkCode("10.5.2.1", "K7Q", "K7Q"), Verdict::Throttled);
    m_nowMs += 1;
    EXPECT_EQ(m_throttle.checkCode("10.5.2.1", "K7Q", "K7Q"), Verdict::Right);
    m_throttle.clear();
    for (int i = 0; i < int(CodeThrottle::kThrottleAtCodes); ++i)
        EXPECT_EQ(m_throttle.checkCode("10.5.3." + std::to_string(i), "BAD", "K7Q"), Verdict::Wrong);
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
