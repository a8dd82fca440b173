#pragma once
#include <cstdint>

#include "device/Families.h"
#include "device/LoaderRecord.h"

namespace spindle {

// The two EEPROM loader programs built into Spindle (firmware/loader/,
// compiled with sdcc at build time). Once released each serves vendor
// requests 0xA2 (boot EEPROM) and 0xA3 (8051 memory) in both directions.
extern const LoaderRecord FxEepromLoader[];   // EZ-USB; ends below 0x1B40
extern const LoaderRecord Fx2EepromLoader[];  // EZ-USB FX2; ends below 0x2000
// The first address past each program's bytes.
extern const std::uint32_t FxEepromLoaderEnd;
extern const std::uint32_t Fx2EepromLoaderEnd;

// The loader that runs on a chip of `chip`'s generation.
inline const LoaderRecord* EepromLoaderFor(ChipGeneration chip) {
    return chip == ChipGeneration::Fx2 ? Fx2EepromLoader : FxEepromLoader;
}

}  // namespace spindle
