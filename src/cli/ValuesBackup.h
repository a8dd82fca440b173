#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"

namespace spindle::cli {

// A backup of one device's stored values: where they came from, when, the
// exact bytes of every slot as read, and every row's label and value text as
// the list showed them (for people to read; bytes that are not UTF-8 are
// written "\xNN").
//
//   { "format": "spindle-values", "version": 1, "date": "2024-05-01T14:03:11",
//     "familyCode": 4, "familyName": "Osprey", "serial": "OSP00412",
//     "deviceIndex": 3, "deviceLabel": "[3] Osprey - OSP00412 ",
//     "slots": { "0": "4F53503030343132000000000000000", ... },
//     "rows": [ { "label": "  Firmware Version", "value": "Osprey  1.12.0" }, ... ] }
//
// "slots" holds 15 bytes per slot as 30 hexadecimal digits. Backups written
// before it existed have only "rows"; they are restored from the texts.
struct ValuesBackup {
    std::uint32_t familyCode = 0;
    std::string familyName;
    std::string serial;
    std::uint32_t deviceIndex = 0;
    std::string deviceLabel;
    std::string date;  // local time, "YYYY-MM-DDTHH:MM:SS"
    struct Row {
        std::string label;
        std::string value;
    };
    std::vector<Row> rows;
    RawSlots slots;  // empty in a backup of the older form
};

inline constexpr const char* kBackupFormat = "spindle-values";
inline constexpr int kBackupVersion = 1;

nlohmann::ordered_json BackupToJson(const ValuesBackup& backup);
// Nullopt, with the reason in `error`, for a document that is no backup.
std::optional<ValuesBackup> BackupFromJson(const nlohmann::json& document, std::string& error);

// Writes the file through a temporary file in the same folder, so a failed
// write never leaves a half backup behind. False with the reason in `error`.
bool WriteBackupFile(const std::string& path, const ValuesBackup& backup, std::string& error);
std::optional<ValuesBackup> ReadBackupFile(const std::string& path, std::string& error);

// The current local time in the backup's date form.
std::string BackupDateNow();

// One list row the restore changes.
struct RestoreEdit {
    int row = 0;
    std::string label;
    std::string current;
    std::string restored;
};

// Pairs the backup's rows with the list's: the row at the same position when
// its label is the same, else the first unpaired row with that label (labels
// may repeat, as the Merlin's reserved rows do). Returns the rows whose value
// differs; backup labels the list does not have go to `missing`.
std::vector<RestoreEdit> PlanRestore(const CValueList& list, const ValuesBackup& backup,
                                     std::vector<std::string>& missing);

}  // namespace spindle::cli
