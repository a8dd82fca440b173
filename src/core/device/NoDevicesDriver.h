#pragma once
#include <cstdint>
#include <string>

#include "device/EzusbDriver.h"

namespace spindle {

// The driver of a window whose USB back end could not start: it has no
// devices, so every scan finds none and the window says why instead.
class CNoDevicesDriver final : public IEzusbDriver {
public:
    DeviceHandle Open(const std::string&) override { return kInvalidHandle; }
    bool IoControl(DeviceHandle, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t,
                   std::uint32_t*) override {
        return false;
    }
    void Close(DeviceHandle) override {}
};

}  // namespace spindle
