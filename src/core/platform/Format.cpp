#include "platform/Format.h"

#include <cstdio>
#include <vector>

namespace spindle {

std::string StrVPrintf(const char* format, std::va_list args) {
    char small[256];
    std::va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, static_cast<std::size_t>(needed));
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<std::size_t>(needed));
}

std::string StrPrintf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = StrVPrintf(format, args);
    va_end(args);
    return text;
}

}  // namespace spindle
