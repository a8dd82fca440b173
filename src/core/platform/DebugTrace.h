#pragma once
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace spindle {

// The debug trace: progress lines and quiet failures. Lines carry no level,
// prefix or time stamp; each is the formatted text of its call site.
class IDebugTrace {
public:
    virtual ~IDebugTrace() = default;
    virtual void Write(const std::string& text) = 0;
};

// Discards everything (the default sink).
class NullDebugTrace final : public IDebugTrace {
public:
    void Write(const std::string&) override {}
};

// Appends each text to a file, adding a line end when the text has none.
class FileDebugTrace final : public IDebugTrace {
public:
    explicit FileDebugTrace(const std::string& path);
    ~FileDebugTrace() override;
    bool IsOpen() const { return file_ != nullptr; }
    void Write(const std::string& text) override;

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// Keeps every text in memory, for tests.
class MemoryDebugTrace final : public IDebugTrace {
public:
    void Write(const std::string& text) override;
    std::vector<std::string> Lines() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The sink chosen by the environment: a file when SPINDLE_TRACE names one,
// otherwise nothing.
std::unique_ptr<IDebugTrace> MakeDebugTraceFromEnvironment();

}  // namespace spindle
