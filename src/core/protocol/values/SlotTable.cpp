// The stored values of every layout as data: the label catalogue and, per
// layout, each slot with its row and its codec.
#include "protocol/values/SlotTable.h"

#include "platform/Format.h"

namespace spindle {

namespace {

// Small images of the list rows.
enum Image { kVersion, kSerial, kWavelength, kStrayLight, kNonlinearity, kText, kLantern, kLanternFirst,
             kChannelMask, kReserved };

struct Catalogue {
    std::vector<std::string> labels;
    CatalogueMarkers markers;
};

const Catalogue& TheCatalogue() {
    static const Catalogue catalogue = [] {
        Catalogue c;
        auto& labels = c.labels;
        auto& m = c.markers;
        auto last = [&] { return static_cast<int>(labels.size()) - 1; };
        auto next = [&] { return static_cast<int>(labels.size()); };
        m.commonFirst = 0;
        for (const char* label :
             {"  Firmware Version", "  Serial Number", "  Wavelength Calibration Intercept",
              "  Wavelength Calibration First Coefficient", "  Wavelength Calibration Second Coefficient",
              "  Wavelength Calibration Third Coefficient", "  Stray Light Correction Coefficient"}) {
            labels.emplace_back(label);
        }
        for (const char* order : {"0th", "1st", "2nd", "3rd", "4th", "5th", "6th", "7th"}) {
            labels.push_back(StrPrintf("  Nonlinearity Correction %s-order Coefficient", order));
        }
        for (const char* label : {"  Nonlinearity Correction Order", "  Configuration String 1",
                                  "  Configuration String 2"}) {
            labels.emplace_back(label);
        }
        m.commonLast = last();
        m.extraFirst = next();
        labels.emplace_back("  AutoNulling Info");
        labels.emplace_back("  Startup Baud Rate");
        m.extraLast = last();
        m.fpgaFirst = next();
        for (const char* label :
             {" 0x00 - Master Clock", " 0x04 - FPGA Firmware Version", " 0x08 - Continuous Strobe",
              " 0x0c - CS Base Clock", " 0x10 - Integration B Clock", " 0x14 - 24/48 MHz Clock",
              " 0x18 - Integration Clock", " 0x20 - Readout Mode", " 0x28 - Hardware Trigger",
              " 0x2c - External Sync Trig", " 0x30 - Read FIFO", " 0x38 - Single Strobe High",
              " 0x3c - Single Strobe Low", " 0x40 - Lamp Enable", " 0x48 - GPIO Mux", " 0x50 - GPIO Output Enable",
              " 0x54 - GPIO Data", " 0x58 - ADC Trigger Delay", " 0x5c - Shutter Toggle Enable",
              " 0x60 - Status Register", " 0x74 - Read Default Offset Value", " 0x78 - Read Default Offset Control",
              " 0x7c - Read FPGA Programmed Data", " 0x80 - Read Max Saturation Value",
              " 0x84 - Write Default Offset 1", " 0x88 - Write Default Offset 2", " 0x8c - Write Default Offset 3",
              " 0x90 - Write Default Offset 4"}) {
            labels.emplace_back(label);
        }
        m.fpgaLast = last();
        m.psoc = next();
        labels.emplace_back("  PSOC Firmware Version");
        m.heronFirst = next();
        labels.emplace_back("  Channels Enabled (Binary)");
        const char* names[] = {"Intercept", "First Coefficient", "Second Coefficient", "Third Coefficient"};
        for (const char* name : names) labels.push_back(StrPrintf("  Master Wavelength Calibration %s", name));
        for (int slave = 1; slave <= 7; ++slave) {
            for (const char* name : names) labels.push_back(StrPrintf("  Slave %d Wavelength Calibration %s", slave, name));
        }
        labels.emplace_back("  Configuration - CPLD Version");
        m.heronLast = last();
        m.lanternFirst = next();
        labels.emplace_back("  Temperature Calibration Slope");
        labels.emplace_back("  Temperature Calibration Intercept");
        for (const char* quantity : {"Io", "K", "K1", "K2"}) {
            labels.push_back(StrPrintf("  %s, No Temperature Compensation", quantity));
            for (const char* order : {"0th", "1st", "2nd"}) {
                labels.push_back(StrPrintf("  %s, %s-order Temperature Coefficient", quantity, order));
            }
        }
        m.lanternLast = last();
        m.reserved = next();
        labels.emplace_back("  Reserved");
        return c;
    }();
    return catalogue;
}

// Wavelength slots 1 and 2 are written in fixed point, the others in
// exponent form.
const char* WavelengthFormat(int slot) { return slot == 1 ? "%4.6f" : slot == 2 ? "%0.6f" : "%0.6e"; }

std::vector<SlotEntry> CommonSlots() {
    std::vector<SlotEntry> slots{{0, false, 1, kSerial, RowRule::TextOf(0)}};
    for (int slot = 1; slot <= 4; ++slot) {
        slots.push_back({slot, false, 1 + slot, kWavelength, RowRule::RealOf(slot, WavelengthFormat(slot), "%4.7e")});
    }
    slots.push_back({5, false, 6, kStrayLight, RowRule::RealOf(5, "%0.6e")});
    for (int slot = 6; slot <= 13; ++slot) {
        slots.push_back({slot, false, 1 + slot, kNonlinearity, RowRule::RealOf(slot, "%0.6e")});
    }
    // The order is written back as read, whatever the row shows.
    slots.push_back({14, false, 15, kNonlinearity, RowRule::ShownOnly(14, SlotCodec::Integer)});
    slots.push_back({15, false, 16, kText, RowRule::TextOf(15)});
    slots.push_back({16, false, 17, kText, RowRule::TextOf(16)});
    return slots;
}

std::vector<SlotEntry> HeronSlots() {
    const int first = Markers().heronFirst;
    std::vector<SlotEntry> slots{{0, false, 1, kSerial, RowRule::TextOf(0)},
                                 {1, false, first, kChannelMask, RowRule::IntegerOf(1, 0, 255)}};
    for (int slot = 2; slot <= 33; ++slot) {
        // Master coefficients are written "%.7e"; each slave's intercept and
        // first coefficient "%.7f", its second and third "%.7e".
        const char* format = slot < 6 || (slot - 6) % 4 >= 2 ? "%0.7e" : "%0.7f";
        slots.push_back({slot, false, first + slot - 1, kWavelength, RowRule::RealOf(slot, format)});
    }
    slots.push_back({44, false, Markers().heronLast, kText, RowRule::TextOf(44)});
    return slots;
}

std::vector<SlotEntry> MerlinSlots() {
    std::vector<SlotEntry> slots{{0, false, 1, kSerial, RowRule::TextOf(0)}};
    for (int slot = 1; slot <= 3; ++slot) {
        slots.push_back({slot, false, 1 + slot, kWavelength, RowRule::RealOf(slot, WavelengthFormat(slot))});
    }
    // Slots 4 to 12 show as reserved; slot 13 is kept but not shown.
    for (int slot = 4; slot <= 12; ++slot) {
        slots.push_back({slot, false, Markers().reserved, kReserved, RowRule::RealOf(slot, "%0.6e")});
    }
    slots.push_back({13, false, -1, kReserved, RowRule::RealOf(13, "%0.6e"), Markers().reserved});
    slots.push_back({14, false, 16, kText, RowRule::TextOf(14)});
    return slots;
}

std::vector<SlotEntry> LanternSlots() {
    // The slope (accessory slot 1, the section's first label) is kept but
    // not shown.
    std::vector<SlotEntry> slots{{0, true, 1, kSerial, RowRule::TextOf(0)},
                                 {1, true, -1, kLanternFirst, RowRule::RealOf(1, "%0.6e"), Markers().lanternFirst}};
    for (int slot = 2; slot <= 18; ++slot) {
        slots.push_back({slot, true, Markers().lanternFirst + slot - 1, slot <= 3 ? kLanternFirst : kLantern,
                         RowRule::RealOf(slot, "%0.6e")});
    }
    return slots;
}

}  // namespace

const std::vector<std::string>& CatalogueLabels() { return TheCatalogue().labels; }
const CatalogueMarkers& Markers() { return TheCatalogue().markers; }

const std::vector<SlotEntry>& LayoutSlots(ValueLayout layout) {
    static const std::vector<SlotEntry> none, common = CommonSlots(), heron = HeronSlots(),
                                              merlin = MerlinSlots(), lantern = LanternSlots();
    switch (layout) {
        case ValueLayout::Common: return common;
        case ValueLayout::Heron: return heron;
        case ValueLayout::Merlin: return merlin;
        case ValueLayout::Lantern: return lantern;
        case ValueLayout::None: break;
    }
    return none;
}

const std::vector<SlotEntry>& ExtraSlots() {
    // The auto-nulling row is edited through its own dialog only.
    static const std::vector<SlotEntry> extra{
        {17, false, 18, kText, RowRule::ShownOnly(17, SlotCodec::AutoNulling)},
        // Shown as a signed 16-bit number, stored as 16 bits: both readings fit.
        {18, false, 19, kText, RowRule::IntegerOf(18, -32768, 65535, SlotCodec::Baud)}};
    return extra;
}

std::vector<SlotEntry> FamilySlots(int familyCode) {
    const FamilyTraits& traits = FamilyOf(familyCode);
    std::vector<SlotEntry> slots = LayoutSlots(traits.layout);
    if (traits.extraRows) slots.insert(slots.end(), ExtraSlots().begin(), ExtraSlots().end());
    return slots;
}

}  // namespace spindle
