#include "StringFormat.h"

#include <cstdio>

namespace lagwell {

bool appendFormatted(std::string& out, const char* format, va_list args)
{
    // Most lines fit the stack buffer; a longer one is formatted again.
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return false;
    if (static_cast<size_t>(needed) < sizeof small) {
        out.append(small, static_cast<size_t>(needed));
        return true;
    }
    std::string big(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(needed));
    out += big;
    return true;
}

}  // namespace lagwell
