// The FPGA player firmware on the emulated FX2, loaded and streamed to by
// the host's FPGA job code, programming the bench's JTAG chains.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "SimTestRig.h"
#include "programming/FpgaProgramming.h"
#include "player_status.h"
#include "support/TempFolder.h"
#include "support/XsvfWriter.h"

namespace spindle::sim::test {
namespace {

using spindle::test::Bits;
using spindle::test::ToBits;
using spindle::test::XsvfWriter;
namespace xsvf = spindle::test::xsvf;
using Bytes = std::vector<std::uint8_t>;

constexpr JtagDeviceConfig kDemoChain{0x0A001093, 6, 65536};
// TCK cycles of the every-command program, as an independent XSVF player
// counted them.
constexpr std::uint64_t kEveryCommandClocks = 422;
const std::string kExamples = std::string(SPINDLE_SOURCE_DIR) + "/examples/";

Bits RandomBits(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bits bits(count);
    for (std::size_t i = 0; i < count; ++i) bits[i] = (random() & 1u) != 0;
    return bits;
}

class FpgaPlayerTest : public ::testing::Test {
protected:
    // An unprogrammed FX2 with a chain, beside the demo devices, running the player.
    std::shared_ptr<SimDevice> PlayerWithChain(int index, JtagDeviceConfig chain) {
        DeviceConfig config;
        config.index = index;
        config.vendorId = 0x04B4;
        config.productId = 0x8613;
        config.jtag = JtagBenchConfig{chain, {}};
        auto device = rig.bench->AddDevice(config);
        LoadPlayer(index);
        return device;
    }
    void LoadPlayer(int index) {
        EXPECT_TRUE(LoadFpgaPlayer(rig.platform, static_cast<std::uint32_t>(index), SPINDLE_FPGA_PLAYER_HEX).Ok());
    }
    // The program streamed as the host's FPGA job streams a file.
    XsvfStream Play(int index, const Bytes& program) {
        const std::string path = folder.File("program.xsvf");
        spindle::test::WriteWholeFile(path, std::string(program.begin(), program.end()));
        return Play(index, path);
    }
    // The device stays open until the test ends: one whose chain was
    // configured renumerates when its last handle closes, and its RAM (the
    // player's status block) goes with it.
    XsvfStream Play(int index, const std::string& path) {
        held.push_back(rig.Open(index));
        JobEntry entry;
        return PlayXsvf(rig.platform, static_cast<std::uint32_t>(index), path, spindle::test::ReadWholeFile(path), entry);
    }
    void TearDown() override {
        for (const DeviceHandle handle : held) CloseDevice(rig.platform, handle);
    }

    SimRig rig{LoadBench("demo")};
    spindle::test::TempFolder folder;
    std::vector<DeviceHandle> held;
};

TEST_F(FpgaPlayerTest, ADesignOfOver64KiBConfiguresTheChainWithExactlyItsBits) {
    const JtagDeviceConfig chain{0x0A001093, 6, 530'000};
    const Bits bits = RandomBits(chain.configLength, 7);
    const Bytes design = XsvfWriter::Design(chain, bits, 4096);
    ASSERT_GE(design.size(), 64u * 1024u);
    auto device = PlayerWithChain(20, chain);
    const XsvfStream seen = Play(20, design);
    EXPECT_EQ(seen.failedTransfers, 0u);
    EXPECT_EQ(seen.bufferSize, 8192u);
    EXPECT_FALSE(seen.endedEarly);
    EXPECT_EQ(seen.lastReply, 0x0000u);  // everything executed up to XCOMPLETE
    EXPECT_EQ(device->JtagState(), (JtagConfigState{true, chain.configLength, spindle::test::Crc32OfBits(bits)}));
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_COMPLETE);
    EXPECT_EQ(status->received, design.size());
    EXPECT_EQ(status->fullMarks, 0);  // the player keeps up with the host
}

TEST_F(FpgaPlayerTest, ALongWaitFillsTheBufferAndTheHostsPacketsDrainItAfterwards) {
    // Run-Test/Idle before the configuration: the host's packets pile up
    // meanwhile; afterwards the player shifts faster than they come.
    const JtagDeviceConfig chain{0x0A001093, 6, 100'000};
    const Bits bits = RandomBits(chain.configLength, 11);
    XsvfWriter w;
    w.CheckIdcode(6, chain.idcode).SdrSize(32).TdoMask(0u);
    w.RunTest(600'000).Sir(6, 0x3F).RunTest(0);
    w.ConfigureDevice(chain, bits, 4096).Complete();
    auto device = PlayerWithChain(22, chain);
    EXPECT_EQ(Play(22, w.Bytes()).lastReply, 0x0000u);
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_GE(status->fullMarks, 1);  // a reply of K - 120 or more
    EXPECT_EQ(status->starts, 1);     // 0x0E once
    EXPECT_GE(status->lowMarks, 1);   // later a reply of 2048 or less
    EXPECT_EQ(device->JtagState()->crc, spindle::test::Crc32OfBits(bits));
}

TEST_F(FpgaPlayerTest, EveryCommandDrivesTheChain) {
    const JtagDeviceConfig chain{0x0A001093, 8, 64};
    const Bits config = RandomBits(64, 3);
    XsvfWriter w;
    w.Comment("every command").State(TapState::TestLogicReset).Repeat(3).RunTest(0);
    w.CheckIdcode(8, chain.idcode);
    // Plain XSDRs compare with the last XSDRTDO's value where the mask says:
    // nowhere, from here on.
    w.TdoMask(0u);
    // XSIR2, pauses as end states, XWAIT in Pause-DR and Run-Test/Idle.
    w.Sir2(ToBits(JtagChain::kCfgIn, 8)).EndDr(true).EndIr(true);
    w.SdrSize(32).Sdr(ToBits(0x12345678, 32));
    w.Wait(TapState::PauseDr, TapState::RunTestIdle, 7).EndDr(false).EndIr(false);
    w.Wait(TapState::RunTestIdle, TapState::RunTestIdle, 5);
    // XSETSDRMASKS and XSDRINC: 8-bit address, 8-bit data in a 16-bit value.
    w.SdrSize(16).SetSdrMasks(ToBits(0x00FF, 16), ToBits(0xFF00, 16));
    w.SdrInc(ToBits(0x00FE, 16), {ToBits(0xA5, 8), ToBits(0x3C, 8)});
    // XSDRB/C/E, JSTART after a count, then the checked pieces of STATUS.
    w.Sir(8, JtagChain::kCfgIn).SdrSize(16);
    w.SdrB(Bits(config.begin(), config.begin() + 16)).SdrC(Bits(config.begin() + 16, config.begin() + 32));
    w.SdrC(Bits(config.begin() + 32, config.begin() + 48)).SdrE(Bits(config.begin() + 48, config.end()));
    w.Sir(8, JtagChain::kJstart).RunTest(4).Sir(8, JtagChain::kStatus).RunTest(0);
    w.SdrSize(32).TdoMask(ToBits(0x1, 32));
    w.SdrTdoB(ToBits(0, 32), ToBits(1, 32)).SdrTdoE(ToBits(0, 32), ToBits(0, 32));
    // XREPEAT: two bits through BYPASS expect 11; the capture gives a 0
    // first, the retry (no new capture) gives 11.
    w.Sir(8, 0xFF).SdrSize(2).TdoMask(ToBits(3, 2));
    w.SdrTdo(ToBits(3, 2), ToBits(3, 2)).Sdr(ToBits(3, 2));
    w.State(TapState::TestLogicReset).Complete();

    auto device = PlayerWithChain(21, chain);
    EXPECT_EQ(Play(21, w.Bytes()).lastReply, 0x0000u);
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_COMPLETE) << "error " << status->error << " at " << status->offset;
    EXPECT_EQ(device->JtagState(), (JtagConfigState{true, 64, spindle::test::Crc32OfBits(config)}));
    EXPECT_EQ(device->JtagClocks(), kEveryCommandClocks);
}

TEST_F(FpgaPlayerTest, AWrongIdcodeEndsTheStreamAndTheErrorStaysInTheDevice) {
    LoadPlayer(6);
    const XsvfStream seen = Play(6, kExamples + "wrong-idcode.xsvf");
    EXPECT_TRUE(seen.endedEarly);
    EXPECT_EQ(seen.lastReply, 0xBEEFu);
    const auto status = rig.bench->Device(6)->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_FAILED);
    EXPECT_EQ(status->error, PLAYER_ERR_TDO_MISMATCH);
    // At the last command of the IDCODE check.
    XsvfWriter check;
    check.CheckIdcode(kDemoChain.irLength, 0x0BAD1093);
    EXPECT_EQ(status->command, xsvf::kSdrTdo);
    EXPECT_EQ(status->offset, check.Offset() - 9);
    EXPECT_FALSE(rig.bench->Device(6)->JtagState()->configured);
    // Replies after the stop stay 0xBEEF.
    const DeviceHandle handle = rig.Open(6);
    ASSERT_TRUE(rig.Send(handle, {0x33, 0x03, 0x00}));
    EXPECT_EQ(rig.Read(handle, 2), (Bytes{0xEF, 0xBE}));
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, StreamsThatCannotBePlayedEndWithTheirError) {
    struct Case {
        const char* what;
        Bytes program;
        int error;
        const char* named;  // what the host reads of it from the status block
    };
    Bytes truncatedVector = XsvfWriter().SdrSize(64).Bytes();
    truncatedVector.insert(truncatedVector.end(), {xsvf::kSdr, 0x01, 0x02});
    const std::vector<Case> cases{
        {"no XCOMPLETE", XsvfWriter().CheckIdcode(6, kDemoChain.idcode).Bytes(), PLAYER_ERR_TRUNCATED,
         "the stream ended at byte 26 without XCOMPLETE"},
        {"cut-off vector", truncatedVector, PLAYER_ERR_TRUNCATED, "XSDR at byte 5 was cut off by the end of the stream"},
        {"unknown command", {xsvf::kRepeat, 0x00, 0x42, 0x00}, PLAYER_ERR_UNKNOWN_COMMAND,
         "command 0x42 at byte 2 is not a command the player knows"},
        {"vector beyond the buffer", XsvfWriter().SdrSize(40'000).Complete().Bytes(), PLAYER_ERR_VECTOR_TOO_LONG,
         "XSDRSIZE at byte 0 needs a vector longer than the player can hold"},
        {"state 16", {xsvf::kState, 16, 0x00}, PLAYER_ERR_BAD_STATE,
         "XSTATE at byte 0 names a TAP state or length the player cannot take"},
    };
    int index = 30;
    for (const Case& c : cases) {
        auto device = PlayerWithChain(index, kDemoChain);
        const XsvfStream seen = Play(index++, c.program);
        EXPECT_EQ(seen.lastReply, 0xBEEFu) << c.what;
        EXPECT_EQ(seen.playerFailure, c.named);
        EXPECT_EQ(device->FpgaPlayerStatus()->state, PLAYER_FAILED) << c.what;
        EXPECT_EQ(device->FpgaPlayerStatus()->error, c.error) << c.what;
    }

    // Data after XCOMPLETE is not taken.
    auto device = PlayerWithChain(40, kDemoChain);
    EXPECT_EQ(Play(40, Bytes(100, xsvf::kComplete)).lastReply, 0xBEEFu);
    EXPECT_EQ(device->FpgaPlayerStatus()->state, PLAYER_COMPLETE);

    // A packet whose length byte is wrong stops the player.
    auto other = PlayerWithChain(41, kDemoChain);
    const DeviceHandle handle = rig.Open(41);
    ASSERT_TRUE(rig.Send(handle, {0x33, 0x09, 0x00}));
    EXPECT_EQ(rig.Read(handle, 2), (Bytes{0xEF, 0xBE}));
    EXPECT_EQ(other->FpgaPlayerStatus()->error, PLAYER_ERR_BAD_PACKET);
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, TheDemoDesignConfiguresADemoDeviceAndALaterBenchSeesIt) {
    const std::string benchPath = folder.File("bench.json");
    spindle::test::WriteWholeFile(benchPath, DemoBenchText());
    // The design is not a multiple of 62 bytes long: the player still holds
    // its tail after the last packet, and plays it when the host asks for
    // the verdict, whether or not the chip runs through the host's waits.
    const std::string design = kExamples + "demo-design.xsvf";
    ASSERT_NE(std::filesystem::file_size(design) % 62, 0u);
    for (bool paced : {false, true}) {
        SimRig fileRig{LoadBench(benchPath)};
        if (paced) fileRig.bench->SetClock(&fileRig.clock);
        const int index = paced ? 6 : 7;
        ASSERT_TRUE(LoadFpgaPlayer(fileRig.platform, index, SPINDLE_FPGA_PLAYER_HEX).Ok());
        const DeviceHandle open = fileRig.Open(index);
        JobEntry entry;
        const XsvfStream stream = PlayXsvf(fileRig.platform, index, design, spindle::test::ReadWholeFile(design), entry);
        EXPECT_TRUE(stream.outcome.Ok()) << paced;
        EXPECT_EQ(fileRig.bench->Device(index)->FpgaPlayerStatus()->state, PLAYER_COMPLETE) << paced;
        CloseDevice(fileRig.platform, open);
    }
    const auto later = LoadBench(benchPath);
    for (int index : {6, 7}) {
        EXPECT_EQ(later->Device(index)->JtagState()->bits, kDemoChain.configLength);
        EXPECT_TRUE(later->Device(index)->JtagState()->configured);
    }
    EXPECT_FALSE(later->Device(8)->JtagState()->configured);
}

}  // namespace
}  // namespace spindle::sim::test
