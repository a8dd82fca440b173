#pragma once
// What the fuzz targets share: a user interface that answers every box with
// its first button and cancels every dialog, a reader that takes typed
// pieces from the fuzzer's bytes, and a scratch file per process.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/UserInterface.h"

namespace spindle::fuzz {

class QuietUserInterface final : public IUserInterface {
public:
    int MessageBox(const std::string&, const std::string&, unsigned style) override {
        ++boxes;
        const unsigned buttons = style & 0x000F;
        return buttons == mb::kYesNo || buttons == mb::kYesNoCancel ? mb::kIdYes : mb::kIdOk;
    }
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }
    int boxes = 0;
};

// Takes the fuzzer's bytes front to back; past the end every read gives 0
// or an empty text.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    bool Flag() { return (Byte() & 1) != 0; }
    // A text of up to `most` bytes, its length taken from the next byte.
    std::string Text(std::size_t most = 255) {
        std::size_t length = Byte();
        if (length > most) length = most;
        return Bytes(length);
    }
    std::string Bytes(std::size_t length) {
        if (length > size_ - at_) length = size_ - at_;
        std::string text(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return text;
    }
    std::string Rest() { return Bytes(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A scratch folder of this process (removed by the system's temp cleaning;
// fuzzing runs are short-lived) and a file path in it.
inline std::string ScratchPath(const std::string& name) {
    static const std::string folder = [] {
        std::string pattern = "/tmp/spindle-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        ::setenv("SPINDLE_CONFIG_DIR", pattern.c_str(), 1);
        return pattern;
    }();
    return folder + "/" + name;
}

inline void WriteScratch(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
    std::fclose(file);
}

// A property the target checks failed: report it and stop, so the fuzzer
// keeps the input.
#define SPINDLE_FUZZ_CHECK(condition)                                                               \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)

}  // namespace spindle::fuzz
