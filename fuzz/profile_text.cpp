// The private-profile text (settings, .lin and .cal files): any bytes read
// back whole, and a value set reads back as set without touching another.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "platform/ProfileText.h"
#include "protocol/Manufacturing.h"
#include "protocol/RowRule.h"
#include "protocol/ValueList.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

std::string Trimmed(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && Blank(text[first])) ++first;
    while (last > first && Blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The bytes as a linearity file imported into a list: either every
// coefficient row holds a value the instrument can keep, or nothing changed.
void LinearityImport(const std::string& file) {
    static const std::string path = spindle::fuzz::ScratchPath("coefficients.lin");
    static spindle::fuzz::QuietUserInterface ui;
    spindle::fuzz::WriteScratch(path, file);
    spindle::CValueList list;
    for (int row = 0; row < 16; ++row) list.AppendRow("row", "unchanged", 0);
    const spindle::Outcome imported = spindle::ImportLinearityFile(ui, path, list);
    for (int row = 7; row <= 14; ++row) {
        const std::string value = list.GetText(row, spindle::CValueList::kDataColumn);
        if (!imported.Ok()) {
            SPINDLE_FUZZ_CHECK(value == "unchanged");
            continue;
        }
        SPINDLE_FUZZ_CHECK(spindle::IsStorableCoefficient(std::strtod(value.c_str(), nullptr)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spindle::ProfileText;
    spindle::fuzz::ByteReader input(data, size);
    const std::string section = input.Text(40), key = input.Text(40), value = input.Text(80);
    const std::string otherSection = input.Text(40), otherKey = input.Text(40);
    const std::string file = input.Rest();

    LinearityImport(file);
    ProfileText text(file);
    SPINDLE_FUZZ_CHECK(text.Text() == file);  // nothing is lost or changed by reading
    const auto otherBefore = text.Get(otherSection, otherKey);

    if (!text.Set(section, key, value)) {
        SPINDLE_FUZZ_CHECK(text.Text() == file);  // a refused value changes nothing
        return 0;
    }
    const std::string written = text.Text();
    const ProfileText reread(written);
    const auto got = reread.Get(section, key);
    SPINDLE_FUZZ_CHECK(got.has_value());
    if (Trimmed(value) == value) SPINDLE_FUZZ_CHECK(*got == value);
    SPINDLE_FUZZ_CHECK(reread.Text() == written);
    const bool samePair = Lower(Trimmed(section)) == Lower(Trimmed(otherSection)) &&
                          Lower(Trimmed(key)) == Lower(Trimmed(otherKey));
    if (!samePair) SPINDLE_FUZZ_CHECK(reread.Get(otherSection, otherKey) == otherBefore);
    return 0;
}
