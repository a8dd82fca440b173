#pragma once
#include <string>

namespace spindle::cli {

// A text for a JSON document: valid UTF-8 is kept as it is, and every byte
// that is not part of a valid UTF-8 sequence (a serial number or firmware
// text holding Latin-1 or garbage bytes) is written as the four characters
// "\xNN", so the document can always be written and nothing is hidden.
std::string JsonText(const std::string& bytes);

}  // namespace spindle::cli
