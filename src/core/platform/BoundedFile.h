#pragma once
#include <cstddef>
#include <string>

namespace spindle {

// How much of each kind of file Spindle reads at most. A file larger than
// its bound (or endless, as /dev/zero) is refused rather than read into
// memory until the program dies.
inline constexpr std::size_t kMaxProfileFileBytes = 1u << 20;   // settings, .lin, .cal
inline constexpr std::size_t kMaxJsonFileBytes = 16u << 20;     // bench files and backups
inline constexpr std::size_t kMaxHexFileBytes = 4u << 20;       // Intel HEX (a full 64 KiB image is ~180 KB)
// JSON files nest a few levels deep; deeper ones are refused before they can
// exhaust the stack of a recursive reader.
inline constexpr int kMaxJsonDepth = 64;

enum class BoundedRead { Ok, Missing, Failed, TooLarge };

// Reads at most `maxBytes` of the file; TooLarge (and nothing in `bytes`)
// when it holds more.
BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes);

}  // namespace spindle
