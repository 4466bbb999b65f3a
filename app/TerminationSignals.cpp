#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe's write end for the handler; -1 while no object is active.
std::atomic<int> g_writeFd {-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free descriptor");

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds notices enough to wake the reader.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("TerminationSignals: pipe2");
        return;
    }
    m_readFd.reset(fds[0]);
    m_writeFd.reset(fds[1]);

    int expected = -1;
    if (!g_writeFd.compare_exchange_strong(expected, m_writeFd.get()))
        return;  // another object is active

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (::sigaction(kSignals[i], &action, &m_previous[i]) != 0) {
            std::perror("TerminationSignals: sigaction");
            for (std::size_t j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &m_previous[j], nullptr);
            g_writeFd.store(-1);
            return;
        }
    }
    m_notifier = new QSocketNotifier(m_readFd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    m_active = true;
}

TerminationSignals::~TerminationSignals()
{
    if (!m_active)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    // The handlers go first, then the descriptor they write to; the pipe
    // itself closes with the members.
    g_writeFd.store(-1);
}

const char* TerminationSignals::nameOf(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "another signal";
    }
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    for (;;) {
        const ssize_t count = ::read(m_readFd.get(), bytes, sizeof bytes);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;  // drained (EAGAIN), or the pipe is gone
        for (ssize_t i = 0; i < count; ++i)
            emit received(bytes[i]);
    }
}
