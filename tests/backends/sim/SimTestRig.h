#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/EzusbDevice.h"
#include "platform/DebugTrace.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::sim::test {

// A bench behind the real host layer, with a virtual clock and a scripted
// user interface, plus short-hands for bulk commands.
struct SimRig {
    explicit SimRig(std::unique_ptr<SimBench> loaded) : bench(std::move(loaded)) {}

    DeviceHandle Open(int index) {
        DeviceHandle handle = kNullHandle;
        OpenDeviceByIndex(platform, index, handle);
        return handle;
    }
    bool Send(DeviceHandle handle, const std::vector<std::uint8_t>& command) {
        return BulkOut(platform, handle, 0, command.data(), static_cast<std::uint32_t>(command.size()), false);
    }
    std::optional<std::vector<std::uint8_t>> Read(DeviceHandle handle, std::uint32_t length) {
        std::vector<std::uint8_t> reply(length, 0);
        if (!BulkIn(platform, handle, 3, reply.data(), length, false)) return std::nullopt;
        return reply;
    }
    // 0x05 slot 0x01, then the 17-byte reply's 15 value bytes.
    std::optional<SlotBytes> QuerySlot(DeviceHandle handle, int slot, std::uint8_t opcode = 0x05) {
        if (!Send(handle, {opcode, static_cast<std::uint8_t>(slot), 0x01})) return std::nullopt;
        const auto reply = Read(handle, 17);
        if (!reply) return std::nullopt;
        SlotBytes value{};
        std::copy(reply->begin() + 2, reply->end(), value.begin());
        return value;
    }
    bool WriteSlot(DeviceHandle handle, int slot, const SlotBytes& value, std::uint8_t opcode = 0x06) {
        std::vector<std::uint8_t> command{opcode, static_cast<std::uint8_t>(slot)};
        command.insert(command.end(), value.begin(), value.end());
        return Send(handle, command);
    }

    std::unique_ptr<SimBench> bench;
    VirtualClock clock;
    MemoryDebugTrace trace;
    spindle::test::ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
};

}  // namespace spindle::sim::test
