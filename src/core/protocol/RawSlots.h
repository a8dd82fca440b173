#pragma once
#include <array>
#include <cstdint>
#include <map>

namespace spindle {

// The 15 value bytes of one stored-value slot, exactly as the device gave
// them (a reply's bytes 2 to 16).
using RawSlot = std::array<std::uint8_t, 15>;

// The exact bytes of slots as a device gave them (or as a backup holds
// them), by slot number. Which slots, information or accessory, follows
// from the family the bytes came from.
using RawSlots = std::map<int, RawSlot>;

}  // namespace spindle
