#include "app/AboutBox.h"

#include "BuildVersion.h"
#include "platform/Format.h"

namespace spindle {

std::string ReadFileVersion() {
    std::string version = SPINDLE_VERSION_TEXT;
    if (version.size() > 255) version.resize(255);
    return version;
}

void OnAppAbout(IUserInterface& ui) {
    CAboutDlg dialog;
    dialog.versionLine = StrPrintf("Version: %s", ReadFileVersion().c_str());
    ui.DoModal(dialog);
}

}  // namespace spindle
