#include "inventory/DeviceScan.h"

#include <cctype>
#include <map>
#include <string>

#include "device/Anchor.h"
#include "device/EzusbDevice.h"
#include "device/EzusbRequests.h"
#include "device/ScopedDevice.h"
#include "inventory/Classification.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

int FirmwareMajorVersion(const std::string& firmwareText) {
    if (firmwareText.size() < 9) return 0;
    std::size_t i = 8;
    while (i < firmwareText.size() && std::isspace(static_cast<unsigned char>(firmwareText[i]))) ++i;
    bool negative = false;
    if (i < firmwareText.size() && (firmwareText[i] == '+' || firmwareText[i] == '-')) {
        negative = firmwareText[i] == '-';
        ++i;
    }
    long value = 0;
    while (i < firmwareText.size() && std::isdigit(static_cast<unsigned char>(firmwareText[i]))) {
        if (value < 100000000) value = value * 10 + (firmwareText[i] - '0');
        ++i;
    }
    return static_cast<int>(negative ? -value : value);
}

namespace {

std::string Bounded(const std::string& serial) {
    return serial.size() > kSerialTextMax ? serial.substr(0, kSerialTextMax) : serial;
}

// The label of a maker row: the formatted text with its last character (the
// line feed) cut, so it ends in one space.
std::string MakerLabel(const ClassificationRow& row, int index, const std::string& serial) {
    std::string label = StrPrintf(row.labelFormat, index, serial.c_str());
    if (!label.empty()) label.pop_back();
    return label;
}

}  // namespace

Outcome ScanDevices(Platform& platform, const JobBusyFlags& jobBusy, DeviceRecordTable& records, CDeviceTree& tree) {
    Outcome outcome;
    CSpecProtocol protocol(platform);

    tree.Clear();
    const int root = tree.InsertItem(kRootLabel, kRootImage, CDeviceTree::kNoItem);
    tree.SetItemData(root, nullptr);
    std::map<std::string, int> categories;
    for (const char* label : CategoryLabels()) {
        const int item = tree.InsertItem(label, kCategoryImage, root);
        tree.SetItemData(item, nullptr);
        categories[label] = item;
    }

    CAnchor anchor(platform);
    records.fill(DeviceRecord{});
    int nextFree = 0;

    for (int n = 0; n < kMaxDevices; ++n) {
        if (jobBusy[static_cast<std::size_t>(n)].load() == 1) continue;
        DeviceHandle opened = kInvalidHandle;
        if (!anchor.OpenByName(opened, DeviceName(n))) continue;
        const ScopedDevice device(platform, ScopedDevice::Adopt{}, opened);
        const DeviceHandle handle = device.Handle();

        // A device that opened but stopped answering is left out or listed
        // with what was read; the scan says so instead of passing the tree
        // off as complete. A request that succeeded with 0xFFFF in a field is
        // an answer: such a device matches no row and is left out silently.
        std::uint16_t product = 0xFFFF;
        std::uint16_t vendor = 0xFFFF;
        const bool productRead = ReadDeviceDescriptor(platform, handle, DescriptorField::ProductId, product);
        const bool vendorRead = ReadDeviceDescriptor(platform, handle, DescriptorField::VendorId, vendor);
        bool answered = productRead && vendorRead;
        std::string label = StrPrintf("USB Device %d", n);

        const ClassificationRow* row = Classify(vendor, product);
        if (row != nullptr && nextFree >= kMaxDevices) {
            TraceLine(platform, StrPrintf("Device table full: Ezusb-%d left out", n));
            row = nullptr;
        }
        if (row != nullptr) {
            std::string serial = "None";
            if (row->readsSerial) {
                // A failed query leaves the value cleared: the serial is empty,
                // never another device's.
                SlotReadValue value{};
                answered = protocol.QueryInfoSlot(handle, 0, value) && answered;
                serial = Bounded(SlotText(value));
                label = MakerLabel(*row, n, serial);
            }
            const int item = tree.InsertItem(label, row->image, categories[row->category]);
            DeviceRecord& record = records[static_cast<std::size_t>(nextFree++)];
            record.index = static_cast<std::uint32_t>(n);
            record.family = static_cast<std::uint32_t>(row->family);
            record.serial = serial;
            tree.SetItemData(item, &record);

            if (FamilyOf(row->family).hostsLantern) {
                std::string firmware;
                answered = protocol.ReadFirmwareVersionText(handle, firmware) && answered;
                if (FirmwareMajorVersion(firmware) >= 2) {
                    AccessoryInfo info{};
                    // Only a successful query can say a Lantern is attached.
                    const bool queried = protocol.QueryAccessoryInfo(handle, info);
                    answered = queried && answered;
                    if (queried && IsLanternAttached(info)) {
                        if (nextFree >= kMaxDevices) {
                            TraceLine(platform, StrPrintf("Device table full: Lantern of Ezusb-%d left out", n));
                        } else {
                            SlotReadValue value{};
                            answered = protocol.QueryAccessorySlot(handle, 0, value) && answered;
                            const std::string lanternSerial = Bounded(SlotText(value));
                            const int lantern =
                                tree.InsertItem(StrPrintf("Lantern - %s", lanternSerial.c_str()), kLanternImage, item);
                            DeviceRecord& lanternRecord = records[static_cast<std::size_t>(nextFree++)];
                            lanternRecord.index = static_cast<std::uint32_t>(n);
                            lanternRecord.family = family::kLantern;
                            lanternRecord.serial = lanternSerial;
                            tree.SetItemData(lantern, &lanternRecord);
                            tree.Expand(item);
                        }
                    }
                }
            }
        }
        if (!answered) {
            const std::string text = StrPrintf(
                "Device %d stopped answering during the scan: it is missing from the tree or listed with what "
                "could be read. Check its cable and press Refresh Tree.", n);
            TraceLine(platform, text);
            outcome.Fail(StrPrintf("read device %d", n));
            outcome.Show({text, kScanProblemTitle, mb::kOk | mb::kIconWarning});
        }
    }

    // Devices the back end saw but could not open are missing from the
    // tree; the operator hears why once, after the whole scan.
    const std::string accessProblem = platform.driver.TakeAccessProblem();
    if (!accessProblem.empty()) {
        TraceLine(platform, accessProblem);
        outcome.Fail("open every device");
        outcome.Show({accessProblem, kAccessProblemTitle, mb::kOk | mb::kIconWarning});
    }

    tree.Expand(root);
    for (const char* label : CategoryExpansionOrder()) tree.Expand(categories[label]);
    return outcome;
}

}  // namespace spindle
