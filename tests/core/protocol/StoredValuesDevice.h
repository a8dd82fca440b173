#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "protocol/InstrumentProtocol.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

// The scripted driver answering like an instrument: each request written
// queues its reply (information and accessory slots, FPGA registers, PSOC
// version). Slot writes are stored and logged; chosen slots or registers
// fail their exchange.
class SlotDevice : public ScriptedDriver {
public:
    std::map<int, std::string> slots, accessorySlots;  // slot -> stored bytes
    std::map<int, std::uint16_t> fpgaRegisters;         // address -> value
    std::uint16_t psocVersion = 0;
    std::set<int> failSlotReads, failSlotWrites, failFpgaAddresses;
    struct SlotWrite { bool accessory; int slot; };
    std::vector<SlotWrite> slotWrites;
    std::vector<int> fpgaAddressesRead;
    int commits = 0;

    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        if (code == ioctl::kBulkWrite && outLength > 0 && !OnWrite(out, outLength)) return false;
        if (code == ioctl::kBulkRead && failNextRead_) return failNextRead_ = false;
        return ScriptedDriver::IoControl(handle, code, in, inLength, out, outLength, returned);
    }
    std::string Text(int slot) const { return slots.count(slot) ? slots.at(slot).c_str() : ""; }

private:
    bool OnWrite(const std::uint8_t* data, std::uint32_t length) {
        const std::uint8_t op = data[0];
        auto& store = (op == 0x05 || op == 0x06) ? slots : accessorySlots;
        if ((op == 0x05 || op == 0x23) && length == 3) {
            if (failSlotReads.count(data[1])) return failNextRead_ = true;
            std::vector<std::uint8_t> reply(17, 0);
            const std::string stored = store[data[1]];
            std::copy_n(stored.begin(), std::min<std::size_t>(stored.size(), 15), reply.begin() + 2);
            QueueBulkReply(reply);
        } else if ((op == 0x06 || op == 0x24) && length == 17) {
            if (failSlotWrites.count(data[1])) return false;
            store[data[1]] = std::string(reinterpret_cast<const char*>(data + 2), 15);
            slotWrites.push_back({op == 0x24, data[1]});
        } else if (op == 0x27) {
            ++commits;
        } else if (op == 0x6B) {
            fpgaAddressesRead.push_back(data[1]);
            if (failFpgaAddresses.count(data[1])) return false;
            const std::uint16_t v = fpgaRegisters[data[1]];
            QueueBulkReply({0xAA, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
        } else if (op == 0x68 && (length == 1 || data[1] == 0x41)) {
            QueueBulkReply({static_cast<std::uint8_t>(psocVersion >> 8), static_cast<std::uint8_t>(psocVersion), 0, 0});
        }
        return true;
    }
    bool failNextRead_ = false;
};

struct SlotBench {
    SlotDevice device;
    VirtualClock clock;
    NullDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{device, clock, trace, ui};
    CSpecProtocol protocol{platform};
    DeviceHandle handle = device.Open("\\\\.\\Ezusb-0");
};

}  // namespace spindle::test
