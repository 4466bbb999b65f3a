#include "Log.h"

#include "LogRepeatLimiter.h"
#include "StringFormat.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace lagwell {
namespace {

constexpr const char* kDebugVariable = "TAVRIX_DEBUG";

std::atomic<bool>& debugFlag()
{
    static std::atomic<bool> flag {[] {
        const char* value = std::getenv(kDebugVariable);
        return value && std::strcmp(value, "1") == 0;
    }()};
    return flag;
}

const char* levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return "DEBUG";
    case LogLevel::Info: return "INFO";
    case LogLevel::Warn: return "WARN";
    case LogLevel::Error: return "ERROR";
    }
    return "INFO";
}

const char* baseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void writeLine(std::string& line)
{
    line.push_back('\n');
    // One write per line keeps concurrent lines whole.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

std::string linePrefix(LogLevel level, const char* file, int line)
{
    timeval now {};
    gettimeofday(&now, nullptr);
    tm local {};
    localtime_r(&now.tv_sec, &local);

    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d [%s] %s:%d: ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(now.tv_usec / 1000), levelName(level), baseName(file), line);
    return prefix;
}

}  // namespace

bool isDebugLogging()
{
    return debugFlag().load(std::memory_order_relaxed);
}

void setDebugLogging(bool on)
{
    debugFlag().store(on, std::memory_order_relaxed);
}

void logLine(LogLevel level, const char* file, int line, const char* format, ...)
{
    if (level == LogLevel::Debug && !isDebugLogging())
        return;
    std::string out = linePrefix(level, file, line);
    va_list args;
    va_start(args, format);
    appendFormatted(out, format, args);
    va_end(args);
    writeLine(out);
}

void logLineLimited(LogRepeatLimiter& limiter, LogLevel level, const char* file, int line, const char* format, ...)
{
    const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    if (level == LogLevel::Debug && !isDebugLogging())
        return;
    uint64_t heldBack = 0;
    if (!limiter.admit(nowMs, &heldBack))
        return;
    std::string out = linePrefix(level, file, line);
    va_list args;
    va_start(args, format);
    appendFormatted(out, format, args);
    va_end(args);
    if (heldBack > 0) {
        char count[64];
        std::snprintf(count, sizeof count, " (%llu more like this since the last)",
                      static_cast<unsigned long long>(heldBack));
        out += count;
    }
    writeLine(out);
}

void logPlain(const char* format, ...)
{
    std::string out;
    va_list args;
    va_start(args, format);
    appendFormatted(out, format, args);
    va_end(args);
    writeLine(out);
}

}  // namespace lagwell
