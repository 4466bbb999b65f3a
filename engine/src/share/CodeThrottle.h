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
// route until that fixed window has passed.
//
// The same codes are also counted across all addresses, so that many
// addresses guessing in parallel are no faster than one: 8 may come at once,
// then one more every kGlobalIntervalMs (300000 / 8). While that budget is
// spent (a lock-out of at most kGlobalIntervalMs) codes are not compared,
// except for peers that already sent the current room code.
//
// Thread-safe: every operation takes the one lock for its whole work.
class CodeThrottle {
public:
    static constexpr int64_t kWindowMs = 300000;
    static constexpr size_t kThrottleAtCodes = 8;
    static constexpr size_t kMaxCodesKept = 9;
    static constexpr int64_t kGlobalIntervalMs = kWindowMs / static_cast<int64_t>(kThrottleAtCodes);

    // Monotonic milliseconds; empty means std::chrono::steady_clock.
    using ClockMs = std::function<int64_t()>;

    enum class Verdict { Right, Wrong, Throttled };

    explicit CodeThrottle(ClockMs nowMs = {});

    // Checks a sent code against the room code and counts the outcome in one
    // locked step, so parallel requests cannot try more codes than the
    // throttle admits: a throttled peer, or during a lock-out any peer that
    // has not sent this room code before, gets Throttled and its code is not
    // compared; a wrong code is counted; the right one forgets the peer's
    // record and exempts the peer from lock-outs while the room code stays.
    // Codes match when equal byte by byte after toupper.
    Verdict checkCode(const std::string& peerIp, const std::string& sentCode, const std::string& roomCode);

    // Counts a wrong code for the peer and, when it is new for the peer,
    // across all addresses.
    void noteFailure(const std::string& peerIp, const std::string& wrongCode);
    // Whether the peer itself is refused (lock-outs do not count here).
    bool isThrottled(const std::string& peerIp);
    void clearFailures(const std::string& peerIp);
    // Forgets every record, the count across addresses and the exemptions.
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
    bool isLockedOutLocked(int64_t nowMs) const;

    const ClockMs m_nowMs;  // set at construction, read-only after

    std::mutex m_mutex;
    // guards: m_attempts, m_globalDueMs, m_admitted
    std::unordered_map<std::string, Attempts> m_attempts;  // keyed by peer IPv4 text
    // Monotonic ms at which the codes counted across addresses will all have
    // been paid off, kGlobalIntervalMs each; 0 = none counted yet.
    int64_t m_globalDueMs = 0;
    // Peers that sent the right code, with that code upper-cased.
    std::unordered_map<std::string, std::string> m_admitted;
};

}  // namespace lagwell
