#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "device/Families.h"

namespace spindle {

// Longest serial text a record keeps (its 20 bytes hold a terminator too).
inline constexpr std::size_t kSerialTextMax = 19;

// One found device: its device index ("Ezusb-%d"), family code and serial.
struct DeviceRecord {
    std::uint32_t index = 0;
    std::uint32_t family = 0;
    std::string serial;
};

// The device table of the main frame: 128 entries, rebuilt by every scan.
inline constexpr int kMaxDevices = 128;
using DeviceRecordTable = std::array<DeviceRecord, kMaxDevices>;

}  // namespace spindle
