#include "history/HistoryText.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "history/HistoryRecorder.h"
#include "platform/Format.h"

namespace spindle {

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) text += StrPrintf("%02x", b);
    return text;
}

namespace {

std::string Csv(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string JoinedText(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

// True while the process runs: it exists and is no zombie (a killed process
// whose parent has not collected it yet has ended all the same).
static bool ProcessRuns(std::int64_t pid) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

std::string ShownResult(const HistoryRecord& record) {
    if (record.endedAt.empty() && record.processId > 0 && record.station == StationName() &&
        ProcessRuns(record.processId)) {
        return "running";
    }
    return HistoryResultText(record.result);
}

std::string SlotChangeText(const SlotChange& change) {
    return StrPrintf("%s %d: %s->%s%s", change.accessory ? "accessory" : "info", change.slot,
                     change.before ? HexBytes(*change.before).c_str() : "?", HexBytes(change.after).c_str(),
                     change.written ? "" : " (failed)");
}

std::string HistoryCsv(const std::vector<HistoryRecord>& records) {
    std::string text =
        "id,kind,command,started,ended,station,operator,backend,device,family,serial_before,serial_after,chip,"
        "image,image_size,image_sha256,bytes_written,verified,result,problems,duration_ms,backup,slots\r\n";
    for (const HistoryRecord& r : records) {
        std::vector<std::string> slots;
        for (const SlotChange& change : r.slots) slots.push_back(SlotChangeText(change));
        const std::vector<std::string> fields = {
            std::to_string(r.id), HistoryKindText(r.kind), r.command, r.startedAt, r.endedAt, r.station,
            r.operatorName, r.backend, std::to_string(r.deviceIndex), std::to_string(r.family), r.serialBefore,
            r.serialAfter, r.chip, r.imageName, r.imageSize < 0 ? "" : std::to_string(r.imageSize), r.imageSha256,
            std::to_string(r.bytesWritten), r.verified ? "yes" : "no", ShownResult(r), JoinedText(r.problems),
            r.durationMs < 0 ? "" : std::to_string(r.durationMs), r.backupPath, JoinedText(slots)};
        for (std::size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? "" : ",") + Csv(fields[i]);
        text += "\r\n";
    }
    return text;
}

}  // namespace spindle
