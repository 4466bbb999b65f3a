#pragma once

#include "V4l2Io.h"

namespace lagwell {

// The production V4L2 seam: each call goes straight to the kernel.
class SystemV4l2Io final : public V4l2Io {
public:
    // The process-wide instance; stateless, so shared by every caller.
    static SystemV4l2Io& instance();

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(size_t length, int protection, int flags, int fd, off_t offset) override;
    int munmap(void* address, size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    bool listDirectory(const std::string& directory, std::vector<std::string>* names) override;
    uid_t effectiveUserId() override;
    bool findGroup(const char* name, gid_t* gid) override;
    gid_t effectiveGroupId() override;
    int supplementaryGroups(int capacity, gid_t* list) override;
};

}  // namespace lagwell
