#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace spindle {

// What a record is about.
enum class HistoryKind : int { Eeprom = 0, Fpga, Download, Values };
const char* HistoryKindText(HistoryKind kind);  // "eeprom", "fpga", "download", "values"

// How it ended. A record is written as Interrupted when its work starts and
// completed as Worked or Failed when it ends, so a process that dies in the
// middle leaves an Interrupted record behind.
enum class HistoryResult : int { Interrupted = 0, Worked, Failed };
const char* HistoryResultText(HistoryResult result);  // "interrupted", "worked", "failed"

// What is known when a job or a stored-values write starts. The recorder
// fills in the station, operator, time and process.
struct HistoryStart {
    HistoryKind kind = HistoryKind::Eeprom;
    std::string command{};  // "Program", "Save All Values", "set", "import", ...
    std::string backend{};  // "usb", "bench demo", "bench FILE"
    std::uint32_t deviceIndex = 0;
    std::uint32_t family = 0;
    std::string serial{};   // before the work
    std::string chip{};     // "ezusb" | "fx2"
    std::string imagePath{};  // the image, XSVF or 8051 program, if any
    // The bytes the job writes, when they were loaded before it started: the
    // record names these, not whatever the file holds by the time it is read.
    std::shared_ptr<const std::string> image{};
};

// One stored-value slot a command wrote: the bytes it held before (when the
// command read them first) and the bytes sent.
struct SlotChange {
    bool accessory = false;
    int slot = 0;
    std::optional<std::vector<std::uint8_t>> before;
    std::vector<std::uint8_t> after;
    bool written = false;
};

// What is known when it ends.
struct HistoryEnd {
    HistoryResult result = HistoryResult::Failed;
    std::vector<std::string> problems{};
    std::optional<std::string> serialAfter{};
    std::uint32_t bytesWritten = 0;
    bool verified = false;
    std::string backupPath{};
    std::vector<SlotChange> slots{};
};

// One record as read back.
struct HistoryRecord {
    std::int64_t id = 0;
    HistoryKind kind = HistoryKind::Eeprom;
    std::string command;
    std::string startedAt;  // UTC, "2026-12-08T21:32:06.123Z"
    std::string endedAt;    // empty while not completed
    std::string station;
    std::string operatorName;
    std::string backend;
    std::int64_t processId = 0;
    std::uint32_t deviceIndex = 0;
    std::uint32_t family = 0;
    std::string serialBefore;
    std::string serialAfter;
    std::string chip;
    std::string imageName;
    std::int64_t imageSize = -1;  // -1: no image
    std::string imageSha256;
    std::uint32_t bytesWritten = 0;
    bool verified = false;
    HistoryResult result = HistoryResult::Interrupted;
    std::vector<std::string> problems;
    std::int64_t durationMs = -1;  // -1: not completed
    std::string backupPath;
    std::vector<SlotChange> slots;
};

// Which records to list; every field left empty matches all.
struct HistoryFilter {
    std::string serial{};     // before or after
    std::string imageSha256{};  // whole or leading hex digits
    std::string imageName{};  // the image's file name
    std::string since{};      // UTC time or date text, compared as text ("2026-12-01")
    bool failedOnly = false;  // failed or interrupted
    std::optional<HistoryResult> result{};  // only records that ended so
    std::size_t limit = 0;    // 0: all, newest first when limited
};

}  // namespace spindle
