#include "ValuesBackup.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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
    value = it->get<std::uint32_t>();
    return true;
}

}  // namespace

nlohmann::ordered_json BackupToJson(const ValuesBackup& backup) {
    nlohmann::ordered_json document;
    document["format"] = kBackupFormat;
    document["version"] = kBackupVersion;
    document["date"] = backup.date;
    document["familyCode"] = backup.familyCode;
    document["familyName"] = backup.familyName;
    document["serial"] = backup.serial;
    document["deviceIndex"] = backup.deviceIndex;
    document["deviceLabel"] = backup.deviceLabel;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const ValuesBackup::Row& row : backup.rows) {
        rows.push_back({{"label", row.label}, {"value", row.value}});
    }
    document["rows"] = std::move(rows);
    return document;
}

std::optional<ValuesBackup> BackupFromJson(const Json& document, std::string& error) {
    if (!document.is_object() || document.value("format", std::string()) != kBackupFormat) {
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
    backup.deviceLabel = document.value("deviceLabel", std::string());
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
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot write " + temporary;
            return false;
        }
        file << BackupToJson(backup).dump(2) << '\n';
        file.flush();
        if (!file) {
            error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::error_code renameError;
    std::filesystem::rename(temporary, path, renameError);
    if (renameError) {
        error = "cannot replace " + path + ": " + renameError.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<ValuesBackup> ReadBackupFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    Json document;
    try {
        document = Json::parse(text.str());
    } catch (const Json::exception& parseError) {
        error = path + ": not valid JSON: " + parseError.what();
        return std::nullopt;
    }
    auto backup = BackupFromJson(document, error);
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
