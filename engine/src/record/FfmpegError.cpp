#include "FfmpegError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace lagwell {

std::string ffmpegError(int code)
{
    char text[64] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

}  // namespace lagwell
