#pragma once

// The engine's single logging helper. Every line goes to standard error as
// "hh:mm:ss.mmm [LEVEL] File.cpp:123: " followed by the message, which starts
// with the class name ("TestPatternSource: ..."). Callable from any thread;
// each line is written with one call so lines of different threads never mix.
// Debug lines (the libraries' own chatter, Transcoder details) are written
// only while debug logging is on: TAVRIX_DEBUG=1 in the environment, or
// setDebugLogging(true).

namespace lagwell {

class LogRepeatLimiter;

enum class LogLevel { Debug, Info, Warn, Error };

// Whether Debug lines are written. Starts from TAVRIX_DEBUG ("1" turns it on).
bool isDebugLogging();
void setDebugLogging(bool on);

void logLine(LogLevel level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// A line without the prefix, for the few plain render and engine notices.
void logPlain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// logLine for messages that can repeat with every frame: written only when
// `limiter` admits it (at most about once a second), and then followed by
// " (N more like this since the last)" when N lines were held back.
void logLineLimited(LogRepeatLimiter& limiter, LogLevel level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace lagwell

#define LW_LOG_DEBUG(...) ::lagwell::logLine(::lagwell::LogLevel::Debug, __FILE__, __LINE__, __VA_ARGS__)
#define LW_LOG_INFO(...) ::lagwell::logLine(::lagwell::LogLevel::Info, __FILE__, __LINE__, __VA_ARGS__)
#define LW_LOG_WARN(...) ::lagwell::logLine(::lagwell::LogLevel::Warn, __FILE__, __LINE__, __VA_ARGS__)
#define LW_LOG_ERROR(...) ::lagwell::logLine(::lagwell::LogLevel::Error, __FILE__, __LINE__, __VA_ARGS__)
#define LW_LOG_WARN_LIMITED(limiter, ...) \
    ::lagwell::logLineLimited((limiter), ::lagwell::LogLevel::Warn, __FILE__, __LINE__, __VA_ARGS__)
