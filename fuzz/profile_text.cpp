// The private-profile text (settings, .lin and .cal files): any bytes read
// back whole, and a value set reads back as set without touching another.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/ProfileText.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spindle::ProfileText;
    spindle::fuzz::ByteReader input(data, size);
    const std::string section = input.Text(40), key = input.Text(40), value = input.Text(80);
    const std::string otherSection = input.Text(40), otherKey = input.Text(40);
    const std::string file = input.Rest();

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
