#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace spindle {

// The largest XSVF file an FPGA job takes (a whole-device bitstream of the
// largest parts is a few tens of megabytes).
inline constexpr std::size_t kMaxXsvfFileBytes = 256u << 20;

// "XSDR" for 0x03; empty for a number that names no command.
const char* XsvfCommandName(std::uint8_t command);

// What the structural check of an XSVF program found. The host streams the
// file unchanged, so this is the only look it takes at the contents: a file
// that is not XSVF (a bitstream, a text file, a cut-off download) is refused
// before anything reaches the device, instead of being fed to the player
// until it stops with an error somewhere in the middle.
struct XsvfCheck {
    bool ok = false;
    std::string problem;      // why the file is refused, as the operator reads it
    std::uint64_t offset = 0; // the byte where the problem was found
    std::uint64_t size = 0;   // the file's length
    std::uint32_t commands = 0;
};

// Walks the commands of an XSVF program: each one known, each one's
// arguments inside the file with the lengths its vectors take from the last
// XSDRSIZE (XSDRINC's data from the ones of the data mask), states in range,
// and XCOMPLETE as the last byte.
XsvfCheck CheckXsvf(const std::uint8_t* data, std::size_t size);
// The same for a file, read whole into `bytes` (the job streams these); a
// file that cannot be read is refused with the reason.
XsvfCheck CheckXsvfFile(const std::string& path, std::string& bytes);

}  // namespace spindle
