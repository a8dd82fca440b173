#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct libusb_device_descriptor;

namespace spindle::usb {

// How the EZ-USB driver's paths and requests map onto plain USB operations.
// Pure functions, so the mapping is tested without any device; the libusb
// back end (LibusbDriver.h) only carries out what these return.
//
//   "\\.\Ezusb-N"  the N-th attached device whose vendor/product pair is a
//                  row of the classification table (the instruments and the
//                  unprogrammed EZ-USB and FX2 chips), numbered in the order
//                  of bus number, then port path, then address.
//   0x222004       the 18-byte device descriptor, from the cached descriptor.
//   0x222044       GET_DESCRIPTOR(STRING) with the request's own language id.
//   0x22204E/51    bulk read/write on pipe p: the p-th endpoint of interface
//                  0, alternate setting 0, in descriptor order.
//   0x222059       control transfer built from the VendorRequestControl block.
//   0x222014       vendor write of the ResetRequestBlock's one data byte.
//   0x22206D       vendor write 0xA0 at the 8051 address, 4096 bytes a go.


// The kernel driver waits for ever; a user-space transfer needs a bound.
// Every device answers within milliseconds (a busy FPGA player answers
// "busy" rather than stalling), so 5 s only ends transfers that hang.
inline constexpr unsigned kTransferTimeoutMs = 5000;

// The EZ-USB loader request that writes 8051 memory (and CPUCS).
inline constexpr std::uint8_t kAnchorLoadRequest = 0xA0;
inline constexpr std::uint32_t kAnchorChunkBytes = 4096;

// The devices Ezusb-N numbers: exactly the classification table's pairs.
bool IsEzusbDevice(std::uint16_t vendor, std::uint16_t product);

// Where a device sits on the buses, and its vendor.
struct UsbLocation {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;  // port numbers from the root hub down
    std::uint8_t address = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Positions in `devices` of the EZ-USB devices, in device-index order:
// position [N] of the result is the device "Ezusb-N".
std::vector<std::size_t> OrderEzusbDevices(const std::vector<UsbLocation>& devices);

// N from exactly "\\.\Ezusb-N" (decimal, no sign, no leading zeros).
std::optional<int> ParseEzusbPath(const std::string& path);

// A control transfer's setup stage.
struct ControlSetup {
    std::uint8_t requestType = 0;  // bmRequestType
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;  // the data stage
    bool IsIn() const { return (requestType & 0x80) != 0; }
};

// 0x222059: the setup of a VendorRequestControl block (10 bytes) with a
// data stage of `dataLength` bytes. Empty for a short block, a data stage
// longer than 65535 bytes, or a reserved type or recipient.
std::optional<ControlSetup> VendorRequestSetup(const std::uint8_t* in, std::uint32_t inLength,
                                               std::uint32_t dataLength);

// 0x222014: the setup of a ResetRequestBlock (10 bytes) and the data byte
// it carries. Empty for a short block, a device-to-host block or a length
// other than 0 or 1 (the block has room for one data byte only).
struct ShortVendorWrite {
    ControlSetup setup;
    std::uint8_t data = 0;
};
std::optional<ShortVendorWrite> ResetRequestSetup(const std::uint8_t* in, std::uint32_t inLength);

// 0x222044: GET_DESCRIPTOR(STRING, index) in the request's language, asking
// for at most 255 bytes (a descriptor's length is one byte). Empty for a
// short request or no room for a reply.
std::optional<ControlSetup> StringDescriptorSetup(const std::uint8_t* in, std::uint32_t inLength,
                                                  std::uint32_t replyRoom);

// 0x22206D: the vendor writes that load `length` bytes at the 2-byte address
// of `in`, at most 4096 bytes each, the address advancing. Empty for a short
// request or a load that would run past 0xFFFF. No bytes: no writes.
struct AnchorChunk {
    ControlSetup setup;      // its length is the chunk's byte count
    std::uint32_t offset = 0;  // into the caller's data
};
std::optional<std::vector<AnchorChunk>> SplitAnchorDownload(const std::uint8_t* in, std::uint32_t inLength,
                                                            std::uint32_t length);

// One endpoint of interface 0 as its descriptor gives it.
struct EndpointInfo {
    std::uint8_t address = 0;     // bit 7 set: device to host
    std::uint8_t attributes = 0;  // low two bits: transfer type
};

// The endpoint address of pipe `pipe` for a bulk transfer in the given
// direction; empty (with the reason) for a missing pipe, a pipe of the other
// direction, or a control or isochronous endpoint.
std::optional<std::uint8_t> EndpointForPipe(const std::vector<EndpointInfo>& endpoints, std::uint32_t pipe,
                                            bool deviceToHost, std::string* reason = nullptr);

// The standard 18-byte device descriptor, byte by byte (little-endian).
std::array<std::uint8_t, 18> EncodeDeviceDescriptor(const ::libusb_device_descriptor& descriptor);

}  // namespace spindle::usb
