#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace spindle {

// What a row of the stored-value list accepts, set by the code that fills
// the row from the slot it shows. Save All Values parses rows with atoi and
// strtod, which read a typo as 0 and cut texts and numbers to the slot, so
// the editors check every value against its row's rule before taking it.
enum class RowInput {
    Text,       // any text of at most maxLength bytes
    Real,       // a number in full; as written with writeFormat it must fit the slot
    Integer,    // a whole number from minimum to maximum
    ShownOnly,  // shown, never written: the editor opens read-only
};

// Where a row's value is read from, so that a read that failed can be shown
// on its own row. Slot rows name their slot in RowRule::slot.
enum class RowSource { Slot, FirmwareVersion, FpgaRegister, PsocVersion };

struct RowRule {
    RowInput input = RowInput::Text;
    std::size_t maxLength = 15;          // Text: bytes a slot holds
    const char* writeFormat = nullptr;   // Real: the printf format the slot is written with
    long long minimum = 0;               // Integer
    long long maximum = 0;               // Integer
    int slot = -1;                       // the slot the row shows; -1: none (firmware text, registers)
    RowSource source = RowSource::Slot;
    int registerIndex = -1;              // FpgaRegister: the register table index

    // A row read from somewhere other than a slot (shown only, unless told).
    static RowRule ReadFrom(RowSource source, int registerIndex = -1, RowInput input = RowInput::ShownOnly) {
        RowRule rule;
        rule.input = input;
        rule.source = source;
        rule.registerIndex = registerIndex;
        return rule;
    }

    static RowRule TextOf(int slot, std::size_t maxLength = 15) {
        RowRule rule;
        rule.input = RowInput::Text;
        rule.slot = slot;
        rule.maxLength = maxLength;
        return rule;
    }
    static RowRule RealOf(int slot, const char* writeFormat) {
        RowRule rule;
        rule.input = RowInput::Real;
        rule.slot = slot;
        rule.writeFormat = writeFormat;
        return rule;
    }
    static RowRule IntegerOf(int slot, long long minimum, long long maximum) {
        RowRule rule;
        rule.input = RowInput::Integer;
        rule.slot = slot;
        rule.minimum = minimum;
        rule.maximum = maximum;
        return rule;
    }
    static RowRule ShownOnly(int slot = -1) {
        RowRule rule;
        rule.input = RowInput::ShownOnly;
        rule.slot = slot;
        return rule;
    }
};

// Parses a whole number: optional blanks, an optional sign, decimal digits,
// optional blanks, nothing else. False for anything else or out of range of
// long long.
bool ParseWholeInteger(const std::string& text, long long& value);
// Parses a number as strtod reads it, but only when the whole text (blanks
// around it allowed) is the number and it is finite.
bool ParseWholeReal(const std::string& text, double& value);
// Whether an instrument can keep `value` as a coefficient: its firmware holds
// them as single-precision numbers, so a value must be finite and within a
// float's range. Typed values, linearity files and calibration files all
// take this one rule.
bool IsStorableCoefficient(double value);
// The same for a value read from a file by the leading-number rule: a text
// spelling "inf" or "nan" anywhere is not one either.
bool IsStorableCoefficientText(const std::string& text, double value);

// Why `text` may not go into a row with `rule`; empty when it may. The
// reason names the limit ("at most 15 characters", "from 0 to 255").
std::string RowInputProblem(const RowRule& rule, const std::string& text);

// The text a row shows when its slot could not be read.
inline constexpr const char* kNotReadText = "(not read)";

}  // namespace spindle
