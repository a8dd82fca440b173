#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace spindle {

// The FPGA registers a spectrometer exposes through command 0x6B, by table
// index: index -> register address.
inline constexpr std::size_t kFpgaRegisterCount = 30;
inline constexpr std::array<std::uint8_t, kFpgaRegisterCount> kFpgaRegisterAddresses = {
    0x00, 0x04, 0x08, 0x0C, 0x10, 0x14, 0x18, 0x20, 0x28, 0x2C,  // 0..9
    0x30, 0x38, 0x3C, 0x40, 0x48, 0x50, 0x54, 0x58, 0x5C, 0x60,  // 10..19
    0x64, 0x68, 0x74, 0x78, 0x7C, 0x80, 0x84, 0x88, 0x8C, 0x90,  // 20..29
};

// Room for a version text ("15.1515.15" at most) and its terminator, as the
// stored-value records keep it.
inline constexpr std::size_t kVersionTextSize = 20;

// The FPGA register values read from one device. Index 0 lands in
// `register0`, index 1 (the FPGA firmware version) as text in `versionText`,
// index k >= 2 in `values[k - 2]`.
struct FpgaRegisters {
    std::uint32_t register0 = 0;
    std::array<char, kVersionTextSize> versionText{};
    std::array<std::uint32_t, kFpgaRegisterCount - 2> values{};
};

}  // namespace spindle
