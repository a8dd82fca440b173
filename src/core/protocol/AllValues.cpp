// Get All Values and Save All Values: read every stored value of the selected
// device into the value list, and write the list back into that device.
//
// Between the two commands the values live only in the list's texts (and the
// frame's auto-nulling copy). Save All Values therefore writes only into the
// device the list was read from (`listSource`), never into a busy device, and
// never after a read that failed: the read before each write carries the
// values the list does not hold, and a failed read would replace them (and,
// for a list that was read incompletely, the shown values) by zeros.
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "device/EzusbDevice.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/StoredValues.h"

namespace spindle {

namespace {

constexpr const char* kAppTitle = "Spindle";
constexpr unsigned kWarningStyle = mb::kOk | mb::kIconWarning;

// Keeps the wait cursor on for the life of one command, whatever way it ends.
class WaitCursor {
public:
    explicit WaitCursor(IUserInterface& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() { ui_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IUserInterface& ui_;
};

// Families whose stored values the list shows.
bool HasStoredValues(std::uint32_t familyCode) {
    switch (familyCode) {
        case family::kKestrel: case family::kHeron: case family::kOsprey: case family::kLantern:
        case family::kMerlin: case family::kIbis: case family::kFalcon: case family::kCondor:
        case family::kWren: case family::kKestrelPlus: case family::kHarrier: case family::kFinch:
            return true;
        default:
            return false;
    }
}

// "3, 14, 15"
std::string SlotListText(const std::vector<int>& slots) {
    std::string text;
    for (int slot : slots) {
        if (!text.empty()) text += ", ";
        text += StrPrintf("%d", slot);
    }
    return text;
}

// "slot 3", "slots 3, 14", "accessory slot 1"
std::string SlotsPhrase(bool accessory, const std::vector<int>& slots) {
    return StrPrintf("%s%s %s", accessory ? "accessory " : "", slots.size() == 1 ? "slot" : "slots",
                     SlotListText(slots).c_str());
}

// Reads what the list does not hold (firmware text, every slot, the FPGA
// registers) for `family`, fills the list and returns the failures of the
// slot reads, which are the ones a later save depends on.
std::vector<int> ReadAndFill(CStoredValues& values, CSpecProtocol& protocol, DeviceHandle handle,
                             std::uint32_t familyCode, const FeatureFlags& flags, CValueList& list,
                             CAutoNullingInfo& autoNulling) {
    TransferResult saved;  // the reads whose values Save All Values writes back
    const bool fpgaAccess = flags.fpgaRegistersUnlocked == 1;
    switch (familyCode) {
        case family::kKestrel: case family::kOsprey: case family::kIbis: case family::kWren:
        case family::kFinch:
            saved.Append(values.TransferCommon(protocol, handle, TransferDirection::Read));
            values.FillCommonRows(list);
            break;
        case family::kHeron:
            saved.Append(values.TransferHeron(protocol, handle, TransferDirection::Read));
            values.FillHeronRows(list);
            break;
        case family::kLantern:
            saved.Append(values.TransferLantern(protocol, handle, TransferDirection::Read));
            values.FillLanternRows(list);
            break;
        case family::kMerlin:
            saved.Append(values.TransferMerlin(protocol, handle, TransferDirection::Read));
            values.FillMerlinRows(list);
            break;
        case family::kFalcon: case family::kCondor: case family::kKestrelPlus: case family::kHarrier:
            saved.Append(values.TransferCommon(protocol, handle, TransferDirection::Read));
            // Register values are shown only, never written: their failures
            // leave zeros in their rows and do not count against a save.
            values.ReadFpgaRegisters(protocol, handle);
            values.FillCommonRows(list);
            if (familyCode == family::kKestrelPlus || familyCode == family::kHarrier) {
                saved.Append(values.TransferExtra(protocol, handle, TransferDirection::Read));
                values.FillExtraRows(list);
                values.FillFpgaRows(list, fpgaAccess);
                values.GetAutoNulling(autoNulling);
            } else {
                values.FillFpgaRows(list, fpgaAccess);
                values.FillPsocRow(list);
            }
            break;
        default:
            break;
    }
    return saved.failedSlots;
}

// Save All Values for the frame's selected device: the checks, the read that
// carries the values the list does not hold, the parse and the writes. Gives
// the text to show the operator; empty when all went well or there is
// nothing to save.
std::string SaveListIntoSelectedDevice(CMainFrame& frame) {
    Platform& platform = frame.GetPlatform();
    const DeviceRecord* record = frame.SelectedRecord();
    if (record == nullptr || !HasStoredValues(record->family)) return {};

    if (frame.jobBusy[record->index % kMaxDevices].load() == 1) {
        return StrPrintf("Save All Values was not done: device %u is being programmed. "
                         "Wait until programming is complete, then press Get All Values and save again.",
                         record->index);
    }
    if (!frame.listSource.valid) {
        return frame.List().Empty()
                   ? "Save All Values was not done: the list is empty. "
                     "Select the device and press Get All Values first."
                   : "Save All Values was not done: some values could not be read from the device when the "
                     "list was filled, so the list would store empty values. Press Get All Values again first.";
    }
    if (frame.listSource.index != record->index || frame.listSource.family != record->family) {
        return "Save All Values was not done: the list was read from another device. "
               "Select the device and press Get All Values first.";
    }

    CSpecProtocol protocol(platform);
    DeviceHandle handle = kNullHandle;
    if (!OpenDeviceByIndex(platform, static_cast<int>(record->index), handle)) {
        return StrPrintf("Save All Values was not done: device %u could not be opened.", record->index);
    }

    CStoredValues values(platform, static_cast<int>(record->family));
    const bool accessory = record->family == family::kLantern;
    // The read that carries the values the list does not hold, then the
    // parse and the writes.
    TransferResult read;
    TransferResult written;
    auto readThenWrite = [&](auto readAll, auto parseAll, auto writeAll) {
        readAll();
        if (!read.failedSlots.empty()) return;
        parseAll();
        writeAll();
    };
    switch (record->family) {
        case family::kKestrel: case family::kOsprey: case family::kIbis: case family::kFalcon:
        case family::kCondor: case family::kWren: case family::kFinch:
            readThenWrite([&] { read.Append(values.TransferCommon(protocol, handle, TransferDirection::Read)); },
                          [&] { values.ParseCommonRows(frame.List()); },
                          [&] { written.Append(values.TransferCommon(protocol, handle, TransferDirection::Write)); });
            break;
        case family::kHeron:
            // The list holds every value a Heron write sends; nothing is read.
            values.ParseHeronRows(frame.List());
            written.Append(values.TransferHeron(protocol, handle, TransferDirection::Write));
            break;
        case family::kLantern:
            readThenWrite([&] { read.Append(values.TransferLantern(protocol, handle, TransferDirection::Read)); },
                          [&] { values.ParseLanternRows(frame.List()); },
                          [&] { written.Append(values.TransferLantern(protocol, handle, TransferDirection::Write)); });
            break;
        case family::kMerlin:
            readThenWrite([&] { read.Append(values.TransferMerlin(protocol, handle, TransferDirection::Read)); },
                          [&] { values.ParseMerlinRows(frame.List()); },
                          [&] { written.Append(values.TransferMerlin(protocol, handle, TransferDirection::Write)); });
            break;
        case family::kKestrelPlus: case family::kHarrier:
            values.SetAutoNulling(frame.autoNulling);
            readThenWrite(
                [&] {
                    read.Append(values.TransferCommon(protocol, handle, TransferDirection::Read));
                    read.Append(values.TransferExtra(protocol, handle, TransferDirection::Read));
                },
                [&] {
                    values.ParseCommonRows(frame.List());
                    values.ParseExtraRows(frame.List());
                },
                [&] {
                    written.Append(values.TransferCommon(protocol, handle, TransferDirection::Write));
                    written.Append(values.TransferExtra(protocol, handle, TransferDirection::Write));
                });
            break;
        default:
            break;
    }
    CloseDevice(platform, handle);

    if (!read.failedSlots.empty()) {
        return StrPrintf("Save All Values was not done: %s could not be read from the device before writing, "
                         "so the values the list does not hold could not be kept. Nothing was written.",
                         SlotsPhrase(accessory, read.failedSlots).c_str());
    }
    if (!written.failedSlots.empty() || written.commitFailed) {
        std::string text = "Save All Values did not store every value.";
        if (!written.failedSlots.empty()) {
            text += StrPrintf(" Writing %s failed.", SlotsPhrase(accessory, written.failedSlots).c_str());
        }
        if (written.commitFailed) text += " The light source did not take the command to store its values.";
        text += " Check the device and press Save All Values again.";
        return text;
    }
    return {};
}

}  // namespace

void CMainFrame::OnGetAllValues() {
    IUserInterface& ui = platform_.ui;
    const DeviceRecord* record = SelectedRecord();
    enableProgramFpga = 0;
    ui.CommandStateChanged();
    WaitCursor waitCursor(ui);

    if (record == nullptr) {
        list_.Clear();
        listSource = {};
        return;
    }
    // A device being programmed is not touched; the list keeps what it holds
    // (and the device it came from, so Save All Values will not take it for
    // this device's).
    if (jobBusy[record->index % kMaxDevices].load() == 1) return;

    list_.Clear();
    listSource = {};
    if (!HasStoredValues(record->family)) return;

    switch (record->family) {
        case family::kKestrel: case family::kOsprey: case family::kIbis: case family::kWren:
        case family::kFinch:
            if (flags.extraIbisUnlocked == 1) ui.ShowButton(cmd::kPsocDiags, true);
            if (flags.extraKestrelUnlocked == 1) ui.ShowButton(cmd::kExtraKestrel, true);
            break;
        case family::kLantern:
            ui.ShowButton(cmd::kCalibrate, true);
            ui.ShowButton(cmd::kZephyrCalFile, true);
            break;
        case family::kFalcon: case family::kCondor: case family::kKestrelPlus: case family::kHarrier:
            enableProgramFpga = 1;
            ui.ShowButton(cmd::kLinearityCoefs, true);
            if (flags.extraFalconUnlocked == 1) ui.ShowButton(cmd::kPsocDiags, true);
            break;
        default:
            break;
    }

    CSpecProtocol protocol(platform_);
    DeviceHandle handle = kNullHandle;
    OpenDeviceByIndex(platform_, static_cast<int>(record->index), handle);
    std::vector<int> failedSlots;
    {
        CStoredValues values(platform_, static_cast<int>(record->family));
        failedSlots = ReadAndFill(values, protocol, handle, record->family, flags, list_, autoNulling);
    }
    CloseDevice(platform_, handle);

    // Rows whose read failed show empty texts or zeros. Such a list must not
    // be saved: it would store those zeros over the device's values.
    if (failedSlots.empty()) {
        listSource = {true, record->index, record->family};
    } else {
        TraceLine(platform_, StrPrintf("Get All Values: device %u, slot reads failed: %s\n", record->index,
                                       SlotListText(failedSlots).c_str()));
    }
    ui.CommandStateChanged();
}

void CMainFrame::OnSaveAllValues() {
    std::string problem;
    {
        WaitCursor waitCursor(platform_.ui);
        problem = SaveListIntoSelectedDevice(*this);
    }
    // Shown after the wait cursor is gone.
    if (!problem.empty()) platform_.ui.MessageBox(problem, kAppTitle, kWarningStyle);
}

}  // namespace spindle
