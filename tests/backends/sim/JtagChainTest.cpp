// The emulated JTAG chain on its pins, and XSVF programs played into it.
#include "sim/chip/JtagChain.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/XsvfReferencePlayer.h"
#include "support/XsvfWriter.h"

namespace spindle::sim {
namespace {

using spindle::test::Bits;
using spindle::test::ToBits;
using spindle::test::FromBits;
using spindle::test::XsvfOutcome;
using spindle::test::XsvfReferencePlayer;
using spindle::test::XsvfWriter;

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

Bits BitsOfBytesLsbFirst(const std::string& bytes) {
    Bits bits;
    for (unsigned char byte : bytes) {
        for (int i = 0; i < 8; ++i) bits.push_back(((byte >> i) & 1u) != 0);
    }
    return bits;
}

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

std::vector<std::uint8_t> ExampleFile(const char* name) {
    std::ifstream file(std::string(SPINDLE_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
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

TEST(JtagTap, FiveClocksWithTmsHighResetFromEveryStateAndReloadIdcode) {
    // A TMS sequence from Run-Test/Idle to each state (Test-Logic-Reset first).
    const std::vector<std::vector<int>> reach = {
        {1, 1, 1},       {},                 {1},             {1, 0},          {1, 0, 0},       {1, 0, 1},
        {1, 0, 1, 0},    {1, 0, 1, 0, 1},    {1, 0, 1, 1},    {1, 1},          {1, 1, 0},       {1, 1, 0, 0},
        {1, 1, 0, 1},    {1, 1, 0, 1, 0},    {1, 1, 0, 1, 0, 1}, {1, 1, 0, 1, 1}};
    for (int s = 0; s < 16; ++s) {
        const auto state = static_cast<TapState>(s);
        JtagChain chain(kDevice);
        Pins pins(chain);
        pins.Reset();
        pins.Instruction(chain.Bypass());
        for (int level : reach[s]) pins.Clock(level != 0);
        ASSERT_EQ(chain.Tap(), state);
        // Update-IR has loaded the captured ...0001 by itself; every other
        // state still holds BYPASS.
        if (state != TapState::TestLogicReset && state != TapState::UpdateIr) {
            ASSERT_EQ(chain.Instruction(), chain.Bypass()) << TapStateName(state);
        }
        pins.Tms({1, 1, 1, 1, 1});
        EXPECT_EQ(chain.Tap(), TapState::TestLogicReset) << "from " << TapStateName(state);
        EXPECT_EQ(chain.Instruction(), JtagChain::kIdcode) << "from " << TapStateName(state);
    }
}

TEST(JtagTap, TdoChangesOnlyOnTheFallingEdge) {
    const std::uint32_t id = 0x5AC3961Eu;  // bit 0 and bit 31 low
    JtagChain chain(JtagDeviceConfig{id, 6, 0});
    Pins pins(chain);
    pins.Tms({0, 1, 0});  // Capture-DR, with IDCODE from power-on
    EXPECT_TRUE(chain.Tdo());  // not driven: the pull-up
    chain.SetPins(false, false, false);
    chain.SetPins(true, false, false);  // into Shift-DR
    EXPECT_EQ(chain.Tap(), TapState::ShiftDr);
    EXPECT_TRUE(chain.Tdo()) << "TDO moved on the rising edge";
    chain.SetPins(false, false, false);
    bool level = chain.Tdo();
    EXPECT_FALSE(level);  // bit 0 of the IDCODE
    for (int i = 1; i < 32; ++i) {
        chain.SetPins(false, false, true);
        chain.SetPins(true, false, true);
        EXPECT_EQ(chain.Tdo(), level) << "bit " << i << " appeared on the rising edge";
        chain.SetPins(false, false, true);
        level = chain.Tdo();
        EXPECT_EQ(level, ((id >> i) & 1u) != 0) << "bit " << i;
    }
    // Leaving Shift-DR releases TDO on the falling edge, not before.
    chain.SetPins(true, true, false);
    EXPECT_EQ(chain.Tap(), TapState::Exit1Dr);
    EXPECT_FALSE(chain.Tdo());
    chain.SetPins(false, true, false);
    EXPECT_TRUE(chain.Tdo());
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

TEST(JtagDevice, CollectsConfigurationWithTheCrc32OfTheBytesShiftedLsbFirst) {
    const Bits bits = BitsOfBytesLsbFirst("123456789");  // CRC-32 check value 0xCBF43926
    JtagChain chain(JtagDeviceConfig{kDevice.idcode, 6, bits.size()});
    Pins pins(chain);
    pins.Reset();
    pins.Instruction(JtagChain::kCfgIn);
    // In two visits to Shift-DR, the first left through Pause-DR.
    pins.Tms({1, 0, 0});
    Bits tdo;
    for (std::size_t i = 0; i < 30; ++i) tdo.push_back(pins.Clock(i == 29, bits[i]));
    pins.Tms({0, 0, 1, 0});  // Pause-DR, Exit2-DR, Shift-DR
    for (std::size_t i = 30; i < bits.size(); ++i) tdo.push_back(pins.Clock(i + 1 == bits.size(), bits[i]));
    pins.Tms({1, 0});
    EXPECT_EQ(tdo, Bits(bits.size(), false));
    EXPECT_EQ(chain.State().bits, bits.size());
    EXPECT_EQ(chain.State().crc, 0xCBF43926u);
    EXPECT_FALSE(chain.State().configured);
    EXPECT_EQ(pins.Read32(JtagChain::kCrc), 0xCBF43926u);
    EXPECT_EQ(chain.State().bits, bits.size()) << "reading registers collects nothing";

    // A chain restored from a saved state reports the same CRC, on its pins
    // too, and starts when the count it was saved with is complete.
    const Bits part(bits.begin(), bits.begin() + 40);
    JtagChain first(JtagDeviceConfig{kDevice.idcode, 6, part.size()});
    Pins a(first);
    a.Reset();
    a.Instruction(JtagChain::kCfgIn);
    a.Data(part);
    JtagChain restored(first.Config(), first.State());
    EXPECT_EQ(restored.State(), first.State());
    Pins b(restored);
    b.Reset();
    EXPECT_EQ(b.Read32(JtagChain::kCrc), spindle::test::Crc32OfBits(part));
    b.Instruction(JtagChain::kJstart);
    EXPECT_EQ(restored.State(), (JtagConfigState{true, part.size(), spindle::test::Crc32OfBits(part)}));

    // Loading CFG_IN again starts a new collection.
    pins.Instruction(JtagChain::kCfgIn);
    EXPECT_EQ(chain.State(), JtagConfigState{});
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

// --- XSVF programs through the reference player ----------------------------

TEST(JtagXsvf, WriterLaysOutVectorsMostSignificantByteFirst) {
    XsvfWriter w;
    w.Sir(6, 0x05).SdrSize(12).Sdr(0xABC).Sir2(ToBits(0x1FF, 9)).Comment("hi").Wait(TapState::RunTestIdle,
                                                                                    TapState::PauseDr, 0x01020304);
    const std::vector<std::uint8_t> expected = {0x02, 6,    0x05, 0x08, 0,    0,    0,    12,   0x03, 0x0A, 0xBC,
                                                0x15, 0,    9,    0x01, 0xFF, 0x16, 'h',  'i',  0,    0x17, 1,
                                                6,    1,    2,    3,    4};
    EXPECT_EQ(w.Bytes(), expected);
    EXPECT_THROW(w.Sdr(ToBits(0, 13)), std::logic_error);
    EXPECT_THROW(w.SdrTdo(ToBits(0, 12), ToBits(0, 11)), std::logic_error);
}

TEST(JtagXsvf, ADesignOfOver64KiBConfiguresExactlyItsBits) {
    // Not a whole number of pieces or bytes, so the last piece is short.
    const JtagDeviceConfig config{kDevice.idcode, 6, 540001};
    const Bits bits = Pattern(config.configLength, 0x1234567);
    const std::vector<std::uint8_t> design = XsvfWriter::Design(config, bits, 8192);
    ASSERT_GE(design.size(), 65536u);
    JtagChain chain(config);
    XsvfReferencePlayer player(chain);
    const XsvfOutcome outcome = player.Run(design);
    ASSERT_TRUE(outcome.Ok()) << spindle::test::XsvfKindName(outcome.kind) << " at " << outcome.offset << ": "
                              << outcome.detail;
    EXPECT_EQ(outcome.offset, design.size() - 1);
    EXPECT_EQ(chain.State(), (JtagConfigState{true, config.configLength, spindle::test::Crc32OfBits(bits)}));

    // The example design configures the demo chain.
    JtagChain demo(kDevice);
    const XsvfOutcome example = XsvfReferencePlayer(demo).Run(ExampleFile("demo-design.xsvf"));
    EXPECT_TRUE(example.Ok()) << example.detail;
    EXPECT_EQ(demo.State().bits, kDevice.configLength);
    EXPECT_TRUE(demo.State().configured);

    // One bit short: the STATUS check (the second XSDRTDO from the end) fails.
    const Bits shortBits(bits.begin(), bits.end() - 1);
    const std::vector<std::uint8_t> shortDesign = XsvfWriter::Design(config, shortBits, 8192);
    JtagChain other(config);
    const XsvfOutcome failed = XsvfReferencePlayer(other).Run(shortDesign);
    EXPECT_EQ(failed.kind, XsvfOutcome::Kind::TdoMismatch);
    // From it to the end: XSDRTDO(9) XTDOMASK(5) XSIR CRC(3) XSDRTDO(9) XCOMPLETE(1).
    EXPECT_EQ(failed.offset, shortDesign.size() - 27);
    EXPECT_EQ(failed.command, test::xsvf::kSdrTdo);
    EXPECT_FALSE(other.State().configured);
}

TEST(JtagXsvf, AWrongIdcodeFailsAtItsXsdrtdoBeforeAnyConfiguration) {
    // The example file is the demo design built for IDCODE 0x0BAD1093.
    XsvfWriter check;
    check.CheckIdcode(kDevice.irLength, 0x0BAD1093);
    const std::vector<std::uint8_t> program = ExampleFile("wrong-idcode.xsvf");
    ASSERT_GT(program.size(), check.Offset());
    JtagChain chain(kDevice);
    const XsvfOutcome outcome = XsvfReferencePlayer(chain).Run(program);
    EXPECT_EQ(outcome.kind, XsvfOutcome::Kind::TdoMismatch);
    EXPECT_EQ(outcome.offset, check.Offset() - 9);  // the last command of the check
    EXPECT_EQ(outcome.command, test::xsvf::kSdrTdo);
    EXPECT_EQ(chain.State(), JtagConfigState{});
}

TEST(JtagXsvf, RetriesShiftAgainThroughPauseDrWithoutANewCapture) {
    // On a retry the register holds what the first pass shifted in, not the
    // IDCODE again: expecting the TDI value passes only on a retry, and
    // expecting a value never shifted in fails every retry.
    for (std::uint8_t repeat : {0, 1, 5}) {
        for (bool echo : {true, false}) {
            JtagChain chain(kDevice);
            XsvfWriter w;
            w.Repeat(repeat).Sir(6, JtagChain::kIdcode).SdrSize(32).TdoMask(0xFFFFFFFFu);
            const std::size_t at = w.Offset();
            w.SdrTdo(echo ? 0x13579BDF : 0, 0x13579BDF).Complete();
            XsvfReferencePlayer player(chain);
            const XsvfOutcome outcome = player.Run(w.Bytes());
            const bool passes = echo && repeat > 0;
            EXPECT_EQ(outcome.kind, passes ? XsvfOutcome::Kind::Ok : XsvfOutcome::Kind::TdoMismatch)
                << int{repeat} << (echo ? " echo" : "");
            if (!passes) {
                EXPECT_EQ(outcome.offset, at);
            }
            EXPECT_EQ(player.Retries(), passes ? 1u : std::size_t{repeat});
            EXPECT_EQ(chain.Tap(), TapState::RunTestIdle);
        }
    }
}

TEST(JtagXsvf, PiecewiseShiftsStayInShiftDrAndCompareEachPiece) {
    const std::uint32_t id = kDevice.idcode;
    const auto program = [&](std::uint32_t thirdByte, std::size_t* thirdAt) {
        XsvfWriter w;
        w.Sir(6, JtagChain::kIdcode).SdrSize(8).TdoMask(0xFF);
        w.SdrTdoB(ToBits(0, 8), ToBits(id & 0xFF, 8)).SdrTdoC(ToBits(0, 8), ToBits((id >> 8) & 0xFF, 8));
        *thirdAt = w.Offset();
        w.SdrTdoC(ToBits(0, 8), ToBits(thirdByte, 8)).SdrTdoE(ToBits(0, 8), ToBits(id >> 24, 8)).Complete();
        return w.Bytes();
    };
    std::size_t at = 0;
    JtagChain chain(kDevice);
    XsvfReferencePlayer player(chain);
    const XsvfOutcome good = player.Run(program((id >> 16) & 0xFF, &at));
    EXPECT_TRUE(good.Ok()) << good.detail;
    EXPECT_EQ(chain.Tap(), TapState::RunTestIdle);
    const XsvfOutcome bad = player.Run(program(((id >> 16) & 0xFF) ^ 0x10, &at));
    EXPECT_EQ(bad.kind, XsvfOutcome::Kind::TdoMismatch);
    EXPECT_EQ(bad.offset, at);

    // A masked-off bit is not compared.
    XsvfWriter w;
    w.Sir(6, JtagChain::kIdcode).SdrSize(32).TdoMask(~0x10u & 0xFFFFFFFFu).SdrTdo(0, id ^ 0x10).Complete();
    EXPECT_TRUE(player.Run(w.Bytes()).Ok());
}

TEST(JtagXsvf, SdrincStepsTheAddressAndPlacesTheDataFields) {
    JtagChain chain(JtagDeviceConfig{kDevice.idcode, 6, 32});
    XsvfWriter w;
    w.Sir(6, JtagChain::kCfgIn).SdrSize(8).SetSdrMasks(ToBits(0x0F, 8), ToBits(0xF0, 8));
    w.SdrInc(ToBits(0x0E, 8), {ToBits(0xA, 4), ToBits(0xB, 4), ToBits(0xC, 4)});
    w.Sir(6, JtagChain::kJstart).Complete();
    const XsvfOutcome outcome = XsvfReferencePlayer(chain).Run(w.Bytes());
    ASSERT_TRUE(outcome.Ok()) << outcome.detail;
    // 0x0E, then the address field counts 0xF, 0x0 (its carry stays inside
    // the field), 0x1 under the data 0xA, 0xB, 0xC.
    EXPECT_EQ(chain.State().bits, 32u);
    EXPECT_EQ(chain.State().crc, spindle::test::Crc32OfBits(BitsOfBytesLsbFirst("\x0E\xAF\xB0\xC1")));
    EXPECT_TRUE(chain.State().configured);
}

TEST(JtagXsvf, EndStatesAndWaitsLeaveTheTapWhereTheProgramSays) {
    JtagChain chain(kDevice);
    XsvfReferencePlayer player(chain);
    XsvfWriter w;
    w.EndIr(true).Sir(6, chain.Bypass());
    ASSERT_TRUE(player.Run(XsvfWriter(w).Complete().Bytes()).Ok());
    EXPECT_EQ(chain.Tap(), TapState::PauseIr);
    EXPECT_EQ(chain.Instruction(), JtagChain::kIdcode) << "paused before Update-IR";

    w.EndDr(true).SdrSize(1).Sdr(ToBits(1, 1));
    ASSERT_TRUE(player.Run(XsvfWriter(w).Complete().Bytes()).Ok());
    EXPECT_EQ(chain.Tap(), TapState::PauseDr);
    EXPECT_EQ(chain.Instruction(), chain.Bypass());

    // XRUNTEST overrides the end state and holds Run-Test/Idle for its count.
    const std::uint64_t before = chain.Clocks();
    ASSERT_TRUE(player.Run(XsvfWriter(w).Complete().Bytes()).Ok());
    const std::uint64_t plain = chain.Clocks() - before;
    const std::uint64_t start = chain.Clocks();
    ASSERT_TRUE(player.Run(XsvfWriter(w).RunTest(1000).Sdr(ToBits(1, 1)).Complete().Bytes()).Ok());
    EXPECT_EQ(chain.Tap(), TapState::RunTestIdle);
    EXPECT_GE(chain.Clocks() - start, plain + 1000);

    // XWAIT holds its wait state for its count, then goes to its end state.
    const std::uint64_t waitStart = chain.Clocks();
    ASSERT_TRUE(player.Run(XsvfWriter().Wait(TapState::PauseDr, TapState::PauseIr, 300).Complete().Bytes()).Ok());
    EXPECT_EQ(chain.Tap(), TapState::PauseIr);
    EXPECT_GE(chain.Clocks() - waitStart, 300u);
}

TEST(JtagXsvf, TruncatedAndUnknownStreamsAreReportedWithTheirCommand) {
    using Kind = XsvfOutcome::Kind;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        Kind kind;
        std::size_t offset;
        std::uint8_t command;
    };
    const std::vector<Case> cases = {
        {"empty", {}, Kind::Truncated, 0, 0},
        {"no XCOMPLETE", {0x12, 0x01, 0x04, 0, 0, 0, 1}, Kind::Truncated, 7, 0},
        {"XSDRTDO cut in its expected value", {0x08, 0, 0, 0, 32, 0x09, 0, 0, 0, 0, 0x0A}, Kind::Truncated, 5, 0x09},
        {"XTDOMASK of 4 Gbit", {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0}, Kind::Truncated, 5, 0x01},
        {"XSIR without its vector", {0x02, 6}, Kind::Truncated, 0, 0x02},
        {"XWAIT cut off", {0x17, 1, 1, 0, 0}, Kind::Truncated, 0, 0x17},
        {"comment without its zero", {0x16, 'a', 'b'}, Kind::Truncated, 0, 0x16},
        {"XSDRINC cut in its data", {0x08, 0, 0, 0, 8, 0x0A, 0x0F, 0xF0, 0x0B, 0, 3, 1, 2}, Kind::Truncated, 8,
         0x0B},
        {"unknown 0x05", {0x12, 0x00, 0x05}, Kind::BadCommand, 2, 0x05},
        {"unknown 0x18", {0x18}, Kind::BadCommand, 0, 0x18},
        {"unknown 0xFF", {0x16, 'x', 0, 0xFF, 0}, Kind::BadCommand, 3, 0xFF},
        {"XSTATE 16", {0x12, 16, 0}, Kind::BadCommand, 0, 0x12},
        {"XENDDR 2", {0x14, 2, 0}, Kind::BadCommand, 0, 0x14},
        {"XSIR of no bits", {0x02, 0, 0}, Kind::BadCommand, 0, 0x02},
        {"XSDR before any XSDRSIZE", {0x03, 0}, Kind::BadCommand, 0, 0x03},
        {"bytes after XCOMPLETE are not read", {0x00, 0xFF}, Kind::Ok, 0, 0},
    };
    for (const Case& c : cases) {
        JtagChain chain(kDevice);
        const XsvfOutcome outcome = XsvfReferencePlayer(chain).Run(c.bytes);
        EXPECT_EQ(outcome.kind, c.kind) << c.what << ": " << outcome.detail;
        EXPECT_EQ(outcome.offset, c.offset) << c.what;
        EXPECT_EQ(outcome.command, c.command) << c.what;
    }

    // A command cut off is not played in part.
    JtagChain chain(kDevice);
    XsvfWriter w;
    w.Sir(6, JtagChain::kCfgIn).SdrSize(64);
    const std::size_t before = w.Offset();
    std::vector<std::uint8_t> bytes = XsvfWriter(w).SdrB(Pattern(64, 5)).Bytes();
    bytes.resize(bytes.size() - 1);
    const XsvfOutcome outcome = XsvfReferencePlayer(chain).Run(bytes);
    EXPECT_EQ(outcome.kind, Kind::Truncated);
    EXPECT_EQ(outcome.offset, before);
    EXPECT_EQ(chain.State().bits, 0u);
}

}  // namespace
}  // namespace spindle::sim
