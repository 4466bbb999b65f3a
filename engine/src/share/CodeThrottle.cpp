#include "CodeThrottle.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace lagwell {

namespace {

std::string upperCased(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

CodeThrottle::CodeThrottle(ClockMs nowMs) : m_nowMs(std::move(nowMs)) {}

int64_t CodeThrottle::nowMs() const
{
    if (m_nowMs)
        return m_nowMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CodeThrottle::codesMatch(const std::string& sentCode, const std::string& roomCode)
{
    if (sentCode.size() != roomCode.size())
        return false;
    for (size_t i = 0; i < sentCode.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(sentCode[i]))
            != std::toupper(static_cast<unsigned char>(roomCode[i])))
            return false;
    }
    return true;
}

CodeThrottle::Verdict CodeThrottle::checkCode(const std::string& peerIp, const std::string& sentCode,
                                              const std::string& roomCode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (isThrottledLocked(peerIp))
        return Verdict::Throttled;
    const std::string room = upperCased(roomCode);
    const auto admitted = m_admitted.find(peerIp);
    const bool exempt = admitted != m_admitted.end() && !room.empty() && admitted->second == room;
    if (!exempt && isLockedOutLocked(nowMs()))
        return Verdict::Throttled;
    if (!roomCode.empty() && codesMatch(sentCode, roomCode)) {
        m_attempts.erase(peerIp);
        m_admitted[peerIp] = room;
        return Verdict::Right;
    }
    noteFailureLocked(peerIp, sentCode);
    return Verdict::Wrong;
}

bool CodeThrottle::isLockedOutLocked(int64_t now) const
{
    // One more code would pass the burst of kThrottleAtCodes.
    return m_globalDueMs - now > kWindowMs - kGlobalIntervalMs;
}

void CodeThrottle::noteFailure(const std::string& peerIp, const std::string& wrongCode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    noteFailureLocked(peerIp, wrongCode);
}

void CodeThrottle::noteFailureLocked(const std::string& peerIp, const std::string& wrongCode)
{
    const std::string code = upperCased(wrongCode);
    Attempts& record = m_attempts[peerIp];
    const int64_t now = nowMs();
    if (record.wrongCodes.empty()) {
        if (record.windowStartMs == 0 || now - record.windowStartMs > kWindowMs)
            record.windowStartMs = now;
    } else if (now - record.windowStartMs > kWindowMs) {
        record.wrongCodes.clear();
        record.windowStartMs = now;
    }
    if (record.wrongCodes.size() >= kMaxCodesKept)
        return;
    if (std::find(record.wrongCodes.begin(), record.wrongCodes.end(), code) != record.wrongCodes.end())
        return;
    record.wrongCodes.push_back(code);
    // Only a new guess of this peer counts across addresses too.
    m_globalDueMs = std::max(m_globalDueMs, now) + kGlobalIntervalMs;
}

bool CodeThrottle::isThrottled(const std::string& peerIp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return isThrottledLocked(peerIp);
}

bool CodeThrottle::isThrottledLocked(const std::string& peerIp)
{
    const auto it = m_attempts.find(peerIp);
    if (it == m_attempts.end())
        return false;
    if (nowMs() - it->second.windowStartMs > kWindowMs) {
        m_attempts.erase(it);
        return false;
    }
    return it->second.wrongCodes.size() >= kThrottleAtCodes;
}

void CodeThrottle::clearFailures(const std::string& peerIp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_attempts.erase(peerIp);
}

void CodeThrottle::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_attempts.clear();
    m_globalDueMs = 0;
    m_admitted.clear();
}

}  // namespace lagwell
