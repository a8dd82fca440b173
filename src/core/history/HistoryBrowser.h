#pragma once
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

namespace spindle {

class CHistoryRecorder;

// What the operator asks of the record, as typed: every field left empty
// matches all.
struct HistoryCriteria {
    std::string serial{};
    // An image file on this station (its SHA-256 is taken), a SHA-256 or its
    // first 6 or more hex digits, or else an image's file name.
    std::string image{};
    std::string since{};  // UTC, "2026-12-01" or "2026-12-01T08:00[:00]"
    std::optional<HistoryResult> result{};
    bool failedOnly = false;  // failed or interrupted
};

// The store's filter for `criteria`, or nullopt with `problem` for a since
// that is no UTC date or time, or an image file that cannot be read.
std::optional<HistoryFilter> HistoryFilterFor(const HistoryCriteria& criteria, std::string& problem);

// The production record as a table: the records a filter selects, one row
// each, and their CSV. The History view and `spindle-cli history` show it.
class CHistoryBrowser {
public:
    explicit CHistoryBrowser(CHistoryRecorder& recorder) : recorder_(recorder) {}

    // The table's headings, one per cell of a row.
    static const std::vector<std::string>& Columns();

    // Reads the records `filter` selects (oldest first). False with
    // `problem` when the store cannot be read; the table is empty then.
    bool Show(const HistoryFilter& filter, std::string& problem);
    const std::vector<HistoryRecord>& Records() const { return records_; }
    void Clear() { records_.clear(); }
    // One cell of the table, text as the operator reads it.
    std::string Cell(std::size_t row, std::size_t column) const;
    std::vector<std::string> Row(std::size_t row) const;
    std::string Csv() const;
    // Writes Csv() to `path`; false with `problem` naming the file and why.
    bool ExportCsv(const std::string& path, std::string& problem) const;

private:
    CHistoryRecorder& recorder_;
    std::vector<HistoryRecord> records_;
};

}  // namespace spindle
