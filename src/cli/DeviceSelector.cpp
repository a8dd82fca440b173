#include "DeviceSelector.h"

#include <vector>

#include "device/EzusbRequests.h"
#include "inventory/DeviceRecord.h"
#include "platform/Format.h"

namespace spindle::cli {

namespace {

constexpr const char* kLanternSuffix = "/lantern";
constexpr const char* kSerialPrefix = "serial:";

bool ParseIndex(const std::string& digits, std::uint32_t& index) {
    if (digits.empty() || digits.size() > 3) return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    const int value = std::stoi(digits);
    if (value >= kMaxDevices) return false;
    index = static_cast<std::uint32_t>(value);
    return true;
}

bool Matches(const DeviceSelector& selector, const DeviceRecord& record) {
    switch (selector.kind) {
        case DeviceSelector::Kind::Index:
            return record.index == selector.index && record.family != static_cast<std::uint32_t>(family::kLantern);
        case DeviceSelector::Kind::Lantern:
            return record.index == selector.index && record.family == static_cast<std::uint32_t>(family::kLantern);
        case DeviceSelector::Kind::Serial:
            return record.serial == selector.serial;
    }
    return false;
}

}  // namespace

std::optional<DeviceSelector> ParseDeviceSelector(const std::string& text, std::string& error) {
    DeviceSelector selector;
    selector.text = text;
    if (text.starts_with(kSerialPrefix)) {
        selector.kind = DeviceSelector::Kind::Serial;
        selector.serial = text.substr(std::string(kSerialPrefix).size());
        if (!selector.serial.empty()) return selector;
        error = "a serial selector needs the serial number after \"serial:\"";
        return std::nullopt;
    }
    std::string digits = text;
    if (text.ends_with(kLanternSuffix)) {
        selector.kind = DeviceSelector::Kind::Lantern;
        digits = text.substr(0, text.size() - std::string(kLanternSuffix).size());
    }
    if (ParseIndex(digits, selector.index)) return selector;
    error = StrPrintf("\"%s\" is not a device: give a device index 0 to %d, INDEX/lantern or serial:SERIAL",
                      text.c_str(), kMaxDevices - 1);
    return std::nullopt;
}

int FindDeviceItem(const CDeviceTree& tree, const DeviceSelector& selector, IEzusbDriver& driver,
                   std::string& error) {
    std::vector<int> found;
    for (const TreeItem& item : tree.Items()) {
        if (item.record != nullptr && Matches(selector, *item.record)) found.push_back(item.id);
    }
    if (found.size() == 1) return found.front();
    if (found.empty()) {
        switch (selector.kind) {
            case DeviceSelector::Kind::Index:
                // A device another program holds (a job in another process)
                // is left out of the scan: say so rather than "not found".
                error = driver.DeviceBusy(DevicePath(spindle::DeviceName(static_cast<int>(selector.index))))
                            ? StrPrintf("device %u is busy", selector.index)
                            : StrPrintf("no device found at index %u", selector.index);
                break;
            case DeviceSelector::Kind::Lantern:
                error = StrPrintf("no Lantern light source found behind device %u", selector.index);
                break;
            case DeviceSelector::Kind::Serial:
                error = StrPrintf("no device found with serial number \"%s\"", selector.serial.c_str());
                break;
        }
        return CDeviceTree::kNoItem;
    }
    error = StrPrintf("%zu devices have the serial number \"%s\"; name one by its index:", found.size(),
                      selector.serial.c_str());
    for (int item : found) error += "\n  " + tree.Item(item)->text;
    return CDeviceTree::kNoItem;
}

}  // namespace spindle::cli
