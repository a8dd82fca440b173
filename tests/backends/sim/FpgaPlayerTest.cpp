// The FPGA player firmware on the emulated FX2, streamed to through the
// host's bulk pipes, programming the bench's JTAG chains. The C++ reference
// player is the oracle: on the same program, both must leave a chain in the
// same state after the same number of TCK cycles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "SimTestRig.h"
#include "device/Anchor.h"
#include "programming/FpgaProgramming.h"
#include "player_status.h"
#include "support/TempFolder.h"
#include "support/XsvfReferencePlayer.h"
#include "support/XsvfWriter.h"

namespace spindle::sim::test {
namespace {

using spindle::test::Bits;
using spindle::test::XsvfReferencePlayer;
using spindle::test::XsvfWriter;
namespace xsvf = spindle::test::xsvf;
using Bytes = std::vector<std::uint8_t>;

constexpr JtagDeviceConfig kDemoChain{0x0A001093, 6, 65536};

Bits RandomBits(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bits bits(count);
    for (std::size_t i = 0; i < count; ++i) bits[i] = (random() & 1u) != 0;
    return bits;
}

Bytes ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the host saw while streaming.
struct Streamed {
    std::uint16_t bufferSize = 0;
    std::size_t bytesSent = 0;  // file bytes sent before the stream ended
    bool endedEarly = false;    // 0xBEEF before the whole file was sent
    std::uint16_t lastReply = 0;
    int busyReplies = 0;  // 0xFFFF
    bool usbFailed = false;
};

// The host's side of the stream: the opening, the buffer size, packets of
// at most 62 bytes with the empty one at the end, each followed by its
// reply, 0xFFFF asked again, the nearly-full and low marks.
Streamed Stream(SimRig& rig, DeviceHandle handle, const Bytes& file) {
    Streamed seen;
    const auto reply = [&]() -> std::uint16_t {
        const auto bytes = rig.Read(handle, 2);
        if (!bytes) {
            seen.usbFailed = true;
            return 0xBEEF;
        }
        return static_cast<std::uint16_t>((*bytes)[0] | (*bytes)[1] << 8);
    };
    if (!rig.Send(handle, {0x37, 0x00}) || !rig.Send(handle, {0x32})) {
        seen.usbFailed = true;
        return seen;
    }
    seen.bufferSize = reply();
    const unsigned nearlyFull = static_cast<std::uint16_t>(seen.bufferSize - 120);
    bool started = false;
    std::size_t at = 0;
    for (;;) {
        const std::size_t n = std::min<std::size_t>(62, file.size() - at);
        Bytes packet{0x33, static_cast<std::uint8_t>(n + 2)};
        packet.insert(packet.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                      file.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (!rig.Send(handle, packet)) seen.usbFailed = true;
        at += n;
        std::uint16_t s = reply();
        seen.lastReply = s;
        if (s == 0xBEEF) break;
        if (s >= nearlyFull) {
            rig.Send(handle, {0x36, 0x00});
            if (!started) {
                started = true;
                rig.Send(handle, {0x0E});
            }
            while (s >= 10000 && s != 0xBEEF && !seen.usbFailed) {
                if (s == 0xFFFF) ++seen.busyReplies;
                s = reply();
            }
        } else if (started && s <= 2048) {
            rig.Send(handle, {0x36, 0x01});
        }
        while (s == 0xFFFF && !seen.usbFailed) {
            ++seen.busyReplies;
            s = reply();
        }
        seen.lastReply = s;
        if (s == 0xBEEF || seen.usbFailed || n == 0) break;
    }
    seen.bytesSent = at;
    seen.endedEarly = at < file.size();
    return seen;
}

class FpgaPlayerTest : public ::testing::Test {
protected:
    // An unprogrammed FX2 with a chain, beside the demo devices.
    std::shared_ptr<SimDevice> AddChainDevice(int index, JtagDeviceConfig chain) {
        DeviceConfig config;
        config.index = index;
        config.vendorId = 0x04B4;
        config.productId = 0x8613;
        config.jtag = JtagBenchConfig{chain, {}};
        return rig.bench->AddDevice(config);
    }

    // Downloads the player and starts it; the handle stays open.
    DeviceHandle StartPlayer(int index) {
        CAnchor anchor(rig.platform);
        anchor.deviceName = "Ezusb-" + std::to_string(index);
        anchor.chipMode = 10;  // FX2 CPUCS
        const DownloadResult download = anchor.DownloadFile(SPINDLE_FPGA_PLAYER_HEX);
        EXPECT_EQ(download.result, 1) << download.outcome.messages.size();
        return rig.Open(index);
    }

    // The same program through the reference player on a chain of its own.
    static JtagChain Reference(JtagDeviceConfig config, const Bytes& program, spindle::test::XsvfOutcome* outcome) {
        JtagChain chain(config);
        XsvfReferencePlayer player(chain);
        *outcome = player.Run(program);
        return chain;
    }

    SimRig rig{LoadBench("demo")};
};

TEST_F(FpgaPlayerTest, ADesignOfOver64KiBConfiguresTheChainWithExactlyItsBits) {
    const JtagDeviceConfig chain{0x0A001093, 6, 540'000};
    const Bits bits = RandomBits(chain.configLength, 7);
    const Bytes design = XsvfWriter::Design(chain, bits, 4096);
    ASSERT_GE(design.size(), 64u * 1024u);
    auto device = AddChainDevice(20, chain);
    const DeviceHandle handle = StartPlayer(20);

    const Streamed seen = Stream(rig, handle, design);
    EXPECT_FALSE(seen.usbFailed);
    EXPECT_EQ(seen.bufferSize, 8192);
    EXPECT_FALSE(seen.endedEarly);
    EXPECT_EQ(seen.lastReply, 0x0000);  // everything executed up to XCOMPLETE
    // The player keeps up with one packet per 10 ms: the host never waits.
    EXPECT_EQ(seen.busyReplies, 0);

    const auto state = device->JtagState();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->configured);
    EXPECT_EQ(state->bits, chain.configLength);
    EXPECT_EQ(state->crc, spindle::test::Crc32OfBits(bits));
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_COMPLETE);
    EXPECT_EQ(status->received, design.size());
    EXPECT_EQ(status->fullMarks, 0);

    spindle::test::XsvfOutcome outcome;
    const JtagChain reference = Reference(chain, design, &outcome);
    EXPECT_TRUE(outcome.Ok());
    EXPECT_EQ(device->JtagClocks(), reference.Clocks());
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, ALongWaitFillsTheBufferAndTheHostsPacketsDrainItAfterwards) {
    // Two seconds of Run-Test/Idle before the configuration: the host's
    // packets pile up meanwhile; afterwards the player shifts faster than
    // they come.
    const JtagDeviceConfig chain{0x0A001093, 6, 200'000};
    const Bits bits = RandomBits(chain.configLength, 11);
    XsvfWriter w;
    w.CheckIdcode(6, chain.idcode).SdrSize(32).TdoMask(0u);
    w.RunTest(600'000).Sir(6, 0x3F).RunTest(0);
    w.ConfigureDevice(chain, bits, 4096).Complete();
    auto device = AddChainDevice(22, chain);
    const DeviceHandle handle = StartPlayer(22);
    const Streamed seen = Stream(rig, handle, w.Bytes());
    EXPECT_EQ(seen.lastReply, 0x0000);
    EXPECT_GT(seen.busyReplies, 0);
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_GE(status->fullMarks, 1);  // a reply of K - 120 or more
    EXPECT_EQ(status->starts, 1);     // 0x0E once
    EXPECT_GE(status->lowMarks, 1);   // later a reply of 2048 or less
    EXPECT_TRUE(device->JtagState()->configured);
    EXPECT_EQ(device->JtagState()->crc, spindle::test::Crc32OfBits(bits));
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, EveryCommandDrivesTheChainAsTheReferencePlayerDoes) {
    const JtagDeviceConfig chain{0x0A001093, 8, 64};
    const Bits config = RandomBits(64, 3);
    XsvfWriter w;
    w.Comment("every command").State(TapState::TestLogicReset).Repeat(3).RunTest(0);
    w.CheckIdcode(8, chain.idcode);
    // Plain XSDRs compare with the last XSDRTDO's value where the mask says:
    // nowhere, from here on.
    w.TdoMask(0u);
    // XSIR2, pauses as end states, XWAIT in Pause-DR and Run-Test/Idle.
    w.Sir2(spindle::test::ToBits(JtagChain::kCfgIn, 8)).EndDr(true).EndIr(true);
    w.SdrSize(32).Sdr(spindle::test::ToBits(0x12345678, 32));
    w.Wait(TapState::PauseDr, TapState::RunTestIdle, 7).EndDr(false).EndIr(false);
    w.Wait(TapState::RunTestIdle, TapState::RunTestIdle, 5);
    // XSETSDRMASKS and XSDRINC: 8-bit address, 8-bit data in a 16-bit value.
    w.SdrSize(16).SetSdrMasks(spindle::test::ToBits(0x00FF, 16), spindle::test::ToBits(0xFF00, 16));
    w.SdrInc(spindle::test::ToBits(0x00FE, 16), {spindle::test::ToBits(0xA5, 8), spindle::test::ToBits(0x3C, 8)});
    // XSDRB/C/E and the checked pieces through BYPASS-like JSTART.
    w.Sir(8, JtagChain::kCfgIn).SdrSize(16);
    w.SdrB(Bits(config.begin(), config.begin() + 16)).SdrC(Bits(config.begin() + 16, config.begin() + 32));
    w.SdrC(Bits(config.begin() + 32, config.begin() + 48)).SdrE(Bits(config.begin() + 48, config.end()));
    w.Sir(8, JtagChain::kJstart).RunTest(4).Sir(8, JtagChain::kStatus).RunTest(0);
    w.SdrSize(32).TdoMask(spindle::test::ToBits(0x1, 32));
    w.SdrTdoB(spindle::test::ToBits(0, 32), spindle::test::ToBits(1, 32));
    w.SdrTdoE(spindle::test::ToBits(0, 32), spindle::test::ToBits(0, 32));
    // XREPEAT: two bits through BYPASS expect 11; the capture gives a 0
    // first, the retry (no new capture) gives 11.
    w.Sir(8, 0xFF).SdrSize(2).TdoMask(spindle::test::ToBits(3, 2));
    w.SdrTdo(spindle::test::ToBits(3, 2), spindle::test::ToBits(3, 2)).Sdr(spindle::test::ToBits(3, 2));
    w.State(TapState::TestLogicReset).Complete();
    const Bytes program = w.Bytes();

    JtagChain reference(chain);
    XsvfReferencePlayer player(reference);
    const spindle::test::XsvfOutcome outcome = player.Run(program);
    ASSERT_TRUE(outcome.Ok()) << outcome.detail;
    ASSERT_EQ(player.Retries(), 2u);  // the XSDRTDO and the XSDR through BYPASS each retried once

    auto device = AddChainDevice(21, chain);
    const DeviceHandle handle = StartPlayer(21);
    const Streamed seen = Stream(rig, handle, program);
    EXPECT_EQ(seen.lastReply, 0x0000);
    const auto status = device->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_COMPLETE) << "error " << status->error << " at " << status->offset;
    EXPECT_EQ(device->JtagClocks(), reference.Clocks());
    EXPECT_EQ(device->JtagState(), reference.State());
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, AWrongIdcodeEndsTheStreamAndTheErrorStaysInTheDevice) {
    const Bytes file = ReadWhole(SPINDLE_SOURCE_DIR "/examples/wrong-idcode.xsvf");
    ASSERT_FALSE(file.empty());
    spindle::test::XsvfOutcome expected;
    Reference(kDemoChain, file, &expected);
    ASSERT_EQ(expected.kind, spindle::test::XsvfOutcome::Kind::TdoMismatch);

    const DeviceHandle handle = StartPlayer(6);
    const Streamed seen = Stream(rig, handle, file);
    EXPECT_TRUE(seen.endedEarly);
    EXPECT_EQ(seen.lastReply, 0xBEEF);
    EXPECT_LT(seen.bytesSent, file.size());
    const auto status = rig.bench->Device(6)->FpgaPlayerStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, PLAYER_FAILED);
    EXPECT_EQ(status->error, PLAYER_ERR_TDO_MISMATCH);
    EXPECT_EQ(status->command, expected.command);
    EXPECT_EQ(status->offset, expected.offset);
    EXPECT_FALSE(rig.bench->Device(6)->JtagState()->configured);
    // Replies after the stop stay 0xBEEF.
    ASSERT_TRUE(rig.Send(handle, {0x33, 0x03, 0x00}));
    EXPECT_EQ(rig.Read(handle, 2), (Bytes{0xEF, 0xBE}));
    CloseDevice(rig.platform, handle);
}

TEST_F(FpgaPlayerTest, StreamsThatCannotBePlayedEndWithTheirError) {
    struct Case {
        const char* what;
        Bytes program;
        int error;
    };
    XsvfWriter cut;
    cut.CheckIdcode(6, kDemoChain.idcode);  // no XCOMPLETE
    Bytes truncatedVector = XsvfWriter().SdrSize(64).Bytes();
    truncatedVector.insert(truncatedVector.end(), {xsvf::kSdr, 0x01, 0x02});
    const std::vector<Case> cases{
        {"no XCOMPLETE", cut.Bytes(), PLAYER_ERR_TRUNCATED},
        {"cut-off vector", truncatedVector, PLAYER_ERR_TRUNCATED},
        {"unknown command", {xsvf::kRepeat, 0x00, 0x42, 0x00}, PLAYER_ERR_UNKNOWN_COMMAND},
        {"vector beyond the buffer", XsvfWriter().SdrSize(40'000).Complete().Bytes(), PLAYER_ERR_VECTOR_TOO_LONG},
        {"state 16", {xsvf::kState, 16, 0x00}, PLAYER_ERR_BAD_STATE},
    };
    int index = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto device = AddChainDevice(index, kDemoChain);
        const DeviceHandle handle = StartPlayer(index++);
        const Streamed seen = Stream(rig, handle, c.program);
        EXPECT_EQ(seen.lastReply, 0xBEEF);
        const auto status = device->FpgaPlayerStatus();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->state, PLAYER_FAILED);
        EXPECT_EQ(status->error, c.error);
        CloseDevice(rig.platform, handle);
    }

    // Data after XCOMPLETE is not taken.
    auto device = AddChainDevice(40, kDemoChain);
    const DeviceHandle handle = StartPlayer(40);
    const Streamed seen = Stream(rig, handle, Bytes(100, xsvf::kComplete));
    EXPECT_EQ(seen.lastReply, 0xBEEF);
    EXPECT_EQ(device->FpgaPlayerStatus()->state, PLAYER_COMPLETE);
    CloseDevice(rig.platform, handle);

    // A packet whose length byte is wrong stops the player.
    auto other = AddChainDevice(41, kDemoChain);
    const DeviceHandle second = StartPlayer(41);
    ASSERT_TRUE(rig.Send(second, {0x33, 0x09, 0x00}));
    EXPECT_EQ(rig.Read(second, 2), (Bytes{0xEF, 0xBE}));
    EXPECT_EQ(other->FpgaPlayerStatus()->error, PLAYER_ERR_BAD_PACKET);
    CloseDevice(rig.platform, second);
}

TEST_F(FpgaPlayerTest, TheDemoDesignConfiguresADemoDeviceAndALaterBenchSeesIt) {
    spindle::test::TempFolder folder;
    const std::string benchPath = folder.File("bench.json");
    {
        std::ofstream(benchPath) << DemoBenchText();
    }
    const Bytes file = ReadWhole(SPINDLE_SOURCE_DIR "/examples/demo-design.xsvf");
    {
        SimRig fileRig{LoadBench(benchPath)};
        CAnchor anchor(fileRig.platform);
        anchor.deviceName = "Ezusb-6";
        anchor.chipMode = 10;
        ASSERT_EQ(anchor.DownloadFile(SPINDLE_FPGA_PLAYER_HEX).result, 1);
        const DeviceHandle handle = fileRig.Open(6);
        const Streamed seen = Stream(fileRig, handle, file);
        EXPECT_EQ(seen.lastReply, 0x0000);
        CloseDevice(fileRig.platform, handle);
    }
    const auto later = LoadBench(benchPath);
    const auto state = later->Device(6)->JtagState();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->configured);
    EXPECT_EQ(state->bits, kDemoChain.configLength);
    EXPECT_FALSE(later->Device(7)->JtagState()->configured);
}

TEST_F(FpgaPlayerTest, WithTheHostsClockThePlayerWorksThroughTheHostsWaits) {
    // The example design is not a multiple of 62 bytes long: the player
    // still holds the tail of it after the last packet. The host then asks
    // for the verdict with an empty packet, so the tail is played and
    // checked whether or not the chip also runs through the host's waits.
    const std::string design = std::string(SPINDLE_SOURCE_DIR) + "/examples/demo-design.xsvf";
    ASSERT_NE(std::filesystem::file_size(design) % 62, 0u);
    for (int index : {20, 21}) {
        auto device = AddChainDevice(index, kDemoChain);
        if (index == 21) rig.bench->SetClock(&rig.clock);
        const DeviceHandle handle = StartPlayer(index);
        CloseDevice(rig.platform, handle);
        JobEntry entry;
        const XsvfStream stream = PlayXsvf(rig.platform, static_cast<std::uint32_t>(index), "", design, entry);
        EXPECT_TRUE(stream.problems.empty()) << index;
        const auto status = device->FpgaPlayerStatus();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->received, std::filesystem::file_size(design));
        EXPECT_EQ(status->state, PLAYER_COMPLETE) << index;
        EXPECT_TRUE(device->JtagState()->configured) << index;
    }
}

}  // namespace
}  // namespace spindle::sim::test
