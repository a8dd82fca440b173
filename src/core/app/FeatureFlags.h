#pragma once
#include <cstdint>

namespace spindle {

class CINIFileSupport;

// The switches that unlock commands, kept by the main frame, changed by
// access codes and saved in the settings (section "Settings") when the main
// window closes. Each is 0 or 1.
struct FeatureFlags {
    std::int32_t manufacturingMode = 0;      // "Manufacturing"
    std::int32_t fpgaRegistersUnlocked = 0;  // "FPGARegisters"
    std::int32_t extraKestrelUnlocked = 0;   // "ExtraKestrelSettings"
    std::int32_t extraFalconUnlocked = 0;    // "ExtraFalconSettings"
    std::int32_t extraIbisUnlocked = 0;      // "ExtraIbisSettings"

    friend bool operator==(const FeatureFlags&, const FeatureFlags&) = default;
};

// Reads the five flags from section "Settings" (each defaults to 0) and
// writes them back as decimal text, in the order above. WriteFeatureFlags
// returns true when every write succeeded.
FeatureFlags ReadFeatureFlags(CINIFileSupport& store);
bool WriteFeatureFlags(CINIFileSupport& store, const FeatureFlags& flags);

}  // namespace spindle
