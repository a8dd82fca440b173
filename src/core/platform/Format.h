#pragma once
#include <cstdarg>
#include <string>

namespace spindle {

// printf-style formatting into a std::string. The formats of this program
// are printf formats, so this is the one formatting helper everyone uses.
std::string StrPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrVPrintf(const char* format, std::va_list args);

}  // namespace spindle
