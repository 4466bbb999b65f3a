#pragma once

#include "V4l2Io.h"

#include <utility>

namespace lagwell {

// A descriptor opened through the seam; closed through it unless released.
class SeamFd {
public:
    SeamFd(V4l2Io& io, int fd) : m_io(io), m_fd(fd) {}
    ~SeamFd()
    {
        if (m_fd >= 0)
            m_io.close(m_fd);
    }
    SeamFd(const SeamFd&) = delete;
    SeamFd& operator=(const SeamFd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    V4l2Io& m_io;
    int m_fd;
};

}  // namespace lagwell
