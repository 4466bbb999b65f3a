#include "ShareViewer.h"

#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using lagwell::ShareViewer;
using lagwell::UniqueFd;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

// Everything readable now, without waiting.
Bytes drain(int fd)
{
    Bytes out;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n <= 0)
            return out;
        out.insert(out.end(), buffer, buffer + n);
    }
}

// A connected pair with small buffers; `a` is the viewer's socket.
struct Pair {
    UniqueFd a;
    UniqueFd b;
    Pair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            a.reset(fds[0]);
            b.reset(fds[1]);
            const int small = 16384;
            ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
            ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        }
    }
};

class ShareViewerTest : public ::testing::Test {
protected:
    ShareViewer::ClockMs clock()
    {
        return [this] { return m_nowMs.load(); };
    }
    std::atomic<int64_t> m_nowMs {1000};
};

TEST_F(ShareViewerTest, sendsNothingBeforeTheFirstKeyframeThenEverythingInOrder)
{
    Pair pair;
    ASSERT_TRUE(pair.a);
    ShareViewer viewer(pair.a.get(), "10.0.0.2", clock());
    EXPECT_TRUE(viewer.deliver(pattern(300, 1), false));
    EXPECT_FALSE(viewer.started());
    EXPECT_TRUE(drain(pair.b.get()).empty());

    const Bytes key = pattern(400, 2);
    const Bytes next = pattern(500, 3);
    EXPECT_TRUE(viewer.deliver(key, true));
    EXPECT_TRUE(viewer.started());
    EXPECT_TRUE(viewer.deliver(next, false));
    Bytes expected = key;
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(drain(pair.b.get()), expected);
}

TEST_F(ShareViewerTest, whatTheSocketCannotTakeWaitsInTheBacklogWithoutBlocking)
{
    Pair pair;
    ShareViewer viewer(pair.a.get(), "10.0.0.2", clock());
    const Bytes big = pattern(600 * 1024, 9);
    EXPECT_TRUE(viewer.deliver(big, true));  // returns at once although the reader reads nothing
    EXPECT_GT(viewer.backlogBytes(), 0u);
    const Bytes more = pattern(1000, 4);
    EXPECT_TRUE(viewer.deliver(more, false));

    Bytes received;
    for (int round = 0; round < 10000 && viewer.backlogBytes() > 0; ++round) {
        const Bytes part = drain(pair.b.get());
        received.insert(received.end(), part.begin(), part.end());
        m_nowMs += 10;
        ASSERT_TRUE(viewer.flush());
    }
    const Bytes tail = drain(pair.b.get());
    received.insert(received.end(), tail.begin(), tail.end());
    Bytes expected = big;
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(received, expected);
}

TEST_F(ShareViewerTest, viewerThatTakesNothingForTwoSecondsMustGo)
{
    Pair pair;
    ShareViewer viewer(pair.a.get(), "10.0.0.2", clock());
    ASSERT_TRUE(viewer.deliver(pattern(300 * 1024, 1), true));
    ASSERT_GT(viewer.backlogBytes(), 0u);
    m_nowMs += ShareViewer::kStallMs - 1;
    EXPECT_TRUE(viewer.flush());
    EXPECT_TRUE(viewer.deliver(pattern(100, 2), false));
    m_nowMs += 1;
    EXPECT_FALSE(viewer.flush());
    EXPECT_FALSE(viewer.deliver(pattern(100, 3), false));
}

TEST_F(ShareViewerTest, bytesTheKernelAcceptedButThePeerNeverTookCountAsAStall)
{
    // Every byte fits the socket's buffer, so nothing waits in the backlog:
    // only the peer's reading tells a live viewer from a dead one.
    Pair live;
    Pair dead;
    ShareViewer reading(live.a.get(), "10.0.0.2", clock());
    ShareViewer stalled(dead.a.get(), "10.0.0.3", clock());
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(reading.deliver(pattern(1000, 1), i == 0));
        ASSERT_TRUE(stalled.deliver(pattern(1000, 1), i == 0));
        EXPECT_EQ(stalled.backlogBytes(), 0u);
        EXPECT_EQ(drain(live.b.get()).size(), 1000u);
        m_nowMs += ShareViewer::kStallMs / 4;
        EXPECT_TRUE(reading.flush());
    }
    EXPECT_FALSE(stalled.flush());
    m_nowMs += ShareViewer::kStallMs;
    EXPECT_TRUE(reading.flush());  // nothing waiting for it
}

TEST_F(ShareViewerTest, backlogPastItsLimitMustGo)
{
    Pair pair;
    ShareViewer viewer(pair.a.get(), "10.0.0.2", clock());
    const Bytes chunk = pattern(512 * 1024, 5);
    bool kept = viewer.deliver(chunk, true);
    int chunks = 1;
    while (kept && chunks < 64) {
        kept = viewer.deliver(chunk, false);
        ++chunks;
    }
    EXPECT_FALSE(kept);
    EXPECT_GT(size_t(chunks) * chunk.size(), ShareViewer::kMaxBacklogBytes);
    EXPECT_LE(size_t(chunks - 1) * chunk.size(), ShareViewer::kMaxBacklogBytes + 2 * chunk.size());
}

TEST_F(ShareViewerTest, peerThatClosedMustGo)
{
    Pair pair;
    ShareViewer viewer(pair.a.get(), "10.0.0.2", clock());
    pair.b.reset();
    EXPECT_FALSE(viewer.deliver(pattern(100, 1), true));
}

TEST_F(ShareViewerTest, dropShutsTheSocketDownOnlyWhileItIsOpen)
{
    Pair first;
    ShareViewer viewer(first.a.get(), "10.0.0.2", clock());
    const int number = first.a.get();

    // The owning thread marks the socket closed and closes it; the number
    // is then handed to another connection.
    viewer.markClosed();
    first.a.reset();
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reused(fds[0]);
    UniqueFd other(fds[1]);
    if (reused.get() != number)
        GTEST_SKIP() << "the descriptor number was not reused";

    viewer.drop();
    EXPECT_FALSE(viewer.alive());
    ASSERT_EQ(::send(reused.get(), "ok", 2, MSG_NOSIGNAL), 2);
    char text[2] = {};
    ASSERT_EQ(::recv(other.get(), text, 2, 0), 2);
    EXPECT_EQ(std::string(text, 2), "ok");

    // While open, drop does shut it down: the peer reads the end.
    Pair second;
    ShareViewer open(second.a.get(), "10.0.0.3", clock());
    open.drop();
    char byte = 0;
    EXPECT_EQ(::recv(second.b.get(), &byte, 1, 0), 0);
    EXPECT_FALSE(open.deliver(pattern(10, 1), true));
}

}  // namespace
