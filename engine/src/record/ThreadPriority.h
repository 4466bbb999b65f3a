#pragma once

#include <string>

namespace lagwell {

// How far below the render thread encoders run: under load a recording or
// a live stream loses pictures, the screen does not.
constexpr int kEncoderNiceIncrement = 5;

// Makes the calling thread a batch thread (SCHED_BATCH: when it wakes it
// never preempts the thread that woke it, such as the render thread handing
// over a picture) and raises its nice value by `increment` (to at most 19).
// Linux keeps both per thread and threads created afterwards inherit them, so
// a worker calls this before it opens a codec that starts threads of its
// own. False with one sentence when the kernel refuses either.
bool lowerThisThreadPriority(int increment, std::string* error = nullptr);

// The calling thread's nice value.
int thisThreadNiceValue();

}  // namespace lagwell
