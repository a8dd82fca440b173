#include "tools/ExtraKestrelDlg.h"

#include <cerrno>
#include <cstdlib>

#include "platform/Format.h"
#include "platform/INIFileSupport.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/RowRule.h"

namespace spindle {

const char* const kZephyrCoefficientKeys[16] = {
    "Io Const", "Io Intercept", "Io First", "Io Second", "K Const",  "K Intercept",  "K First",  "K Second",
    "K1 Const", "K1 Intercept", "K1 First", "K1 Second", "K2 Const", "K2 Intercept", "K2 First", "K2 Second",
};

namespace {

constexpr const char* kSetup = "Setup";
// What a key that is not in the file reads as.
constexpr const char* kAbsent = "\x01(absent)";

unsigned Word(const CExtraKestrelDlg::Slot& slot, int at) { return static_cast<unsigned>(slot[at] << 8 | slot[at + 1]); }

void PutWord(CExtraKestrelDlg::Slot& slot, int at, long value) {
    slot[at] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    slot[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::string Decimal(unsigned value) { return StrPrintf("%d", static_cast<int>(value)); }

// A field's number, which must fit the bytes it is packed into: a value
// cut to its low bits would be stored as another number without a word.
bool ParseDecimal(const std::string& text, const char* field, long& value, std::string& why, long minimum = 0,
                  long maximum = 0xFFFF) {
    long long parsed = 0;
    if (!ParseWholeInteger(text, parsed)) {
        why = StrPrintf("\"%s\" must be a whole number.", field);
        return false;
    }
    if (parsed < minimum || parsed > maximum) {
        why = StrPrintf("\"%s\" must be a whole number from %ld to %ld (%lld does not fit).", field, minimum, maximum,
                        parsed);
        return false;
    }
    value = static_cast<long>(parsed);
    return true;
}

}  // namespace

void CExtraKestrelDlg::Decode(const Slot& a, const Slot& p, const Slot& x) {
    readingPeriod = Decimal(Word(a, 0));
    integrationTime = Decimal(Word(a, 2));
    scansToAverage = Decimal(Word(a, 4));
    pixelBoxcar = Decimal(a[6]);
    lampOnBetween = a[7] != 0;
    warmupPeriod = Decimal(a[8]);
    measurementType = a[9] < 5 ? a[9] : 0;
    // The full scale is kept as 65535 / value; a stored 0 means it was never set.
    const unsigned stored = Word(a, 10);
    analogFullScale = stored == 0 ? std::string() : Decimal(65535u / stored);
    printOutHeader = a[14] < 4 ? a[14] : 0;
    electricalDark = Decimal(Word(p, 0));
    fluorescencePeak = Decimal(Word(p, 2));
    referencePeak = Decimal(Word(p, 4));
    pixel3 = Decimal(Word(p, 6));
    oxygenScansToAdd = Decimal(x[0]);
    flags = x[1];
    darkEveryNScans = Decimal(Word(x, 2));
}

bool CExtraKestrelDlg::Encode(Slot& a, Slot& p, Slot& x, std::string& why) const {
    a.fill(0);
    p.fill(0);
    x.fill(0);
    long v = 0;
    const auto word = [&](Slot& slot, int at, const std::string& text, const char* field) {
        if (!ParseDecimal(text, field, v, why)) return false;
        PutWord(slot, at, v);
        return true;
    };
    const auto byte = [&](Slot& slot, int at, const std::string& text, const char* field) {
        if (!ParseDecimal(text, field, v, why, 0, 0xFF)) return false;
        slot[at] = static_cast<std::uint8_t>(v & 0xFF);
        return true;
    };
    if (!word(a, 0, readingPeriod, "Reading Period (sec)") || !word(a, 2, integrationTime, "Integration Time") ||
        !word(a, 4, scansToAverage, "Scans to Average") || !byte(a, 6, pixelBoxcar, "Pixel Boxcar") ||
        !byte(a, 8, warmupPeriod, "Warmup Period (sec)")) {
        return false;
    }
    a[7] = lampOnBetween ? 1 : 0;
    a[9] = static_cast<std::uint8_t>(measurementType);
    if (!ParseDecimal(analogFullScale, "Analog Out Full Scale Value", v, why)) return false;
    if (v == 0) {
        why = "\"Analog Out Full Scale Value\" must not be 0.";
        return false;
    }
    PutWord(a, 10, 65535 / v);
    a[14] = static_cast<std::uint8_t>(printOutHeader);
    if (!word(p, 0, electricalDark, "0-Electrical Dark") || !word(p, 2, fluorescencePeak, "1-Fluorescence Peak") ||
        !word(p, 4, referencePeak, "2-Reference Peak") || !word(p, 6, pixel3, "3") ||
        !byte(x, 0, oxygenScansToAdd, "Oxygen Scans to Add") || !word(x, 2, darkEveryNScans, "Dark Every N Scans")) {
        return false;
    }
    x[1] = static_cast<std::uint8_t>(flags & kAllFlags);
    return true;
}

void CExtraKestrelDlg::OnInitDialog() {
    CSpecProtocol protocol(platform_);
    Slot records[3]{};
    unreadSlot_ = 0;
    for (int i = 0; i < 3; ++i) {
        SlotReadValue value{};
        if (!protocol.QueryInfoSlot(handle_, static_cast<std::uint8_t>(17 + i), value) && unreadSlot_ == 0) {
            unreadSlot_ = 17 + i;
        }
        for (std::size_t k = 0; k < records[i].size(); ++k) records[i][k] = static_cast<std::uint8_t>(value[k]);
    }
    Decode(records[0], records[1], records[2]);
}

std::string CExtraKestrelDlg::OnOK() {
    // Each slot packs many fields: writing fields that were never read
    // would overwrite the device's settings with the dialog's blanks.
    if (unreadSlot_ != 0) {
        return StrPrintf("Slot %d could not be read from the Kestrel, so its settings are not the ones shown; "
                         "nothing was written.",
                         unreadSlot_);
    }
    Slot records[3]{};
    std::string why;
    if (!Encode(records[0], records[1], records[2], why)) return why + " Nothing was written.";
    platform_.ui.SetWaitCursor(true);
    CSpecProtocol protocol(platform_);
    int unwritten = 0;
    for (int i = 0; i < 3; ++i) {
        SlotWriteValue value{};
        for (std::size_t k = 0; k < records[i].size(); ++k) value[k] = static_cast<char>(records[i][k]);
        if (!protocol.WriteInfoSlot(handle_, static_cast<std::uint8_t>(17 + i), value) && unwritten == 0) {
            unwritten = 17 + i;
        }
    }
    platform_.ui.SetWaitCursor(false);
    if (unwritten != 0) return StrPrintf("The Kestrel did not take slot %d; its settings may be incomplete.", unwritten);
    return {};
}

bool CExtraKestrelDlg::LoadCalFile(const std::string& path, std::string& why) {
    CINIFileSupport file(platform_.ui, path.c_str(), 0, nullptr);
    std::string junk;  // the first key whose value is not a whole number
    const auto number = [&](const char* key, long& value) {
        const std::string text = file.ReadText(kSetup, key, kAbsent);
        if (text == kAbsent) return false;
        long long parsed = 0;
        if (!ParseWholeInteger(text, parsed) || parsed < -2147483647LL || parsed > 2147483647LL) {
            if (junk.empty()) junk = StrPrintf("\"%s\"=%s", key, text.c_str());
            return true;
        }
        value = static_cast<long>(parsed);
        return true;
    };
    long period = 0, average = 0, boxcar = 0, analysis = 0, reference = 0, second = 0, compensation = 0, ratio = 0;
    bool any = false;
    for (auto [key, value] : {std::pair<const char*, long*>{"Int Period ms", &period}, {"Average", &average},
                              {"Boxcar", &boxcar}, {"Analysis [pixel]", &analysis}, {"Reference [pixel]", &reference},
                              {"Second Order", &second}, {"T Compensation", &compensation}, {"Ratio", &ratio}}) {
        any = number(key, *value) || any;
    }
    if (!any) {
        why = "The file has no \"Setup\" section with any of the values it should hold; nothing was changed.";
        return false;
    }
    if (!junk.empty()) {
        why = "The file's " + junk + " is not a whole number; nothing was changed.";
        return false;
    }
    scansToAverage = "1";
    electricalDark = "0";
    flags |= kPulseLed;
    integrationTime = StrPrintf("%d", static_cast<int>(period));
    oxygenScansToAdd = StrPrintf("%d", static_cast<int>(average));
    pixelBoxcar = StrPrintf("%d", static_cast<int>(boxcar));
    fluorescencePeak = StrPrintf("%d", static_cast<int>(analysis));
    referencePeak = StrPrintf("%d", static_cast<int>(reference));
    const auto set = [this](std::uint8_t bit, long on) {
        flags = static_cast<std::uint8_t>(on == 1 ? flags | bit : on == 0 ? flags & ~bit : flags);
    };
    set(kSecondOrder, second);
    set(kTemperatureCompensate, compensation);
    set(kRatio, ratio);
    return true;
}

std::string CExtraKestrelDlg::OnLoadCalFile() {
    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select Quillby Zephyr Calibration File";
    choice.filter = "Quillby Calibration File|*.cal|";
    choice.defaultExtension = "cal";
    if (!platform_.ui.ChooseFile(choice) || choice.chosenPath.empty()) return {};
    platform_.ui.SetWaitCursor(true);
    std::string why;
    LoadCalFile(choice.chosenPath, why);
    platform_.ui.SetWaitCursor(false);
    return why;
}

ZephyrImport ImportZephyrCalibration(Platform& platform, DeviceHandle handle, const std::string& calPath) {
    ZephyrImport result;
    CINIFileSupport file(platform.ui, calPath.c_str(), 0, nullptr);
    double coefficients[16]{};
    std::string missing;
    int found = 0;
    for (int i = 0; i < 16; ++i) {
        const std::string text = file.ReadText(kSetup, kZephyrCoefficientKeys[i], kAbsent);
        if (text == kAbsent) {
            missing += std::string(missing.empty() ? "" : ", ") + "\"" + kZephyrCoefficientKeys[i] + "\"";
            continue;
        }
        ++found;
        coefficients[i] = std::strtod(text.c_str(), nullptr);
        // The same rule as a linearity file's: nan, inf and values beyond a
        // float would be stored as texts the instrument cannot use.
        if (!IsStorableCoefficientText(text, coefficients[i])) {
            result.problem = StrPrintf("%s: \"%s\"=%s is not a coefficient the instrument can keep; nothing was written.",
                                       calPath.c_str(), kZephyrCoefficientKeys[i], text.c_str());
            return result;
        }
    }
    if (found == 0) {
        result.problem = calPath + " has no \"Setup\" section with the Lantern's coefficients; nothing was written.";
        return result;
    }
    if (!missing.empty() &&
        platform.ui.MessageBox(calPath + " lacks " + missing + ".\n\nWrite 0.000000e+00 into their slots?", kAppTitle,
                               mb::kYesNo | mb::kIconWarning) != mb::kIdYes) {
        result.problem = "the file lacks " + missing + "; nothing was written";
        return result;
    }
    CSpecProtocol protocol(platform);
    std::string serial;
    double values[19]{};
    for (int slot = 0; slot <= 18; ++slot) {
        SlotReadValue value{};
        // Every slot is written back: one that could not be read would be
        // written back empty (the serial) or as 0 (the calibration).
        if (!protocol.QueryAccessorySlot(handle, static_cast<std::uint8_t>(slot), value)) {
            result.problem = StrPrintf("reading the Lantern's slot %d failed; nothing was written", slot);
            return result;
        }
        if (slot == 0) {
            serial = SlotText(value);
        } else {
            values[slot] = std::strtod(SlotText(value).c_str(), nullptr);
        }
    }
    for (int i = 0; i < 16; ++i) values[3 + i] = coefficients[i];
    bool ok = protocol.WriteAccessorySlot(handle, 0, MakeSlotWriteValue(serial));
    for (int slot = 1; slot <= 18; ++slot) {
        ok = protocol.WriteAccessorySlot(handle, static_cast<std::uint8_t>(slot),
                                         MakeSlotWriteValue(StrPrintf("%0.6e", values[slot]))) &&
             ok;
    }
    ok = protocol.CommitAccessorySlots(handle) && ok;
    result.written = ok;
    if (!ok) result.problem = "writing the Lantern's slots failed";
    return result;
}

}  // namespace spindle
