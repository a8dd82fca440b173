#pragma once
#include <string>

#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "protocol/ValueList.h"

namespace spindle {

// Verify: the device's vendor and product identifiers against the maker's
// instruments. The outcome holds, pending, the product box (when known) and
// the PASS or FAILURE box; it is Ok exactly when the device verified.
Outcome VerifyDevice(Platform& platform, int index);

// Reset Coefs.: sets the family's coefficient rows of the list to "0" and
// the version rows around them to "N/A". Nothing reaches the device.
void ResetCoefficientRows(CValueList& list, int familyCode);

// Linearity Coefs: the intercept and NL0-NL6 of a linearity file into list
// rows 7 to 14 as "%0.7e", the order row 15 set to 7. Missing keys read as
// 0. Nothing reaches the device; the outcome holds, pending, the reminder to
// save.
Outcome ImportLinearityFile(IUserInterface& ui, const std::string& path, CValueList& list);

// Where the linearity file dialog opens, and remembering the folder chosen.
inline constexpr const char* kLinearityFolderKey = "LinearityFolder";

}  // namespace spindle
