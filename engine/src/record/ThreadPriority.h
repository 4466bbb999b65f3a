#pragma once

#include <string>

namespace lagwell {

// How far below the render thread encoders run: under load a recording or
// a live stream loses pictures, the screen does not.
constexpr int kEncoderNiceIncrement = 5;

// Raises the calling thread's nice value by `increment` (to at most 19).
// Linux keeps the value per thread and threads created afterwards inherit it,
// so a worker calls this before it opens a codec that starts threads of its
// own. False with one sentence when the kernel refuses.
bool lowerThisThreadPriority(int increment, std::string* error = nullptr);

// The calling thread's nice value.
int thisThreadNiceValue();

}  // namespace lagwell
