#include "protocol/values/ValueSet.h"

namespace spindle {

CValueSet::CValueSet(int familyCode) : family_(familyCode), slots_(FamilySlots(familyCode)) {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].label >= 0) shown_.push_back(static_cast<int>(i));
    }
}

CValueSet::CValueSet(int familyCode, const RawSlots& asRead) : CValueSet(familyCode) { asRead_ = asRead; }

void CValueSet::SetRead(int slot, const RawSlot& bytes) { asRead_[slot] = bytes; }

RawSlot CValueSet::BytesAsRead(int slot) const {
    auto it = asRead_.find(slot);
    return it == asRead_.end() ? RawSlot{} : it->second;
}

int CValueSet::FirstListRow() const { return ShowsFirmwareVersion(FamilyOf(family_).layout) ? 1 : 0; }

int CValueSet::EntryOfRow(int row) const {
    return row >= 0 && row < RowCount() ? shown_[static_cast<std::size_t>(row)] : -1;
}

std::vector<ValueRow> CValueSet::Rows() const {
    std::vector<ValueRow> rows;
    for (int entry : shown_) {
        const SlotEntry& slot = slots_[static_cast<std::size_t>(entry)];
        auto edit = edits_.find(entry);
        rows.push_back({CatalogueLabels()[static_cast<std::size_t>(slot.label)],
                        edit != edits_.end() ? edit->second : ShowSlot(slot.rule, BytesAsRead(slot.slot)),
                        slot.image, slot.rule});
    }
    return rows;
}

std::string CValueSet::Edit(int row, const std::string& text) {
    const int entry = EntryOfRow(row);
    if (entry < 0) return RowInputProblem(RowRule::ShownOnly(), text);
    const RowRule& rule = slots_[static_cast<std::size_t>(entry)].rule;
    if (rule.codec == SlotCodec::AutoNulling) {
        CAutoNullingInfo info = AutoNulling();
        if (std::string problem = ParseAutoNullingText(text, info); !problem.empty()) return problem;
        SetAutoNulling(info);
    } else if (std::string problem = RowInputProblem(rule, text); !problem.empty()) {
        return problem;
    }
    Take(row, text);
    return {};
}

void CValueSet::Take(int row, const std::string& text) {
    const int entry = EntryOfRow(row);
    if (entry < 0) return;
    const SlotEntry& slot = slots_[static_cast<std::size_t>(entry)];
    if (text == ShowSlot(slot.rule, BytesAsRead(slot.slot))) {
        edits_.erase(entry);
    } else {
        edits_[entry] = text;
    }
}

CAutoNullingInfo CValueSet::AutoNulling() const {
    if (autoNullingSet_) return autoNulling_;
    CAutoNullingInfo info;
    for (const SlotEntry& entry : slots_) {
        if (entry.rule.codec == SlotCodec::AutoNulling) info.Decode(BytesAsRead(entry.slot).data());
    }
    return info;
}

void CValueSet::SetAutoNulling(const CAutoNullingInfo& info) {
    autoNulling_ = info;
    autoNullingSet_ = true;
}

RawSlot CValueSet::BytesToWrite(int index) const {
    const SlotEntry& entry = slots_[static_cast<std::size_t>(index)];
    const RawSlot asRead = BytesAsRead(entry.slot);
    if (entry.rule.codec == SlotCodec::AutoNulling) {
        return autoNullingSet_ ? EncodeSlot(entry.rule, {}, asRead, autoNulling_) : asRead;
    }
    auto edit = edits_.find(index);
    if (edit == edits_.end() || entry.rule.input == RowInput::ShownOnly) return asRead;
    const RawSlot encoded = EncodeSlot(entry.rule, edit->second, asRead, autoNulling_);
    return encoded == EncodeAsRead(entry.rule, asRead) ? asRead : encoded;
}

}  // namespace spindle
