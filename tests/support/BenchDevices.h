#pragma once
// Devices a test plugs into a bench while it runs.
#include <string>

#include "sim/SimDevice.h"

namespace spindle::test {

// An Osprey with instrument firmware at `index`, its serial in slot 0.
inline sim::DeviceConfig OspreyAt(int index, const std::string& serial) {
    sim::DeviceConfig osprey;
    osprey.index = index;
    osprey.vendorId = 0xFA57;
    osprey.productId = 0x100A;
    osprey.slots[0] = sim::SlotFromText(serial);
    return osprey;
}

}  // namespace spindle::test
