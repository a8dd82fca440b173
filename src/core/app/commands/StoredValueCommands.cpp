// Get All Values and Save All Values on the frame's selected device.
//
// Between the two commands the values live only in the list's texts (and the
// frame's auto-nulling copy). Save All Values therefore writes only into the
// device the list was read from (`listSource`), never into a busy device, and
// never after a read that failed: the read before each write carries the
// values the list does not hold, and a failed read would replace them (and,
// for a list that was read incompletely, the shown values) by zeros.
#include "app/Availability.h"
#include "app/MainFrame.h"
#include "app/commands/WaitCursor.h"
#include "device/EzusbDevice.h"
#include "device/Families.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "protocol/AllValues.h"

namespace spindle {

namespace {

constexpr unsigned kWarningStyle = mb::kOk | mb::kIconWarning;
constexpr const char* kReadyText = "Ready";

// Why the list may not be saved into the selected device; empty when it may.
std::string SaveRefusal(const CMainFrame& frame, const DeviceRecord& record) {
    if (frame.jobBusy[record.index % kMaxDevices].load() == 1) {
        return StrPrintf("Save All Values was not done: device %u is being programmed. "
                         "Wait until programming is complete, then press Get All Values and save again.",
                         record.index);
    }
    if (!frame.listSource.valid) {
        return frame.List().Empty()
                   ? "Save All Values was not done: the list is empty. "
                     "Select the device and press Get All Values first."
                   : "Save All Values was not done: some values could not be read from the device when the "
                     "list was filled, so the list would store empty values. Press Get All Values again first.";
    }
    if (frame.listSource.index != record.index || frame.listSource.family != record.family) {
        return "Save All Values was not done: the list was read from another device. "
               "Select the device and press Get All Values first.";
    }
    return {};
}

}  // namespace

namespace {

std::string DeviceLabel(const CMainFrame& frame) { return frame.SelectedLabel(); }

}  // namespace

bool CMainFrame::KeepOrSaveEdits() {
    if (!list_.Modified()) return true;
    const int answer = platform_.ui.MessageBox(StrPrintf("Save changes to %s?", DeviceLabel(*this).c_str()),
                                               kAppTitle, mb::kYesNoCancel | mb::kIconQuestion);
    if (answer == mb::kIdYes) return OnSaveAllValues().Ok();
    if (answer == mb::kIdNo) {
        list_.MarkSaved();
        return true;
    }
    return false;
}

Outcome CMainFrame::OnGetAllValues() {
    Outcome outcome;
    IUserInterface& ui = platform_.ui;
    const DeviceRecord* record = SelectedRecord();
    enableProgramFpga = 0;
    ui.CommandStateChanged();
    WaitCursor waitCursor(ui);

    if (record == nullptr) {
        list_.Clear();
        listSource = {};
        return outcome;
    }
    if (!KeepOrSaveEdits()) {
        outcome.Done("kept the unsaved edits");
        return outcome;
    }
    // A device being programmed is not touched; the list keeps what it holds
    // (and the device it came from, so Save All Values will not take it for
    // this device's).
    if (jobBusy[record->index % kMaxDevices].load() == 1) {
        outcome.Fail("read a device that is being programmed");
        return outcome;
    }

    list_.Clear();
    listSource = {};
    const int familyCode = static_cast<int>(record->family);
    if (!HasStoredValues(familyCode)) return outcome;

    const FamilyTraits& traits = FamilyOf(familyCode);
    if (traits.programsFpga) enableProgramFpga = 1;
    for (const FamilyButton& button : traits.buttons) {
        if (button.commandId != 0 && FeatureOn(flags, button.feature)) ui.ShowButton(button.commandId, true);
    }

    std::vector<int> failedSlots;
    ReadAllOptions options;
    options.fpgaRegistersUnlocked = flags.fpgaRegistersUnlocked == 1;
    options.activity = {"Reading " + DeviceLabel(*this), &valuesProgress};
    RawSlots slots;
    outcome.Append(
        ReadAllValues(platform_, record->index, familyCode, options, list_, autoNulling, failedSlots, &slots));
    ui.SetStatusText(0, kReadyText);

    // Rows whose read failed show empty texts or zeros. Such a list must not
    // be saved: it would store those zeros over the device's values.
    if (failedSlots.empty()) {
        listSource = {true, record->index, record->family, std::move(slots)};
    } else {
        TraceLine(platform_, StrPrintf("Get All Values: device %u, slot reads failed: %s\n", record->index,
                                       SlotListText(failedSlots).c_str()));
    }
    ui.CommandStateChanged();
    return outcome;
}

Outcome CMainFrame::SaveAllValuesWrites() {
    Outcome outcome;
    {
        WaitCursor waitCursor(platform_.ui);
        const DeviceRecord* record = SelectedRecord();
        if (record == nullptr || !HasStoredValues(static_cast<int>(record->family))) return outcome;
        const std::string refusal = SaveRefusal(*this, *record);
        if (!refusal.empty()) {
            outcome.Fail("save the list");
            outcome.Show({refusal, kAppTitle, kWarningStyle});
        } else {
            outcome.Append(SaveAllValues(platform_, record->index, static_cast<int>(record->family), list_,
                                         autoNulling, {"Saving " + DeviceLabel(*this), &valuesProgress}));
            if (outcome.Ok()) {
                list_.MarkSaved();
                ShowStatusNote(StrPrintf("Saved all values of %s.", DeviceLabel(*this).c_str()));
            } else {
                platform_.ui.SetStatusText(0, kReadyText);
            }
        }
    }
    // Shown after the wait cursor is gone.
    ShowPendingMessages(platform_.ui, outcome);
    return outcome;
}

Outcome CMainFrame::RestoreStoredValuesWrites(const RawSlots& slots) {
    Outcome outcome;
    {
        WaitCursor waitCursor(platform_.ui);
        const DeviceRecord* record = SelectedRecord();
        if (record == nullptr || !HasStoredValues(static_cast<int>(record->family))) {
            outcome.Fail("restore into a device without stored values");
            return outcome;
        }
        const std::string refusal = SaveRefusal(*this, *record);
        if (!refusal.empty()) {
            outcome.Fail("restore the values");
            outcome.Show({refusal, kAppTitle, kWarningStyle});
        } else {
            outcome.Append(RestoreSlots(platform_, record->index, static_cast<int>(record->family), slots,
                                        {"Restoring " + DeviceLabel(*this), &valuesProgress}));
            if (outcome.Ok()) {
                platform_.ui.SetStatusText(0, StrPrintf("Restored the values of %s.", DeviceLabel(*this).c_str()));
            } else {
                platform_.ui.SetStatusText(0, kReadyText);
            }
        }
    }
    ShowPendingMessages(platform_.ui, outcome);
    return outcome;
}

}  // namespace spindle
