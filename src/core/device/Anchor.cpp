#include "device/Anchor.h"

#include "device/EzusbDevice.h"
#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {

// A failed step: its text goes to the debug trace, and into the outcome as
// the failure and as the box ("Error in CAnchor") the caller shows.
void Report(Platform& platform, Outcome& outcome, const std::string& text) {
    TraceLine(platform, text);
    outcome.Fail(text);
    outcome.Show({text, kAnchorErrorTitle, mb::kOk});
}

}  // namespace

CAnchor::CAnchor(Platform& platform) : platform_(platform) {}

CAnchor::~CAnchor() = default;

bool CAnchor::OpenByName(DeviceHandle& handle, const std::string& name) {
    handle = OpenDevicePath(platform_, name);
    if (handle == kInvalidHandle) {
        lastOpenFailed_ = true;
        return false;
    }
    deviceName = name;
    lastOpenFailed_ = false;
    return true;
}

Outcome CAnchor::RunOperation(int code) {
    Outcome outcome;
    AnchorOperation op;
    op.code = code;
    op.deviceName = deviceName;
    op.cpucsAddress = CpucsAddressFor(chipMode);
    switch (code) {
        case anchorop::kVendorRequest:
            op.data = requestBuffer.data();
            op.dataLength = requestLength;
            op.direction = static_cast<std::uint8_t>(requestDirection);
            op.requestNumber = static_cast<std::uint8_t>(requestNumber & 0xFF);
            op.value = static_cast<std::uint16_t>(requestValue & 0xFFFF);
            op.index = static_cast<std::uint16_t>(requestIndex & 0xFFFF);
            ExecuteVendorRequest(op, outcome);
            break;
        case anchorop::kAnchorDownload:
            op.data = downloadBuffer.data();
            op.dataLength = downloadLength;
            op.downloadAddress = downloadAddress;
            ExecuteAnchorDownload(op, outcome);
            break;
        case anchorop::kResetHold:
            ExecuteReset(op, 1, outcome);
            break;
        case anchorop::kResetRelease:
            ExecuteReset(op, 0, outcome);
            break;
        default:
            break;
    }
    return outcome;
}

std::vector<std::uint8_t> CAnchor::UploadRam(std::uint16_t address, std::uint32_t length) {
    requestNumber = 0xA0;
    requestDirection = 1;
    requestValue = address;
    requestIndex = 0;
    requestLength = length;
    if (!RunOperation(anchorop::kVendorRequest).Ok() || lastReturned != length) return {};
    return {requestBuffer.begin(), requestBuffer.begin() + length};
}

void CAnchor::ExecuteVendorRequest(const AnchorOperation& op, Outcome& outcome) {
    // After a failed OpenByName the stored name still names another device:
    // refuse as if this device could not be opened, without reaching it.
    lastReturned = 0;
    DeviceHandle handle = lastOpenFailed_ ? kInvalidHandle : OpenDevicePath(platform_, op.deviceName);
    if (handle == kInvalidHandle) {
        Report(platform_, outcome, "Unable to open Device.");
        return;
    }
    // The data stage never reaches past the request buffer.
    if (op.dataLength > requestBuffer.size()) {
        TraceLine(platform_, StrPrintf("Vendor request length %u exceeds the request buffer", op.dataLength));
        Report(platform_, outcome, "Error in Vendor request.");
        platform_.driver.Close(handle);
        return;
    }
    VendorRequestControl control;
    control.direction = op.direction;
    control.requestType = 2;
    control.recipient = 0;
    control.requestTypeReservedBits = 0;
    control.request = op.requestNumber;
    control.value = op.value;
    control.index = op.index;
    const auto block = control.Encode();
    std::uint32_t returned = 0;
    if (!platform_.driver.IoControl(handle, ioctl::kVendorOrClassRequest, block.data(), block.size(), op.data,
                                    op.dataLength, &returned)) {
        returned = 0;
        Report(platform_, outcome, "Error in Vendor request.");
    }
    lastReturned = returned;
    platform_.driver.Close(handle);
}

void CAnchor::ExecuteAnchorDownload(const AnchorOperation& op, Outcome& outcome) {
    TraceLine(platform_, StrPrintf("Anchor Download %d bytes: addr=%x", static_cast<int>(op.dataLength),
                                   static_cast<unsigned>(op.downloadAddress & 0xFFFF)));
    DeviceHandle handle = lastOpenFailed_ ? kInvalidHandle : OpenDevicePath(platform_, op.deviceName);
    bool failed = false;
    if (handle == kInvalidHandle) {
        Report(platform_, outcome, "Failed to Open Driver");
        failed = true;
    } else if (op.dataLength > downloadBuffer.size()) {
        // Never send bytes from beyond the download buffer.
        TraceLine(platform_, StrPrintf("Anchor Download length %u exceeds the download buffer", op.dataLength));
        Report(platform_, outcome,
               op.downloadAddress < 0x2000 ? "Error in Anchor Download" : "Vendor Request failed");
        failed = true;
    } else if (op.downloadAddress < 0x2000) {
        std::uint8_t address[2] = {static_cast<std::uint8_t>(op.downloadAddress & 0xFF),
                                   static_cast<std::uint8_t>((op.downloadAddress >> 8) & 0xFF)};
        std::uint32_t returned = 0;
        if (!platform_.driver.IoControl(handle, ioctl::kAnchorDownload, address, 2, op.data, op.dataLength,
                                        &returned)) {
            Report(platform_, outcome, "Error in Anchor Download");
            failed = true;
        }
    } else {
        VendorRequestControl control;
        control.direction = 0;
        control.request = 0xA3;
        control.value = static_cast<std::uint16_t>(op.downloadAddress & 0xFFFF);
        control.index = 0;
        const auto block = control.Encode();
        std::uint32_t returned = 0;
        if (!platform_.driver.IoControl(handle, ioctl::kVendorOrClassRequest, block.data(), block.size(), op.data,
                                        op.dataLength, &returned)) {
            Report(platform_, outcome, "Vendor Request failed");
            failed = true;
        }
    }
    if (failed) Report(platform_, outcome, "Anchor Download failed");
    if (handle != kInvalidHandle) platform_.driver.Close(handle);
}

void CAnchor::ExecuteReset(const AnchorOperation& op, std::uint8_t data, Outcome& outcome) {
    TraceLine(platform_, "Toggle 8051 Reset");
    DeviceHandle handle = lastOpenFailed_ ? kInvalidHandle : OpenDevicePath(platform_, op.deviceName);
    bool failed = false;
    if (handle == kInvalidHandle) {
        Report(platform_, outcome, "Failed to Open Driver");
        failed = true;
    } else {
        ResetRequestBlock block;
        block.request = 0xA0;
        block.value = op.cpucsAddress;
        block.index = 0;
        block.length = 1;
        block.direction = 0;
        block.data = data;
        const auto bytes = block.Encode();
        std::uint32_t returned = 0;
        if (!platform_.driver.IoControl(handle, ioctl::kVendorRequest, bytes.data(), bytes.size(), nullptr, 0,
                                        &returned)) {
            failed = true;
        }
    }
    if (failed) Report(platform_, outcome, "Reset Failed");
    if (handle != kInvalidHandle) platform_.driver.Close(handle);
}

}  // namespace spindle
