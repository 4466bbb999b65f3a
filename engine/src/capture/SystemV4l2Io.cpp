#include "SystemV4l2Io.h"

#include <cerrno>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace lagwell {

SystemV4l2Io& SystemV4l2Io::instance()
{
    static SystemV4l2Io io;
    return io;
}

int SystemV4l2Io::open(const char* path, int flags)
{
    return ::open(path, flags | O_CLOEXEC);
}

int SystemV4l2Io::close(int fd)
{
    return ::close(fd);
}

int SystemV4l2Io::ioctl(int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument);
}

void* SystemV4l2Io::mmap(size_t length, int protection, int flags, int fd, off_t offset)
{
    return ::mmap(nullptr, length, protection, flags, fd, offset);
}

int SystemV4l2Io::munmap(void* address, size_t length)
{
    return ::munmap(address, length);
}

int SystemV4l2Io::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    return ::poll(fds, count, timeoutMs);
}

bool SystemV4l2Io::listDirectory(const std::string& directory, std::vector<std::string>* names)
{
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir))
        names->emplace_back(entry->d_name);
    ::closedir(dir);
    return true;
}

uid_t SystemV4l2Io::effectiveUserId()
{
    return ::geteuid();
}

bool SystemV4l2Io::findGroup(const char* name, gid_t* gid)
{
    // getgrnam_r with a growing buffer: getgrnam's static record is not
    // thread-safe and probes may run beside the GUI thread.
    std::vector<char> buffer(1024);
    for (;;) {
        group record {};
        group* found = nullptr;
        const int rc = ::getgrnam_r(name, &record, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found)
            return false;
        *gid = found->gr_gid;
        return true;
    }
}

gid_t SystemV4l2Io::effectiveGroupId()
{
    return ::getegid();
}

int SystemV4l2Io::supplementaryGroups(int capacity, gid_t* list)
{
    return ::getgroups(capacity, list);
}

}  // namespace lagwell
