#pragma once

#include <string>

namespace lagwell {

// libavutil's description of an error code (at most 63 characters); for a code
// it does not know, its own generic text.
std::string ffmpegError(int code);

}  // namespace lagwell
