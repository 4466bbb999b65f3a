#pragma once

// The system calls the V4L2 camera code makes, behind one small interface so
// tests can stand a fake device in for the kernel. Every operation keeps the
// calling convention of the system call it stands for: -1 (or MAP_FAILED)
// with errno set on failure. Implementations are called from the controlling
// thread and from capture threads at once and must be thread-safe.

#include <cstddef>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/types.h>

namespace lagwell {

class V4l2Io {
public:
    virtual ~V4l2Io() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    // Not retried here: callers repeat on EINTR.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(size_t length, int protection, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* address, size_t length) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;

    // Every entry name of `directory` (with "." and "..", unsorted). False
    // with errno set when the directory cannot be opened.
    virtual bool listDirectory(const std::string& directory, std::vector<std::string>* names) = 0;

    // The process's identity: geteuid, and the group database: getgrnam,
    // getegid, getgroups.
    virtual uid_t effectiveUserId() = 0;
    virtual bool findGroup(const char* name, gid_t* gid) = 0;
    virtual gid_t effectiveGroupId() = 0;
    virtual int supplementaryGroups(int capacity, gid_t* list) = 0;
};

}  // namespace lagwell
