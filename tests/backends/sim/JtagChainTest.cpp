// The emulated JTAG chain, driven on its pins as a probe drives them.
#include "sim/chip/JtagChain.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "support/XsvfWriter.h"

namespace spindle::sim {
namespace {

using spindle::test::Bits;
using spindle::test::FromBits;

const JtagDeviceConfig kDevice{0x0A001093, 6, 65536};

// Drives the pins the way a probe does: TMS and TDI set with TCK low, TDO
// read, one TCK pulse.
struct Pins {
    explicit Pins(JtagChain& c) : chain(c) {}

    bool Clock(bool tms, bool tdi = false) {
        chain.SetPins(false, tms, tdi);
        const bool tdo = chain.Tdo();
        chain.SetPins(true, tms, tdi);
        chain.SetPins(false, tms, tdi);
        return tdo;
    }
    void Tms(std::initializer_list<int> levels) {
        for (int level : levels) Clock(level != 0);
    }
    // Test-Logic-Reset, then Run-Test/Idle.
    void Reset() { Tms({1, 1, 1, 1, 1, 0}); }
    // From Run-Test/Idle through Shift-IR back to Run-Test/Idle; the bits the
    // instruction register shifted out.
    std::uint32_t Instruction(std::uint32_t code) {
        const int length = chain.Config().irLength;
        Tms({1, 1, 0, 0});
        std::uint32_t out = 0;
        for (int i = 0; i < length; ++i) out |= (Clock(i + 1 == length, ((code >> i) & 1u) != 0) ? 1u : 0u) << i;
        Tms({1, 0});
        return out;
    }
    // From Run-Test/Idle through Shift-DR back to Run-Test/Idle.
    Bits Data(const Bits& tdi) {
        Tms({1, 0, 0});
        Bits out;
        for (std::size_t i = 0; i < tdi.size(); ++i) out.push_back(Clock(i + 1 == tdi.size(), tdi[i]));
        Tms({1, 0});
        return out;
    }
    std::uint32_t Read32(std::uint32_t instruction) {
        Instruction(instruction);
        return static_cast<std::uint32_t>(FromBits(Data(Bits(32, false))));
    }

    JtagChain& chain;
};

Bits Pattern(std::size_t count, std::uint32_t seed) {
    Bits bits(count);
    for (std::size_t i = 0; i < count; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        bits[i] = (seed & 1u) != 0;
    }
    return bits;
}

// --- The TAP controller -----------------------------------------------------

TEST(JtagTap, WalksEveryLoopAndCountsOnlyRisingEdges) {
    using enum TapState;
    JtagChain chain(kDevice);
    Pins pins(chain);
    // From Test-Logic-Reset: each TMS level and the state it leads to.
    const std::vector<std::pair<int, TapState>> walk = {
        {1, TestLogicReset}, {0, RunTestIdle}, {0, RunTestIdle}, {1, SelectDr}, {0, CaptureDr}, {0, ShiftDr},
        {0, ShiftDr},        {1, Exit1Dr},     {0, PauseDr},     {0, PauseDr},  {1, Exit2Dr},   {0, ShiftDr},
        {1, Exit1Dr},        {1, UpdateDr},    {1, SelectDr},    {1, SelectIr}, {0, CaptureIr}, {1, Exit1Ir},
        {0, PauseIr},        {1, Exit2Ir},     {0, ShiftIr},     {0, ShiftIr},  {1, Exit1Ir},   {0, PauseIr},
        {0, PauseIr},        {1, Exit2Ir},     {1, UpdateIr},    {1, SelectDr}, {0, CaptureDr}, {1, Exit1Dr},
        {0, PauseDr},        {1, Exit2Dr},     {1, UpdateDr},    {0, RunTestIdle}, {1, SelectDr}, {1, SelectIr},
        {0, CaptureIr},      {1, Exit1Ir},     {1, UpdateIr},    {0, RunTestIdle}, {1, SelectDr}, {1, SelectIr},
        {1, TestLogicReset}};
    for (std::size_t i = 0; i < walk.size(); ++i) {
        pins.Clock(walk[i].first != 0);
        ASSERT_EQ(chain.Tap(), walk[i].second) << "step " << i << ": " << TapStateName(chain.Tap());
    }
    EXPECT_EQ(chain.Clocks(), walk.size());
    // Levels changed without a rising TCK edge clock nothing.
    chain.SetPins(false, true, true);
    chain.SetPins(true, false, false);  // the one rising edge, TMS low
    chain.SetPins(true, true, true);
    EXPECT_EQ(chain.Tap(), RunTestIdle);
    EXPECT_EQ(chain.Clocks(), walk.size() + 1);
}

// --- The device's registers -------------------------------------------------

TEST(JtagDevice, ReadsItsIdcodeAndCapturesTheInstructionMarker) {
    JtagChain chain(kDevice);
    Pins pins(chain);
    pins.Reset();
    // IDCODE is selected from power-on without an instruction shift.
    EXPECT_EQ(FromBits(pins.Data(Bits(32, false))), kDevice.idcode);
    // Capture-IR loads ...0001 whatever was loaded before.
    EXPECT_EQ(pins.Instruction(JtagChain::kCfgIn), JtagChain::kIrCapture);
    EXPECT_EQ(pins.Instruction(chain.Bypass()), JtagChain::kIrCapture);
    EXPECT_EQ(chain.Instruction(), chain.Bypass());
    EXPECT_EQ(pins.Read32(JtagChain::kIdcode), kDevice.idcode);
}

TEST(JtagDevice, BypassJstartAndUnassignedCodesDelayByOneBit) {
    for (int irLength : {4, 6, 16}) {
        JtagChain chain(JtagDeviceConfig{kDevice.idcode, irLength, 8});
        Pins pins(chain);
        pins.Reset();
        for (std::uint32_t code : {chain.Bypass(), JtagChain::kJstart, 0x02u, 0x03u, chain.Bypass() - 1}) {
            pins.Instruction(code);
            ASSERT_EQ(chain.Instruction(), code);
            const Bits in = Pattern(40, code + 1);
            const Bits out = pins.Data(in);
            Bits delayed{false};  // the captured 0, then the input one bit late
            delayed.insert(delayed.end(), in.begin(), in.end() - 1);
            EXPECT_EQ(out, delayed) << "IR length " << irLength << ", code " << code;
        }
    }
    EXPECT_THROW(JtagChain(JtagDeviceConfig{1, 3, 0}), std::invalid_argument);
    EXPECT_THROW(JtagChain(JtagDeviceConfig{1, 17, 0}), std::invalid_argument);
}

TEST(JtagDevice, IsConfiguredOnlyWhenJstartFindsTheExpectedCount) {
    const std::uint64_t length = 16;
    for (std::size_t count : {std::size_t{0}, std::size_t{15}, std::size_t{16}, std::size_t{17}}) {
        JtagChain chain(JtagDeviceConfig{kDevice.idcode, 6, length});
        Pins pins(chain);
        pins.Reset();
        pins.Instruction(JtagChain::kCfgIn);
        if (count > 0) pins.Data(Pattern(count, 3));
        EXPECT_EQ(pins.Read32(JtagChain::kStatus), count == length ? JtagChain::kStatusCountMatches : 0u);
        pins.Instruction(JtagChain::kJstart);
        const bool expected = count == length;
        EXPECT_EQ(chain.State().configured, expected) << count << " bits";
        EXPECT_EQ(pins.Read32(JtagChain::kStatus), expected ? 3u : 0u) << count << " bits";
        // A TAP reset keeps the configuration; a new CFG_IN drops it.
        pins.Reset();
        EXPECT_EQ(chain.State().configured, expected);
        EXPECT_EQ(chain.State().bits, count);
        pins.Instruction(JtagChain::kCfgIn);
        EXPECT_FALSE(chain.State().configured);
    }
}

}  // namespace
}  // namespace spindle::sim
