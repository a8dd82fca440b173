#include "app/FirstRunNotice.h"

#include "device/UdevRules.h"
#include "platform/Format.h"

namespace spindle {

namespace {

// The permissions paragraph and its commands, for a tree that stayed empty
// (`denied`: the back end saw devices it could not open).
void AddPermissions(FirstRunNotice& notice, const std::string& installedRules, bool denied) {
    const char* who = denied ? "This user is not allowed to open them." : "If one is plugged in already, this user may "
                                                                            "not be allowed to open it.";
    if (installedRules.empty()) {
        notice.paragraphs.push_back(StrPrintf(
            "%s The device rules that let the user at this computer's own screen and keyboard open the instruments "
            "(%s) are not installed: install the Spindle package, or copy the file from Spindle's source folder and "
            "apply it, then press Refresh Tree:",
            who, kUdevRulesName));
        notice.commands.push_back(StrPrintf("sudo cp %s %s/", kUdevRulesSource, kUdevLocalFolder));
    } else {
        notice.paragraphs.push_back(StrPrintf(
            "%s The device rules are installed (%s) but reach a device only once it is plugged in again or the rules "
            "are applied; they let the user at this computer's own screen and keyboard open the instruments. Then "
            "press Refresh Tree:",
            who, installedRules.c_str()));
    }
    notice.commands.push_back(kUdevReloadCommand);
}

}  // namespace

FirstRunNotice MakeFirstRunNotice(const StartState& state) {
    FirstRunNotice notice;
    if (state.devicesInTree > 0) return notice;
    notice.shown = true;
    if (state.simulated) {
        notice.heading = "The bench has no devices";
        notice.paragraphs.push_back(
            "The simulated bench lists no devices. Add devices to the bench file, or open the demo bench, which has "
            "one of every model.");
        notice.offerDemoBench = true;
        return notice;
    }
    notice.offerDemoBench = true;
    if (!state.backendError.empty()) {
        notice.heading = "The USB devices cannot be reached";
        notice.paragraphs.push_back(StrPrintf("The USB back end could not start: %s.", state.backendError.c_str()));
        notice.paragraphs.push_back(
            "Spindle needs libusb-1.0 and the USB device files in /dev/bus/usb (a container must be given them). "
            "Until then, the demo bench shows everything Spindle does on simulated instruments.");
        return notice;
    }
    if (state.accessDenied) {
        notice.heading = "No instrument could be opened";
        notice.paragraphs.push_back("Spindle found instruments on the USB ports, but none of them could be opened.");
        AddPermissions(notice, state.installedRules, true);
        return notice;
    }
    notice.heading = "No instrument is attached";
    notice.paragraphs.push_back(
        "Spindle found no spectrometer, light source or EZ-USB chip on this computer's USB ports. Plug an "
        "instrument in and press Refresh Tree.");
    AddPermissions(notice, state.installedRules, false);
    return notice;
}

}  // namespace spindle
