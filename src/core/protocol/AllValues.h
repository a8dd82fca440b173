#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/RawSlots.h"
#include "protocol/ValueList.h"

namespace spindle {

// Whether the list shows stored values of this family at all.
bool HasStoredValues(int familyCode);

// The steps of a command's slot loop: the reads of Get All Values, the
// reads before the writes of a save or a restore, the writes, and the end.
enum class SlotStep : int { Reading = 0, ReadingFirst, Writing, Done };

// Where a command's slot loop reports how far it is: `progress` (when given)
// follows every slot request, and a non-empty `label` ("Reading [3] Osprey -
// OSP05521") shows it in the message pane as well
// ("Reading [3] Osprey - OSP05521: slot 7 of 17").
struct SlotActivity {
    std::string label;
    CProgress* progress = nullptr;
};

// What the message pane and the command line's progress line add to the
// activity: "slot 7 of 17", "reading slot 3 of 17" (a save's reads before
// its writes); empty once the loop ended.
std::string SlotProgressText(const CProgress& progress);

// Get All Values on one device: reads the firmware text, every slot (and the
// FPGA registers and the PSOC version, as the family has them) and appends
// the rows to `list`. A Kestrel+ or Harrier also fills `autoNulling` from
// slot 17. `failedSlots` receives the slots whose reads failed: a list read
// with failures must not be saved, since it would store zeros over the
// device's values. The outcome fails exactly then. `slotsAsRead`, when
// given, receives the exact bytes of every slot read.
struct ReadAllOptions {
    bool fpgaRegistersUnlocked = false;
    SlotActivity activity;
};
Outcome ReadAllValues(Platform& platform, std::uint32_t index, int familyCode, const ReadAllOptions& options,
                      CValueList& list, CAutoNullingInfo& autoNulling, std::vector<int>& failedSlots,
                      RawSlots* slotsAsRead = nullptr);

// Save All Values on one device: reads every slot first (what the list does
// not hold, and the exact bytes), parses the rows and writes every slot
// back; a value the list still shows as read goes back byte for byte. The
// outcome names each failure and carries, pending, the warning to show.
Outcome SaveAllValues(Platform& platform, std::uint32_t index, int familyCode, const CValueList& list,
                      const CAutoNullingInfo& autoNulling, const SlotActivity& activity = {});

// Restores the exact bytes of `slots` (a backup of a device of the same
// family) into the device: every slot of the family's layout is written,
// those the backup holds with its bytes, the others as the device holds
// them now. Nothing is written when the device's slots cannot all be read.
Outcome RestoreSlots(Platform& platform, std::uint32_t index, int familyCode, const RawSlots& slots,
                     const SlotActivity& activity = {});

// "3, 14, 15"
std::string SlotListText(const std::vector<int>& slots);

}  // namespace spindle
