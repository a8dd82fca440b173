#include "device/UdevRules.h"

#include <sys/stat.h>

#include "platform/Format.h"

namespace spindle {

std::string InstalledUdevRules(const std::string& root) {
    for (const char* folder : {kUdevLocalFolder, kUdevPackageFolder}) {
        const std::string path = StrPrintf("%s%s/%s", root.c_str(), folder, kUdevRulesName);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return path;
    }
    return {};
}

std::string UdevRulesAdvice(const std::string& installedRules) {
    if (!installedRules.empty()) {
        return StrPrintf(
            "The device rules are installed (%s) but do not reach these devices yet. Unplug them and plug them in "
            "again, or apply the rules to the devices already plugged in:\n"
            "    %s\n"
            "The rules give access to the user logged in at this computer's own screen and keyboard; over a remote "
            "login, run Spindle as a user in a group the rules allow, or as root.",
            installedRules.c_str(), kUdevReloadCommand);
    }
    return StrPrintf(
        "Install the device rules that come with Spindle, as root, from Spindle's source folder:\n"
        "    cp %s %s/\n"
        "then reload the rules and apply them:\n"
        "    udevadm control --reload-rules && udevadm trigger\n"
        "(The Spindle package installs them in %s by itself.)",
        kUdevRulesSource, kUdevLocalFolder, kUdevPackageFolder);
}

}  // namespace spindle
