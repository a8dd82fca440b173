// Value backups: any file is read or refused with a reason, and a backup
// that was read writes out and reads back the same.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "ValuesBackup.h"

namespace {

bool Same(const spindle::cli::ValuesBackup& a, const spindle::cli::ValuesBackup& b) {
    if (a.rows.size() != b.rows.size()) return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        if (a.rows[i].label != b.rows[i].label || a.rows[i].value != b.rows[i].value) return false;
    }
    return a.familyCode == b.familyCode && a.familyName == b.familyName && a.serial == b.serial &&
           a.deviceIndex == b.deviceIndex && a.deviceLabel == b.deviceLabel && a.date == b.date && a.slots == b.slots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spindle::cli;
    static const std::string path = spindle::fuzz::ScratchPath("backup.json");
    static const std::string copy = spindle::fuzz::ScratchPath("backup-again.json");
    spindle::fuzz::WriteScratch(path, std::string_view(reinterpret_cast<const char*>(data), size));
    std::string error;
    const auto backup = ReadBackupFile(path, error);
    if (!backup) {
        SPINDLE_FUZZ_CHECK(!error.empty());  // a refusal says why
        return 0;
    }
    SPINDLE_FUZZ_CHECK(WriteBackupFile(copy, *backup, error));
    const auto again = ReadBackupFile(copy, error);
    SPINDLE_FUZZ_CHECK(again.has_value());
    SPINDLE_FUZZ_CHECK(Same(*backup, *again));
    return 0;
}
