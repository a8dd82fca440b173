#include "platform/BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace spindle {

CRegularFile::CRegularFile(const std::string& path) {
    if (path.empty()) {
        state_ = BoundedRead::Missing;
        return;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        state_ = (errno == ENOENT || errno == ENOTDIR) ? BoundedRead::Missing : BoundedRead::Failed;
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        state_ = BoundedRead::NotAFile;
        return;
    }
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) {
        ::close(fd);
        return;
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    state_ = BoundedRead::Ok;
}

CRegularFile::~CRegularFile() {
    if (file_ != nullptr) std::fclose(file_);
}

BoundedRead ReadFileBounded(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    const CRegularFile file(path);
    if (file.State() != BoundedRead::Ok) return file.State();
    char buffer[4096];
    std::size_t got = 0;
    bool tooLarge = false;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.Stream())) > 0) {
        if (bytes.size() + got > maxBytes) {
            tooLarge = true;
            break;
        }
        bytes.append(buffer, got);
    }
    const bool failed = std::ferror(file.Stream()) != 0;
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
        case BoundedRead::NotAFile: return "it is a directory, a pipe or a device, not a regular file";
    }
    return "it cannot be read";
}

}  // namespace spindle
