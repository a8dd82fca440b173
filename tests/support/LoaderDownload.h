#pragma once
#include <cstdint>

#include "device/EzusbDriver.h"
#include "device/LoaderImages.h"

namespace spindle::test {

// Anchor-downloads a built-in loader's records, one request each (the 8051
// must be held by the caller). False at the first failed request.
inline bool DownloadLoaderRecords(IEzusbDriver& driver, DeviceHandle handle, bool fx2) {
    for (const LoaderRecord* record = fx2 ? Fx2EepromLoader : FxEepromLoader; record->type == 0; ++record) {
        const std::uint8_t address[2] = {static_cast<std::uint8_t>(record->address),
                                         static_cast<std::uint8_t>(record->address >> 8)};
        std::uint32_t returned = 0;
        if (!driver.IoControl(handle, ioctl::kAnchorDownload, address, 2, const_cast<std::uint8_t*>(record->data),
                              record->length, &returned)) {
            return false;
        }
    }
    return true;
}

}  // namespace spindle::test
