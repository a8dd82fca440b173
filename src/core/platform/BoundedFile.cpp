#include "platform/BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace spindle {

BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    if (path.empty()) return BoundedRead::Missing;
    // Opened without blocking, so that a pipe with no writer is found out
    // rather than waited on; only a regular file is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? BoundedRead::Missing : BoundedRead::Failed;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return BoundedRead::NotAFile;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return BoundedRead::Failed;
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

const char* BoundedReadProblem(BoundedRead read) {
    switch (read) {
        case BoundedRead::Ok: return "";
        case BoundedRead::Missing: return "it does not exist";
        case BoundedRead::Failed: return "it cannot be read";
        case BoundedRead::TooLarge: return "it is too large";
        case BoundedRead::NotAFile: return "it is not a regular file (a directory, a pipe or a device)";
    }
    return "it cannot be read";
}

}  // namespace spindle
