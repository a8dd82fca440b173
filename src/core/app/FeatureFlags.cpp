#include "app/FeatureFlags.h"

#include "platform/INIFileSupport.h"

namespace spindle {

namespace {
constexpr const char* kSection = "Settings";
}

FeatureFlags ReadFeatureFlags(CINIFileSupport& store) {
    FeatureFlags flags;
    flags.manufacturingMode = store.ReadInt(kSection, "Manufacturing", 0);
    flags.fpgaRegistersUnlocked = store.ReadInt(kSection, "FPGARegisters", 0);
    flags.extraKestrelUnlocked = store.ReadInt(kSection, "ExtraKestrelSettings", 0);
    flags.extraFalconUnlocked = store.ReadInt(kSection, "ExtraFalconSettings", 0);
    flags.extraIbisUnlocked = store.ReadInt(kSection, "ExtraIbisSettings", 0);
    return flags;
}

bool WriteFeatureFlags(CINIFileSupport& store, const FeatureFlags& flags) {
    bool ok = true;
    store.WriteInt(kSection, "Manufacturing", flags.manufacturingMode);
    ok = store.LastWriteSucceeded() && ok;
    store.WriteInt(kSection, "FPGARegisters", flags.fpgaRegistersUnlocked);
    ok = store.LastWriteSucceeded() && ok;
    store.WriteInt(kSection, "ExtraKestrelSettings", flags.extraKestrelUnlocked);
    ok = store.LastWriteSucceeded() && ok;
    store.WriteInt(kSection, "ExtraFalconSettings", flags.extraFalconUnlocked);
    ok = store.LastWriteSucceeded() && ok;
    store.WriteInt(kSection, "ExtraIbisSettings", flags.extraIbisUnlocked);
    ok = store.LastWriteSucceeded() && ok;
    return ok;
}

}  // namespace spindle
