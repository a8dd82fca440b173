#pragma once
#include <string>

namespace spindle {

// The udev rules that let the user at the computer's seat open the
// instruments without root: the file Spindle ships, the folders udev reads
// rules from, and the command that applies changed rules to devices already
// plugged in.
inline constexpr const char* kUdevRulesName = "60-spindle.rules";
inline constexpr const char* kUdevRulesSource = "scripts/60-spindle.rules";  // in Spindle's source folder
inline constexpr const char* kUdevPackageFolder = "/usr/lib/udev/rules.d";    // where the package puts it
inline constexpr const char* kUdevLocalFolder = "/etc/udev/rules.d";          // an administrator's own
inline constexpr const char* kUdevReloadCommand = "sudo udevadm control --reload-rules && sudo udevadm trigger";

// The installed rules file (the administrator's folder first, as udev lets
// it override the package's), or empty when neither folder has it. `root`
// is prepended to both folders (for tests; "" on a running system).
std::string InstalledUdevRules(const std::string& root = {});

// What to do about devices this user may not open, as lines of text: with
// the rules installed at `installedRules`, apply them (or replug); without
// them, install them from the source folder and apply them.
std::string UdevRulesAdvice(const std::string& installedRules);

}  // namespace spindle
