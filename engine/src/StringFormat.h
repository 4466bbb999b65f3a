#pragma once

// printf-style formatting into a std::string, for the log and the bridges
// that feed it the libraries' own messages.

#include <cstdarg>
#include <string>

namespace lagwell {

// Appends `format` filled from `args` to `out`; consumes `args`. False, with
// nothing appended, when the format cannot be used.
bool appendFormatted(std::string& out, const char* format, va_list args);

}  // namespace lagwell
