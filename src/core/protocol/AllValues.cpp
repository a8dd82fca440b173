// Get All Values and Save All Values on one device, for the family's value
// layout: the reads that fill the list, and the read, parse and writes that
// put the list back.
#include "protocol/AllValues.h"

#include <algorithm>

#include "device/Families.h"
#include "device/ScopedDevice.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/StoredValues.h"
#include "protocol/values/SlotTable.h"

namespace spindle {

namespace {

constexpr unsigned kWarningStyle = mb::kOk | mb::kIconWarning;

// "slot 3", "slots 3, 14", "accessory slot 1"
std::string SlotsPhrase(bool accessory, const std::vector<int>& slots) {
    return StrPrintf("%s%s %s", accessory ? "accessory " : "", slots.size() == 1 ? "slot" : "slots",
                     SlotListText(slots).c_str());
}

// The outcome of the writes of a save or a restore, with the one warning
// that names every failure.
void ReportWrites(Outcome& outcome, const TransferResult& written, bool accessory, const char* what) {
    if (written.failedSlots.empty() && !written.commitFailed) {
        outcome.Done("write every stored value");
        return;
    }
    std::string text = StrPrintf("%s did not store every value.", what);
    if (!written.failedSlots.empty()) {
        outcome.Fail(StrPrintf("write slots %s", SlotListText(written.failedSlots).c_str()));
        text += StrPrintf(" Writing %s failed.", SlotsPhrase(accessory, written.failedSlots).c_str());
    }
    if (written.commitFailed) {
        outcome.Fail("commit the accessory slots");
        text += " The light source did not take the command to store its values.";
    }
    text += " Check the device and press Save All Values again.";
    outcome.Show({text, kAppTitle, kWarningStyle});
}

// Feeds the command's progress with every slot request of its loop (the
// reads, then the writes of a save or a restore) and shows it in the
// message pane ("Saving [3] Osprey - OSP05521: slot 7 of 17") when the
// activity has a label. A loop that ends, however it ends, leaves the
// progress at its end.
class SlotProgress {
public:
    SlotProgress(IUserInterface& ui, const SlotActivity& activity, int slotCount, bool writes)
        : ui_(ui), label_(activity.label), progress_(activity.progress != nullptr ? *activity.progress : own_),
          slotCount_(static_cast<std::uint32_t>(slotCount)) {
        constexpr std::uint32_t kBulkPauseMs = 10;
        const SlotStep reading = writes ? SlotStep::ReadingFirst : SlotStep::Reading;
        std::vector<ProgressStep> plan{{static_cast<int>(reading), slotCount_ * kBulkPauseMs}};
        if (writes) {
            plan.push_back({static_cast<int>(SlotStep::Writing),
                            slotCount_ * (kBulkPauseMs + CSpecProtocol::kSlotWritePauseMs)});
        }
        plan.push_back({static_cast<int>(SlotStep::Done), 0});
        progress_.Plan(plan);
        progress_.Enter(static_cast<int>(reading), slotCount_);
    }
    ~SlotProgress() { progress_.Enter(static_cast<int>(SlotStep::Done), 0); }
    SlotProgress(const SlotProgress&) = delete;
    SlotProgress& operator=(const SlotProgress&) = delete;

    void Follow(CStoredValues& values) { values.OnSlotRequest([this] { Step(); }); }
    void Writing() { progress_.Enter(static_cast<int>(SlotStep::Writing), slotCount_); }

private:
    void Step() {
        progress_.Advance(1);
        if (!label_.empty()) ui_.SetStatusText(0, label_ + ": " + SlotProgressText(progress_));
    }

    IUserInterface& ui_;
    std::string label_;
    CProgress own_;
    CProgress& progress_;
    std::uint32_t slotCount_;
};

// How many slots the family's layout reads and writes.
int SlotCount(int familyCode) { return static_cast<int>(FamilySlots(familyCode).size()); }

bool AccessorySlots(int familyCode) {
    const std::vector<SlotEntry> slots = FamilySlots(familyCode);
    return !slots.empty() && slots.front().accessory;
}

}  // namespace

bool HasStoredValues(int familyCode) { return FamilyOf(familyCode).layout != ValueLayout::None; }

std::string SlotProgressText(const CProgress& progress) {
    const ProgressPoint at = progress.Now();
    if (at.step == static_cast<int>(SlotStep::Done)) return {};
    const char* reading = at.step == static_cast<int>(SlotStep::ReadingFirst) ? "reading " : "";
    return StrPrintf("%sslot %u of %u", reading, at.done, std::max(at.done, at.total));
}

std::string SlotListText(const std::vector<int>& slots) {
    std::string text;
    for (int slot : slots) {
        if (!text.empty()) text += ", ";
        text += StrPrintf("%d", slot);
    }
    return text;
}

Outcome ReadAllValues(Platform& platform, std::uint32_t index, int familyCode, const ReadAllOptions& options,
                      CValueList& list, CAutoNullingInfo& autoNulling, std::vector<int>& failedSlots,
                      RawSlots* slotsAsRead) {
    Outcome outcome;
    failedSlots.clear();
    const FamilyTraits& traits = FamilyOf(familyCode);
    if (!HasStoredValues(familyCode)) return outcome;

    CSpecProtocol protocol(platform);
    const ScopedDevice device(platform, static_cast<int>(index));
    CStoredValues values(platform, familyCode);
    SlotProgress progress(platform.ui, options.activity, SlotCount(familyCode), /*writes=*/false);
    progress.Follow(values);
    // The reads whose values Save All Values writes back; the registers
    // come between the common and the extra slots.
    TransferResult saved = values.Transfer(protocol, device.Handle(), TransferDirection::Read, /*withExtra=*/false);
    // Register values are shown only, never written: their failures leave
    // their rows unread but do not count against a save.
    TransferResult shown;
    if (traits.fpgaRows) shown = values.ReadFpgaRegisters(protocol, device.Handle());
    if (traits.extraRows) saved.Append(values.TransferExtra(protocol, device.Handle(), TransferDirection::Read));
    const int firstRow = list.RowCount();
    values.FillRows(list, options.fpgaRegistersUnlocked, autoNulling);
    if (slotsAsRead != nullptr) *slotsAsRead = values.SlotsAsRead();
    // A row whose value could not be read says so, rather than showing the
    // zero or empty text the failed read left.
    auto contains = [](const std::vector<int>& numbers, int number) {
        return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
    };
    for (int row = firstRow; row < list.RowCount(); ++row) {
        const RowRule& rule = list.Rule(row);
        bool failed = false;
        switch (rule.source) {
            case RowSource::Slot: failed = rule.slot >= 0 && contains(saved.failedSlots, rule.slot); break;
            case RowSource::FirmwareVersion: failed = saved.firmwareVersionFailed; break;
            case RowSource::FpgaRegister: failed = contains(shown.failedFpgaIndexes, rule.registerIndex); break;
            case RowSource::PsocVersion: failed = shown.psocVersionFailed; break;
        }
        if (failed) list.SetText(row, CValueList::kDataColumn, kNotReadText);
    }
    list.MarkSaved();

    failedSlots = saved.failedSlots;
    bool complete = true;
    if (!failedSlots.empty()) {
        outcome.Fail(StrPrintf("read slots %s", SlotListText(failedSlots).c_str()));
        complete = false;
    }
    if (saved.firmwareVersionFailed) {
        outcome.Fail("read the firmware version");
        complete = false;
    }
    if (!shown.failedFpgaIndexes.empty()) {
        outcome.Fail(StrPrintf("read FPGA registers %s", SlotListText(shown.failedFpgaIndexes).c_str()));
        complete = false;
    }
    if (shown.psocVersionFailed) {
        outcome.Fail("read the PSOC firmware version");
        complete = false;
    }
    if (complete) outcome.Done("read every stored value");
    return outcome;
}

Outcome SaveAllValues(Platform& platform, std::uint32_t index, int familyCode, const CValueList& list,
                      const CAutoNullingInfo& autoNulling, const SlotActivity& activity) {
    Outcome outcome;
    const FamilyTraits& traits = FamilyOf(familyCode);
    if (!HasStoredValues(familyCode)) return outcome;

    CSpecProtocol protocol(platform);
    const ScopedDevice device(platform, static_cast<int>(index));
    if (!device.Opened()) {
        outcome.Fail("open the device");
        outcome.Show({StrPrintf("Save All Values was not done: device %u could not be opened.", index), kAppTitle,
                      kWarningStyle});
        return outcome;
    }

    CStoredValues values(platform, familyCode);
    if (traits.extraRows) values.SetAutoNulling(autoNulling);
    const bool accessory = AccessorySlots(familyCode);
    SlotProgress progress(platform.ui, activity, SlotCount(familyCode), /*writes=*/true);
    progress.Follow(values);
    // The read that carries the values the list does not hold, and the
    // exact bytes of every slot: a value the list still shows as read is
    // written back with every digit the device held.
    {
        const TransferResult read = values.Transfer(protocol, device.Handle(), TransferDirection::Read);
        if (!read.failedSlots.empty()) {
            outcome.Fail(StrPrintf("read slots %s", SlotListText(read.failedSlots).c_str()));
            outcome.Show({StrPrintf("Save All Values was not done: %s could not be read from the device before "
                                    "writing, so the values the list does not hold could not be kept. Nothing was "
                                    "written.",
                                    SlotsPhrase(accessory, read.failedSlots).c_str()),
                          kAppTitle, kWarningStyle});
            return outcome;
        }
    }
    values.ParseRows(list);
    progress.Writing();
    const TransferResult written = values.Transfer(protocol, device.Handle(), TransferDirection::Write);
    ReportWrites(outcome, written, accessory, "Save All Values");
    return outcome;
}

Outcome RestoreSlots(Platform& platform, std::uint32_t index, int familyCode, const RawSlots& slots,
                     const SlotActivity& activity) {
    Outcome outcome;
    if (!HasStoredValues(familyCode)) return outcome;

    CSpecProtocol protocol(platform);
    const ScopedDevice device(platform, static_cast<int>(index));
    if (!device.Opened()) {
        outcome.Fail("open the device");
        outcome.Show({StrPrintf("The values were not restored: device %u could not be opened.", index), kAppTitle,
                      kWarningStyle});
        return outcome;
    }
    const bool accessory = AccessorySlots(familyCode);
    // The device's own bytes for every slot the backup does not hold.
    CStoredValues current(platform, familyCode);
    SlotProgress progress(platform.ui, activity, SlotCount(familyCode), /*writes=*/true);
    progress.Follow(current);
    const TransferResult read = current.Transfer(protocol, device.Handle(), TransferDirection::Read);
    if (!read.failedSlots.empty()) {
        outcome.Fail(StrPrintf("read slots %s", SlotListText(read.failedSlots).c_str()));
        outcome.Show({StrPrintf("The values were not restored: %s could not be read from the device first. "
                                "Nothing was written.",
                                SlotsPhrase(accessory, read.failedSlots).c_str()),
                      kAppTitle, kWarningStyle});
        return outcome;
    }
    RawSlots merged = current.SlotsAsRead();
    for (auto& [slot, bytes] : merged) {
        auto backup = slots.find(slot);
        if (backup != slots.end()) bytes = backup->second;
    }
    // Nothing edited: the write sends each slot's merged bytes exactly.
    current.Values() = CValueSet(familyCode, merged);
    progress.Writing();
    const TransferResult written = current.Transfer(protocol, device.Handle(), TransferDirection::Write);
    ReportWrites(outcome, written, accessory, "The restore");
    return outcome;
}

}  // namespace spindle
