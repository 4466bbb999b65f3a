#include "FfmpegLogBridge.h"

#include "Log.h"
#include "LogRepeatLimiter.h"
#include "StringFormat.h"

#include <cstdarg>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace lagwell {
namespace {

// Trials open on this thread.
thread_local int t_trialDepth = 0;
// A line FFmpeg sends in pieces, until its newline; the most severe level of
// its pieces.
thread_local std::string t_pending;
thread_local int t_pendingLevel = AV_LOG_TRACE;

LogRepeatLimiter& errorLimiter()
{
    static LogRepeatLimiter limiter;
    return limiter;
}

const char* itemName(void* context)
{
    if (!context)
        return nullptr;
    const AVClass* avClass = *static_cast<const AVClass**>(context);
    if (!avClass || !avClass->item_name)
        return nullptr;
    return avClass->item_name(context);
}

void writeLine(const char* item, int level, const std::string& text)
{
    const bool isError = level <= AV_LOG_ERROR && t_trialDepth == 0;
    const char* name = item ? item : "ffmpeg";
    if (isError) {
        logLineLimited(errorLimiter(), LogLevel::Error, __FILE__, __LINE__, "FfmpegLogBridge: [%s] %s", name,
                       text.c_str());
    } else {
        LW_LOG_DEBUG("FfmpegLogBridge: [%s] %s", name, text.c_str());
    }
}

void callback(void* context, int level, const char* format, va_list arguments)
{
    // The level FFmpeg is set to still decides what is worth formatting.
    if (level > av_log_get_level())
        return;
    // Nothing but errors is written without debug logging; a piece that
    // continues a pending line still joins it.
    if (level > AV_LOG_ERROR && !isDebugLogging() && t_pending.empty())
        return;
    std::string text;
    if (!appendFormatted(text, format, arguments))
        return;

    t_pending += text;
    if (level < t_pendingLevel)
        t_pendingLevel = level;
    size_t start = 0;
    size_t newline;
    while ((newline = t_pending.find('\n', start)) != std::string::npos) {
        if (newline > start)
            writeLine(itemName(context), t_pendingLevel, t_pending.substr(start, newline - start));
        start = newline + 1;
    }
    if (start > 0) {
        // What is left began in this piece.
        t_pending.erase(0, start);
        t_pendingLevel = t_pending.empty() ? AV_LOG_TRACE : level;
    }
}

}  // namespace

void FfmpegLogBridge::install()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(callback); });
}

FfmpegLogBridge::Trial::Trial()
{
    // Without the bridge FFmpeg would print the trial's errors itself.
    install();
    ++t_trialDepth;
}

FfmpegLogBridge::Trial::~Trial()
{
    --t_trialDepth;
}

}  // namespace lagwell
