// The frame's own commands: Refresh Tree, Unlock Features and About.
#include "app/AboutBox.h"
#include "app/Availability.h"
#include "app/FeatureUnlock.h"
#include "app/MainFrame.h"
#include "app/commands/WaitCursor.h"
#include "device/UdevRules.h"
#include "inventory/DeviceScan.h"
#include "platform/UserInterface.h"

namespace spindle {

Outcome CMainFrame::OnRefreshTree() {
    IUserInterface& ui = platform_.ui;
    if (!KeepOrSaveEdits()) {
        Outcome stayed;
        stayed.Done("kept the unsaved edits");
        return stayed;
    }
    for (int id : {cmd::kCalibrate, cmd::kZephyrCalFile, cmd::kExtraKestrel, cmd::kPsocDiags, cmd::kLinearityCoefs}) {
        ui.ShowButton(id, false);
    }
    // Ibis Extra is part of the manufacturing bar in both modes that show it
    // (it says so itself when the selected device has no Ibis page); a scan
    // that took it away would leave the Ibis-only bar empty until an Ibis
    // device was read.
    if (!FeatureOn(flags, Feature::ExtraIbisOrManufacturing)) ui.ShowButton(cmd::kIbisExtra, false);
    list_.Clear();
    listSource = {};
    Outcome outcome;
    {
        WaitCursor waitCursor(ui);
        outcome = ScanDevices(platform_, jobBusy, deviceRecords, tree_);
    }
    UpdateStartNotice(outcome);
    ShowPendingMessages(ui, outcome);
    ui.CommandStateChanged();
    return outcome;
}

void CMainFrame::UpdateStartNotice(const Outcome& scan) {
    StartState state;
    state.simulated = simulatedBench;
    state.backendError = backendError;
    for (const TreeItem& item : tree_.Items()) state.devicesInTree += item.record != nullptr ? 1 : 0;
    for (const OutcomeMessage& message : scan.messages) state.accessDenied |= message.title == kAccessProblemTitle;
    state.installedRules = InstalledUdevRules();
    startNotice_ = MakeFirstRunNotice(state);
}

Outcome CMainFrame::OnUnlockFeatures() {
    CountdownHooks hooks;
    hooks.stop = [this] { StopCountdownTimer(); };
    hooks.restart = [this] { StartCountdownTimer(timer::kEepromCountdown); };
    Outcome outcome = ::spindle::OnUnlockFeatures(platform_.ui, flags, hooks);
    platform_.ui.CommandStateChanged();
    return outcome;
}

void CMainFrame::OnAppAbout() { ::spindle::OnAppAbout(platform_.ui); }

}  // namespace spindle
