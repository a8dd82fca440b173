#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "programming/JobTable.h"

namespace spindle {

// After a job that worked, a device runs its new firmware only once it has
// left the bus and come back: replugged by the operator, or renumerated by
// itself. The confirmation waits for that, on the clock, at most this long.
inline constexpr std::uint32_t kReconnectWaitMs = 60000;
inline constexpr std::uint32_t kReconnectPollMs = 250;

// What a device says it is: its family, serial and firmware version.
struct DeviceIdentity {
    int family = 0;
    std::string model;     // "Kestrel"
    std::string serial;    // "None" for a chip without instrument firmware
    std::string firmware;  // the version from string descriptor 1 ("3.20.1"); empty without one
};
// "Kestrel KES10234, firmware 3.20.1".
std::string IdentityText(const DeviceIdentity& identity);

// Reads the identity of device `index`: its descriptor's family and, for an
// instrument, its serial (slot 0) and firmware version. Empty when the
// device cannot be opened, belongs to no family, or does not answer.
std::optional<DeviceIdentity> ReadDeviceIdentity(Platform& platform, int index);

// Waits for the device the job had at `place` (PlaceOf before the job) to
// leave and come back (bounded by kReconnectWaitMs on the platform's clock,
// the seconds left in `entry.secondsLeft`), reads what it came back as and
// adds it to `result`: "came back as ..." when it is of `expectedFamily`; a
// failure when it came back as another family or did not come back (the
// write itself stays as it was: bytes, verified).
//
// The device is found again by its place, not its index: on the bench that
// is the index, but on USB it is the bus and port path, since a device that
// renumerates or is replugged into the same port may come back under
// another index. It counts as gone once a look finds nothing answering
// there; a departure and return between two looks (250 ms apart, far
// quicker than a replug) would go unseen, and a rise of the bus generation
// cannot stand in for it: other devices come and go meanwhile.
void ConfirmReconnect(Platform& platform, const std::string& place, int expectedFamily, JobEntry& entry,
                      JobResult& result);

}  // namespace spindle
