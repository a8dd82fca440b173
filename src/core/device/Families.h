#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "ezusb_regs.h"

namespace spindle {

// Family codes: the classification of a found device.
namespace family {
inline constexpr int kKestrel = 2;
inline constexpr int kHeron = 3;
inline constexpr int kOsprey = 4;
inline constexpr int kLantern = 5;  // light source behind a Kestrel, same index
inline constexpr int kUnprogrammedEzusb = 7;
inline constexpr int kMerlin = 8;
inline constexpr int kIbis = 9;     // Gannet and Skua
inline constexpr int kFalcon = 10;  // Falcon and Osprey+
inline constexpr int kCondor = 11;
inline constexpr int kUnprogrammedFx2 = 12;
inline constexpr int kWren = 13;
inline constexpr int kKestrelPlus = 14;
inline constexpr int kHarrier = 15;
inline constexpr int kFinch = 16;
}  // namespace family

// The maker's USB vendor identifier, which every programmed instrument reports.
inline constexpr std::uint16_t kMakerVendorId = 0xFA57;

// The chip a family is built on.
enum class ChipGeneration { Ezusb, Fx2 };

// CPUCS, the register whose bit 0 holds the 8051 in reset, per generation.
inline constexpr std::uint16_t kCpucsFx2 = FX2_CPUCS_ADDR;
inline constexpr std::uint16_t kCpucsEzusb = EZUSB_CPUCS_ADDR;

// Which stored values a family keeps and how the list shows them.
enum class ValueLayout {
    None,     // nothing the list shows (unprogrammed chips)
    Common,   // firmware text and slots 0-16
    Heron,    // firmware text, slots 0-33 and 44
    Lantern,  // accessory slots 0-18
    Merlin,   // firmware text and slots 0-14
};

// Which rows Reset Coefs. resets.
enum class ResetLayout { None, Common, Heron, Lantern };

// A feature switch that must be on before a button is offered.
enum class Feature { None, ExtraIbis, ExtraKestrel, ExtraFalcon, ExtraIbisOrManufacturing };

// The PSOC diagnostics page a family's sheet shows.
enum class PsocPage { None, Ibis, Falcon, Condor };

// How the PSOC version row is read.
enum class PsocVersionRead { None, Falcon, Condor };

// How a family's FPGA rows differ from the catalogue: when the walk meets a
// label it stops, shows the row under another label (naming another
// register), or leaves the row out and goes on.
enum class FpgaRowAction { Stop, Rename, Skip };
struct FpgaRowRule {
    const char* label;  // the catalogue label met
    FpgaRowAction action;
    const char* shownLabel;
    std::uint8_t shownAddress;
};

// A button Get All Values shows for the family, and the switch it needs.
struct FamilyButton {
    int commandId = 0;  // 0: no button
    Feature feature = Feature::None;
};

// Everything that differs between families, one row per family code. New
// per-family behaviour is a new column here, never a switch elsewhere. The
// vendor/product pairs stay in the classification table.
struct FamilyTraits {
    int code = 0;
    ChipGeneration chip = ChipGeneration::Ezusb;
    ValueLayout layout = ValueLayout::None;
    bool extraRows = false;  // slots 17 (auto-nulling) and 18 (baud rate)
    bool fpgaRows = false;   // FPGA registers read and shown
    int lastFpgaIndex = 28;  // highest FPGA table index read
    std::span<const FpgaRowRule> fpgaRowRules{};
    PsocVersionRead psocVersion = PsocVersionRead::None;
    std::array<FamilyButton, 3> buttons{};  // shown by Get All Values
    bool programsFpga = false;              // Get All Values enables Program FPGA
    ResetLayout reset = ResetLayout::None;
    // The EEPROM file pattern; the second one for a hardware revision other
    // than 1 (null: the same pattern for every revision).
    const char* eepromPattern = "*.iic";
    const char* eepromPatternOtherRevision = nullptr;
    PsocPage psocPage = PsocPage::None;
    bool extraKestrel = false;  // the Extra Kestrel Settings command applies
    bool hostsLantern = false;  // a Lantern light source may sit behind it
};

// The row of a family code; codes without a row of their own get a row
// with nothing but the EZ-USB chip and the plain "*.iic" pattern.
const FamilyTraits& FamilyOf(int familyCode);
// Every row, in code order.
std::span<const FamilyTraits> FamilyTable();

inline bool IsFx2Family(int familyCode) { return FamilyOf(familyCode).chip == ChipGeneration::Fx2; }
inline std::uint16_t CpucsAddressFor(int familyCode) {
    return IsFx2Family(familyCode) ? kCpucsFx2 : kCpucsEzusb;
}
// The EEPROM file pattern of a family for a hardware revision byte.
const char* EepromFilePattern(int familyCode, std::uint8_t hardwareRevision);

}  // namespace spindle
