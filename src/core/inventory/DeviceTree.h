#pragma once
#include <functional>
#include <string>
#include <vector>

#include "inventory/DeviceRecord.h"

namespace spindle {

// One item of the device tree.
struct TreeItem {
    int id = 0;
    std::string text;
    int image = 0;
    int parent = -1;  // -1 for the root
    bool expanded = false;
    const DeviceRecord* record = nullptr;  // null for the root and categories
    std::vector<int> children;
};

// The device tree the left pane shows: the core builds it, front ends render
// it. Item ids are positions in insertion order and stay valid until Clear.
class CDeviceTree {
public:
    static constexpr int kNoItem = -1;

    void Clear();
    // Appends an item after the last child of `parent` (kNoItem for a root).
    int InsertItem(const std::string& text, int image, int parent);
    void SetItemData(int item, const DeviceRecord* record);
    void Expand(int item);

    const std::vector<TreeItem>& Items() const { return items_; }
    const TreeItem* Item(int item) const;
    int Count() const { return static_cast<int>(items_.size()); }
    std::vector<int> Roots() const;
    // Items in the order Expand was called since the last Clear.
    const std::vector<int>& ExpansionLog() const { return expansionLog_; }
    // The first item with this text, or kNoItem.
    int Find(const std::string& text) const;

    // The selected item (kNoItem when none) and its device record.
    int Selected() const { return selected_; }
    void Select(int item);
    const DeviceRecord* SelectedRecord() const;

    // Called after every change, so a front end can redraw.
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    bool Valid(int item) const { return item >= 0 && item < static_cast<int>(items_.size()); }
    void Changed() const;

    std::vector<TreeItem> items_;
    std::vector<int> expansionLog_;
    int selected_ = kNoItem;
    std::function<void()> observer_;
};

}  // namespace spindle
