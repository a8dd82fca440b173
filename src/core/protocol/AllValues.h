#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"

namespace spindle {

// Whether the list shows stored values of this family at all.
bool HasStoredValues(int familyCode);

// Get All Values on one device: reads the firmware text, every slot (and the
// FPGA registers and the PSOC version, as the family has them) and appends
// the rows to `list`. A Kestrel+ or Harrier also fills `autoNulling` from
// slot 17. `failedSlots` receives the slots whose reads failed: a list read
// with failures must not be saved, since it would store zeros over the
// device's values. The outcome fails exactly then. `slotsAsRead`, when
// given, receives the exact bytes of every slot read.
//
// A non-empty `activity` ("Reading [3] Osprey - OSP05521") makes every slot
// request show how far the command is in the message pane
// ("Reading [3] Osprey - OSP05521: slot 7 of 17"); the same for the
// activity of a save or a restore.
struct ReadAllOptions {
    bool fpgaRegistersUnlocked = false;
    std::string activity;
};
Outcome ReadAllValues(Platform& platform, std::uint32_t index, int familyCode, const ReadAllOptions& options,
                      CValueList& list, CAutoNullingInfo& autoNulling, std::vector<int>& failedSlots,
                      RawSlots* slotsAsRead = nullptr);

// Save All Values on one device: reads every slot first (what the list does
// not hold, and the exact bytes), parses the rows and writes every slot
// back; a value the list still shows as read goes back byte for byte. The
// outcome names each failure and carries, pending, the warning to show.
Outcome SaveAllValues(Platform& platform, std::uint32_t index, int familyCode, const CValueList& list,
                      const CAutoNullingInfo& autoNulling, const std::string& activity = {});

// Restores the exact bytes of `slots` (a backup of a device of the same
// family) into the device: every slot of the family's layout is written,
// those the backup holds with its bytes, the others as the device holds
// them now. Nothing is written when the device's slots cannot all be read.
Outcome RestoreSlots(Platform& platform, std::uint32_t index, int familyCode, const RawSlots& slots,
                     const std::string& activity = {});

// "3, 14, 15"
std::string SlotListText(const std::vector<int>& slots);

}  // namespace spindle
