#pragma once
#include <functional>
#include <string>

namespace spindle {

// What replacing a file's contents came to.
struct FileWriteResult {
    enum Status { Ok, ReadOnly, Failed };
    Status status = Failed;
    std::string error;  // names the file and the reason; empty when Ok

    bool Succeeded() const { return status == Ok; }
};

// Replaces the contents of the file at `path` so that a reader sees either
// the old file or the new one whole: the bytes go to a temporary file in the
// target's folder, which is flushed to disk and renamed over the target.
// With FileFlush::WholeOnly the flushes are left out: the file is still
// replaced whole (a crashed process never leaves half a file), but a power
// cut may lose the latest contents. For a file rewritten after every small
// change, where two flushes a write cost more than the change is worth.
//
// - A symbolic link is followed: the file it names gets the bytes and the
//   link stays a link.
// - A file that exists and is marked read-only (no write permission bit, or
//   not writable by this process) is not replaced: ReadOnly, and the file
//   keeps its contents. The rename alone would replace it regardless of its
//   mode, since only the folder's permission counts for that.
// - A replaced file keeps its permission bits; a new one gets 0644 (less
//   the process's umask).
// On any failure the temporary file is removed and the target is left as it
// was.
enum class FileFlush { ToDisk, WholeOnly };
FileWriteResult ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                                      FileFlush flush = FileFlush::ToDisk);

// The file a path finally names once its symbolic links are followed (the
// path itself when it is not a link or cannot be resolved).
std::string FollowLinks(const std::string& path);

// Test hook: called after the temporary file has been written (before it is
// flushed and renamed); returning true makes the write fail there, as a full
// disk would. Pass an empty function to remove it.
void SetAtomicWriteFaultForTesting(std::function<bool(const std::string& path)> fault);

}  // namespace spindle
