#include "support/XsvfWriter.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Format.h"

namespace spindle::test {

using sim::JtagChain;
using sim::TapState;

Bits ToBits(std::uint64_t value, std::size_t count) {
    Bits bits(count, false);
    for (std::size_t i = 0; i < count && i < 64; ++i) bits[i] = ((value >> i) & 1u) != 0;
    return bits;
}

std::uint64_t FromBits(const Bits& bits) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bits.size() && i < 64; ++i) {
        if (bits[i]) value |= std::uint64_t{1} << i;
    }
    return value;
}

std::uint32_t Crc32OfBits(const Bits& bits) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (bool bit : bits) c = (c >> 1) ^ (((c ^ (bit ? 1u : 0u)) & 1u) ? 0xEDB88320u : 0u);
    return c ^ 0xFFFFFFFFu;
}

void XsvfWriter::U16(std::uint32_t value) {
    U8(value >> 8);
    U8(value);
}

void XsvfWriter::U32(std::uint32_t value) {
    U16(value >> 16);
    U16(value);
}

void XsvfWriter::Vector(const Bits& bits) {
    const std::size_t count = (bits.size() + 7) / 8;
    const std::size_t start = bytes_.size();
    bytes_.resize(start + count, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i]) bytes_[start + count - 1 - i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    }
}

void XsvfWriter::SdrVector(const Bits& bits, const char* what) {
    if (bits.size() != sdrSize_) {
        throw std::logic_error(StrPrintf("XSVF %s of %zu bits after XSDRSIZE %zu", what, bits.size(), sdrSize_));
    }
    Vector(bits);
}

XsvfWriter& XsvfWriter::Complete() {
    U8(xsvf::kComplete);
    return *this;
}

XsvfWriter& XsvfWriter::TdoMask(const Bits& mask) {
    U8(xsvf::kTdoMask);
    SdrVector(mask, "XTDOMASK");
    return *this;
}

XsvfWriter& XsvfWriter::Sir(const Bits& tdi) {
    if (tdi.size() > 255) throw std::logic_error("XSIR holds at most 255 bits");
    U8(xsvf::kSir);
    U8(static_cast<std::uint32_t>(tdi.size()));
    Vector(tdi);
    return *this;
}

XsvfWriter& XsvfWriter::Sir2(const Bits& tdi) {
    if (tdi.size() > 0xFFFF) throw std::logic_error("XSIR2 holds at most 65535 bits");
    U8(xsvf::kSir2);
    U16(static_cast<std::uint32_t>(tdi.size()));
    Vector(tdi);
    return *this;
}

XsvfWriter& XsvfWriter::Sdr(const Bits& tdi) {
    U8(xsvf::kSdr);
    SdrVector(tdi, "XSDR");
    return *this;
}

XsvfWriter& XsvfWriter::RunTest(std::uint32_t count) {
    U8(xsvf::kRunTest);
    U32(count);
    return *this;
}

XsvfWriter& XsvfWriter::Repeat(std::uint8_t times) {
    U8(xsvf::kRepeat);
    U8(times);
    return *this;
}

XsvfWriter& XsvfWriter::SdrSize(std::uint32_t bits) {
    U8(xsvf::kSdrSize);
    U32(bits);
    sdrSize_ = bits;
    return *this;
}

XsvfWriter& XsvfWriter::SdrTdo(const Bits& tdi, const Bits& tdo) { return ShiftTdo(xsvf::kSdrTdo, tdi, tdo); }

XsvfWriter& XsvfWriter::SetSdrMasks(const Bits& addressMask, const Bits& dataMask) {
    U8(xsvf::kSetSdrMasks);
    SdrVector(addressMask, "address mask");
    SdrVector(dataMask, "data mask");
    dataMask_ = dataMask;
    return *this;
}

XsvfWriter& XsvfWriter::SdrInc(const Bits& startAddress, const std::vector<Bits>& data) {
    if (data.size() > 255) throw std::logic_error("XSDRINC repeats at most 255 times");
    const auto dataBits = static_cast<std::size_t>(std::count(dataMask_.begin(), dataMask_.end(), true));
    U8(xsvf::kSdrInc);
    SdrVector(startAddress, "XSDRINC start address");
    U8(static_cast<std::uint32_t>(data.size()));
    for (const Bits& d : data) {
        if (d.size() != dataBits) throw std::logic_error("XSDRINC data does not fit the data mask");
        Vector(d);
    }
    return *this;
}

XsvfWriter& XsvfWriter::Shift(std::uint8_t command, const Bits& tdi) {
    U8(command);
    SdrVector(tdi, "TDI vector");
    return *this;
}

XsvfWriter& XsvfWriter::ShiftTdo(std::uint8_t command, const Bits& tdi, const Bits& tdo) {
    U8(command);
    SdrVector(tdi, "TDI vector");
    SdrVector(tdo, "TDO vector");
    return *this;
}

XsvfWriter& XsvfWriter::State(TapState state) {
    U8(xsvf::kState);
    U8(static_cast<std::uint32_t>(state));
    return *this;
}

XsvfWriter& XsvfWriter::EndIr(bool pause) {
    U8(xsvf::kEndIr);
    U8(pause ? 1 : 0);
    return *this;
}

XsvfWriter& XsvfWriter::EndDr(bool pause) {
    U8(xsvf::kEndDr);
    U8(pause ? 1 : 0);
    return *this;
}

XsvfWriter& XsvfWriter::Comment(const std::string& text) {
    U8(xsvf::kComment);
    for (char c : text) {
        if (c == '\0') throw std::logic_error("an XSVF comment ends at its first zero byte");
        U8(static_cast<unsigned char>(c));
    }
    U8(0);
    return *this;
}

XsvfWriter& XsvfWriter::Wait(TapState waitIn, TapState endIn, std::uint32_t count) {
    U8(xsvf::kWait);
    U8(static_cast<std::uint32_t>(waitIn));
    U8(static_cast<std::uint32_t>(endIn));
    U32(count);
    return *this;
}

XsvfWriter& XsvfWriter::CheckIdcode(int irLength, std::uint32_t idcode) {
    State(TapState::TestLogicReset);
    State(TapState::RunTestIdle);
    Sir(irLength, JtagChain::kIdcode);
    SdrSize(32);
    TdoMask(0xFFFFFFFFu);
    return SdrTdo(0, idcode);
}

XsvfWriter& XsvfWriter::ConfigureDevice(const sim::JtagDeviceConfig& config, const Bits& bits,
                                        std::uint32_t chunkBits) {
    if (chunkBits == 0) throw std::logic_error("configuration pieces of zero bits");
    const int ir = config.irLength;
    Sir(ir, JtagChain::kCfgIn);
    for (std::size_t at = 0; at < bits.size(); at += chunkBits) {
        const std::size_t count = std::min<std::size_t>(chunkBits, bits.size() - at);
        if (count != sdrSize_) SdrSize(static_cast<std::uint32_t>(count));
        const Bits piece(bits.begin() + static_cast<std::ptrdiff_t>(at),
                         bits.begin() + static_cast<std::ptrdiff_t>(at + count));
        // One piece alone is an XSDRE: it enters Shift-DR and leaves it.
        if (at + count == bits.size()) {
            SdrE(piece);
        } else if (at == 0) {
            SdrB(piece);
        } else {
            SdrC(piece);
        }
    }
    Sir(ir, JtagChain::kJstart);
    RunTest(kStartupClocks);
    Sir(ir, JtagChain::kStatus);
    SdrSize(32);
    TdoMask(JtagChain::kStatusConfigured);
    SdrTdo(0, JtagChain::kStatusConfigured);
    TdoMask(0xFFFFFFFFu);
    Sir(ir, JtagChain::kCrc);
    return SdrTdo(0, Crc32OfBits(bits));
}

std::vector<std::uint8_t> XsvfWriter::Design(const sim::JtagDeviceConfig& config, const Bits& bits,
                                             std::uint32_t chunkBits) {
    XsvfWriter writer;
    writer.CheckIdcode(config.irLength, config.idcode).ConfigureDevice(config, bits, chunkBits).Complete();
    return writer.bytes_;
}

}  // namespace spindle::test
