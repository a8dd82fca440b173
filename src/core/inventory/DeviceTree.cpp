#include "inventory/DeviceTree.h"

namespace spindle {

void CDeviceTree::Clear() {
    items_.clear();
    expansionLog_.clear();
    selected_ = kNoItem;
    Changed();
}

int CDeviceTree::InsertItem(const std::string& text, int image, int parent) {
    TreeItem item;
    item.id = static_cast<int>(items_.size());
    item.text = text;
    item.image = image;
    item.parent = Valid(parent) ? parent : kNoItem;
    items_.push_back(item);
    if (item.parent != kNoItem) items_[static_cast<std::size_t>(item.parent)].children.push_back(item.id);
    Changed();
    return item.id;
}

void CDeviceTree::SetItemData(int item, const DeviceRecord* record) {
    if (!Valid(item)) return;
    items_[static_cast<std::size_t>(item)].record = record;
}

void CDeviceTree::Expand(int item) {
    if (!Valid(item)) return;
    items_[static_cast<std::size_t>(item)].expanded = true;
    expansionLog_.push_back(item);
    Changed();
}

const TreeItem* CDeviceTree::Item(int item) const {
    return Valid(item) ? &items_[static_cast<std::size_t>(item)] : nullptr;
}

std::vector<int> CDeviceTree::Roots() const {
    std::vector<int> roots;
    for (const auto& item : items_) {
        if (item.parent == kNoItem) roots.push_back(item.id);
    }
    return roots;
}

int CDeviceTree::Find(const std::string& text) const {
    for (const auto& item : items_) {
        if (item.text == text) return item.id;
    }
    return kNoItem;
}

void CDeviceTree::Select(int item) {
    selected_ = Valid(item) ? item : kNoItem;
    Changed();
}

const DeviceRecord* CDeviceTree::SelectedRecord() const {
    const TreeItem* item = Item(selected_);
    return item != nullptr ? item->record : nullptr;
}

void CDeviceTree::Changed() const {
    if (observer_) observer_();
}

}  // namespace spindle
