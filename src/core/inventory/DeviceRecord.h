#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace spindle {

// Family codes: the classification of a found device.
namespace family {
inline constexpr int kKestrel = 2;
inline constexpr int kHeron = 3;
inline constexpr int kOsprey = 4;
inline constexpr int kLantern = 5;  // light source behind a Kestrel, same index
inline constexpr int kUnprogrammedEzusb = 7;
inline constexpr int kMerlin = 8;
inline constexpr int kIbis = 9;     // Gannet and Skua
inline constexpr int kFalcon = 10;  // Falcon and Osprey+
inline constexpr int kCondor = 11;
inline constexpr int kUnprogrammedFx2 = 12;
inline constexpr int kWren = 13;
inline constexpr int kKestrelPlus = 14;
inline constexpr int kHarrier = 15;
inline constexpr int kFinch = 16;
}  // namespace family

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
