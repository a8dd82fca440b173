// Writes the example XSVF programs kept in examples/: demo-design.xsvf
// configures the demo chain's device with a fixed pseudo-random pattern, and
// wrong-idcode.xsvf is the same design built for a device the chain does not
// hold, so it stops at its IDCODE check.
//
//     make_example_xsvf FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/XsvfWriter.h"

namespace {

using spindle::sim::JtagDeviceConfig;
using spindle::test::Bits;
using spindle::test::XsvfWriter;

constexpr JtagDeviceConfig kDemoChain{0x0A001093, 6, 65536};
constexpr std::uint32_t kWrongIdcode = 0x0BAD1093;
constexpr std::uint32_t kPieceBits = 4096;

// xorshift32 bytes, each shifted least significant bit first. The generator
// is written out here so the files do not depend on a library's random numbers.
Bits DemoPattern(std::uint64_t count) {
    Bits bits;
    std::uint32_t x = 0x2545F491u;
    while (bits.size() < count) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (int i = 0; i < 8 && bits.size() < count; ++i) bits.push_back(((x >> i) & 1u) != 0);
    }
    return bits;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_example_xsvf");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const Bits pattern = DemoPattern(kDemoChain.configLength);
    JtagDeviceConfig wrong = kDemoChain;
    wrong.idcode = kWrongIdcode;
    const bool ok = WriteFile(folder / "demo-design.xsvf", XsvfWriter::Design(kDemoChain, pattern, kPieceBits)) &&
                    WriteFile(folder / "wrong-idcode.xsvf", XsvfWriter::Design(wrong, pattern, kPieceBits));
    return ok ? 0 : 1;
}
