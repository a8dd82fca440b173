#include "device/EzusbRequests.h"

#include <cstdlib>

#include "device/EzusbDriver.h"
#include "platform/Format.h"

namespace spindle {

namespace {
void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}
}  // namespace

std::uint16_t DecodeLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t DecodeLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::array<std::uint8_t, 10> VendorRequestControl::Encode() const {
    std::array<std::uint8_t, 10> bytes{};
    bytes[0] = direction;
    bytes[1] = requestType;
    bytes[2] = recipient;
    bytes[3] = requestTypeReservedBits;
    bytes[4] = request;
    bytes[5] = 0;
    PutLe16(&bytes[6], value);
    PutLe16(&bytes[8], index);
    return bytes;
}

VendorRequestControl VendorRequestControl::Decode(const std::uint8_t* bytes) {
    VendorRequestControl block;
    block.direction = bytes[0];
    block.requestType = bytes[1];
    block.recipient = bytes[2];
    block.requestTypeReservedBits = bytes[3];
    block.request = bytes[4];
    block.value = DecodeLe16(&bytes[6]);
    block.index = DecodeLe16(&bytes[8]);
    return block;
}

std::array<std::uint8_t, 10> ResetRequestBlock::Encode() const {
    std::array<std::uint8_t, 10> bytes{};
    bytes[0] = request;
    bytes[1] = 0;
    PutLe16(&bytes[2], value);
    PutLe16(&bytes[4], index);
    PutLe16(&bytes[6], length);
    bytes[8] = direction;
    bytes[9] = data;
    return bytes;
}

ResetRequestBlock ResetRequestBlock::Decode(const std::uint8_t* bytes) {
    ResetRequestBlock block;
    block.request = bytes[0];
    block.value = DecodeLe16(&bytes[2]);
    block.index = DecodeLe16(&bytes[4]);
    block.length = DecodeLe16(&bytes[6]);
    block.direction = bytes[8];
    block.data = bytes[9];
    return block;
}

std::array<std::uint8_t, 4> EncodeStringDescriptorRequest(std::uint8_t index) {
    std::array<std::uint8_t, 4> bytes{};
    bytes[0] = index;
    bytes[1] = 0;
    PutLe16(&bytes[2], kStringDescriptorLanguage);
    return bytes;
}

std::array<std::uint8_t, 4> EncodePipeNumber(std::uint32_t pipe) {
    return {static_cast<std::uint8_t>(pipe & 0xFF), static_cast<std::uint8_t>((pipe >> 8) & 0xFF),
            static_cast<std::uint8_t>((pipe >> 16) & 0xFF), static_cast<std::uint8_t>(pipe >> 24)};
}

std::string DeviceName(int index) { return StrPrintf("Ezusb-%d", index); }

std::string DevicePath(const std::string& deviceName) { return kDevicePathPrefix + deviceName; }

std::string DeviceNameFromPath(const std::string& path) {
    const std::string prefix = kDevicePathPrefix;
    if (path.compare(0, prefix.size(), prefix) == 0) return path.substr(prefix.size());
    return path;
}

std::optional<int> DeviceIndexFromPath(const std::string& pathOrName) {
    const std::string name = DeviceNameFromPath(pathOrName);
    const std::string stem = "Ezusb-";
    if (name.compare(0, stem.size(), stem) != 0 || name.size() == stem.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = stem.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 1000000) return std::nullopt;
    }
    return value;
}

}  // namespace spindle
