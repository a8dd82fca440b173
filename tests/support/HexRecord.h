#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Format.h"

namespace spindle::test {

// One Intel HEX record in the standard layout with a correct checksum.
inline std::string HexRecord(std::uint32_t address, const std::vector<std::uint8_t>& bytes, int type = 0,
                             const char* lineEnd = "\r\n") {
    unsigned sum = static_cast<unsigned>(bytes.size() + (address >> 8) + (address & 0xFF) + type);
    std::string line = StrPrintf(":%02X%04X%02X", static_cast<unsigned>(bytes.size()), address, type);
    for (std::uint8_t b : bytes) {
        line += StrPrintf("%02X", b);
        sum += b;
    }
    return line + StrPrintf("%02X", (0x100 - (sum & 0xFF)) & 0xFF) + lineEnd;
}

}  // namespace spindle::test
