#pragma once
#include <map>
#include <string>
#include <vector>

#include "protocol/AutoNullingInfo.h"
#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"
#include "protocol/values/SlotTable.h"

namespace spindle {

// The stored values of one device: the family's slots with the bytes each
// gave when read, and the texts edited since. It gives the rows to show and
// the bytes to write; a slot whose text was not edited (or whose edit writes
// what its value as read would) is written exactly as read.
class CValueSet {
public:
    explicit CValueSet(int familyCode = 0);
    CValueSet(int familyCode, const RawSlots& asRead);

    int Family() const { return family_; }
    const std::vector<SlotEntry>& Slots() const { return slots_; }

    // The bytes a slot read gave; a failed read forgets the slot.
    void SetRead(int slot, const RawSlot& bytes);
    void SetFailed(int slot) { asRead_.erase(slot); }
    const RawSlots& AsRead() const { return asRead_; }

    // The shown slots, in order, as rows: label, text, image and rule. The
    // list shows them from row FirstListRow() on (after the firmware row).
    std::vector<ValueRow> Rows() const;
    int RowCount() const { return static_cast<int>(shown_.size()); }
    int FirstListRow() const;
    // The slot entry a row shows; -1 for a row that is no slot's.
    int EntryOfRow(int row) const;

    // An edit as the row's editor takes it: refused (the reason, naming the
    // limit) for a row that is only shown or a text its codec refuses. The
    // auto-nulling row takes "Enabled,Disabled,1200,60000".
    std::string Edit(int row, const std::string& text);
    // A row's text taken back as Save All Values takes the list: unchecked.
    void Take(int row, const std::string& text);

    // The auto-nulling settings: as read from slot 17 unless set.
    CAutoNullingInfo AutoNulling() const;
    void SetAutoNulling(const CAutoNullingInfo& info);

    // What writing the slot of entry `index` of Slots() sends.
    RawSlot BytesToWrite(int index) const;

private:
    RawSlot BytesAsRead(int slot) const;

    int family_ = 0;
    std::vector<SlotEntry> slots_;
    std::vector<int> shown_;             // row -> entry
    RawSlots asRead_;
    std::map<int, std::string> edits_;   // entry -> text
    CAutoNullingInfo autoNulling_;
    bool autoNullingSet_ = false;
};

}  // namespace spindle
