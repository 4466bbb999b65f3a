#pragma once

// The words burned into recordings, in the recording-card language: one
// process-wide copy, set whole on the GUI thread and read whole (defaults
// filled in) on the render thread, so one overlay never mixes two languages.

#include "EngineTypes.h"

#include <cstdint>
#include <string>

namespace lagwell {

// Replaces all five words at once. Any thread.
void setCardStrings(const CardStrings& strings);

// A copy of the current words with every empty one replaced by its English
// default ("LIVE", "Training Session", "Player: ", "Coach: ", "SESSION DURATION").
CardStrings currentCardStrings();

// "LIVE" (the current live word) for delayMs <= 0, else "2.5s".
std::string formatDelay(int delayMs);

// "m:ss" below an hour, "h:mm:ss" from an hour; negative counts as 0.
std::string formatDuration(int64_t ms);

}  // namespace lagwell
