#include "device/EzusbDevice.h"

#include "device/WarningScope.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/EzusbRequests.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {

constexpr std::size_t kPathBufferSize = 64;  // a path holds at most 63 characters
constexpr std::uint32_t kDeviceDescriptorSize = 18;
constexpr std::uint32_t kStringReplySize = 400;
constexpr int kMaxStringCharacters = 128;

bool IsNoDevice(DeviceHandle handle) { return handle == kNullHandle || handle == kInvalidHandle; }

bool BulkTransfer(Platform& platform, std::uint32_t code, DeviceHandle handle, std::uint32_t pipe,
                  std::uint8_t* data, std::uint32_t length, bool report, const char* failureText) {
    if (handle == kNullHandle) return false;
    if (handle == kInvalidHandle) {
        if (report) ShowUsbWarning(platform, failureText);
        return false;
    }
    const auto pipeBytes = EncodePipeNumber(pipe);
    const std::uint32_t low16 = length & 0xFFFF;
    std::uint32_t returned = 0;
    const bool ok = platform.driver.IoControl(handle, code, pipeBytes.data(), pipeBytes.size(), data, low16, &returned);
    if (code == ioctl::kBulkWrite) platform.clock.Sleep(kBulkWritePauseMs);
    if (!ok && report) ShowUsbWarning(platform, failureText);
    return ok;
}

}  // namespace

DeviceHandle OpenDevicePath(Platform& platform, const std::string& deviceName) {
    // The path is kept to the 63 characters its buffer holds.
    std::string path = DevicePath(deviceName);
    if (path.size() >= kPathBufferSize) path.resize(kPathBufferSize - 1);
    return platform.driver.Open(path);
}

bool OpenDeviceByIndex(Platform& platform, int index, DeviceHandle& handle) {
    handle = OpenDevicePath(platform, DeviceName(index));
    return handle != kInvalidHandle;
}

std::string OpenFailureText(Platform& platform, std::uint32_t index) {
    const bool busy = platform.driver.DeviceBusy(DevicePath(DeviceName(static_cast<int>(index))));
    return StrPrintf(busy ? "device %u is busy" : "device %u could not be opened", index);
}

void CloseDevice(Platform& platform, DeviceHandle handle) {
    // The all-ones value is what a failed open leaves; closing it is harmless.
    if (IsNoDevice(handle)) return;
    platform.driver.Close(handle);
}

std::uint16_t ReadDeviceDescriptor(Platform& platform, DeviceHandle handle, DescriptorField field) {
    if (IsNoDevice(handle)) return 0;
    std::uint16_t value = 0xFFFF;
    ReadDeviceDescriptor(platform, handle, field, value);
    return value;
}

bool ReadDeviceDescriptor(Platform& platform, DeviceHandle handle, DescriptorField field, std::uint16_t& value) {
    value = 0xFFFF;
    if (IsNoDevice(handle)) {
        value = 0;
        return false;
    }
    std::array<std::uint8_t, kDeviceDescriptorSize> descriptor{};
    std::uint32_t returned = 0;
    if (!platform.driver.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor.data(),
                                   kDeviceDescriptorSize, &returned)) {
        return false;
    }
    switch (field) {
        case DescriptorField::ProductId: value = DecodeLe16(&descriptor[10]); break;
        case DescriptorField::VendorId: value = DecodeLe16(&descriptor[8]); break;
        case DescriptorField::ProductStringIndex: value = descriptor[15]; break;
    }
    return true;
}

bool ReadStringDescriptor(Platform& platform, DeviceHandle handle, std::uint8_t index, std::string& text) {
    if (IsNoDevice(handle)) return false;
    std::array<std::uint8_t, kStringReplySize> reply{};
    const auto request = EncodeStringDescriptorRequest(index);
    std::uint32_t returned = 0;
    if (!platform.driver.IoControl(handle, ioctl::kGetStringDescriptor, request.data(), request.size(), reply.data(),
                                   kStringReplySize, &returned)) {
        return false;
    }
    int count = reply[0] / 2 - 1;
    count = std::min(count, kMaxStringCharacters);
    // Never read past what the driver delivered, whatever bLength claims.
    const int available = static_cast<int>(std::min<std::uint32_t>(returned, kStringReplySize));
    count = std::min(count, available / 2 - 1);
    std::string result;
    for (int i = 0; i < count; ++i) result.push_back(static_cast<char>(reply[2 + 2 * i]));
    text = result;
    return true;
}

bool BulkOut(Platform& platform, DeviceHandle handle, std::uint32_t pipe, const std::uint8_t* data,
             std::uint32_t length, bool report) {
    // The driver takes the data as its output buffer without writing to it.
    return BulkTransfer(platform, ioctl::kBulkWrite, handle, pipe, const_cast<std::uint8_t*>(data), length, report,
                        "BULK_OUT failed.");
}

bool BulkIn(Platform& platform, DeviceHandle handle, std::uint32_t pipe, std::uint8_t* buffer, std::uint32_t length,
            bool report) {
    return BulkTransfer(platform, ioctl::kBulkRead, handle, pipe, buffer, length, report, "BULK_IN failed.");
}

void TraceLine(Platform& platform, const std::string& text) { platform.trace.Write(text); }

void ShowUsbWarning(Platform& platform, const std::string& text) {
    if (!CWarningScope::ShouldShow(text)) return;
    platform.ui.MessageBox(text, kUsbWarningTitle, kUsbWarningStyle);
}

}  // namespace spindle
