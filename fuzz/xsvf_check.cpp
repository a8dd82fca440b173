// The XSVF check: any bytes are accepted or refused with a reason and an
// offset inside the file; an accepted file ends with its only XCOMPLETE, so
// every cut-off copy of it is refused.
#include <cstdint>

#include "FuzzSupport.h"
#include "programming/XsvfFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const spindle::XsvfCheck check = spindle::CheckXsvf(data, size);
    SPINDLE_FUZZ_CHECK(check.size == size);
    if (!check.ok) {
        SPINDLE_FUZZ_CHECK(!check.problem.empty());
        SPINDLE_FUZZ_CHECK(check.offset <= size);
        return 0;
    }
    SPINDLE_FUZZ_CHECK(size > 0 && data[size - 1] == 0x00 && check.commands > 0);
    SPINDLE_FUZZ_CHECK(!spindle::CheckXsvf(data, size - 1).ok);
    const std::size_t cut = (static_cast<std::size_t>(data[0]) * 2654435761u) % size;
    SPINDLE_FUZZ_CHECK(!spindle::CheckXsvf(data, cut).ok);
    return 0;
}
