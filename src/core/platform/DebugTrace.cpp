#include "platform/DebugTrace.h"

#include <cstdlib>

namespace spindle {

FileDebugTrace::FileDebugTrace(const std::string& path) {
    file_ = std::fopen(path.c_str(), "a");
}

FileDebugTrace::~FileDebugTrace() {
    if (file_ != nullptr) std::fclose(file_);
}

void FileDebugTrace::Write(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    if (text.empty() || text.back() != '\n') std::fputc('\n', file_);
    std::fflush(file_);
}

void MemoryDebugTrace::Write(const std::string& text) {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
}

std::vector<std::string> MemoryDebugTrace::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void MemoryDebugTrace::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::unique_ptr<IDebugTrace> MakeDebugTraceFromEnvironment() {
    const char* path = std::getenv("SPINDLE_TRACE");
    if (path != nullptr && *path != '\0') {
        auto trace = std::make_unique<FileDebugTrace>(path);
        if (trace->IsOpen()) return trace;
    }
    return std::make_unique<NullDebugTrace>();
}

}  // namespace spindle
