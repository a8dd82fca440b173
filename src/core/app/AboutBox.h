#pragma once
#include <string>

#include "platform/UserInterface.h"

namespace spindle {

// The About box: the application icon, the maker's and program's names and
// a version line (control 1038).
class CAboutDlg : public CDialogModel {
public:
    static constexpr int kDialogId = 100;
    static constexpr int kVersionControlId = 1038;
    static constexpr int kIconResourceId = 128;

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "About Spindle"; }

    std::string productText = "Lumora, Inc. Spindle";
    std::string versionLine;  // control 1038
};

// The program's version text, as the build set it (at most 255 characters).
std::string ReadFileVersion();

// Help, "About Spindle..." (cmd::kAppAbout): shows the About box with "Version: <version>".
void OnAppAbout(IUserInterface& ui);

}  // namespace spindle
