#pragma once

// For tests of components that lower their own threads below the caller's.

#include <string>
#include <vector>

namespace lagwell::test {

struct ThreadScheduling {
    int nice = 0;
    int policy = 0;  // SCHED_OTHER 0, SCHED_BATCH 3
};

// The nice value and scheduling policy of every thread of this process
// named `name`.
std::vector<ThreadScheduling> prioritiesOfThreadsNamed(const std::string& name);

}  // namespace lagwell::test
