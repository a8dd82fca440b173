#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/chip/JtagChain.h"

namespace spindle::test {

// XSVF command codes.
namespace xsvf {
constexpr std::uint8_t kComplete = 0x00, kTdoMask = 0x01, kSir = 0x02, kSdr = 0x03, kRunTest = 0x04,
                       kRepeat = 0x07, kSdrSize = 0x08, kSdrTdo = 0x09, kSetSdrMasks = 0x0A, kSdrInc = 0x0B,
                       kSdrB = 0x0C, kSdrC = 0x0D, kSdrE = 0x0E, kSdrTdoB = 0x0F, kSdrTdoC = 0x10,
                       kSdrTdoE = 0x11, kState = 0x12, kEndIr = 0x13, kEndDr = 0x14, kSir2 = 0x15,
                       kComment = 0x16, kWait = 0x17;
}  // namespace xsvf

// Bits in shift order: element 0 is shifted first (the value's least
// significant bit).
using Bits = std::vector<bool>;
Bits ToBits(std::uint64_t value, std::size_t count);
// The first 64 bits (at most) of a vector as an integer, element 0 as bit 0.
std::uint64_t FromBits(const Bits& bits);
// CRC-32 of bits fed in shift order, as the chain's CRC register computes it.
std::uint32_t Crc32OfBits(const Bits& bits);

// Builds an XSVF program command by command. Integers are written big-endian;
// a vector of n bits takes ceil(n/8) bytes, most significant byte first, so its
// first-shifted bit is the low bit of the last byte. The data-register vectors
// must have the length of the last XSDRSIZE (std::logic_error otherwise), so a
// program that would be misread is caught while it is written.
// The integer forms take the vector's low 64 bits; longer vectors are zero above.
class XsvfWriter {
public:
    XsvfWriter& Complete();
    XsvfWriter& TdoMask(const Bits& mask);
    XsvfWriter& TdoMask(std::uint64_t mask) { return TdoMask(ToBits(mask, sdrSize_)); }
    XsvfWriter& Sir(const Bits& tdi);  // up to 255 bits
    XsvfWriter& Sir(int length, std::uint64_t tdi) { return Sir(ToBits(tdi, static_cast<std::size_t>(length))); }
    XsvfWriter& Sir2(const Bits& tdi);  // up to 65535 bits
    XsvfWriter& Sdr(const Bits& tdi);
    XsvfWriter& Sdr(std::uint64_t tdi) { return Sdr(ToBits(tdi, sdrSize_)); }
    XsvfWriter& RunTest(std::uint32_t count);
    XsvfWriter& Repeat(std::uint8_t times);
    XsvfWriter& SdrSize(std::uint32_t bits);
    XsvfWriter& SdrTdo(const Bits& tdi, const Bits& tdo);
    XsvfWriter& SdrTdo(std::uint64_t tdi, std::uint64_t tdo) {
        return SdrTdo(ToBits(tdi, sdrSize_), ToBits(tdo, sdrSize_));
    }
    XsvfWriter& SetSdrMasks(const Bits& addressMask, const Bits& dataMask);
    // Each data vector holds as many bits as the data mask has ones.
    XsvfWriter& SdrInc(const Bits& startAddress, const std::vector<Bits>& data);
    XsvfWriter& SdrB(const Bits& tdi) { return Shift(xsvf::kSdrB, tdi); }
    XsvfWriter& SdrC(const Bits& tdi) { return Shift(xsvf::kSdrC, tdi); }
    XsvfWriter& SdrE(const Bits& tdi) { return Shift(xsvf::kSdrE, tdi); }
    XsvfWriter& SdrTdoB(const Bits& tdi, const Bits& tdo) { return ShiftTdo(xsvf::kSdrTdoB, tdi, tdo); }
    XsvfWriter& SdrTdoE(const Bits& tdi, const Bits& tdo) { return ShiftTdo(xsvf::kSdrTdoE, tdi, tdo); }
    XsvfWriter& State(sim::TapState state);
    XsvfWriter& EndIr(bool pause);  // after an IR shift: Run-Test/Idle, or Pause-IR
    XsvfWriter& EndDr(bool pause);  // after a DR shift: Run-Test/Idle, or Pause-DR
    XsvfWriter& Comment(const std::string& text);
    XsvfWriter& Wait(sim::TapState waitIn, sim::TapState endIn, std::uint32_t count);

    // Reset, then read the device's IDCODE and expect it.
    XsvfWriter& CheckIdcode(int irLength, std::uint32_t idcode);
    // Load the configuration bits through CFG_IN in pieces of chunkBits
    // (XSDRB, XSDRC..., XSDRE), start the device with JSTART and check that it
    // reports itself configured and holds the CRC of exactly these bits.
    XsvfWriter& ConfigureDevice(const sim::JtagDeviceConfig& config, const Bits& bits, std::uint32_t chunkBits);
    // CheckIdcode, ConfigureDevice and XCOMPLETE.
    static std::vector<std::uint8_t> Design(const sim::JtagDeviceConfig& config, const Bits& bits,
                                            std::uint32_t chunkBits);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // Where the next command starts.
    std::size_t Offset() const { return bytes_.size(); }
    // Clocks each configuration check waits in Run-Test/Idle after JSTART.
    static constexpr std::uint32_t kStartupClocks = 16;

private:
    XsvfWriter& Shift(std::uint8_t command, const Bits& tdi);
    XsvfWriter& ShiftTdo(std::uint8_t command, const Bits& tdi, const Bits& tdo);
    void Vector(const Bits& bits);
    void SdrVector(const Bits& bits, const char* what);
    void U8(std::uint32_t value) { bytes_.push_back(static_cast<std::uint8_t>(value)); }
    void U16(std::uint32_t value);
    void U32(std::uint32_t value);

    std::vector<std::uint8_t> bytes_;
    std::size_t sdrSize_ = 0;
    Bits dataMask_;
};

}  // namespace spindle::test
