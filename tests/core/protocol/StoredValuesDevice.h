#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device/EzusbDriver.h"
#include "platform/DebugTrace.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "protocol/SpecProtocol.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

// The scripted driver answering like an instrument: information and
// accessory slots, FPGA registers and the PSOC version, each reply queued
// when its request is written. Slot writes land in the stored slots and are
// logged; any slot can be made to fail its read or its write.
class SlotDevice : public ScriptedDriver {
public:
    std::map<int, std::string> slots;           // information slot -> stored bytes (up to 15)
    std::map<int, std::string> accessorySlots;  // accessory slot -> stored bytes
    std::map<int, std::uint16_t> fpgaRegisters; // register address -> value
    std::uint16_t psocVersion = 0;
    std::set<int> failSlotReads, failSlotWrites;
    std::set<int> failFpgaAddresses;

    struct SlotWrite {
        bool accessory;
        int slot;
        std::string bytes;  // the 15 bytes sent
    };
    std::vector<SlotWrite> slotWrites;
    std::vector<int> fpgaAddressesRead;
    int commits = 0;

    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        if (code == ioctl::kBulkWrite && out != nullptr && outLength > 0) {
            if (!OnWrite(out, outLength)) return false;
        }
        if (code == ioctl::kBulkRead && failNextRead_) {
            failNextRead_ = false;
            return false;
        }
        return ScriptedDriver::IoControl(handle, code, in, inLength, out, outLength, returned);
    }

    // The stored value of a slot as text (up to its first zero).
    std::string SlotTextOf(int slot) const {
        auto it = slots.find(slot);
        return it == slots.end() ? std::string() : std::string(it->second.c_str());
    }

private:
    static std::vector<std::uint8_t> SlotReply(const std::string& stored) {
        std::vector<std::uint8_t> reply(17, 0);
        for (std::size_t i = 0; i < stored.size() && i < 15; ++i) reply[2 + i] = static_cast<std::uint8_t>(stored[i]);
        return reply;
    }

    bool OnWrite(const std::uint8_t* data, std::uint32_t length) {
        const std::uint8_t op = data[0];
        if ((op == 0x05 || op == 0x23) && length == 3) {
            const int slot = data[1];
            if (failSlotReads.count(slot)) {
                failNextRead_ = true;
                return true;
            }
            auto& store = op == 0x05 ? slots : accessorySlots;
            QueueBulkReply(SlotReply(store.count(slot) ? store[slot] : std::string()));
        } else if ((op == 0x06 || op == 0x24) && length == 17) {
            const int slot = data[1];
            if (failSlotWrites.count(slot)) return false;
            std::string bytes(reinterpret_cast<const char*>(data + 2), 15);
            (op == 0x06 ? slots : accessorySlots)[slot] = bytes;
            slotWrites.push_back({op == 0x24, slot, bytes});
        } else if (op == 0x27) {
            ++commits;
        } else if (op == 0x6B && length == 2) {
            const int address = data[1];
            fpgaAddressesRead.push_back(address);
            if (failFpgaAddresses.count(address)) return false;
            const std::uint16_t value = fpgaRegisters.count(address) ? fpgaRegisters[address] : 0;
            QueueBulkReply({0xAA, static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)});
        } else if (op == 0x68 && length == 1) {
            QueueBulkReply({static_cast<std::uint8_t>(psocVersion >> 8), static_cast<std::uint8_t>(psocVersion & 0xFF), 0});
        } else if (op == 0x68 && length == 5 && data[1] == 0x41) {
            QueueBulkReply({static_cast<std::uint8_t>(psocVersion >> 8), static_cast<std::uint8_t>(psocVersion & 0xFF), 0, 0});
        }
        return true;
    }

    bool failNextRead_ = false;
};

// A platform around a SlotDevice with a virtual clock.
struct SlotBench {
    SlotDevice device;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{device, clock, trace, ui};
    CSpecProtocol protocol{platform};
    DeviceHandle handle = device.Open("\\\\.\\Ezusb-0");
};

}  // namespace spindle::test
