#include "ValuesBackup.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "JsonText.h"
#include "platform/AtomicFile.h"
#include "platform/BoundedFile.h"
#include "platform/Format.h"

namespace spindle::cli {

namespace {

using Json = nlohmann::json;

bool ReadText(const Json& document, const char* key, std::string& value, std::string& error) {
    auto it = document.find(key);
    if (it == document.end() || !it->is_string()) {
        error = StrPrintf("\"%s\" is missing or not a text", key);
        return false;
    }
    value = it->get<std::string>();
    return true;
}

bool ReadNumber(const Json& document, const char* key, std::uint32_t& value, std::string& error) {
    auto it = document.find(key);
    if (it == document.end() || !it->is_number_unsigned()) {
        error = StrPrintf("\"%s\" is missing or not a number", key);
        return false;
    }
    // Checked before it is narrowed: 2^32 + 4 is no family code 4.
    if (it->get<std::uint64_t>() > 0xFFFFFFFFull) {
        error = StrPrintf("\"%s\" is out of range", key);
        return false;
    }
    value = it->get<std::uint32_t>();
    return true;
}

std::string HexText(const RawSlot& bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) text += StrPrintf("%02X", static_cast<unsigned>(byte));
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseSlots(const Json& slots, RawSlots& parsed, std::string& error) {
    if (!slots.is_object()) {
        error = "\"slots\" is not an object of slot numbers";
        return false;
    }
    for (const auto& [key, value] : slots.items()) {
        int slot = -1;
        if (!key.empty() && key.size() <= 3 && key.find_first_not_of("0123456789") == std::string::npos) {
            slot = std::stoi(key);
        }
        if (slot < 0 || slot > 255) {
            error = StrPrintf("\"slots\" names \"%s\", which is no slot number (0 to 255)", key.c_str());
            return false;
        }
        const std::string hex = value.is_string() ? value.get<std::string>() : std::string();
        RawSlot bytes{};
        bool ok = hex.size() == bytes.size() * 2;
        for (std::size_t i = 0; ok && i < bytes.size(); ++i) {
            const int high = HexDigit(hex[2 * i]);
            const int low = HexDigit(hex[2 * i + 1]);
            ok = high >= 0 && low >= 0;
            if (ok) bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
        }
        if (!ok) {
            error = StrPrintf("slot %d of \"slots\" is not 30 hexadecimal digits", slot);
            return false;
        }
        parsed[slot] = bytes;
    }
    return true;
}

}  // namespace

nlohmann::ordered_json BackupToJson(const ValuesBackup& backup) {
    nlohmann::ordered_json document;
    document["format"] = kBackupFormat;
    document["version"] = kBackupVersion;
    document["date"] = backup.date;
    document["familyCode"] = backup.familyCode;
    document["familyName"] = JsonText(backup.familyName);
    document["serial"] = JsonText(backup.serial);
    document["deviceIndex"] = backup.deviceIndex;
    document["deviceLabel"] = JsonText(backup.deviceLabel);
    if (!backup.slots.empty()) {
        nlohmann::ordered_json slots = nlohmann::ordered_json::object();
        for (const auto& [slot, bytes] : backup.slots) slots[StrPrintf("%d", slot)] = HexText(bytes);
        document["slots"] = std::move(slots);
    }
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const ValuesBackup::Row& row : backup.rows) {
        rows.push_back({{"label", JsonText(row.label)}, {"value", JsonText(row.value)}});
    }
    document["rows"] = std::move(rows);
    return document;
}

std::optional<ValuesBackup> BackupFromJson(const Json& document, std::string& error) {
    const auto format = document.is_object() ? document.find("format") : document.end();
    if (!document.is_object() || format == document.end() || !format->is_string() ||
        format->get<std::string>() != kBackupFormat) {
        error = StrPrintf("not a value backup (\"format\" is not \"%s\")", kBackupFormat);
        return std::nullopt;
    }
    std::uint32_t version = 0;
    if (!ReadNumber(document, "version", version, error)) return std::nullopt;
    if (version != static_cast<std::uint32_t>(kBackupVersion)) {
        error = StrPrintf("backup version %u is not known to this program", version);
        return std::nullopt;
    }
    ValuesBackup backup;
    if (!ReadNumber(document, "familyCode", backup.familyCode, error) ||
        !ReadNumber(document, "deviceIndex", backup.deviceIndex, error) ||
        !ReadText(document, "familyName", backup.familyName, error) ||
        !ReadText(document, "serial", backup.serial, error) || !ReadText(document, "date", backup.date, error)) {
        return std::nullopt;
    }
    if (auto label = document.find("deviceLabel"); label != document.end()) {
        if (!label->is_string()) {
            error = "\"deviceLabel\" is not a text";
            return std::nullopt;
        }
        backup.deviceLabel = label->get<std::string>();
    }
    if (auto slots = document.find("slots"); slots != document.end()) {
        if (!ParseSlots(*slots, backup.slots, error)) return std::nullopt;
    }
    auto rows = document.find("rows");
    if (rows == document.end() || !rows->is_array()) {
        error = "\"rows\" is missing or not a list";
        return std::nullopt;
    }
    for (const Json& row : *rows) {
        ValuesBackup::Row parsed;
        if (!row.is_object() || !ReadText(row, "label", parsed.label, error) ||
            !ReadText(row, "value", parsed.value, error)) {
            error = "a row of \"rows\" is not {\"label\": TEXT, \"value\": TEXT}";
            return std::nullopt;
        }
        backup.rows.push_back(std::move(parsed));
    }
    return backup;
}

bool WriteBackupFile(const std::string& path, const ValuesBackup& backup, std::string& error) {
    const FileWriteResult written = ReplaceFileAtomically(path, BackupToJson(backup).dump(2) + "\n");
    if (!written.Succeeded()) error = written.error;
    return written.Succeeded();
}

std::optional<ValuesBackup> ReadBackupFile(const std::string& path, std::string& error) {
    std::string text;
    switch (ReadFileBounded(path, kMaxJsonFileBytes, text)) {
        case BoundedRead::Ok: break;
        case BoundedRead::TooLarge:
            error = StrPrintf("%s: larger than %zu bytes; not a value backup", path.c_str(), kMaxJsonFileBytes);
            return std::nullopt;
        case BoundedRead::Missing:
        case BoundedRead::Failed: error = "cannot open " + path; return std::nullopt;
        case BoundedRead::NotAFile: error = path + ": " + BoundedReadProblem(BoundedRead::NotAFile); return std::nullopt;
    }
    Json document;
    bool tooDeep = false;
    try {
        document = Json::parse(text, [&tooDeep](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxJsonDepth) {
                tooDeep = true;
                throw std::runtime_error("too deep");
            }
            return true;
        });
    } catch (const Json::exception& parseError) {
        error = path + ": not valid JSON: " + parseError.what();
        return std::nullopt;
    } catch (const std::runtime_error&) {
        if (!tooDeep) throw;
        error = StrPrintf("%s: JSON nested deeper than %d levels; not a value backup", path.c_str(), kMaxJsonDepth);
        return std::nullopt;
    }
    std::optional<ValuesBackup> backup;
    try {
        backup = BackupFromJson(document, error);
    } catch (const Json::exception& typeError) {
        // A member of the wrong type is refused, never a crash.
        error = std::string("a member has the wrong type: ") + typeError.what();
    }
    if (!backup) error = path + ": " + error;
    return backup;
}

std::string BackupDateNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

std::vector<RestoreEdit> PlanRestore(const CValueList& list, const ValuesBackup& backup,
                                     std::vector<std::string>& missing) {
    std::vector<bool> paired(static_cast<std::size_t>(list.RowCount()), false);
    std::vector<RestoreEdit> edits;
    for (std::size_t position = 0; position < backup.rows.size(); ++position) {
        const ValuesBackup::Row& wanted = backup.rows[position];
        int row = -1;
        const int same = static_cast<int>(position);
        if (same < list.RowCount() && !paired[position] &&
            list.GetText(same, CValueList::kItemColumn) == wanted.label) {
            row = same;
        } else {
            for (int candidate = 0; candidate < list.RowCount(); ++candidate) {
                if (!paired[static_cast<std::size_t>(candidate)] &&
                    list.GetText(candidate, CValueList::kItemColumn) == wanted.label) {
                    row = candidate;
                    break;
                }
            }
        }
        if (row < 0) {
            missing.push_back(wanted.label);
            continue;
        }
        paired[static_cast<std::size_t>(row)] = true;
        const std::string current = list.GetText(row, CValueList::kDataColumn);
        if (current != wanted.value) edits.push_back({row, wanted.label, current, wanted.value});
    }
    return edits;
}

}  // namespace spindle::cli
