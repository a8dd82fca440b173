#pragma once
#include <cstdint>

namespace spindle {

// One record of a built-in 8051 program image. A table of them ends at the
// first record whose type is not 0 (the images end with a type-1 record of
// length 0). The data point into the image's own constant bytes rather than
// each record carrying room for 4096 bytes.
struct LoaderRecord {
    std::uint16_t length = 0;   // data bytes
    std::uint16_t address = 0;  // 8051 address of the first byte
    std::uint8_t type = 1;      // 0 data; anything else ends the table
    const std::uint8_t* data = nullptr;
};

}  // namespace spindle
