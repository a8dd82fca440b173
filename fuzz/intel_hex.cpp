// Intel HEX: any text is read or refused with its line named; what is read
// stays inside the 8051's memory and its segment limits, and the segments
// written out again as standard records read back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "device/IntelHex.h"
#include "platform/Format.h"

namespace {

std::string Record(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length) {
    std::string line = spindle::StrPrintf(":%02X%04X00", length, address);
    unsigned sum = length + (address >> 8) + (address & 0xFF);
    for (std::uint32_t i = 0; i < length; ++i) {
        line += spindle::StrPrintf("%02X", bytes[i]);
        sum += bytes[i];
    }
    return line + spindle::StrPrintf("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spindle::IntelHexImage;
    if (size == 0) return 0;
    const bool spaced = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    IntelHexImage image;
    const spindle::HexParseResult result = spindle::ParseIntelHex(text, image, spaced);
    SPINDLE_FUZZ_CHECK(image.memory.size() == IntelHexImage::kMemoryBytes);
    if (!result.ok) {
        SPINDLE_FUZZ_CHECK(result.line > 0 && !result.error.empty());
        SPINDLE_FUZZ_CHECK(image.segments.empty());
        return 0;
    }
    SPINDLE_FUZZ_CHECK(image.segmentCount == image.segments.size());
    SPINDLE_FUZZ_CHECK(image.segmentCount <= IntelHexImage::kMaxSegments);
    std::string again;
    for (const spindle::HexSegment& segment : image.segments) {
        SPINDLE_FUZZ_CHECK(segment.length > 0 && segment.length <= IntelHexImage::kMaxSegmentBytes);
        SPINDLE_FUZZ_CHECK(segment.address + segment.length <= IntelHexImage::kMemoryBytes);
        SPINDLE_FUZZ_CHECK(segment.dataPosition == segment.address);
        for (std::uint32_t at = 0; at < segment.length; at += 100) {  // a record line stays within 255 characters
            const std::uint32_t length = std::min<std::uint32_t>(100, segment.length - at);
            again += Record(segment.address + at, image.Bytes(segment) + at, length);
        }
    }
    again += ":00000001FF\n";
    IntelHexImage reread;
    SPINDLE_FUZZ_CHECK(spindle::ParseIntelHex(again, reread, false).ok);
    SPINDLE_FUZZ_CHECK(reread.memory == image.memory);
    return 0;
}
