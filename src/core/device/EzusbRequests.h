#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace spindle {

// Byte layouts of the driver's request blocks, built and read byte by byte
// (little-endian), never by casting structs. Shared by the host side and by
// the back ends that must decode what the host sent.

// VendorRequestControl, 10 bytes.
struct VendorRequestControl {
    std::uint8_t direction = 0;     // 0 host to device, 1 device to host
    std::uint8_t requestType = 2;   // always vendor
    std::uint8_t recipient = 0;     // always device
    std::uint8_t requestTypeReservedBits = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;

    std::array<std::uint8_t, 10> Encode() const;
    static VendorRequestControl Decode(const std::uint8_t* bytes);
};

// ResetRequestBlock, 10 bytes: the short vendor request with one data byte
// that holds or releases the 8051.
struct ResetRequestBlock {
    std::uint8_t request = 0xA0;
    std::uint16_t value = 0;        // CPUCS address
    std::uint16_t index = 0;
    std::uint16_t length = 1;
    std::uint8_t direction = 0;
    std::uint8_t data = 0;          // 1 hold, 0 release

    std::array<std::uint8_t, 10> Encode() const;
    static ResetRequestBlock Decode(const std::uint8_t* bytes);
};

// String descriptor request, 4 bytes: index, 0, language (little-endian).
inline constexpr std::uint16_t kStringDescriptorLanguage = 0x001B;
std::array<std::uint8_t, 4> EncodeStringDescriptorRequest(std::uint8_t index);

// Bulk transfer control: the pipe number as an unsigned 32-bit value.
std::array<std::uint8_t, 4> EncodePipeNumber(std::uint32_t pipe);
std::uint32_t DecodeLe32(const std::uint8_t* bytes);
std::uint16_t DecodeLe16(const std::uint8_t* bytes);

// "Ezusb-%d" and its device path; the index from a name or path, if any.
std::string DeviceName(int index);
std::string DevicePath(const std::string& deviceName);
std::optional<int> DeviceIndexFromPath(const std::string& pathOrName);
// The device name inside a path ("\\.\Ezusb-3" gives "Ezusb-3").
std::string DeviceNameFromPath(const std::string& path);

}  // namespace spindle
