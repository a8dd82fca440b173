#pragma once
#include <cstdint>

namespace spindle {

// Sees every stored-value slot exchange the instrument command layer makes,
// so that a command's writes can be kept in the production record with the
// bytes each slot held before. `accessory` is true for the Lantern's slots.
// `bytes` are the slot's 15 value bytes. Called on the thread that makes the
// exchange; an implementation ignores the threads it does not watch.
class ISlotJournal {
public:
    virtual ~ISlotJournal() = default;
    // A read that worked, with the bytes the slot held.
    virtual void SlotRead(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) = 0;
    // Just before a write is sent, with the bytes it sends.
    virtual void SlotWriting(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) = 0;
    // Once the write is done (its pause included), or failed.
    virtual void SlotWritten(bool accessory, std::uint8_t slot, bool ok) = 0;
};

}  // namespace spindle
