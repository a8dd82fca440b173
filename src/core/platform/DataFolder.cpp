#include "platform/DataFolder.h"

#include <filesystem>
#include <system_error>

#ifndef SPINDLE_INSTALL_FIRMWARE_DIR
#define SPINDLE_INSTALL_FIRMWARE_DIR "/usr/local/share/spindle/firmware"
#endif

namespace spindle {

namespace fs = std::filesystem;

std::string ProgramFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return program.parent_path().string();
}

std::string ProgramDataFile(const std::string& fileName) {
    const fs::path relative = fs::path("share") / "spindle" / "firmware" / fileName;
    const std::string folder = ProgramFolder();
    if (!folder.empty()) {
        // <prefix>/bin/spindle: the program's folder's parent is the prefix;
        // a build tree puts programs one to three levels below its top.
        fs::path at = folder;
        for (int level = 0; level < 4 && !at.empty(); ++level) {
            const fs::path candidate = at / relative;
            std::error_code error;
            if (fs::is_regular_file(candidate, error)) return candidate.string();
            if (at == at.parent_path()) break;
            at = at.parent_path();
        }
    }
    return (fs::path(SPINDLE_INSTALL_FIRMWARE_DIR) / fileName).string();
}

}  // namespace spindle
