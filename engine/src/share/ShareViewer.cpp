#include "ShareViewer.h"

#include <cerrno>
#include <chrono>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace lagwell {

ShareViewer::ShareViewer(int fd, std::string peerIp, ClockMs nowMs)
    : m_fd(fd), m_peerIp(std::move(peerIp)), m_nowMs(std::move(nowMs))
{
    m_lastProgressMs = this->nowMs();
    m_lastQueued = queuedInSocket();
}

int64_t ShareViewer::nowMs() const
{
    if (m_nowMs)
        return m_nowMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ShareViewer::deliver(const std::vector<uint8_t>& bytes, bool keyframe)
{
    if (!m_alive.load())
        return false;
    const int64_t now = nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return false;
    if (!m_started.load()) {
        if (!keyframe)
            return true;
        m_started.store(true);
    }
    notePeerProgressLocked(now);
    if (m_backlogOffset == m_backlog.size()) {
        m_backlog.clear();
        m_backlogOffset = 0;
    }
    m_backlog.insert(m_backlog.end(), bytes.begin(), bytes.end());
    if (!flushLocked(now))
        return false;
    return m_backlog.size() - m_backlogOffset <= kMaxBacklogBytes;
}

bool ShareViewer::flush()
{
    if (!m_alive.load())
        return false;
    const int64_t now = nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return false;
    notePeerProgressLocked(now);
    return flushLocked(now);
}

int ShareViewer::queuedInSocket() const
{
    int queued = 0;
    if (::ioctl(m_fd, SIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

void ShareViewer::notePeerProgressLocked(int64_t now)
{
    // Between two of our sends only the peer shrinks the send queue.
    const int queued = queuedInSocket();
    const bool backlogEmpty = m_backlogOffset == m_backlog.size();
    if (queued < 0) {
        if (backlogEmpty)
            m_lastProgressMs = now;
    } else if ((backlogEmpty && queued == 0) || (m_lastQueued >= 0 && queued < m_lastQueued)) {
        m_lastProgressMs = now;
    }
    m_lastQueued = queued;
}

bool ShareViewer::flushLocked(int64_t now)
{
    bool sent = false;
    while (m_backlogOffset < m_backlog.size()) {
        const ssize_t n = ::send(m_fd, m_backlog.data() + m_backlogOffset, m_backlog.size() - m_backlogOffset,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_backlogOffset += static_cast<size_t>(n);
            sent = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return false;  // the peer is gone or the socket failed
    }
    if (sent) {
        m_lastQueued = queuedInSocket();
        if (m_lastQueued < 0)
            m_lastProgressMs = now;  // the socket cannot tell: what it accepted counts
    }
    if (m_backlogOffset == m_backlog.size()) {
        m_backlog.clear();
        m_backlogOffset = 0;
        return now - m_lastProgressMs < kStallMs;
    }
    // Keep the unsent tail at the front once most of the buffer is sent.
    if (m_backlogOffset > m_backlog.size() / 2) {
        m_backlog.erase(m_backlog.begin(), m_backlog.begin() + static_cast<std::ptrdiff_t>(m_backlogOffset));
        m_backlogOffset = 0;
    }
    return now - m_lastProgressMs < kStallMs;
}

void ShareViewer::drop()
{
    m_alive.store(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_closed)
        ::shutdown(m_fd, SHUT_RDWR);
}

void ShareViewer::markClosed()
{
    m_alive.store(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_backlog.clear();
    m_backlog.shrink_to_fit();
    m_backlogOffset = 0;
}

size_t ShareViewer::backlogBytes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_backlog.size() - m_backlogOffset;
}

}  // namespace lagwell
