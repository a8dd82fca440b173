#pragma once
#include <functional>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"
#include "platform/Platform.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/FpgaRegisters.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"

namespace spindle {

// The stored values of the common families (2, 4, 9, 10, 11, 13, 14, 15, 16).
struct CommonValues {
    static constexpr int kCoefficientCount = 13;
    static constexpr int kSlotBytes = 20;

    std::string firmwareVersion;  // USB string descriptor 1
    std::string serialNumber;     // slot 0
    // Slots 1-13: wavelength intercept, first, second, third; stray light;
    // nonlinearity 0th to 7th order.
    std::array<double, kCoefficientCount> coefficients{};
    std::int32_t nonlinearityOrder = 0;  // slot 14
    std::string configString1;           // slot 15
    std::string configString2;           // slot 16
    // Slots 17 and 18 of a Kestrel+ or Harrier, kept as raw bytes.
    std::array<std::uint8_t, kSlotBytes> autoNullingBytes{};  // slot 17
    std::array<std::uint8_t, kSlotBytes> baudRateBytes{};     // slot 18: bytes 0-1 a 16-bit value, low first
};

// Heron (family 3).
struct HeronValues {
    static constexpr int kCoefficientCount = 32;
    static constexpr int kCpldSlot = 44;

    std::string firmwareVersion;      // descriptor 1
    std::string serialNumber;         // slot 0
    std::uint8_t channelsEnabled = 0; // slot 1
    // Slots 2-33: master intercept, first, second, third, then the same four
    // for slaves 1 to 7.
    std::array<double, kCoefficientCount> coefficients{};
    std::string cpldVersion;          // slot 44
};

// Merlin (family 8).
struct MerlinValues {
    static constexpr int kCoefficientCount = 13;

    std::string firmwareVersion;  // descriptor 1
    std::string serialNumber;     // slot 0
    std::array<double, kCoefficientCount> values{};  // slots 1-13
    std::string text;             // slot 14
};

// Lantern light source (family 5), kept in accessory slots.
struct LanternValues {
    static constexpr int kCoefficientCount = 18;

    std::string serialNumber;  // accessory slot 0
    // Accessory slots 1-18: temperature calibration slope and intercept, then
    // Io, K, K1 and K2, each as no-compensation value and 0th, 1st and
    // 2nd-order temperature coefficients.
    std::array<double, kCoefficientCount> coefficients{};
};

// Which way a Transfer operation moves the values.
enum class TransferDirection { Read, Write };

// What went wrong in one or more Transfer operations. Every request is made
// whatever the earlier ones gave; the failures are collected so that a
// caller can refuse to save values from a failed read and can tell the
// operator which writes failed.
struct TransferResult {
    std::vector<int> failedSlots;         // information or accessory slot numbers, in request order
    std::vector<int> failedFpgaIndexes;   // FPGA register table indexes
    bool firmwareVersionFailed = false;   // string descriptor 1
    bool psocVersionFailed = false;
    bool commitFailed = false;            // accessory commit

    bool Ok() const {
        return failedSlots.empty() && failedFpgaIndexes.empty() && !firmwareVersionFailed &&
               !psocVersionFailed && !commitFailed;
    }
    // Adds the failures of a later operation.
    void Append(const TransferResult& other);
};

// The catalogue's section markers: indexes into the label catalogue.
struct CatalogueMarkers {
    int commonFirst = 0, commonLast = 0;
    int extraFirst = 0, extraLast = 0;
    int fpgaFirst = 0, fpgaLast = 0;
    int heronFirst = 0, heronLast = 0;
    int lanternFirst = 0, lanternLast = 0;
};

// The stored values of one device for one operation (Get All Values or Save
// All Values): the label catalogue, the family code and one record per kind
// of device. Transfer* move the records to or from the device, Fill* show
// them as rows of the value list and Parse* take them back from the list.
class CStoredValues {
public:
    static constexpr int kLabelCount = 102;

    explicit CStoredValues(Platform& platform, int familyCode = 0);
    virtual ~CStoredValues() = default;
    CStoredValues(const CStoredValues&) = delete;
    CStoredValues& operator=(const CStoredValues&) = delete;

    void SetFamily(int familyCode) { family_ = familyCode; }
    int Family() const { return family_; }

    // --- Catalogue ------------------------------------------------------
    const std::vector<std::string>& Labels() const { return labels_; }
    // The label at `index`; empty outside the catalogue.
    std::string Label(int index) const;
    const CatalogueMarkers& Markers() const { return markers_; }
    int PsocLabelIndex() const { return psocLabelIndex_; }
    int ReservedLabelIndex() const { return static_cast<int>(labels_.size()) - 1; }

    // --- Device transfers ---------------------------------------------
    // Firmware version text and slots 0-16 / slots 0-16 written.
    TransferResult TransferCommon(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction);
    // Slots 17 and 18 (Kestrel+, Harrier).
    TransferResult TransferExtra(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction);
    // Firmware version text, slots 0-33 and 44 / slots 0-33, then 44.
    TransferResult TransferHeron(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction);
    // Firmware version text and slots 0-14 / slots 0-14.
    TransferResult TransferMerlin(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction);
    // Accessory slots 0-18 / accessory slots 0-18, then the commit.
    TransferResult TransferLantern(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction);
    // The FPGA registers of the family (and the PSOC version of a Falcon or
    // Condor).
    TransferResult ReadFpgaRegisters(CSpecProtocol& protocol, DeviceHandle handle);

    // --- Exact slot bytes ---------------------------------------------
    // Every read keeps the bytes each slot gave. A later write sends a
    // slot's bytes exactly as read whenever the value to write is still the
    // one read (its encoding is unchanged), so nothing the list shows with
    // fewer digits, and nothing it does not show, is rewritten differently.
    const RawSlots& SlotsAsRead() const { return slotsAsRead_; }
    // Reads from `slots` instead of the device (a backup's bytes); a slot
    // missing from it fails as a failed read would. Null: the device again.
    void ReadFrom(const RawSlots* slots) { replay_ = slots; }

    // --- Progress -------------------------------------------------------
    // Called before every slot request sent to the device (not for slots
    // read from a backup's bytes, nor for writes that are only counted).
    void OnSlotRequest(std::function<void()> observer) { slotObserver_ = std::move(observer); }
    // How many slots `transfer` (a write) would write, without sending any.
    int CountSlotWrites(const std::function<void()>& transfer);

    // --- List rows ------------------------------------------------------
    // Each appends its rows to the list.
    void FillCommonRows(CValueList& list) const;
    // Also decodes the slot 17 bytes into the auto-nulling settings.
    void FillExtraRows(CValueList& list);
    void FillFpgaRows(CValueList& list, bool registersUnlocked) const;
    void FillPsocRow(CValueList& list) const;
    void FillHeronRows(CValueList& list) const;
    void FillMerlinRows(CValueList& list) const;
    void FillLanternRows(CValueList& list) const;

    // Each takes the values back from the list by row position.
    void ParseCommonRows(const CValueList& list);
    // Encodes the auto-nulling settings into bytes 0-5 of slot 17 (the other
    // bytes stay as read) and parses the baud rate row.
    void ParseExtraRows(const CValueList& list);
    void ParseHeronRows(const CValueList& list);
    void ParseMerlinRows(const CValueList& list);
    void ParseLanternRows(const CValueList& list);

    // --- Auto-nulling settings ----------------------------------------
    void GetAutoNulling(CAutoNullingInfo& info) const { info = autoNulling_; }
    void SetAutoNulling(const CAutoNullingInfo& info) { autoNulling_ = info; }

    // --- Records --------------------------------------------------------
    CommonValues& Common() { return common_; }
    const CommonValues& Common() const { return common_; }
    HeronValues& Heron() { return heron_; }
    const HeronValues& Heron() const { return heron_; }
    MerlinValues& Merlin() { return merlin_; }
    const MerlinValues& Merlin() const { return merlin_; }
    LanternValues& Lantern() { return lantern_; }
    const LanternValues& Lantern() const { return lantern_; }
    FpgaRegisters& Fpga() { return fpga_; }
    const FpgaRegisters& Fpga() const { return fpga_; }
    std::string& PsocVersion() { return psocVersion_; }
    const std::string& PsocVersion() const { return psocVersion_; }

private:
    void BuildCatalogue();
    // One row per label index, label from the catalogue.
    void AppendRow(CValueList& list, int labelIndex, const std::string& value, int image,
                   const RowRule& rule = RowRule::ShownOnly()) const;
    // The value text of table index `index` as an FPGA row shows it.
    std::string FpgaValueText(int index) const;

    friend class SlotIo;
    using TransferFn = TransferResult (CStoredValues::*)(CSpecProtocol&, DeviceHandle, TransferDirection);
    // Runs the matching write without sending, noting what each slot's
    // write would send for the values just read.
    void NoteEncodingAsRead(TransferFn transfer, CSpecProtocol& protocol, DeviceHandle handle);

    Platform& platform_;
    RawSlots slotsAsRead_;
    // What the write of each slot would send for the values just read.
    std::map<int, SlotWriteValue> encodedAsRead_;
    bool encodingOnly_ = false;  // the writes only note their encoding
    const RawSlots* replay_ = nullptr;
    std::function<void()> slotObserver_;
    CAutoNullingInfo autoNulling_;
    int psocLabelIndex_ = 0;
    std::vector<std::string> labels_;
    CommonValues common_;
    std::string psocVersion_;
    FpgaRegisters fpga_;
    MerlinValues merlin_;
    LanternValues lantern_;
    HeronValues heron_;
    int family_ = 0;
    CatalogueMarkers markers_;
};

}  // namespace spindle
