#include "device/Families.h"

#include <algorithm>

#include "platform/CommandIds.h"

namespace spindle {

namespace {

constexpr FpgaRowRule kFalconFpgaRows[] = {
    {" 0x60 - Status Register", FpgaRowAction::Stop, nullptr, 0},
};
constexpr FpgaRowRule kCondorFpgaRows[] = {
    {" 0x20 - Readout Mode", FpgaRowAction::Rename, " 0x20 - Condor detector/pixel mode", 0x20},
    {" 0x74 - Read Default Offset Value", FpgaRowAction::Stop, nullptr, 0},
};
constexpr FpgaRowRule kKestrelPlusFpgaRows[] = {
    {" 0x5c - Shutter Toggle Enable", FpgaRowAction::Rename, " 0x5c - Read Default Offset Value", 0x5C},
    {" 0x60 - Status Register", FpgaRowAction::Rename, " 0x60 - Read Default Offset Control", 0x60},
    {" 0x74 - Read Default Offset Value", FpgaRowAction::Rename, " 0x64 - Read FPGA Programmed Data", 0x64},
    {" 0x78 - Read Default Offset Control", FpgaRowAction::Rename, " 0x68 - Read Max Saturation Value", 0x68},
    {" 0x7c - Read FPGA Programmed Data", FpgaRowAction::Stop, nullptr, 0},
};
constexpr FpgaRowRule kHarrierFpgaRows[] = {
    {" 0x60 - Status Register", FpgaRowAction::Skip, nullptr, 0},
};

using G = ChipGeneration;
using L = ValueLayout;
using R = ResetLayout;
using F = Feature;

constexpr FamilyButton kPsocForIbis{cmd::kPsocDiags, F::ExtraIbis};
constexpr FamilyButton kExtraKestrelButton{cmd::kExtraKestrel, F::ExtraKestrel};
constexpr FamilyButton kPsocForFalcon{cmd::kPsocDiags, F::ExtraFalcon};
constexpr FamilyButton kLinearityButton{cmd::kLinearityCoefs, F::None};

FamilyTraits Row(int code, G chip) {
    FamilyTraits row;
    row.code = code;
    row.chip = chip;
    return row;
}

// The instruments of the common layout whose buttons wait for the Ibis and
// Kestrel switches.
FamilyTraits CommonInstrument(int code, G chip, const char* pattern) {
    FamilyTraits row = Row(code, chip);
    row.layout = L::Common;
    row.buttons = {kPsocForIbis, kExtraKestrelButton, FamilyButton{}};
    row.eepromPattern = pattern;
    return row;
}

// The FPGA instruments: register rows, Program FPGA and Linearity Coefs.
FamilyTraits FpgaInstrument(int code, const char* pattern, int lastFpgaIndex, std::span<const FpgaRowRule> rules) {
    FamilyTraits row = Row(code, G::Fx2);
    row.layout = L::Common;
    row.fpgaRows = true;
    row.lastFpgaIndex = lastFpgaIndex;
    row.fpgaRowRules = rules;
    row.buttons = {kLinearityButton, kPsocForFalcon, FamilyButton{}};
    row.programsFpga = true;
    row.eepromPattern = pattern;
    return row;
}

std::array<FamilyTraits, 15> BuildTable() {
    FamilyTraits kestrel = CommonInstrument(family::kKestrel, G::Ezusb, "*Kestrel*.iic");
    kestrel.reset = R::Common;
    kestrel.extraKestrel = true;
    kestrel.hostsLantern = true;

    FamilyTraits heron = Row(family::kHeron, G::Ezusb);
    heron.layout = L::Heron;
    heron.reset = R::Heron;
    heron.eepromPattern = "*Heron*.iic";

    FamilyTraits osprey = CommonInstrument(family::kOsprey, G::Ezusb, "*Raptor.iic");
    osprey.reset = R::Common;

    FamilyTraits lantern = Row(family::kLantern, G::Ezusb);
    lantern.layout = L::Lantern;
    lantern.reset = R::Lantern;
    lantern.buttons = {FamilyButton{cmd::kCalibrate, F::None}, FamilyButton{cmd::kZephyrCalFile, F::None},
                       FamilyButton{}};

    FamilyTraits merlin = Row(family::kMerlin, G::Ezusb);
    merlin.layout = L::Merlin;
    merlin.reset = R::Common;

    FamilyTraits ibis = CommonInstrument(family::kIbis, G::Ezusb, "*Ibis*.iic");
    ibis.reset = R::Common;
    ibis.psocPage = PsocPage::Ibis;
    // The Ibis dialog's own button on the manufacturing bar.
    ibis.buttons[2] = FamilyButton{cmd::kIbisExtra, F::ExtraIbisOrManufacturing};

    FamilyTraits falcon = FpgaInstrument(family::kFalcon, "Falcon_1*.iic", 23, kFalconFpgaRows);
    falcon.eepromPatternOtherRevision = "Falcon_2*.iic";
    falcon.psocVersion = PsocVersionRead::Falcon;
    falcon.psocPage = PsocPage::Falcon;

    FamilyTraits condor = FpgaInstrument(family::kCondor, "*Condor*.iic", 24, kCondorFpgaRows);
    condor.psocVersion = PsocVersionRead::Condor;
    condor.psocPage = PsocPage::Condor;

    FamilyTraits kestrelPlus = FpgaInstrument(family::kKestrelPlus, "*KestrelPlus*.iic", 26, kKestrelPlusFpgaRows);
    kestrelPlus.extraRows = true;
    FamilyTraits harrier = FpgaInstrument(family::kHarrier, "*Harrier*.iic", 28, kHarrierFpgaRows);
    harrier.extraRows = true;

    return {
        kestrel,
        heron,
        osprey,
        lantern,
        Row(family::kUnprogrammedEzusb, G::Ezusb),
        merlin,
        ibis,
        falcon,
        condor,
        Row(family::kUnprogrammedFx2, G::Fx2),
        CommonInstrument(family::kWren, G::Ezusb, "*Wren*.iic"),
        kestrelPlus,
        harrier,
        CommonInstrument(family::kFinch, G::Ezusb, "*Finch*.iic"),
        Row(0, G::Ezusb),  // every code without a row of its own
    };
}

const std::array<FamilyTraits, 15>& Table() {
    static const std::array<FamilyTraits, 15> table = BuildTable();
    return table;
}

}  // namespace

const FamilyTraits& FamilyOf(int familyCode) {
    const auto& table = Table();
    const auto end = table.end() - 1;
    const auto found = std::find_if(table.begin(), end, [&](const FamilyTraits& row) { return row.code == familyCode; });
    return found != end ? *found : table.back();
}

std::span<const FamilyTraits> FamilyTable() { return std::span<const FamilyTraits>(Table().data(), Table().size() - 1); }

const char* EepromFilePattern(int familyCode, std::uint8_t hardwareRevision) {
    const FamilyTraits& row = FamilyOf(familyCode);
    if (hardwareRevision != 1 && row.eepromPatternOtherRevision != nullptr) return row.eepromPatternOtherRevision;
    return row.eepromPattern;
}

}  // namespace spindle
