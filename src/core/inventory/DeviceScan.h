#pragma once
#include <array>
#include <atomic>

#include "inventory/DeviceRecord.h"
#include "inventory/DeviceTree.h"
#include "platform/Outcome.h"
#include "platform/Platform.h"

namespace spindle {

using JobBusyFlags = std::array<std::atomic<int>, kMaxDevices>;

// The firmware major version: the decimal number that starts at the text's
// ninth character (leading blanks skipped, optional sign); 0 without digits
// or for a text shorter than nine characters.
int FirmwareMajorVersion(const std::string& firmwareText);

// Rebuilds the device table and the tree: the skeleton, then every device
// index 0 to 127 that is not busy, classified, labelled and recorded; the
// Lantern behind a Kestrel with firmware 2 or later; then the expansions.
// Never writes past the table: once it is full, further devices are left out
// (and traced). When the back end found devices it was not allowed to open,
// its explanation is left in the outcome, to be shown once after the scan
// under kAccessProblemTitle, and the outcome counts as failed.
// A device that opened but failed a request during the scan fails the
// outcome too, with a box under kScanProblemTitle naming it.
inline constexpr const char* kAccessProblemTitle = "USB Device Access";
inline constexpr const char* kScanProblemTitle = "Refresh Tree";
Outcome ScanDevices(Platform& platform, const JobBusyFlags& jobBusy, DeviceRecordTable& records, CDeviceTree& tree);

}  // namespace spindle
