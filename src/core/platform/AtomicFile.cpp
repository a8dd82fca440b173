#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/Format.h"

namespace spindle {

namespace {

std::mutex& FaultMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<bool(const std::string&)>& FaultHook() {
    static std::function<bool(const std::string&)> hook;
    return hook;
}

bool FaultInjected(const std::string& path) {
    std::lock_guard lock(FaultMutex());
    return FaultHook() && FaultHook()(path);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

FileWriteResult Failure(FileWriteResult::Status status, std::string error) {
    FileWriteResult result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path target(path);
    // A bounded walk, so a loop of links ends.
    for (int hop = 0; hop < 40 && fs::is_symlink(target, error); ++hop) {
        const fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

FileWriteResult ReplaceFileAtomically(const std::string& path, const std::string& bytes, FileFlush flush) {
    if (path.empty()) return Failure(FileWriteResult::Failed, "no file name was given");
    namespace fs = std::filesystem;
    const fs::path target(FollowLinks(path));
    if (target.filename().empty()) return Failure(FileWriteResult::Failed, path + " is not a file name");
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode)) return Failure(FileWriteResult::Failed, path + " is not a regular file");
        // Root may write any file; a file without a write bit was still
        // marked read-only by someone, so it is refused all the same.
        if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.c_str(), W_OK) != 0) {
            return Failure(FileWriteResult::ReadOnly, StrPrintf("%s is read-only; it was not changed", path.c_str()));
        }
    }

    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return Failure(FileWriteResult::Failed, StrPrintf("cannot create a temporary file beside %s: %s",
                                                          path.c_str(), std::strerror(errno)));
    }
    mode_t mode = 0644;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && WriteAll(fd, bytes);
    int savedErrno = ok ? 0 : errno;
    if (ok && FaultInjected(target.string())) {
        ok = false;
        savedErrno = ENOSPC;
    }
    if (ok && flush == FileFlush::ToDisk && ::fsync(fd) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return Failure(FileWriteResult::Failed,
                       StrPrintf("cannot write %s: %s; it was not changed", path.c_str(), std::strerror(savedErrno)));
    }
    // Make the rename itself durable; a failure here leaves a complete file.
    const int dirFd = flush == FileFlush::ToDisk ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY) : -1;
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    FileWriteResult result;
    result.status = FileWriteResult::Ok;
    return result;
}

void SetAtomicWriteFaultForTesting(std::function<bool(const std::string& path)> fault) {
    std::lock_guard lock(FaultMutex());
    FaultHook() = std::move(fault);
}

}  // namespace spindle
