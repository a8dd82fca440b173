#include "protocol/StoredValues.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "device/Families.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

// Small images of the list rows.
constexpr int kImageVersion = 0;
constexpr int kImageSerial = 1;
constexpr int kImageWavelength = 2;
constexpr int kImageStrayLight = 3;
constexpr int kImageNonlinearity = 4;
constexpr int kImageText = 5;
constexpr int kImageLantern = 6;
constexpr int kImageLanternFirst = 7;
constexpr int kImageChannelMask = 8;
constexpr int kImageReserved = 9;

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

// The highest FPGA table index the family reads (index 29 is never read).
int LastFpgaIndex(int familyCode) { return FamilyOf(familyCode).lastFpgaIndex; }

// The table index of a register among those the family reads; -1 if the
// family does not read it.
int FpgaIndexOf(int family, std::uint8_t address) {
    const int last = LastFpgaIndex(family);
    for (int index = 0; index <= last; ++index) {
        if (kFpgaRegisterAddresses[static_cast<std::size_t>(index)] == address) return index;
    }
    return -1;
}

using ReadSlotFn = bool (CSpecProtocol::*)(DeviceHandle, std::uint8_t, SlotReadValue&);
using WriteSlotFn = bool (CSpecProtocol::*)(DeviceHandle, std::uint8_t, const SlotWriteValue&);

}  // namespace

// Slot access for one Transfer operation: the information or the accessory
// slots, each failure noted in the result. Every read clears its field
// before the request, so a failed read leaves an empty text or zero, and
// keeps the bytes of a good one. A write sends the bytes as read when its
// encoding is the one the values as read give; while the owner only notes
// encodings, writes reach no device.
class SlotIo {
public:
    SlotIo(CStoredValues& owner, CSpecProtocol& protocol, DeviceHandle handle, TransferResult& result,
           bool accessory)
        : owner_(owner), protocol_(protocol), handle_(handle), result_(result),
          read_(accessory ? &CSpecProtocol::QueryAccessorySlot : &CSpecProtocol::QueryInfoSlot),
          write_(accessory ? &CSpecProtocol::WriteAccessorySlot : &CSpecProtocol::WriteInfoSlot) {}

    // Reads a slot's raw 18 bytes; false (and zeros) on failure.
    bool Read(int slot, SlotReadValue& value) {
        value.fill(0);
        owner_.slotsAsRead_.erase(slot);
        bool ok = false;
        if (owner_.replay_ != nullptr) {
            auto it = owner_.replay_->find(slot);
            if (it != owner_.replay_->end()) {
                std::copy(it->second.begin(), it->second.end(), value.begin());
                ok = true;
            }
        } else {
            if (owner_.slotObserver_) owner_.slotObserver_();
            ok = (protocol_.*read_)(handle_, static_cast<std::uint8_t>(slot), value);
        }
        if (ok) {
            auto& raw = owner_.slotsAsRead_[slot];
            std::copy_n(value.begin(), raw.size(), raw.begin());
            return true;
        }
        value.fill(0);
        result_.failedSlots.push_back(slot);
        return false;
    }
    void ReadText(int slot, std::string& field) {
        field.clear();
        SlotReadValue value{};
        if (Read(slot, value)) field = SlotText(value);
    }
    void ReadDouble(int slot, double& field) {
        field = 0.0;
        SlotReadValue value{};
        if (Read(slot, value)) field = std::atof(SlotText(value).c_str());
    }
    void ReadInt(int slot, std::int32_t& field) {
        field = 0;
        SlotReadValue value{};
        if (Read(slot, value)) field = std::atoi(SlotText(value).c_str());
    }
    template <std::size_t N>
    void ReadBytes(int slot, std::array<std::uint8_t, N>& field) {
        field.fill(0);
        SlotReadValue value{};
        if (Read(slot, value)) {
            const std::size_t count = std::min(N, value.size());
            for (std::size_t i = 0; i < count; ++i) field[i] = static_cast<std::uint8_t>(value[i]);
        }
    }

    void Write(int slot, const SlotWriteValue& value) {
        if (owner_.encodingOnly_) {
            owner_.encodedAsRead_[slot] = value;
            return;
        }
        SlotWriteValue sent = value;
        auto encoded = owner_.encodedAsRead_.find(slot);
        auto raw = owner_.slotsAsRead_.find(slot);
        if (encoded != owner_.encodedAsRead_.end() && raw != owner_.slotsAsRead_.end() && encoded->second == value) {
            sent.fill(0);
            std::copy(raw->second.begin(), raw->second.end(), sent.begin());
        }
        if (owner_.slotObserver_) owner_.slotObserver_();
        if (!(protocol_.*write_)(handle_, static_cast<std::uint8_t>(slot), sent)) {
            result_.failedSlots.push_back(slot);
        }
    }
    void WriteText(int slot, const std::string& text) { Write(slot, MakeSlotWriteValue(text)); }
    template <std::size_t N>
    void WriteBytes(int slot, const std::array<std::uint8_t, N>& field) {
        SlotWriteValue value{};
        const std::size_t count = std::min(N, value.size());
        for (std::size_t i = 0; i < count; ++i) value[i] = static_cast<char>(field[i]);
        Write(slot, value);
    }

private:
    CStoredValues& owner_;
    CSpecProtocol& protocol_;
    DeviceHandle handle_;
    TransferResult& result_;
    ReadSlotFn read_;
    WriteSlotFn write_;
};

namespace {

void ReadFirmwareVersion(CSpecProtocol& protocol, DeviceHandle handle, std::string& field,
                         TransferResult& result) {
    field.clear();
    if (!protocol.ReadFirmwareVersionText(handle, field)) {
        field.clear();
        result.firmwareVersionFailed = true;
    }
}

double ParseDouble(const CValueList& list, int row) {
    return std::strtod(list.GetText(row, CValueList::kDataColumn).c_str(), nullptr);
}

std::string DataText(const CValueList& list, int row) {
    return list.GetText(row, CValueList::kDataColumn);
}

// A coefficient row taken back for writing. The list shows fewer digits than
// a slot may hold, so a row whose text is still exactly what the value just
// read from the instrument displays keeps that value at full precision:
// saving without editing never rounds a calibration coefficient. An edited
// row is parsed from its text.
double KeepOrParse(const CValueList& list, int row, const char* listFormat, double readValue) {
    if (DataText(list, row) == StrPrintf(listFormat, readValue)) return readValue;
    return ParseDouble(list, row);
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

CStoredValues::CStoredValues(Platform& platform, int familyCode) : platform_(platform), family_(familyCode) {
    BuildCatalogue();
}

void CStoredValues::BuildCatalogue() {
    auto last = [this] { return static_cast<int>(labels_.size()) - 1; };

    markers_.commonFirst = 0;
    for (const char* label : {"  Firmware Version", "  Serial Number", "  Wavelength Calibration Intercept",
                              "  Wavelength Calibration First Coefficient",
                              "  Wavelength Calibration Second Coefficient",
                              "  Wavelength Calibration Third Coefficient", "  Stray Light Correction Coefficient",
                              "  Nonlinearity Correction 0th-order Coefficient",
                              "  Nonlinearity Correction 1st-order Coefficient",
                              "  Nonlinearity Correction 2nd-order Coefficient",
                              "  Nonlinearity Correction 3rd-order Coefficient",
                              "  Nonlinearity Correction 4th-order Coefficient",
                              "  Nonlinearity Correction 5th-order Coefficient",
                              "  Nonlinearity Correction 6th-order Coefficient",
                              "  Nonlinearity Correction 7th-order Coefficient", "  Nonlinearity Correction Order",
                              "  Configuration String 1", "  Configuration String 2"}) {
        labels_.emplace_back(label);
    }
    markers_.commonLast = last();

    markers_.extraFirst = static_cast<int>(labels_.size());
    labels_.emplace_back("  AutoNulling Info");
    labels_.emplace_back("  Startup Baud Rate");
    markers_.extraLast = last();

    markers_.fpgaFirst = static_cast<int>(labels_.size());
    for (const char* label :
         {" 0x00 - Master Clock", " 0x04 - FPGA Firmware Version", " 0x08 - Continuous Strobe",
          " 0x0c - CS Base Clock", " 0x10 - Integration B Clock", " 0x14 - 24/48 MHz Clock",
          " 0x18 - Integration Clock", " 0x20 - Readout Mode", " 0x28 - Hardware Trigger",
          " 0x2c - External Sync Trig", " 0x30 - Read FIFO", " 0x38 - Single Strobe High",
          " 0x3c - Single Strobe Low", " 0x40 - Lamp Enable", " 0x48 - GPIO Mux", " 0x50 - GPIO Output Enable",
          " 0x54 - GPIO Data", " 0x58 - ADC Trigger Delay", " 0x5c - Shutter Toggle Enable",
          " 0x60 - Status Register", " 0x74 - Read Default Offset Value", " 0x78 - Read Default Offset Control",
          " 0x7c - Read FPGA Programmed Data", " 0x80 - Read Max Saturation Value",
          " 0x84 - Write Default Offset 1", " 0x88 - Write Default Offset 2", " 0x8c - Write Default Offset 3",
          " 0x90 - Write Default Offset 4"}) {
        labels_.emplace_back(label);
    }
    markers_.fpgaLast = last();
    psocLabelIndex_ = static_cast<int>(labels_.size());
    labels_.emplace_back("  PSOC Firmware Version");

    markers_.heronFirst = static_cast<int>(labels_.size());
    labels_.emplace_back("  Channels Enabled (Binary)");
    const char* coefficientNames[] = {"Intercept", "First Coefficient", "Second Coefficient", "Third Coefficient"};
    for (const char* name : coefficientNames) {
        labels_.push_back(StrPrintf("  Master Wavelength Calibration %s", name));
    }
    for (int slave = 1; slave <= 7; ++slave) {
        for (const char* name : coefficientNames) {
            labels_.push_back(StrPrintf("  Slave %d Wavelength Calibration %s", slave, name));
        }
    }
    labels_.emplace_back("  Configuration - CPLD Version");
    markers_.heronLast = last();

    markers_.lanternFirst = static_cast<int>(labels_.size());
    labels_.emplace_back("  Temperature Calibration Slope");
    labels_.emplace_back("  Temperature Calibration Intercept");
    for (const char* quantity : {"Io", "K", "K1", "K2"}) {
        labels_.push_back(StrPrintf("  %s, No Temperature Compensation", quantity));
        labels_.push_back(StrPrintf("  %s, 0th-order Temperature Coefficient", quantity));
        labels_.push_back(StrPrintf("  %s, 1st-order Temperature Coefficient", quantity));
        labels_.push_back(StrPrintf("  %s, 2nd-order Temperature Coefficient", quantity));
    }
    markers_.lanternLast = last();

    labels_.emplace_back("  Reserved");
}

std::string CStoredValues::Label(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= labels_.size()) return {};
    return labels_[static_cast<std::size_t>(index)];
}

void CStoredValues::AppendRow(CValueList& list, int labelIndex, const std::string& value, int image,
                              const RowRule& rule) const {
    list.AppendRow(Label(labelIndex), value, image, rule);
}

// --- Transfers -------------------------------------------------------------

int CStoredValues::CountSlotWrites(const std::function<void()>& transfer) {
    std::map<int, SlotWriteValue> kept;
    kept.swap(encodedAsRead_);
    encodingOnly_ = true;
    transfer();
    encodingOnly_ = false;
    const int count = static_cast<int>(encodedAsRead_.size());
    encodedAsRead_.swap(kept);
    return count;
}

void CStoredValues::NoteEncodingAsRead(TransferFn transfer, CSpecProtocol& protocol, DeviceHandle handle) {
    encodingOnly_ = true;
    (this->*transfer)(protocol, handle, TransferDirection::Write);
    encodingOnly_ = false;
}

TransferResult CStoredValues::TransferCommon(CSpecProtocol& protocol, DeviceHandle handle,
                                             TransferDirection direction) {
    TransferResult result;
    SlotIo io(*this, protocol, handle, result, false);
    CommonValues& v = common_;
    if (direction == TransferDirection::Read) {
        ReadFirmwareVersion(protocol, handle, v.firmwareVersion, result);
        io.ReadText(0, v.serialNumber);
        for (int i = 0; i < CommonValues::kCoefficientCount; ++i) io.ReadDouble(1 + i, v.coefficients[static_cast<std::size_t>(i)]);
        io.ReadInt(14, v.nonlinearityOrder);
        io.ReadText(15, v.configString1);
        io.ReadText(16, v.configString2);
        NoteEncodingAsRead(&CStoredValues::TransferCommon, protocol, handle);
    } else {
        io.WriteText(0, v.serialNumber);
        io.WriteText(1, StrPrintf("%4.6f", v.coefficients[0]));
        io.WriteText(2, StrPrintf("%0.6f", v.coefficients[1]));
        for (int slot = 3; slot <= 13; ++slot) {
            io.WriteText(slot, StrPrintf("%0.6e", v.coefficients[static_cast<std::size_t>(slot - 1)]));
        }
        io.WriteText(14, StrPrintf("%d", v.nonlinearityOrder));
        io.WriteText(15, v.configString1);
        io.WriteText(16, v.configString2);
    }
    return result;
}

TransferResult CStoredValues::TransferExtra(CSpecProtocol& protocol, DeviceHandle handle,
                                            TransferDirection direction) {
    TransferResult result;
    SlotIo io(*this, protocol, handle, result, false);
    if (direction == TransferDirection::Read) {
        io.ReadBytes(17, common_.autoNullingBytes);
        io.ReadBytes(18, common_.baudRateBytes);
        NoteEncodingAsRead(&CStoredValues::TransferExtra, protocol, handle);
    } else {
        io.WriteBytes(17, common_.autoNullingBytes);
        io.WriteBytes(18, common_.baudRateBytes);
    }
    return result;
}

TransferResult CStoredValues::TransferHeron(CSpecProtocol& protocol, DeviceHandle handle,
                                            TransferDirection direction) {
    TransferResult result;
    SlotIo io(*this, protocol, handle, result, false);
    HeronValues& v = heron_;
    if (direction == TransferDirection::Read) {
        ReadFirmwareVersion(protocol, handle, v.firmwareVersion, result);
        io.ReadText(0, v.serialNumber);
        std::int32_t channels = 0;
        io.ReadInt(1, channels);
        v.channelsEnabled = static_cast<std::uint8_t>(channels);
        for (int i = 0; i < HeronValues::kCoefficientCount; ++i) io.ReadDouble(2 + i, v.coefficients[static_cast<std::size_t>(i)]);
        io.ReadText(HeronValues::kCpldSlot, v.cpldVersion);
        NoteEncodingAsRead(&CStoredValues::TransferHeron, protocol, handle);
    } else {
        io.WriteText(0, v.serialNumber);
        io.WriteText(1, StrPrintf("%d", v.channelsEnabled));
        io.WriteText(2, StrPrintf("%.7e", v.coefficients[0]));
        for (int slot = 3; slot <= 5; ++slot) io.WriteText(slot, StrPrintf("%0.7e", v.coefficients[static_cast<std::size_t>(slot - 2)]));
        for (int k = 0; k < 7; ++k) {
            const int slot = 6 + 4 * k;
            const std::size_t i = static_cast<std::size_t>(slot - 2);
            io.WriteText(slot, StrPrintf("%.7f", v.coefficients[i]));
            io.WriteText(slot + 1, StrPrintf("%0.7f", v.coefficients[i + 1]));
            io.WriteText(slot + 2, StrPrintf("%0.7e", v.coefficients[i + 2]));
            io.WriteText(slot + 3, StrPrintf("%0.7e", v.coefficients[i + 3]));
        }
        io.WriteText(HeronValues::kCpldSlot, v.cpldVersion);
    }
    return result;
}

TransferResult CStoredValues::TransferMerlin(CSpecProtocol& protocol, DeviceHandle handle,
                                             TransferDirection direction) {
    TransferResult result;
    SlotIo io(*this, protocol, handle, result, false);
    MerlinValues& v = merlin_;
    if (direction == TransferDirection::Read) {
        ReadFirmwareVersion(protocol, handle, v.firmwareVersion, result);
        io.ReadText(0, v.serialNumber);
        for (int i = 0; i < MerlinValues::kCoefficientCount; ++i) io.ReadDouble(1 + i, v.values[static_cast<std::size_t>(i)]);
        io.ReadText(14, v.text);
        NoteEncodingAsRead(&CStoredValues::TransferMerlin, protocol, handle);
    } else {
        io.WriteText(0, v.serialNumber);
        io.WriteText(1, StrPrintf("%4.6f", v.values[0]));
        io.WriteText(2, StrPrintf("%0.6f", v.values[1]));
        for (int slot = 3; slot <= 13; ++slot) io.WriteText(slot, StrPrintf("%0.6e", v.values[static_cast<std::size_t>(slot - 1)]));
        io.WriteText(14, v.text);
    }
    return result;
}

TransferResult CStoredValues::TransferLantern(CSpecProtocol& protocol, DeviceHandle handle,
                                              TransferDirection direction) {
    TransferResult result;
    SlotIo io(*this, protocol, handle, result, true);
    LanternValues& v = lantern_;
    if (direction == TransferDirection::Read) {
        io.ReadText(0, v.serialNumber);
        for (int i = 0; i < LanternValues::kCoefficientCount; ++i) io.ReadDouble(1 + i, v.coefficients[static_cast<std::size_t>(i)]);
        NoteEncodingAsRead(&CStoredValues::TransferLantern, protocol, handle);
    } else {
        io.WriteText(0, v.serialNumber);
        for (int i = 0; i < LanternValues::kCoefficientCount; ++i) {
            io.WriteText(1 + i, StrPrintf("%0.6e", v.coefficients[static_cast<std::size_t>(i)]));
        }
        if (!encodingOnly_ && !protocol.CommitAccessorySlots(handle)) result.commitFailed = true;
    }
    return result;
}

TransferResult CStoredValues::ReadFpgaRegisters(CSpecProtocol& protocol, DeviceHandle handle) {
    TransferResult result;
    const int last = LastFpgaIndex(family_);
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

void CStoredValues::FillCommonRows(CValueList& list) const {
    const CommonValues& v = common_;
    const int first = markers_.commonFirst;
    AppendRow(list, first + 0, v.firmwareVersion, kImageVersion,
              RowRule::ReadFrom(RowSource::FirmwareVersion));
    AppendRow(list, first + 1, v.serialNumber, kImageSerial, RowRule::TextOf(0));
    // Each coefficient row is checked against the format its slot is written with.
    auto format = [](int slot) { return slot == 1 ? "%4.6f" : slot == 2 ? "%0.6f" : "%0.6e"; };
    for (int i = 0; i < 4; ++i) {
        AppendRow(list, first + 2 + i, StrPrintf("%4.7e", v.coefficients[static_cast<std::size_t>(i)]), kImageWavelength,
                  RowRule::RealOf(1 + i, format(1 + i)));
    }
    AppendRow(list, first + 6, StrPrintf("%0.7e", v.coefficients[4]), kImageStrayLight, RowRule::RealOf(5, "%0.6e"));
    for (int i = 5; i < CommonValues::kCoefficientCount; ++i) {
        AppendRow(list, first + 2 + i, StrPrintf("%0.7e", v.coefficients[static_cast<std::size_t>(i)]), kImageNonlinearity,
                  RowRule::RealOf(1 + i, "%0.6e"));
    }
    // The order is written back as read, whatever the row shows.
    AppendRow(list, first + 15, StrPrintf("%d", v.nonlinearityOrder), kImageNonlinearity, RowRule::ShownOnly(14));
    AppendRow(list, first + 16, v.configString1, kImageText, RowRule::TextOf(15));
    AppendRow(list, first + 17, v.configString2, kImageText, RowRule::TextOf(16));
}

void CStoredValues::FillExtraRows(CValueList& list) {
    autoNulling_.Decode(common_.autoNullingBytes.data());
    // The text row is edited through the auto-nulling dialog only.
    AppendRow(list, markers_.extraFirst, autoNulling_.DisplayText(), kImageText, RowRule::ShownOnly(17));
    const auto baud = static_cast<std::int16_t>(common_.baudRateBytes[0] | (common_.baudRateBytes[1] << 8));
    // Shown as a signed 16-bit number, stored as 16 bits: both readings fit.
    AppendRow(list, markers_.extraFirst + 1, StrPrintf("%d", baud), kImageText, RowRule::IntegerOf(18, -32768, 65535));
}

std::string CStoredValues::FpgaValueText(int index) const {
    if (index == 0) return StrPrintf("%d", static_cast<int>(fpga_.register0));
    if (index == 1) return std::string(fpga_.versionText.data(), strnlen(fpga_.versionText.data(), fpga_.versionText.size()));
    const std::uint32_t value = fpga_.values[static_cast<std::size_t>(index - 2)];
    return StrPrintf("%#x (%d)", value, static_cast<int>(value));
}

void CStoredValues::FillFpgaRows(CValueList& list, bool registersUnlocked) const {
    if (!registersUnlocked) {
        AppendRow(list, markers_.fpgaFirst + 1, FpgaValueText(1), kImageVersion,
                  RowRule::ReadFrom(RowSource::FpgaRegister, 1));
        return;
    }
    for (int label = markers_.fpgaFirst; label <= markers_.fpgaLast; ++label) {
        std::string shownLabel = Label(label);
        std::uint8_t address = kFpgaLabelAddresses[static_cast<std::size_t>(label - markers_.fpgaFirst)];
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
    AppendRow(list, psocLabelIndex_, psocVersion_, kImageVersion, RowRule::ReadFrom(RowSource::PsocVersion));
}

void CStoredValues::FillHeronRows(CValueList& list) const {
    const HeronValues& v = heron_;
    AppendRow(list, markers_.commonFirst, v.firmwareVersion, kImageVersion,
              RowRule::ReadFrom(RowSource::FirmwareVersion));
    AppendRow(list, markers_.commonFirst + 1, v.serialNumber, kImageSerial, RowRule::TextOf(0));
    AppendRow(list, markers_.heronFirst, StrPrintf("%d", v.channelsEnabled), kImageChannelMask,
              RowRule::IntegerOf(1, 0, 255));
    for (int i = 0; i < HeronValues::kCoefficientCount; ++i) {
        const int slot = 2 + i;
        // Master coefficients are written "%.7e"; each slave's intercept and
        // first coefficient "%.7f", its second and third "%.7e".
        const char* format = slot < 6 || (slot - 6) % 4 >= 2 ? "%0.7e" : "%0.7f";
        AppendRow(list, markers_.heronFirst + 1 + i, StrPrintf("%0.7e", v.coefficients[static_cast<std::size_t>(i)]),
                  kImageWavelength, RowRule::RealOf(slot, format));
    }
    AppendRow(list, markers_.heronLast, v.cpldVersion, kImageText, RowRule::TextOf(HeronValues::kCpldSlot));
}

void CStoredValues::FillMerlinRows(CValueList& list) const {
    const MerlinValues& v = merlin_;
    AppendRow(list, markers_.commonFirst, v.firmwareVersion, kImageVersion,
              RowRule::ReadFrom(RowSource::FirmwareVersion));
    AppendRow(list, markers_.commonFirst + 1, v.serialNumber, kImageSerial, RowRule::TextOf(0));
    auto format = [](int slot) { return slot == 1 ? "%4.6f" : slot == 2 ? "%0.6f" : "%0.6e"; };
    for (int i = 0; i < 3; ++i) {
        AppendRow(list, markers_.commonFirst + 2 + i, StrPrintf("%0.7e", v.values[static_cast<std::size_t>(i)]),
                  kImageWavelength, RowRule::RealOf(1 + i, format(1 + i)));
    }
    // Slots 4 to 12 show as reserved; slot 13 is kept but not shown.
    for (int i = 3; i < 12; ++i) {
        AppendRow(list, ReservedLabelIndex(), StrPrintf("%0.7e", v.values[static_cast<std::size_t>(i)]), kImageReserved,
                  RowRule::RealOf(1 + i, "%0.6e"));
    }
    AppendRow(list, markers_.commonFirst + 16, v.text, kImageText, RowRule::TextOf(14));
}

void CStoredValues::FillLanternRows(CValueList& list) const {
    const LanternValues& v = lantern_;
    AppendRow(list, markers_.commonFirst + 1, v.serialNumber, kImageSerial, RowRule::TextOf(0));
    // The slope (accessory slot 1, the section's first label) is not shown.
    for (int i = 1; i < LanternValues::kCoefficientCount; ++i) {
        AppendRow(list, markers_.lanternFirst + i, StrPrintf("%0.7e", v.coefficients[static_cast<std::size_t>(i)]),
                  i <= 2 ? kImageLanternFirst : kImageLantern, RowRule::RealOf(1 + i, "%0.6e"));
    }
}

void CStoredValues::ParseCommonRows(const CValueList& list) {
    CommonValues& v = common_;
    // Row 0 (firmware version) is never written; row 15 (nonlinearity
    // order) is not taken from the list, so the order read from the
    // instrument is written back.
    v.serialNumber = DataText(list, 1);
    for (int i = 0; i < CommonValues::kCoefficientCount; ++i) {
        double& value = v.coefficients[static_cast<std::size_t>(i)];
        value = KeepOrParse(list, 2 + i, i < 4 ? "%4.7e" : "%0.7e", value);
    }
    v.configString1 = DataText(list, 16);
    v.configString2 = DataText(list, 17);
}

void CStoredValues::ParseExtraRows(const CValueList& list) {
    // Row 18 shows the auto-nulling settings but they are edited elsewhere:
    // the settings this object holds are what is written.
    autoNulling_.Encode(common_.autoNullingBytes.data());
    const auto baud = static_cast<std::uint16_t>(std::atoi(DataText(list, 19).c_str()));
    common_.baudRateBytes[0] = static_cast<std::uint8_t>(baud & 0xFF);
    common_.baudRateBytes[1] = static_cast<std::uint8_t>(baud >> 8);
}

void CStoredValues::ParseHeronRows(const CValueList& list) {
    HeronValues& v = heron_;
    v.firmwareVersion = DataText(list, 0);
    v.serialNumber = DataText(list, 1);
    v.channelsEnabled = static_cast<std::uint8_t>(std::atoi(DataText(list, 2).c_str()));
    for (int i = 0; i < HeronValues::kCoefficientCount; ++i) {
        double& value = v.coefficients[static_cast<std::size_t>(i)];
        value = KeepOrParse(list, 3 + i, "%0.7e", value);
    }
    v.cpldVersion = DataText(list, 35);
}

void CStoredValues::ParseMerlinRows(const CValueList& list) {
    MerlinValues& v = merlin_;
    v.firmwareVersion = DataText(list, 0);
    v.serialNumber = DataText(list, 1);
    // Rows 2-13 hold slots 1-12; slot 13 keeps the value read.
    for (int i = 0; i < 12; ++i) {
        double& value = v.values[static_cast<std::size_t>(i)];
        value = KeepOrParse(list, 2 + i, "%0.7e", value);
    }
    v.text = DataText(list, 14);
}

void CStoredValues::ParseLanternRows(const CValueList& list) {
    LanternValues& v = lantern_;
    v.serialNumber = DataText(list, 0);
    // Rows 1-17 hold accessory slots 2-18; the slope keeps the value read.
    for (int i = 1; i < LanternValues::kCoefficientCount; ++i) {
        double& value = v.coefficients[static_cast<std::size_t>(i)];
        value = KeepOrParse(list, i, "%0.7e", value);
    }
}

}  // namespace spindle
