#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "device/EzusbDriver.h"
#include "inventory/DeviceTree.h"

namespace spindle::cli {

// How the operator names a device on the command line:
//   "3"            the instrument at device index 3
//   "3/lantern"    the Lantern light source behind the Kestrel at index 3
//   "serial:ABC1"  the device (or Lantern) whose serial number is ABC1
struct DeviceSelector {
    enum class Kind { Index, Lantern, Serial };
    Kind kind = Kind::Index;
    std::uint32_t index = 0;
    std::string serial;
    std::string text;  // as typed
};

// Nullopt, with the reason in `error`, for a text that is no selector.
std::optional<DeviceSelector> ParseDeviceSelector(const std::string& text, std::string& error);

// The tree item whose device record the selector names, or
// CDeviceTree::kNoItem (with the reason in `error`) when no record or more
// than one matches; an index `driver` finds held by another program is
// named busy.
int FindDeviceItem(const CDeviceTree& tree, const DeviceSelector& selector, IEzusbDriver& driver,
                   std::string& error);

}  // namespace spindle::cli
