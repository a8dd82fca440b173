#include "sim/chip/Mcs51Core.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/IntelHex.h"
#include "platform/Format.h"
#include "support/TempFolder.h"

namespace spindle::sim {
namespace {

// 64 KiB of external data, no chip registers.
class FlatBus final : public IMcs51Bus {
public:
    std::uint8_t ReadXdata(std::uint16_t address) override { return xdata[address]; }
    void WriteXdata(std::uint16_t address, std::uint8_t value) override {
        xdata[address] = value;
        written.insert(address);
    }
    std::array<std::uint8_t, 65536> xdata{};
    std::set<unsigned> written;
};

struct Machine {
    std::vector<std::uint8_t> code = std::vector<std::uint8_t>(65536, 0);
    FlatBus bus;
    Mcs51Core core{code.data(), bus};
    void Load(const std::vector<std::uint8_t>& bytes, std::uint16_t at = 0) {
        std::copy(bytes.begin(), bytes.end(), code.begin() + at);
        core.Reset();
    }
};

TEST(Mcs51Core, ArithmeticFlagsFollowTheInstructionSet) {
    struct Case {
        std::vector<std::uint8_t> program;  // ends with 0xA5
        std::uint8_t a;
        std::uint8_t psw;  // CY AC F0 RS1 RS0 OV - P
    };
    const std::vector<Case> cases = {
        {{0x74, 0x7F, 0x24, 0x01, 0xA5}, 0x80, 0x45},        // ADD: AC, OV, parity
        {{0x74, 0xFF, 0xD3, 0x34, 0x00, 0xA5}, 0x00, 0xC0},  // ADDC with carry in: CY AC
        {{0xC3, 0x74, 0x80, 0x94, 0x01, 0xA5}, 0x7F, 0x45},  // SUBB: AC OV, P
        {{0x74, 0x99, 0x24, 0x01, 0xD4, 0xA5}, 0x00, 0x80},  // DA after 99+1: 00 and CY
        {{0x74, 0xC8, 0x75, 0xF0, 0x03, 0xA4, 0xA5}, 0x58, 0x05},  // MUL: OV when over 255, P
        {{0x74, 0x12, 0x75, 0xF0, 0x00, 0x84, 0xA5}, 0x12, 0x04},  // DIV by zero: OV
        {{0x74, 0x05, 0xB4, 0x07, 0x00, 0xA5}, 0x05, 0x80},  // CJNE: CY when less
    };
    for (const Case& c : cases) {
        Machine m;
        m.Load(c.program);
        m.core.Run(1000);
        EXPECT_TRUE(m.core.Stopped());
        EXPECT_EQ(m.core.A(), c.a) << StrPrintf("program %02X %02X", c.program[0], c.program[1]);
        EXPECT_EQ(m.core.Sfr(0xD0), c.psw) << StrPrintf("program %02X %02X", c.program[0], c.program[1]);
    }
}

TEST(Mcs51Core, CallsJumpsAndCycleCounts) {
    Machine m;
    // LCALL 0x0010; A5 | at 0x10: MOV R2,#3; DJNZ R2,$; RET
    m.Load({0x12, 0x00, 0x10, 0xA5});
    const std::vector<std::uint8_t> routine = {0x7A, 0x03, 0xDA, 0xFE, 0x22};
    std::copy(routine.begin(), routine.end(), m.code.begin() + 0x10);
    m.core.Run(1000);
    EXPECT_EQ(m.core.Pc(), 3);
    EXPECT_EQ(m.core.Sfr(0x81), 7);  // the stack is back where it started
    // LCALL 2 + MOV 1 + 3 x DJNZ 2 + RET 2
    EXPECT_EQ(m.core.Cycles(), 2u + 1u + 6u + 2u);
}

// The exercise program, run here and on sdcc-ucsim's s51: the same
// internal RAM, external RAM and cycle count.
TEST(Mcs51Core, MatchesTheReferenceSimulatorOnTheExerciseProgram) {
    IntelHexImage image;
    ASSERT_TRUE(ParseIntelHex(spindle::test::ReadWholeFile(SPINDLE_CPU_EXERCISE_IHX), image, false).ok);
    Machine m;
    for (const HexSegment& segment : image.segments) {
        std::copy(image.Bytes(segment), image.Bytes(segment) + segment.length, m.code.begin() + segment.address);
    }
    m.core.Reset();
    m.core.Run(1'000'000);
    ASSERT_TRUE(m.core.Stopped());
    ASSERT_EQ(m.code[m.core.Pc()], 0xA5);

    const std::string s51 = SPINDLE_S51;
    if (s51.empty() || s51.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "s51 (sdcc-ucsim) is not installed";
    const std::string command = StrPrintf(
        "printf 'break 0x%04X\\nrun\\ndump iram 0 0x7f\\ndump xram 0 0x0f\\nquit\\n' | %s -t 8051 -b -c - %s 2>&1",
        m.core.Pc(), s51.c_str(), SPINDLE_CPU_EXERCISE_IHX);
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    ::pclose(pipe);

    // "0x20    00 2c dd ... text": iram rows have two hex digits of address,
    // xram rows four.
    std::map<unsigned, std::uint8_t> iram, xram;
    unsigned long long ticks = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (std::sscanf(line.c_str(), "Simulated %llu ticks", &ticks) == 1) continue;
        if (line.rfind("0x", 0) != 0) continue;
        std::istringstream fields(line);
        std::string address;
        fields >> address;
        if (address.size() != 4 && address.size() != 6) continue;  // the stop line's "0x024e F? a5"
        auto& memory = address.size() == 4 ? iram : xram;
        unsigned at = static_cast<unsigned>(std::stoul(address, nullptr, 16));
        for (std::string byte; fields >> byte && byte.size() == 2 && std::isxdigit(byte[0]) && std::isxdigit(byte[1]);)
            memory[at++] = static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16));
    }
    ASSERT_EQ(iram.size(), 128u) << output;
    ASSERT_GE(xram.size(), 16u) << output;
    for (const auto& [address, value] : iram) {
        EXPECT_EQ(m.core.Iram(static_cast<std::uint8_t>(address)), value) << StrPrintf("iram 0x%02X", address);
    }
    // External RAM the program wrote (s51 fills the rest with noise).
    ASSERT_GE(m.bus.written.size(), 15u);
    for (unsigned address : m.bus.written) {
        if (address < 16) {
            EXPECT_EQ(m.bus.xdata[address], xram[address]) << StrPrintf("xram 0x%04X", address);
        }
    }
    EXPECT_EQ(m.core.Cycles() * 12, ticks);
}

}  // namespace
}  // namespace spindle::sim
