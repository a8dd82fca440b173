#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "device/EzusbDriver.h"
#include "device/UsbTrace.h"
#include "platform/DebugTrace.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

// Passes requests on, except slot writes (information 0x06, accessory 0x24)
// of the slots named, which fail at the driver as a broken transfer would.
class SlotWriteFaults final : public IEzusbDriver {
public:
    explicit SlotWriteFaults(IEzusbDriver& inner) : inner_(inner) {}
    std::set<int> failingWrites;

    DeviceHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        if (code == ioctl::kBulkWrite && out != nullptr && outLength >= 2 && (out[0] == 0x06 || out[0] == 0x24) &&
            failingWrites.count(out[1]) != 0) {
            return false;
        }
        return inner_.IoControl(handle, code, in, inLength, out, outLength, returned);
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }

private:
    IEzusbDriver& inner_;
};

// The demo bench behind the USB trace and a virtual clock, with a main frame
// whose tree has been refreshed.
struct AllValuesRig {
    AllValuesRig() { frame.OnRefreshTree(); }

    // The tree item of the device with this index and family.
    int ItemOf(int index, int familyCode) {
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr && item.record->index == static_cast<std::uint32_t>(index) &&
                item.record->family == static_cast<std::uint32_t>(familyCode)) {
                return item.id;
            }
        }
        return CDeviceTree::kNoItem;
    }
    // Selects the device item, which runs Get All Values.
    void Select(int index, int familyCode) { frame.OnTreeSelectionChanged(ItemOf(index, familyCode)); }

    sim::SimDevice& Device(int index) { return *bench->Device(index); }
    // Makes the device leave the read of these information slots unanswered.
    void FailSlotReads(int index, std::set<int> slots) {
        Device(index).SetCommandHook([slots](const std::vector<std::uint8_t>& command,
                                             std::vector<std::vector<std::uint8_t>>&) {
            return command.size() == 3 && command[0] == 0x05 && slots.count(command[1]) != 0;
        });
    }
    // Slot numbers of the slot writes (0x06 or 0x24) the device received.
    std::vector<int> WrittenSlots(int index, std::uint8_t opcode = 0x06) {
        std::vector<int> slots;
        for (const auto& command : Device(index).BulkCommands()) {
            if (command.size() == 17 && command[0] == opcode) slots.push_back(command[1]);
        }
        return slots;
    }

    std::vector<std::string> Labels() {
        std::vector<std::string> labels;
        for (const ValueRow& row : frame.List().Rows()) labels.push_back(row.label);
        return labels;
    }
    std::string Value(int row) { return frame.List().GetText(row, CValueList::kDataColumn); }

    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    SlotWriteFaults faults{*bench};
    CUsbTrace usb;
    CTracingDriver driver{faults, usb};
    VirtualClock clock;
    CTracingClock tracedClock{clock, usb};
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, tracedClock, trace, ui};
    CMainFrame frame{platform};
};

// Demo bench device indexes.
namespace demo {
inline constexpr int kKestrelWithLantern = 0;
inline constexpr int kKestrel = 1;
inline constexpr int kHeron = 2;
inline constexpr int kOsprey = 3;
inline constexpr int kKestrelPlus = 4;
inline constexpr int kHarrier = 5;
inline constexpr int kFalcon = 6;
inline constexpr int kOspreyPlus = 7;
inline constexpr int kCondor = 8;
inline constexpr int kWren = 11;
inline constexpr int kMerlin = 13;
}  // namespace demo

}  // namespace spindle::test
