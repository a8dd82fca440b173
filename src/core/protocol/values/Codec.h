#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/AutoNullingInfo.h"
#include "protocol/RawSlots.h"

namespace spindle {

// What a row of the stored-value list accepts. Save All Values parses rows
// with atoi and strtod, which read a typo as 0 and cut texts and numbers to
// the slot, so the editors check every value against its row's rule before
// taking it.
enum class RowInput {
    Text,       // any text of at most maxLength bytes
    Real,       // a number in full; as written with writeFormat it must fit the slot
    Integer,    // a whole number from minimum to maximum
    ShownOnly,  // shown, never written: the editor opens read-only
};

// Where a row's value is read from, so that a read that failed can be shown
// on its own row. Slot rows name their slot in RowRule::slot.
enum class RowSource { Slot, FirmwareVersion, FpgaRegister, PsocVersion };

// How a slot's 15 bytes become the row's text and a text becomes bytes.
enum class SlotCodec {
    None,         // not a slot (firmware text, registers)
    Text,         // the bytes up to the first zero
    Real,         // atof of the text, shown with showFormat, written with writeFormat
    Integer,      // atoi of the text ("%d"); an 8-bit value when maximum is 255
    AutoNulling,  // bytes 0-5, CAutoNullingInfo; the other bytes kept
    Baud,         // bytes 0-1, a 16-bit value low first, shown signed; the other bytes kept
};

// A row's rule: what its editor accepts and, for a slot row, the codec of
// its slot.
struct RowRule {
    RowInput input = RowInput::Text;
    std::size_t maxLength = 15;          // Text: bytes a slot holds
    const char* writeFormat = nullptr;   // Real: the printf format the slot is written with
    long long minimum = 0;               // Integer
    long long maximum = 0;               // Integer
    int slot = -1;                       // the slot the row shows; -1: none (firmware text, registers)
    RowSource source = RowSource::Slot;
    int registerIndex = -1;              // FpgaRegister: the register table index
    SlotCodec codec = SlotCodec::None;
    const char* showFormat = nullptr;    // Real: the printf format the row shows

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
        rule.slot = slot;
        rule.maxLength = maxLength;
        rule.codec = SlotCodec::Text;
        return rule;
    }
    static RowRule RealOf(int slot, const char* writeFormat, const char* showFormat = "%0.7e") {
        RowRule rule;
        rule.input = RowInput::Real;
        rule.slot = slot;
        rule.writeFormat = writeFormat;
        rule.showFormat = showFormat;
        rule.codec = SlotCodec::Real;
        return rule;
    }
    static RowRule IntegerOf(int slot, long long minimum, long long maximum, SlotCodec codec = SlotCodec::Integer) {
        RowRule rule;
        rule.input = RowInput::Integer;
        rule.slot = slot;
        rule.minimum = minimum;
        rule.maximum = maximum;
        rule.codec = codec;
        return rule;
    }
    static RowRule ShownOnly(int slot = -1, SlotCodec codec = SlotCodec::None) {
        RowRule rule;
        rule.input = RowInput::ShownOnly;
        rule.slot = slot;
        rule.codec = codec;
        return rule;
    }
};

// The row text of a slot's bytes. `autoNulling` receives the decoded
// settings of an auto-nulling slot.
std::string ShowSlot(const RowRule& rule, const RawSlot& bytes, CAutoNullingInfo* autoNulling = nullptr);
// The bytes a row's text is written as, the way Save All Values has always
// taken rows back (atof, atoi, texts cut to the slot); `asRead` gives the
// bytes the text does not carry. An auto-nulling slot takes `autoNulling`
// instead of its text.
RawSlot EncodeSlot(const RowRule& rule, const std::string& text, const RawSlot& asRead,
                   const CAutoNullingInfo& autoNulling);
// What writing the value read from `asRead` would send: a write that sends
// exactly this sends the bytes as read instead.
RawSlot EncodeAsRead(const RowRule& rule, const RawSlot& asRead);

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
// The auto-nulling row's text ("Enabled,Disabled,1200,60000") as settings;
// the reason it is refused otherwise.
std::string ParseAutoNullingText(const std::string& text, CAutoNullingInfo& info);

// The text a row shows when its slot could not be read.
inline constexpr const char* kNotReadText = "(not read)";

}  // namespace spindle
