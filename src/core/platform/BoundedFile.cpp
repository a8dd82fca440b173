#include "platform/BoundedFile.h"

#include <cerrno>
#include <cstdio>

namespace spindle {

BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    if (path.empty()) return BoundedRead::Missing;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return (errno == ENOENT || errno == ENOTDIR) ? BoundedRead::Missing : BoundedRead::Failed;
    }
    char buffer[4096];
    std::size_t got = 0;
    bool tooLarge = false;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (bytes.size() + got > maxBytes) {
            tooLarge = true;
            break;
        }
        bytes.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLarge || failed) bytes.clear();
    if (tooLarge) return BoundedRead::TooLarge;
    return failed ? BoundedRead::Failed : BoundedRead::Ok;
}

}  // namespace spindle
