#pragma once
#include "device/EzusbDevice.h"

namespace spindle {

// An open device handle that is closed however the scope ends. Opening
// "Ezusb-<index>" may fail: the handle is then the invalid value, which
// every handle-based call treats as no device, and nothing is closed.
class ScopedDevice {
public:
    ScopedDevice(Platform& platform, int index) : platform_(platform) {
        opened_ = OpenDeviceByIndex(platform_, index, handle_);
    }
    // Takes over a handle opened elsewhere (by CAnchor::OpenByName, say).
    struct Adopt {};
    ScopedDevice(Platform& platform, Adopt, DeviceHandle handle)
        : platform_(platform), handle_(handle), opened_(handle != kInvalidHandle && handle != kNullHandle) {}
    ~ScopedDevice() { CloseDevice(platform_, handle_); }
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;

    bool Opened() const { return opened_; }
    DeviceHandle Handle() const { return handle_; }

private:
    Platform& platform_;
    DeviceHandle handle_ = kNullHandle;
    bool opened_ = false;
};

}  // namespace spindle
