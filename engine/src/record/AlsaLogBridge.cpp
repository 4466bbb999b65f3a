#include "AlsaLogBridge.h"

#include "Log.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace lagwell {
namespace {

void handler(const char* file, int line, const char* function, int error, const char* format, ...)
{
    if (!isDebugLogging())
        return;
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::string where = std::string(file ? file : "?") + ":" + std::to_string(line);
    if (function)
        where += std::string(" (") + function + ")";
    if (error != 0)
        LW_LOG_DEBUG("AlsaLogBridge: %s: %s (%s)", where.c_str(), text, snd_strerror(error));
    else
        LW_LOG_DEBUG("AlsaLogBridge: %s: %s", where.c_str(), text);
}

}  // namespace

void AlsaLogBridge::install()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(handler); });
}

}  // namespace lagwell
