#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lagwell {

// One viewer of the live stream: the socket of a connection that asked for
// "/live.ts" with the right room code, owned by that connection's thread,
// which alone closes it (after markClosed()).
//
// Sending never waits: the broadcast (encoder worker) and the viewer's own
// thread write with MSG_DONTWAIT under the viewer's lock; bytes the socket
// cannot take are kept in a backlog in order. A viewer that has taken nothing
// for kStallMs while bytes were waiting for it, or whose backlog has grown
// past kMaxBacklogBytes, must go: one slow or stalled viewer costs the others
// and the encoder nothing but a few syscalls per access unit.
//
// "Taken" means taken by the peer: the socket's send queue (bytes not yet
// acknowledged) shrank. Bytes the kernel merely accepted into its send
// buffer, which can grow to megabytes, do not count, so a dead viewer is
// noticed kStallMs after it stopped, however large that buffer.
class ShareViewer {
public:
    // A viewer that can take nothing for this long is dropped.
    static constexpr int64_t kStallMs = 2000;
    // About ten seconds of a 1280x720 stream; past this a slow viewer is
    // dropped even while it still moves some bytes.
    static constexpr size_t kMaxBacklogBytes = 4u << 20;

    // Monotonic milliseconds; empty means std::chrono::steady_clock.
    using ClockMs = std::function<int64_t()>;

    ShareViewer(int fd, std::string peerIp, ClockMs nowMs = {});

    ShareViewer(const ShareViewer&) = delete;
    ShareViewer& operator=(const ShareViewer&) = delete;

    int fd() const { return m_fd; }
    const std::string& peerIp() const { return m_peerIp; }

    // Hands one packetised access unit to the viewer. Nothing is sent before
    // the first keyframe unit (which sets started()). False when the viewer
    // must be dropped: gone, stalled, its backlog too large or a send failed.
    bool deliver(const std::vector<uint8_t>& bytes, bool keyframe);
    // Moves what it can of the backlog; false as for deliver().
    bool flush();

    // Clears alive() and shuts the socket down in both directions, unless the
    // owning thread has already marked it closed (its number may then belong
    // to another connection).
    void drop();
    // The owning thread, before it closes the socket: from now on nobody
    // else touches the descriptor.
    void markClosed();

    bool alive() const { return m_alive.load(); }
    bool started() const { return m_started.load(); }
    size_t backlogBytes();

private:
    int64_t nowMs() const;
    // Sends from the backlog without waiting; false on a failed send or a stall.
    bool flushLocked(int64_t nowMs);
    // Counts the peer's progress since our last send (see the class comment).
    void notePeerProgressLocked(int64_t nowMs);
    // Bytes in the socket's send queue that the peer has not taken; -1 when
    // the socket cannot tell.
    int queuedInSocket() const;

    const int m_fd;
    const std::string m_peerIp;
    const ClockMs m_nowMs;
    std::atomic<bool> m_alive {true};
    std::atomic<bool> m_started {false};  // set at the first keyframe after joining

    std::mutex m_mutex;
    // guards: m_closed, m_backlog, m_backlogOffset, m_lastProgressMs, m_lastQueued; sends on m_fd happen under it
    bool m_closed = false;            // the owning thread is about to close m_fd
    std::vector<uint8_t> m_backlog;   // bytes not yet taken by the socket; overflow drops the viewer
    size_t m_backlogOffset = 0;       // first unsent byte of m_backlog
    int64_t m_lastProgressMs = 0;     // when the peer last took a byte, or nothing was waiting for it
    int m_lastQueued = 0;             // queuedInSocket() after our last send; -1 = the socket cannot tell
};

}  // namespace lagwell
