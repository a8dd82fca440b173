// The manufacturing bar's commands on the frame: Verify, Reset Coefs. and
// Linearity Coefs.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/MainFrame.h"
#include "app/commands/WaitCursor.h"
#include "platform/INIFileSupport.h"
#include "platform/UserInterface.h"
#include "protocol/Manufacturing.h"

namespace spindle {

namespace {

constexpr const char* kSettingsSection = "Settings";

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

// Where the linearity file dialog opens: the folder the last file came
// from, else the user's home folder, else wherever the front end likes.
std::string LinearityInitialFolder(CINIFileSupport& store) {
    const std::string remembered = store.ReadText(kSettingsSection, kLinearityFolderKey, "");
    if (IsFolder(remembered)) return remembered;
    const char* home = std::getenv("HOME");
    if (home != nullptr && IsFolder(home)) return home;
    return {};
}

void RememberLinearityFolder(CINIFileSupport& store, const std::string& chosenPath) {
    const std::string folder = std::filesystem::path(chosenPath).parent_path().string();
    if (IsFolder(folder)) store.WriteText(kSettingsSection, kLinearityFolderKey, folder);
}

}  // namespace

Outcome CMainFrame::OnVerify() {
    Outcome outcome;
    StopCountdownTimer();
    const DeviceRecord* record = SelectedRecord();
    if (record != nullptr && record->index < static_cast<std::uint32_t>(kMaxDevices) &&
        jobBusy[record->index].load() == 0) {
        outcome = VerifyDevice(platform_, static_cast<int>(record->index));
        ShowPendingMessages(platform_.ui, outcome);
    } else {
        outcome.Fail("verify the selected device");
    }
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

Outcome CMainFrame::OnResetCoefs() {
    Outcome outcome;
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return outcome;
    WaitCursor waitCursor(platform_.ui);
    ResetCoefficientRows(list_, static_cast<int>(record->family));
    outcome.Done("reset the coefficient rows");
    return outcome;
}

Outcome CMainFrame::OnLinearityCoefs() {
    Outcome outcome;
    IUserInterface& ui = platform_.ui;
    CINIFileSupport settings(ui, nullptr, 1, this);
    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select Quillby Linearity Calibration File";
    choice.filter = "Linearity Calibration File (*.lin)|*.lin|All Files (*.*)|*.*|";
    choice.defaultExtension = "lin";
    choice.initialFolder = LinearityInitialFolder(settings);
    if (!ui.ChooseFile(choice) || choice.chosenPath.empty()) {
        outcome.Fail("choose a linearity file");
        return outcome;
    }
    RememberLinearityFolder(settings, choice.chosenPath);
    {
        WaitCursor waitCursor(ui);
        outcome = ImportLinearityFile(ui, choice.chosenPath, list_);
    }
    ShowPendingMessages(ui, outcome);
    return outcome;
}

}  // namespace spindle
