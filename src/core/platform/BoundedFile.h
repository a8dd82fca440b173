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

enum class BoundedRead { Ok, Missing, Failed, TooLarge, NotAFile };

// Reads at most `maxBytes` of the file; TooLarge (and nothing in `bytes`)
// when it holds more. Only a regular file is read: a directory, a device or
// a pipe (which would block for ever without a writer) is NotAFile, found
// without waiting.
BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Why a read that did not give Ok gave nothing, as a clause for a message
// ("it cannot be opened", "it is not a regular file ...").
const char* BoundedReadProblem(BoundedRead read);

}  // namespace spindle
