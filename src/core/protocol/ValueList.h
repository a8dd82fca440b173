#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "protocol/RowRule.h"

namespace spindle {

// One row of the stored-value list: the catalogue label ("Item" column), the
// value text ("Data" column) and the index of the row's small image.
struct ValueRow {
    std::string label;
    std::string value;
    int image = 0;
    RowRule rule;  // what the row's editor accepts
    bool edited = false;  // its value changed since the list was read or saved
};

// The stored-value list: an ordered list of rows, and between Get All Values
// and Save All Values the only store of the values. The main frame owns one;
// front ends render it and edit its value texts. Rows are addressed by
// position; reading a position that does not exist gives an empty text, as
// reading an empty list control does.
class CValueList {
public:
    // Column numbers for GetText / SetText.
    static constexpr int kItemColumn = 0;
    static constexpr int kDataColumn = 1;

    // Inserts a row before `position` (clamped to the end) and returns the
    // position it took.
    int InsertRow(int position, const std::string& label, const std::string& value, int image,
                  const RowRule& rule = {});
    // Appends a row and returns its position.
    int AppendRow(const std::string& label, const std::string& value, int image, const RowRule& rule = {});
    // Empties the list; it holds no unsaved edits then.
    void Clear();

    int RowCount() const { return static_cast<int>(rows_.size()); }
    bool Empty() const { return rows_.empty(); }
    const std::vector<ValueRow>& Rows() const { return rows_; }
    // The row at `position`; an empty row for a position out of range.
    ValueRow Row(int position) const;

    // The label (column 0) or value text (column 1) of a row; empty when the
    // row or column does not exist.
    std::string GetText(int position, int column) const;
    // Sets the label or value text of an existing row; false when the row or
    // column does not exist.
    bool SetText(int position, int column, const std::string& text);
    // The row's image index; -1 for a position out of range.
    int Image(int position) const;
    // The row's rule; the default (any text of 15 bytes) out of range.
    RowRule Rule(int position) const;

    // True once a value text changed since the list was filled (or since
    // MarkSaved): the list holds edits the device does not have yet.
    bool Modified() const { return modified_; }
    void MarkSaved();

    // Called after every change, so a front end can redraw.
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    bool Valid(int position) const { return position >= 0 && static_cast<std::size_t>(position) < rows_.size(); }
    void Changed() const;

    std::vector<ValueRow> rows_;
    std::function<void()> observer_;
    bool modified_ = false;
};

}  // namespace spindle
