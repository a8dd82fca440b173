#pragma once
#include <functional>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"
#include "platform/Platform.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/FpgaRegisters.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"
#include "protocol/values/ValueSet.h"

namespace spindle {

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

// The stored values of one device for one operation (Get All Values or Save
// All Values): the family's value set (the slot table with the bytes read
// and the edits), the firmware text, the FPGA registers and the PSOC
// version. Transfer* move the slots of a layout to or from the device, Fill*
// show them as rows of the value list and Parse* take the rows back.
class CStoredValues {
public:
    static constexpr int kLabelCount = 102;

    explicit CStoredValues(Platform& platform, int familyCode = 0);
    virtual ~CStoredValues() = default;
    CStoredValues(const CStoredValues&) = delete;
    CStoredValues& operator=(const CStoredValues&) = delete;

    int Family() const { return family_; }

    // --- Catalogue ------------------------------------------------------
    const std::vector<std::string>& Labels() const { return CatalogueLabels(); }
    // The label at `index`; empty outside the catalogue.
    std::string Label(int index) const;
    const CatalogueMarkers& Markers() const { return spindle::Markers(); }
    int PsocLabelIndex() const { return Markers().psoc; }
    int ReservedLabelIndex() const { return Markers().reserved; }

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

    // The family's slots in order, read (the firmware text first, where the
    // list shows it) or written (then the accessory commit); the extra slots
    // 17 and 18 only with `withExtra`.
    TransferResult Transfer(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction,
                            bool withExtra = true);

    // --- Values ---------------------------------------------------------
    // The slots with their bytes as read and the edits taken from the list.
    CValueSet& Values() { return values_; }
    const CValueSet& Values() const { return values_; }
    const RawSlots& SlotsAsRead() const { return values_.AsRead(); }
    const std::string& FirmwareVersion() const { return firmwareVersion_; }

    // --- Progress -------------------------------------------------------
    // Called before every slot request sent to the device.
    void OnSlotRequest(std::function<void()> observer) { slotObserver_ = std::move(observer); }

    // --- List rows ------------------------------------------------------
    // Each appends its rows to the list.
    void FillCommonRows(CValueList& list) const;
    void FillExtraRows(CValueList& list) const;
    void FillFpgaRows(CValueList& list, bool registersUnlocked) const;
    void FillPsocRow(CValueList& list) const;
    void FillHeronRows(CValueList& list) const;
    void FillMerlinRows(CValueList& list) const;
    void FillLanternRows(CValueList& list) const;

    // The family's rows: the firmware text, the slots', the FPGA registers
    // and the PSOC version as the family has them. `autoNulling` receives
    // the settings of slot 17 of a family that has it.
    void FillRows(CValueList& list, bool registersUnlocked, CAutoNullingInfo& autoNulling);

    // Each takes the values back from the list by row position.
    void ParseRows(const CValueList& list);
    void ParseCommonRows(const CValueList& list);
    // Encodes the auto-nulling settings into bytes 0-5 of slot 17 (the other
    // bytes stay as read) and parses the baud rate row.
    void ParseExtraRows(const CValueList& list);
    void ParseHeronRows(const CValueList& list);
    void ParseMerlinRows(const CValueList& list);
    void ParseLanternRows(const CValueList& list);

    // --- Auto-nulling settings ----------------------------------------
    void GetAutoNulling(CAutoNullingInfo& info) const { info = values_.AutoNulling(); }
    void SetAutoNulling(const CAutoNullingInfo& info) { values_.SetAutoNulling(info); }

    // --- Registers ------------------------------------------------------
    FpgaRegisters& Fpga() { return fpga_; }
    const FpgaRegisters& Fpga() const { return fpga_; }
    std::string& PsocVersion() { return psocVersion_; }
    const std::string& PsocVersion() const { return psocVersion_; }

private:
    // The layout's own slots (with the firmware text on read and the
    // accessory commit on write), or with `extra` slots 17 and 18: the
    // entries of the value set on one side of the layout's end.
    TransferResult TransferPart(CSpecProtocol& protocol, DeviceHandle handle, TransferDirection direction,
                                bool extra);
    void FillPart(CValueList& list, bool extra) const;
    void ParsePart(const CValueList& list, bool extra);
    bool InPart(int entry, bool extra) const;
    // The value text of table index `index` as an FPGA row shows it.
    std::string FpgaValueText(int index) const;

    Platform& platform_;
    int family_ = 0;
    CValueSet values_;
    std::string firmwareVersion_;
    std::function<void()> slotObserver_;
    std::string psocVersion_;
    FpgaRegisters fpga_;
};

}  // namespace spindle
