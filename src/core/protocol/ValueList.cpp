#include "protocol/ValueList.h"

#include <algorithm>

namespace spindle {

int CValueList::InsertRow(int position, const std::string& label, const std::string& value, int image,
                          const RowRule& rule) {
    const int count = RowCount();
    const int at = std::clamp(position, 0, count);
    rows_.insert(rows_.begin() + at, ValueRow{label, value, image, rule});
    Changed();
    return at;
}

int CValueList::AppendRow(const std::string& label, const std::string& value, int image, const RowRule& rule) {
    return InsertRow(RowCount(), label, value, image, rule);
}

void CValueList::Clear() {
    rows_.clear();
    modified_ = false;
    Changed();
}

ValueRow CValueList::Row(int position) const {
    return Valid(position) ? rows_[static_cast<std::size_t>(position)] : ValueRow{};
}

std::string CValueList::GetText(int position, int column) const {
    if (!Valid(position)) return {};
    const ValueRow& row = rows_[static_cast<std::size_t>(position)];
    if (column == kItemColumn) return row.label;
    if (column == kDataColumn) return row.value;
    return {};
}

void CValueList::MarkSaved() {
    modified_ = false;
    for (ValueRow& row : rows_) row.edited = false;
    Changed();
}

bool CValueList::SetText(int position, int column, const std::string& text) {
    if (!Valid(position)) return false;
    ValueRow& row = rows_[static_cast<std::size_t>(position)];
    if (column == kItemColumn) {
        row.label = text;
    } else if (column == kDataColumn) {
        if (row.value != text) modified_ = row.edited = true;
        row.value = text;
    } else {
        return false;
    }
    Changed();
    return true;
}

int CValueList::Image(int position) const {
    return Valid(position) ? rows_[static_cast<std::size_t>(position)].image : -1;
}

RowRule CValueList::Rule(int position) const {
    return Valid(position) ? rows_[static_cast<std::size_t>(position)].rule : RowRule{};
}

void CValueList::Changed() const {
    if (observer_) observer_();
}

}  // namespace spindle
