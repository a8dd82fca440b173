#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// A file opened for reading. Every file Spindle reads is opened here, and
// only a regular file is: the open does not block, so a pipe without a
// writer (which a read would wait on for ever), a directory or a device is
// NotAFile, found at once.
class CRegularFile {
public:
    explicit CRegularFile(const std::string& path);
    ~CRegularFile();
    CRegularFile(const CRegularFile&) = delete;
    CRegularFile& operator=(const CRegularFile&) = delete;

    // Ok when open; Missing, Failed or NotAFile when not.
    BoundedRead State() const { return state_; }
    std::FILE* Stream() const { return file_; }
    std::uint64_t Size() const { return size_; }

private:
    BoundedRead state_ = BoundedRead::Failed;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

// Reads at most `maxBytes` of the regular file; TooLarge (and nothing in
// `bytes`) when it holds more.
BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Why a read that did not give Ok gave nothing, as a clause for a message
// ("it cannot be opened", "it is not a regular file ...").
const char* BoundedReadProblem(BoundedRead read);

}  // namespace spindle
