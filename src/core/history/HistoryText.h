#pragma once
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

namespace spindle {

// Bytes as lower-case hex, two digits each.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

// A record's result as the operator reads it: "worked", "failed", or
// "interrupted" (a record whose process ended before it was completed).
// A record of a process on this station that still runs is "running".
std::string ShownResult(const HistoryRecord& record);

// Parts joined by "; " (a record's problems, its slots on one line).
std::string JoinedText(const std::vector<std::string>& parts);

// The records as CSV (RFC 4180: a header line, fields quoted where they
// must be, CRLF line ends), one line per record; problems joined by "; ",
// slots as "info 0: 4f53...->4f53..." joined by "; ".
std::string HistoryCsv(const std::vector<HistoryRecord>& records);

// The text form of a slot change, "info 0: BEFORE->AFTER" ("?" for a
// before not read), with " (failed)" for a write that failed.
std::string SlotChangeText(const SlotChange& change);

}  // namespace spindle
