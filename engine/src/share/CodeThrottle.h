#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace lagwell {

// Counts wrong room codes per peer address. A peer that sent 8 distinct wrong
// codes (case ignored) within 300000 ms of its first one is refused on every
// route until that fixed window has passed. Thread-safe: every operation
// takes the one lock for its whole work.
class CodeThrottle {
public:
    static constexpr int64_t kWindowMs = 300000;
    static constexpr size_t kThrottleAtCodes = 8;
    static constexpr size_t kMaxCodesKept = 9;

    // Monotonic milliseconds; empty means std::chrono::steady_clock.
    using ClockMs = std::function<int64_t()>;

    enum class Verdict { Right, Wrong, Throttled };

    explicit CodeThrottle(ClockMs nowMs = {});

    // Checks a sent code against the room code and counts the outcome in one
    // locked step, so parallel requests of one peer cannot try more codes
    // than the throttle admits: a throttled peer gets Throttled and its code
    // is not compared; a wrong code is counted; the right one forgets the
    // peer's record. Codes match when equal byte by byte after toupper.
    Verdict checkCode(const std::string& peerIp, const std::string& sentCode, const std::string& roomCode);

    void noteFailure(const std::string& peerIp, const std::string& wrongCode);
    bool isThrottled(const std::string& peerIp);
    void clearFailures(const std::string& peerIp);
    // Forgets every record.
    void clear();

    static bool codesMatch(const std::string& sentCode, const std::string& roomCode);

private:
    struct Attempts {
        std::vector<std::string> wrongCodes;  // distinct, upper-cased, first seen first
        int64_t windowStartMs = 0;            // monotonic ms of the first wrong code; 0 = none yet
    };

    int64_t nowMs() const;
    void noteFailureLocked(const std::string& peerIp, const std::string& wrongCode);
    bool isThrottledLocked(const std::string& peerIp);

    const ClockMs m_nowMs;  // set at construction, read-only after

    std::mutex m_mutex;
    // guards: m_attempts
    std::unordered_map<std::string, Attempts> m_attempts;  // keyed by peer IPv4 text
};

}  // namespace lagwell
