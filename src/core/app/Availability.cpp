#include "app/Availability.h"

#include "app/MainFrame.h"
#include "platform/Format.h"
#include "protocol/ValueEditors.h"
#include "protocol/values/SlotTable.h"

namespace spindle {

namespace {

// The row of a Kestrel+ or Harrier that the auto-nulling editor edits.
constexpr int kAutoNullingRow = 18;

const char* CommandName(int commandId) {
    switch (commandId) {
        case cmd::kRefreshTree: return "Refresh Tree";
        case cmd::kGetAllValues: return "Get All Values";
        case cmd::kSaveAllValues: return "Save All Values";
        case cmd::kProgram: return "Program";
        case cmd::kProgramFpga: return "Program FPGA";
        case cmd::kCalibrate: return "Calibrate";
        case cmd::kZephyrCalFile: return "Zephyr Cal. File";
        case cmd::kExtraKestrel: return "Extra Kestrel";
        case cmd::kPsocDiags: return "PSOC Diags.";
        case cmd::kIbisExtra: return "Ibis Extra";
        case cmd::kVerify: return "Verify";
        case cmd::kResetCoefs: return "Reset Coefs.";
        case cmd::kLinearityCoefs: return "Linearity Coefs";
        default: return "That command";
    }
}

// The family's button for the command, or null when the family has none.
const FamilyButton* FamilyButtonFor(const DeviceRecord& record, int commandId) {
    for (const FamilyButton& button : FamilyOf(static_cast<int>(record.family)).buttons) {
        if (button.commandId == commandId) return &button;
    }
    return nullptr;
}

void Refuse(Availability& availability, std::string reason) {
    availability.offered = false;
    availability.reason = std::move(reason);
}

// What the value editor allows for a row with `label` and `rule`.
Availability EditorAvailability(const CMainFrame& frame, const std::string& label, const RowRule& rule) {
    Availability availability;
    CEditValueDlg editor;
    editor.label = label;
    editor.rule = rule;
    editor.manufacturingMode = frame.flags.manufacturingMode;
    editor.OnInitDialog();
    if (!editor.valueEnabled) Refuse(availability, editor.noteText);
    return availability;
}

}  // namespace

bool FeatureOn(const FeatureFlags& flags, Feature feature) {
    switch (feature) {
        case Feature::None: return true;
        case Feature::ExtraIbis: return flags.extraIbisUnlocked == 1;
        case Feature::ExtraKestrel: return flags.extraKestrelUnlocked == 1;
        case Feature::ExtraFalcon: return flags.extraFalconUnlocked == 1;
        case Feature::ExtraIbisOrManufacturing:
            return flags.extraIbisUnlocked == 1 || flags.manufacturingMode == 1;
    }
    return false;
}

bool EditsAutoNulling(const DeviceRecord* record, int row) {
    return row == kAutoNullingRow && record != nullptr && FamilyOf(static_cast<int>(record->family)).extraRows;
}

Availability CommandAvailability(CMainFrame& frame, int commandId) {
    Availability availability;
    availability.enabled = frame.IsCommandEnabled(commandId);
    const char* name = CommandName(commandId);
    const DeviceRecord* record = frame.SelectedRecord();
    const bool manufacturing = frame.flags.manufacturingMode == 1;
    switch (commandId) {
        case cmd::kVerify:
        case cmd::kResetCoefs:
        case cmd::kLinearityCoefs:
            // The manufacturing bar's own commands; a job started in
            // manufacturing mode takes them away until the devices are idle.
            if (!manufacturing) {
                availability.needsUnlock = true;
                Refuse(availability, StrPrintf("%s is a manufacturing command; unlock manufacturing mode first", name));
            } else if (frame.programmingActive.load() == 1) {
                Refuse(availability, StrPrintf("%s is not offered while devices are being programmed", name));
            } else if (record == nullptr ||
                       (commandId == cmd::kLinearityCoefs && FamilyButtonFor(*record, commandId) == nullptr)) {
                Refuse(availability, StrPrintf("%s is not offered for this device", name));
            }
            break;
        case cmd::kProgramFpga:
            if (record == nullptr || !FamilyOf(static_cast<int>(record->family)).programsFpga) {
                Refuse(availability, StrPrintf("%s is not offered for this device", name));
            }
            break;
        case cmd::kCalibrate:
        case cmd::kZephyrCalFile:
        case cmd::kExtraKestrel:
        case cmd::kPsocDiags:
        case cmd::kIbisExtra: {
            const FamilyButton* button = record != nullptr ? FamilyButtonFor(*record, commandId) : nullptr;
            if (button == nullptr) {
                Refuse(availability, StrPrintf("%s is not offered for this device", name));
            } else if (!FeatureOn(frame.flags, button->feature)) {
                availability.needsUnlock = true;
                Refuse(availability, StrPrintf("%s is locked; unlock it with an access code first", name));
            }
            break;
        }
        case cmd::kGetAllValues:
        case cmd::kSaveAllValues:
        case cmd::kProgram:
            if (record == nullptr) Refuse(availability, "no device is selected");
            break;
        default: break;
    }
    if (availability.offered && !availability.enabled) {
        availability.reason = record != nullptr && frame.JobRunning(record->index)
                                  ? StrPrintf("device %u is being programmed", record->index)
                                  : StrPrintf("%s is not enabled now", name);
    }
    return availability;
}

Availability RowAvailability(const CMainFrame& frame, int row) {
    Availability availability;
    const CValueList& list = frame.List();
    if (row < 0 || row >= list.RowCount()) {
        Refuse(availability, "the list has no such row");
        return availability;
    }
    // The editors' own rules decide, as when the row is double-clicked.
    if (EditsAutoNulling(frame.SelectedRecord(), row)) {
        CAutoNullingDlg editor;
        editor.manufacturingMode = frame.flags.manufacturingMode;
        editor.OnInitDialog();
        if (!editor.controlsEnabled) Refuse(availability, editor.noteText);
        return availability;
    }
    return EditorAvailability(frame, list.GetText(row, CValueList::kItemColumn), list.Rule(row));
}

Availability HiddenSlotAvailability(const CMainFrame& frame, int slot, std::string& label) {
    const DeviceRecord* record = frame.SelectedRecord();
    for (const SlotEntry& entry : FamilySlots(record != nullptr ? static_cast<int>(record->family) : 0)) {
        if (entry.slot != slot || entry.keptUnder < 0) continue;
        label = CatalogueLabels()[static_cast<std::size_t>(entry.keptUnder)];
        return EditorAvailability(frame, label, entry.rule);
    }
    Availability availability;
    label = StrPrintf("slot %d", slot);
    Refuse(availability, "The device keeps no such value.");
    return availability;
}

}  // namespace spindle
