#pragma once
#include <cstdint>
#include <string>

#include "device/EzusbDriver.h"
#include "platform/Platform.h"

namespace spindle {

// Handle-based device calls. None touches a CAnchor; each may run on any
// thread. The caller owns the handle and closes it with CloseDevice.

enum class DescriptorField { ProductId, VendorId, ProductStringIndex };

// Opens the path of a device name ("\\.\" + name, at most 63 characters);
// kInvalidHandle on failure.
DeviceHandle OpenDevicePath(Platform& platform, const std::string& deviceName);
// Opens "Ezusb-<index>"; handle receives kInvalidHandle on failure.
bool OpenDeviceByIndex(Platform& platform, int index, DeviceHandle& handle);
// What a job says when "Ezusb-<index>" could not be opened: "device N is
// busy" when another program holds it, else "device N could not be opened".
std::string OpenFailureText(Platform& platform, std::uint32_t index);
// Closes the handle unless it is 0 (an all-ones handle is ignored too).
void CloseDevice(Platform& platform, DeviceHandle handle);
// idProduct, idVendor or iProduct. 0 without a request for a 0 or all-ones
// handle; 0xFFFF when the request fails.
std::uint16_t ReadDeviceDescriptor(Platform& platform, DeviceHandle handle, DescriptorField field);
// The same, telling a failed request (false) from a field that reads 0xFFFF.
bool ReadDeviceDescriptor(Platform& platform, DeviceHandle handle, DescriptorField field, std::uint16_t& value);
// String descriptor `index` as 8-bit text (low byte of each character).
// On failure `text` is left unchanged and false is returned.
bool ReadStringDescriptor(Platform& platform, DeviceHandle handle, std::uint8_t index, std::string& text);
inline constexpr std::uint32_t kBulkWritePauseMs = 10;  // after every bulk write

// Bulk write / read on a pipe. Only the low 16 bits of length count. With
// `report` set a failure shows the "USB Warning!" box. Every write is
// followed by a 10 ms pause, whatever its result.
bool BulkOut(Platform& platform, DeviceHandle handle, std::uint32_t pipe, const std::uint8_t* data,
             std::uint32_t length, bool report);
bool BulkIn(Platform& platform, DeviceHandle handle, std::uint32_t pipe, std::uint8_t* buffer,
            std::uint32_t length, bool report);

// Writes the text to the debug trace only.
void TraceLine(Platform& platform, const std::string& text);
// The bulk-transfer warning box: title "USB Warning!", style 0x2010.
void ShowUsbWarning(Platform& platform, const std::string& text);

inline constexpr const char* kUsbWarningTitle = "USB Warning!";
inline constexpr const char* kAnchorErrorTitle = "Error in CAnchor";
inline constexpr unsigned kUsbWarningStyle = 0x2010;

}  // namespace spindle
