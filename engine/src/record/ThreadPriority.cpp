#include "ThreadPriority.h"

#include <sched.h>
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
    // Each step is worth having without the other.
    std::string message;
    sched_param param {};
    param.sched_priority = 0;
    if (sched_setscheduler(static_cast<pid_t>(thisThreadId()), SCHED_BATCH, &param) != 0)
        message = std::string("Could not make the thread a batch thread (") + std::strerror(errno) + ").";
    const int target = std::min(thisThreadNiceValue() + std::max(increment, 0), kLowestNice);
    if (setpriority(PRIO_PROCESS, thisThreadId(), target) != 0 && message.empty())
        message = std::string("Could not lower the thread's priority (") + std::strerror(errno) + ").";
    if (!message.empty() && error)
        *error = message;
    return message.empty();
}

}  // namespace lagwell
