// The frame's own commands: Refresh Tree (and the refresh that follows the
// bus), Unlock Features and About.
#include <optional>

#include "app/AboutBox.h"
#include "app/Availability.h"
#include "app/FeatureUnlock.h"
#include "app/MainFrame.h"
#include "app/commands/WaitCursor.h"
#include "device/EzusbDriver.h"
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
    // Taken before the scan: a device that arrives during it moves the
    // generation again, and the next tick scans once more.
    scannedGeneration_ = platform_.driver.BusGeneration();
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

void CMainFrame::FollowBus() {
    if (platform_.driver.BusGeneration() == scannedGeneration_) return;
    if (commandDepth_ > 0 || AnyDeviceBusy() || programmingActive.load() == 1) return;
    if (list_.Modified()) {
        platform_.ui.SetStatusText(0, "Devices were plugged in or unplugged: the tree is refreshed once the changes to " +
                                          SelectedLabel() + " are saved or dropped.");
        return;
    }
    // The selection is found again by the device's index and family (its
    // serial may have just been saved anew), a category by its text.
    const TreeItem* selected = tree_.Item(tree_.Selected());
    const bool wasSelected = selected != nullptr;
    const std::string text = wasSelected ? selected->text : std::string();
    std::optional<DeviceRecord> record;
    if (wasSelected && selected->record != nullptr) record = *selected->record;
    OnRefreshTree();
    if (!wasSelected) return;
    for (const TreeItem& item : tree_.Items()) {
        const bool same = record ? item.record != nullptr && item.record->index == record->index &&
                                       item.record->family == record->family
                                 : item.record == nullptr && item.text == text;
        if (same) {
            OnTreeSelectionChanged(item.id);
            return;
        }
    }
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
