#include "RequestReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>

namespace lagwell {

RequestReader::RequestReader(int fd, Clock::time_point deadline, int readTimeoutMs)
    : m_fd(fd), m_deadline(deadline), m_readTimeoutMs(readTimeoutMs), m_buffer(kBlockBytes)
{
}

bool RequestReader::fill()
{
    for (;;) {
        const auto remainingMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        if (remainingMs <= 0)
            return false;
        pollfd waitFor {m_fd, POLLIN, 0};
        const int ready = ::poll(&waitFor, 1, static_cast<int>(std::min<int64_t>(remainingMs, m_readTimeoutMs)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return false;
        m_begin = 0;
        m_end = static_cast<size_t>(n);
        return true;
    }
}

bool RequestReader::readLine(std::string& line)
{
    line.clear();
    size_t rawBytes = 0;
    while (line.size() < kMaxLineChars) {
        if (rawBytes == kMaxLineRawBytes)
            return false;  // carriage returns without end: junk, read no further
        if (m_begin == m_end && !fill())
            return false;
        // Up to the line feed, the character limit or the raw limit,
        // whichever comes first; carriage returns do not count as characters.
        const size_t available = std::min(m_end - m_begin, kMaxLineRawBytes - rawBytes);
        const char* start = m_buffer.data() + m_begin;
        const void* feed = std::memchr(start, '\n', available);
        const size_t scan = feed ? static_cast<size_t>(static_cast<const char*>(feed) - start) : available;
        size_t taken = 0;
        while (taken < scan && line.size() < kMaxLineChars) {
            if (start[taken] != '\r')
                line.push_back(start[taken]);
            ++taken;
        }
        m_begin += taken;
        rawBytes += taken;
        // A line cut at the character limit leaves its line feed unread.
        if (taken == scan && feed && line.size() < kMaxLineChars) {
            ++m_begin;
            return true;
        }
    }
    return true;
}

void RequestReader::drainHeaders()
{
    std::string line;
    for (int i = 0; i < kMaxHeaderLines; ++i) {
        if (!readLine(line) || line.empty())
            return;
    }
}

}  // namespace lagwell
