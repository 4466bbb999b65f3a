#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lagwell {
namespace {

constexpr int kLowestNice = 19;

id_t thisThreadId()
{
    return static_cast<id_t>(syscall(SYS_gettid));
}

}  // namespace

int thisThreadNiceValue()
{
    errno = 0;
    return getpriority(PRIO_PROCESS, thisThreadId());
}

bool lowerThisThreadPriority(int increment, std::string* error)
{
    const int target = std::min(thisThreadNiceValue() + std::max(increment, 0), kLowestNice);
    if (setpriority(PRIO_PROCESS, thisThreadId(), target) != 0) {
        if (error)
            *error = std::string("Could not lower the thread's priority (") + std::strerror(errno) + ").";
        return false;
    }
    return true;
}

}  // namespace lagwell
