#include "protocol/StoredValues.h"

#include <algorithm>
#include <cstring>

#include "device/Families.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

constexpr int kImageVersion = 0;
constexpr std::uint32_t kFalconPsocPauseMs = 1000;

// The register each FPGA label of the catalogue names, in catalogue order.
constexpr std::array<std::uint8_t, 28> kFpgaLabelAddresses = {
    0x00, 0x04, 0x08, 0x0C, 0x10, 0x14, 0x18, 0x20, 0x28, 0x2C, 0x30, 0x38, 0x3C, 0x40,
    0x48, 0x50, 0x54, 0x58, 0x5C, 0x60, 0x74, 0x78, 0x7C, 0x80, 0x84, 0x88, 0x8C, 0x90,
};

// The family's rule for a catalogue label its FPGA walk meets, if any.
const FpgaRowRule* FindFpgaRowRule(int familyCode, const std::string& label) {
    for (const FpgaRowRule& rule : FamilyOf(familyCode).fpgaRowRules) {
        if (label == rule.label) return &rule;
    }
    return nullptr;
}

// The table index of a register among those the family reads; -1 if the
// family does not read it.
int FpgaIndexOf(int family, std::uint8_t address) {
    const int last = FamilyOf(family).lastFpgaIndex;
    for (int index = 0; index <= last; ++index) {
        if (kFpgaRegisterAddresses[static_cast<std::size_t>(index)] == address) return index;
    }
    return -1;
}

}  // namespace

void TransferResult::Append(const TransferResult& other) {
    failedSlots.insert(failedSlots.end(), other.failedSlots.begin(), other.failedSlots.end());
    failedFpgaIndexes.insert(failedFpgaIndexes.end(), other.failedFpgaIndexes.begin(),
                             other.failedFpgaIndexes.end());
    firmwareVersionFailed = firmwareVersionFailed || other.firmwareVersionFailed;
    psocVersionFailed = psocVersionFailed || other.psocVersionFailed;
    commitFailed = commitFailed || other.commitFailed;
}

CStoredValues::CStoredValues(Platform& platform, int familyCode)
    : platform_(platform), family_(familyCode), values_(familyCode) {}

std::string CStoredValues::Label(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= Labels().size()) return {};
    return Labels()[static_cast<std::size_t>(index)];
}

// --- Transfers -------------------------------------------------------------

bool CStoredValues::InPart(int entry, bool extra) const {
    const auto layoutEnd = static_cast<int>(LayoutSlots(FamilyOf(family_).layout).size());
    return extra ? entry >= layoutEnd : entry < layoutEnd;
}

TransferResult CStoredValues::TransferPart(CSpecProtocol& protocol, DeviceHandle handle,
                                           TransferDirection direction, bool extra) {
    TransferResult result;
    const ValueLayout layout = FamilyOf(family_).layout;
    const bool read = direction == TransferDirection::Read;
    if (read && !extra && ShowsFirmwareVersion(layout)) {
        firmwareVersion_.clear();
        if (!protocol.ReadFirmwareVersionText(handle, firmwareVersion_)) {
            firmwareVersion_.clear();
            result.firmwareVersionFailed = true;
        }
    }
    const std::vector<SlotEntry>& slots = values_.Slots();
    for (int entry = 0; entry < static_cast<int>(slots.size()); ++entry) {
        if (!InPart(entry, extra)) continue;
        const SlotEntry& slot = slots[static_cast<std::size_t>(entry)];
        const auto number = static_cast<std::uint8_t>(slot.slot);
        if (slotObserver_) slotObserver_();
        bool ok = false;
        if (read) {
            SlotReadValue value{};
            ok = slot.accessory ? protocol.QueryAccessorySlot(handle, number, value)
                                : protocol.QueryInfoSlot(handle, number, value);
            RawSlot bytes{};
            std::copy_n(value.begin(), bytes.size(), bytes.begin());
            if (ok) values_.SetRead(slot.slot, bytes);
            else values_.SetFailed(slot.slot);
        } else {
            const RawSlot bytes = values_.BytesToWrite(entry);
            SlotWriteValue value{};
            std::copy(bytes.begin(), bytes.end(), value.begin());
            ok = slot.accessory ? protocol.WriteAccessorySlot(handle, number, value)
                                : protocol.WriteInfoSlot(handle, number, value);
        }
        if (!ok) result.failedSlots.push_back(slot.slot);
    }
    if (!read && !extra && layout == ValueLayout::Lantern && !protocol.CommitAccessorySlots(handle)) {
        result.commitFailed = true;
    }
    return result;
}

TransferResult CStoredValues::Transfer(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction,
                                       bool withExtra) {
    TransferResult result = TransferPart(protocol, handle, direction, false);
    if (withExtra) result.Append(TransferPart(protocol, handle, direction, true));
    return result;
}

TransferResult CStoredValues::TransferCommon(CSpecProtocol& protocol, DeviceHandle handle,
                                             TransferDirection direction) {
    return TransferPart(protocol, handle, direction, false);
}

TransferResult CStoredValues::TransferExtra(CSpecProtocol& protocol, DeviceHandle handle,
                                            TransferDirection direction) {
    return TransferPart(protocol, handle, direction, true);
}

TransferResult CStoredValues::TransferHeron(CSpecProtocol& protocol, DeviceHandle handle,
                                            TransferDirection direction) {
    return TransferPart(protocol, handle, direction, false);
}

TransferResult CStoredValues::TransferMerlin(CSpecProtocol& protocol, DeviceHandle handle,
                                             TransferDirection direction) {
    return TransferPart(protocol, handle, direction, false);
}

TransferResult CStoredValues::TransferLantern(CSpecProtocol& protocol, DeviceHandle handle,
                                              TransferDirection direction) {
    return TransferPart(protocol, handle, direction, false);
}

TransferResult CStoredValues::ReadFpgaRegisters(CSpecProtocol& protocol, DeviceHandle handle) {
    TransferResult result;
    const int last = FamilyOf(family_).lastFpgaIndex;
    for (int index = 0; index <= last; ++index) {
        // Clear what this index fills, so a failed read shows zero.
        if (index == 0) {
            fpga_.register0 = 0;
        } else if (index == 1) {
            fpga_.versionText.fill(0);
        } else {
            fpga_.values[static_cast<std::size_t>(index - 2)] = 0;
        }
        if (!protocol.ReadFpgaRegister(handle, fpga_, index)) result.failedFpgaIndexes.push_back(index);
    }

    auto readPsoc = [&](bool condor) {
        psocVersion_.clear();
        const bool ok = condor ? protocol.ReadCondorPsocVersion(handle, psocVersion_)
                               : protocol.ReadPsocVersion(handle, psocVersion_);
        if (!ok) psocVersion_.clear();
        return ok;
    };
    const PsocVersionRead psoc = FamilyOf(family_).psocVersion;
    if (psoc == PsocVersionRead::Falcon) {
        // The first reading may be stale; the one a second later is kept.
        readPsoc(false);
        platform_.clock.Sleep(kFalconPsocPauseMs);
        result.psocVersionFailed = !readPsoc(false);
    } else if (psoc == PsocVersionRead::Condor) {
        result.psocVersionFailed = !readPsoc(true);
    }
    return result;
}

// --- List rows -------------------------------------------------------------

void CStoredValues::FillPart(CValueList& list, bool extra) const {
    if (!extra && ShowsFirmwareVersion(FamilyOf(family_).layout)) {
        list.AppendRow(Label(Markers().commonFirst), firmwareVersion_, kImageVersion,
                       RowRule::ReadFrom(RowSource::FirmwareVersion));
    }
    const std::vector<ValueRow> rows = values_.Rows();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const ValueRow& shown = rows[static_cast<std::size_t>(row)];
        if (InPart(values_.EntryOfRow(row), extra)) list.AppendRow(shown.label, shown.value, shown.image, shown.rule);
    }
}

void CStoredValues::ParsePart(const CValueList& list, bool extra) {
    for (int row = 0; row < values_.RowCount(); ++row) {
        if (InPart(values_.EntryOfRow(row), extra)) {
            values_.Take(row, list.GetText(values_.FirstListRow() + row, CValueList::kDataColumn));
        }
    }
}

void CStoredValues::FillRows(CValueList& list, bool registersUnlocked, CAutoNullingInfo& autoNulling) {
    const FamilyTraits& traits = FamilyOf(family_);
    FillPart(list, false);
    FillPart(list, true);
    if (traits.fpgaRows) FillFpgaRows(list, registersUnlocked);
    if (traits.psocVersion != PsocVersionRead::None) FillPsocRow(list);
    if (traits.extraRows) GetAutoNulling(autoNulling);
}

void CStoredValues::ParseRows(const CValueList& list) {
    ParsePart(list, false);
    ParsePart(list, true);
}

void CStoredValues::FillCommonRows(CValueList& list) const { FillPart(list, false); }
void CStoredValues::FillExtraRows(CValueList& list) const { FillPart(list, true); }
void CStoredValues::FillHeronRows(CValueList& list) const { FillPart(list, false); }
void CStoredValues::FillMerlinRows(CValueList& list) const { FillPart(list, false); }
void CStoredValues::FillLanternRows(CValueList& list) const { FillPart(list, false); }
void CStoredValues::ParseCommonRows(const CValueList& list) { ParsePart(list, false); }
void CStoredValues::ParseExtraRows(const CValueList& list) { ParsePart(list, true); }
void CStoredValues::ParseHeronRows(const CValueList& list) { ParsePart(list, false); }
void CStoredValues::ParseMerlinRows(const CValueList& list) { ParsePart(list, false); }
void CStoredValues::ParseLanternRows(const CValueList& list) { ParsePart(list, false); }

std::string CStoredValues::FpgaValueText(int index) const {
    if (index == 0) return StrPrintf("%d", static_cast<int>(fpga_.register0));
    if (index == 1) return std::string(fpga_.versionText.data(), strnlen(fpga_.versionText.data(), fpga_.versionText.size()));
    const std::uint32_t value = fpga_.values[static_cast<std::size_t>(index - 2)];
    return StrPrintf("%#x (%d)", value, static_cast<int>(value));
}

void CStoredValues::FillFpgaRows(CValueList& list, bool registersUnlocked) const {
    if (!registersUnlocked) {
        list.AppendRow(Label(Markers().fpgaFirst + 1), FpgaValueText(1), kImageVersion,
                       RowRule::ReadFrom(RowSource::FpgaRegister, 1));
        return;
    }
    for (int label = Markers().fpgaFirst; label <= Markers().fpgaLast; ++label) {
        std::string shownLabel = Label(label);
        std::uint8_t address = kFpgaLabelAddresses[static_cast<std::size_t>(label - Markers().fpgaFirst)];
        if (const FpgaRowRule* rule = FindFpgaRowRule(family_, shownLabel)) {
            if (rule->action == FpgaRowAction::Stop) break;
            if (rule->action == FpgaRowAction::Skip) continue;
            shownLabel = rule->shownLabel;
            address = rule->shownAddress;
        }
        // Every row shows the register its label names; a register the
        // family does not read gets no row.
        const int index = FpgaIndexOf(family_, address);
        if (index < 0) continue;
        list.AppendRow(shownLabel, FpgaValueText(index), kImageVersion,
                       RowRule::ReadFrom(RowSource::FpgaRegister, index, RowInput::ShownOnly));
    }
}

void CStoredValues::FillPsocRow(CValueList& list) const {
    list.AppendRow(Label(PsocLabelIndex()), psocVersion_, kImageVersion, RowRule::ReadFrom(RowSource::PsocVersion));
}

}  // namespace spindle
