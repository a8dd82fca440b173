// The host side of an FPGA job: the XSVF check, the stream's messages and
// flow control against a scripted device, and the whole job on the simulated
// bench, whose FX2s run our player and drive their JTAG chains.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "programming/FpgaProgramming.h"
#include "programming/XsvfFile.h"
#include "sim/SimBench.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

XsvfCheck Check(const Bytes& bytes) { return CheckXsvf(bytes.data(), bytes.size()); }

TEST(XsvfFile, WellFormedProgramsPass) {
    // XSDRSIZE 12, XSDRTDO (2 x 2 bytes), XSIR 6 bits, XSETSDRMASKS with a
    // data mask of five ones, XSDRINC with two steps of one byte each, the
    // one-byte and four-byte commands, a comment, XWAIT, XSIR2, XCOMPLETE.
    const Bytes program = {0x08, 0, 0, 0, 12,   0x09, 0x0F, 0xFF, 0x00, 0x01, 0x02, 6, 0x3F,
                           0x0A, 0x00, 0x01,    0x00, 0x1F,  // address mask 0x001, data mask 0x01F: five ones
                           0x0B, 0x00, 0x00, 2, 0x15, 0x0A,
                           0x04, 0, 0, 1, 0,    0x07, 3, 0x12, 1, 0x13, 1, 0x14, 0, 0x16, 'h', 'i', 0,
                           0x17, 1, 1, 0, 0, 0, 9,   0x15, 0x00, 0x0A, 0xAA, 0x55,  0x0C, 1, 2, 0x11, 1, 2, 3, 4,
                           0x01, 0x0F, 0xFF, 0x03, 0x00, 0x01, 0x00};
    const XsvfCheck check = Check(program);
    EXPECT_TRUE(check.ok) << check.problem;
    EXPECT_EQ(check.commands, 18u);
    EXPECT_EQ(check.size, program.size());
}

TEST(XsvfFile, FilesThatAreNotXsvfAreRefusedWithWhereAndWhy) {
    struct Case {
        Bytes bytes;
        const char* problem;
        std::uint64_t offset;
    };
    const Case cases[] = {
        {{}, "it is empty", 0},
        {{0x08, 0, 0, 0, 8, 0x03, 0x01}, "does not end with XCOMPLETE", 7},
        {{0x08, 0, 0, 0, 8, 0x00}, "it configures nothing", 5},
        {{0x05, 0x00}, "byte 0x05 at offset 0 is not an XSVF command", 0},
        {{0x02, 8, 0x01, 0xFF, 0x00}, "byte 0xFF at offset 3", 3},
        {{0x03, 0x00, 0x00}, "the XSDR at offset 0 comes before any XSDRSIZE", 0},
        {{0x08, 0, 0, 0, 16, 0x09, 1, 2, 3}, "the XSDRTDO at offset 5 runs past the end", 5},
        {{0x02, 0, 0x00}, "the XSIR at offset 0 shifts no bits", 0},
        {{0x12, 16, 0x00}, "the XSTATE at offset 0 names state 16", 0},
        {{0x14, 2, 0x00}, "names state 2, outside 0 to 1", 0},
        {{0x16, 'a', 'b'}, "the XCOMMENT at offset 0 runs past", 0},
        {{0x00, 0x00}, "1 bytes follow the XCOMPLETE at offset 0", 0},
        // Two steps of XSDRINC need two data bytes after the mask of five ones.
        {{0x08, 0, 0, 0, 8, 0x0A, 0x01, 0x1F, 0x0B, 0x00, 2, 0xAA}, "the XSDRINC at offset 8 runs past", 8},
        // A text file: "<?xml..." starts with 0x3C.
        {{'<', '?', 'x'}, "byte 0x3C at offset 0", 0},
    };
    for (const Case& c : cases) {
        const XsvfCheck check = Check(c.bytes);
        EXPECT_FALSE(check.ok);
        EXPECT_NE(check.problem.find(c.problem), std::string::npos) << check.problem;
        EXPECT_EQ(check.offset, c.offset) << c.problem;
    }
    EXPECT_EQ(CheckXsvfFile("/nonexistent/design.xsvf").problem, "it cannot be read");
    // Our example programs pass.
    for (const char* name : {"demo-design.xsvf", "wrong-idcode.xsvf"}) {
        const XsvfCheck check = CheckXsvfFile(std::string(SPINDLE_SOURCE_DIR) + "/examples/" + name);
        EXPECT_TRUE(check.ok) << name << ": " << check.problem;
    }
}

TEST(FpgaProgramming, PlayerPathEstimateAndDataFolder) {
    EXPECT_EQ(FpgaPlayerPath("/opt/raptor"), "/opt/raptor/RaptorFPGA.hex");
    // With no application folder the player we build is found in the
    // program's data folder: the build tree's, for a test program.
    const std::string found = FpgaPlayerPath("");
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(found, SPINDLE_FPGA_PLAYER_HEX, error)) << found;
    EXPECT_EQ(EstimateFpgaSeconds(100000), 69);
    EXPECT_EQ(EstimateFpgaSeconds(1000), 10);
    EXPECT_EQ(EstimateFpgaSeconds(0), 10);
}

// A scripted device: answers each bulk read from the queue; a read with the
// queue empty delivers nothing, so the host keeps the last reply.
struct ScriptRig {
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    TempFolder folder;
    JobEntry entry;

    void Reply(std::initializer_list<std::uint16_t> values) {
        for (std::uint16_t v : values) {
            driver.QueueBulkReply({static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)});
        }
    }
    std::string File(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + 1);
        const std::string path = folder.File("design.xsvf");
        WriteWholeFile(path, bytes);
        return path;
    }
    XsvfStream Play(const std::string& path, XsvfPollLimits limits = {}) {
        return PlayXsvf(platform, 5, "", path, entry, limits);
    }
    // Every message the host sent, in order, with stream packets as their
    // header only ("33 len").
    std::vector<Bytes> Sent() const {
        std::vector<Bytes> sent;
        for (Bytes write : driver.BulkWrites()) {
            if (!write.empty() && write[0] == 0x33) write.resize(2);
            sent.push_back(write);
        }
        return sent;
    }
};

const Bytes kOpen{0x37, 0x00}, kAskSize{0x32}, kFull{0x36, 0x00}, kStart{0x0E}, kLow{0x36, 0x01};
Bytes Packet(std::uint8_t n) { return {0x33, static_cast<std::uint8_t>(n + 2)}; }

TEST(XsvfStreaming, PacketsOf62BytesEndWithTheEmptyPacketThatMeetsTheEnd) {
    ScriptRig rig;
    rig.Reply({8192, 62, 124, 0});
    const XsvfStream stream = rig.Play(rig.File(124));
    EXPECT_EQ(stream.returned, 1);
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(0)}));
    // The data went unchanged, on pipe 0; the replies came from pipe 3.
    const auto writes = rig.driver.BulkWrites();
    EXPECT_EQ(writes[2][2], 1);
    EXPECT_EQ(writes[3][2 + 61], static_cast<std::uint8_t>(123 * 13 + 1));
    for (const auto& request : rig.driver.Requests()) {
        if (request.IsBulkWrite() || request.IsBulkRead()) {
            EXPECT_EQ(request.Pipe(), request.IsBulkWrite() ? 0u : 3u);
        }
    }
    EXPECT_TRUE(stream.problems.empty());
    EXPECT_EQ(stream.bufferSize, 8192u);
    EXPECT_EQ(rig.entry.total.load(), 124u);
    EXPECT_EQ(rig.entry.done.load(), 124u);
    // Each write is followed by its 10 ms pause; the 10 s wait comes last.
    EXPECT_EQ(rig.clock.Sleeps().back(), kFpgaSettleMs);
    EXPECT_EQ(rig.driver.closedHandles.size(), 1u);

    ScriptRig empty;
    empty.Reply({8192, 0});
    EXPECT_EQ(empty.Play(empty.File(0)).returned, 1);
    EXPECT_EQ(empty.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(0)}));
}

TEST(XsvfStreaming, NearlyFullAndLowRepliesSendTheirMarks) {
    ScriptRig rig;
    // K = 4096: nearly full from 3976. Before the first fill 2048 sends
    // nothing; 3976 sends 0x36 0x00 and the single 0x0E; 2049 nothing, 2048
    // 0x36 0x01; a later near-full reply 0x36 0x00 alone.
    rig.Reply({4096, 2048, 3975, 3976, 2049, 2048, 4000, 0});
    const XsvfStream stream = rig.Play(rig.File(6 * 62));
    EXPECT_TRUE(stream.problems.empty());
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(62), kFull, kStart,
                                              Packet(62), Packet(62), kLow, Packet(62), kFull, Packet(0), kLow}));

    // K below 120 wraps the threshold: nothing ever counts as nearly full.
    ScriptRig small;
    small.Reply({100, 60000, 0});
    small.Play(small.File(62));
    EXPECT_EQ(small.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(0)}));
}

TEST(XsvfStreaming, TheHostPollsWhileTheDeviceIsBusyOrFull) {
    ScriptRig rig;
    // Nearly full; then busy, which counts as full too: polled until a
    // level below 10000 comes; then low.
    rig.Reply({8192, 8100, 0xFFFF, 0xFFFF, 500, 300});
    const XsvfStream stream = rig.Play(rig.File(124));
    EXPECT_TRUE(stream.problems.empty());
    EXPECT_EQ(rig.driver.BulkReadCount(), 6u);
    EXPECT_EQ(rig.Sent(),
              (std::vector<Bytes>{kOpen, kAskSize, Packet(62), kFull, kStart, Packet(62), kFull, Packet(0), kLow}));

    // With K below 120 a busy reply is not "full": the busy loop asks again.
    ScriptRig small;
    small.Reply({100, 0xFFFF, 0xFFFF, 7, 0});
    EXPECT_TRUE(small.Play(small.File(62)).problems.empty());
    EXPECT_EQ(small.driver.BulkReadCount(), 5u);
    EXPECT_EQ(small.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(0)}));
}

TEST(XsvfStreaming, AStreamTheDeviceEndsIsAFailureWithTheBytesItTook) {
    ScriptRig rig;
    rig.Reply({8192, 0xBEEF});
    const XsvfStream stream = rig.Play(rig.File(200));
    EXPECT_EQ(stream.returned, 1);
    EXPECT_TRUE(stream.endedEarly);
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62)}));
    ASSERT_EQ(stream.problems.size(), 1u);
    EXPECT_EQ(stream.problems[0], "the device ended the stream early, after taking 62 of the file's 200 bytes");
    // The bar is full and the 10 s wait follows, as for a whole stream.
    EXPECT_EQ(rig.entry.done.load(), 200u);
    EXPECT_EQ(rig.clock.Sleeps().back(), kFpgaSettleMs);

    // 0xBEEF while polling a full buffer ends it too.
    ScriptRig polling;
    polling.Reply({8192, 8100, 0xFFFF, 0xBEEF});
    EXPECT_TRUE(polling.Play(polling.File(200)).endedEarly);
    EXPECT_EQ(polling.Sent().size(), 7u);

    // The whole file sent, and the player's answer to the last packet is
    // its error: not a success either.
    ScriptRig atEnd;
    atEnd.Reply({8192, 62, 0xBEEF});
    const XsvfStream failed = atEnd.Play(atEnd.File(62));
    EXPECT_FALSE(failed.endedEarly);
    EXPECT_TRUE(failed.failedAtEnd);
    EXPECT_EQ(failed.problems.size(), 1u);

    // After a last packet with data, the empty packet's answer is the verdict.
    ScriptRig tail;
    tail.Reply({8192, 62, 77, 15, 0xFFFF, 0xFFFF, 0xBEEF});
    const XsvfStream late = tail.Play(tail.File(139));
    EXPECT_TRUE(late.failedAtEnd);
    EXPECT_EQ(tail.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(15), Packet(0)}));
    ASSERT_EQ(late.problems.size(), 1u);
    EXPECT_NE(late.problems[0].find("failed a check at the end"), std::string::npos);
    ScriptRig stopped;
    stopped.Reply({8192, 62});
    stopped.entry.stop.store(true);
    const XsvfStream asked = stopped.Play(stopped.File(139));
    EXPECT_EQ(stopped.Sent(), (std::vector<Bytes>{kOpen, kAskSize}));
    EXPECT_NE(asked.problems.at(0).find("stopped on request after 0 of the file's 139 bytes"), std::string::npos);
    ScriptRig good;
    good.Reply({8192, 62, 15, 0});
    EXPECT_TRUE(good.Play(good.File(139)).problems.empty());
    EXPECT_EQ(good.Sent().back(), Packet(0));
}

TEST(XsvfStreaming, PollingEndsAtItsBoundAndSaysTheDeviceStoppedAnswering) {
    // A device that answers "busy" for ever, on a clock that moves 50 ms per
    // read: the time bound ends it.
    ScriptRig rig;
    rig.Reply({8192, 0xFFFF});
    rig.driver.failWhen = [&rig](const ScriptedDriver::Request& request) {
        if (request.IsBulkRead()) rig.clock.Advance(50);
        return false;
    };
    const std::uint64_t before = rig.clock.NowMs();
    const XsvfStream stream = rig.Play(rig.File(200), {2000, 100000});
    EXPECT_TRUE(stream.stoppedAnswering);
    EXPECT_GE(rig.clock.NowMs() - before, 2000u);
    EXPECT_LT(rig.driver.BulkReadCount(), 50u);
    ASSERT_EQ(stream.problems.size(), 1u);
    EXPECT_EQ(stream.problems[0], "the device stopped answering after 62 of the file's 200 bytes had been sent");

    // A clock that stands still: the replies in a row without it moving end it.
    ScriptRig still;
    still.Reply({8192, 8100, 0xFFFF});
    const XsvfStream full = still.Play(still.File(200), {2000, 300});
    EXPECT_TRUE(full.stoppedAnswering);
    EXPECT_EQ(still.driver.BulkReadCount(), 3u + 300u);
}

TEST(XsvfStreaming, FailuresOfEveryTransferShowOneWarningAndAreReported) {
    ScriptRig rig;
    rig.driver.failWhen = [](const ScriptedDriver::Request& request) {
        return request.IsBulkWrite() || request.IsBulkRead();
    };
    const XsvfStream stream = rig.Play(rig.File(620));
    EXPECT_EQ(stream.packets, 11u);
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{"BULK_OUT failed."}));
    ASSERT_EQ(stream.problems.size(), 1u);
    EXPECT_EQ(stream.problems[0], "13 of the stream's USB writes and 12 of its reads failed (11 packets sent)");
}

TEST(XsvfStreaming, NothingIsStreamedWithoutAFileOrADevice) {
    ScriptRig rig;
    rig.Reply({8192});
    const XsvfStream stream = rig.Play(rig.folder.File("missing.xsvf"));
    EXPECT_EQ(stream.returned, 0);
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{"Could not open XSVF File.\n"}));
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize}));
    EXPECT_EQ(rig.driver.closedHandles.size(), 1u);
    EXPECT_FALSE(stream.problems.empty());

    ScriptRig unplugged;
    unplugged.driver.unopenablePaths.insert("\\\\.\\Ezusb-5");
    const XsvfStream none = unplugged.Play(unplugged.File(62));
    EXPECT_FALSE(none.deviceOpened);
    EXPECT_TRUE(unplugged.driver.BulkWrites().empty());
    EXPECT_EQ(none.problems, (std::vector<std::string>{"device 5 could not be opened, so nothing was sent"}));
}

TEST(FpgaProgramming, AJobWhosePlayerCannotBeLoadedSendsNothing) {
    ScriptRig rig;
    const JobResult missing = ProgramFpga(rig.platform, {5, rig.folder.File("RaptorFPGA.hex"), rig.File(62), {}}, rig.entry);
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(rig.driver.BulkWrites().empty());
    EXPECT_TRUE(rig.clock.Sleeps().empty()) << "no 5 s wait for a player that is not there";
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_NE(missing.problems[0].find("could not be loaded, so nothing was sent"), std::string::npos);
    // The box is kept in the result, not shown by the worker.
    EXPECT_TRUE(rig.ui.Messages().empty());
    ASSERT_FALSE(missing.outcome.messages.empty());
    EXPECT_EQ(missing.outcome.messages.back().text, "Unable to open RaptorFPGA File");

    ScriptRig unplugged;
    unplugged.driver.unopenablePaths.insert("\\\\.\\Ezusb-5");
    const JobResult none = ProgramFpga(unplugged.platform, {5, SPINDLE_FPGA_PLAYER_HEX, unplugged.File(62), {}},
                                       unplugged.entry);
    EXPECT_FALSE(none.ok);
    EXPECT_TRUE(unplugged.driver.Requests().empty()) << "no download to the anchor's previous device";
}

// The whole job on the demo bench: the player downloaded into the FX2, the
// XSVF file played by it into the device's JTAG chain.
struct FpgaBenchRig {
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    JobEntry entry;
    FpgaBenchRig() { bench->SetClock(&clock); }

    JobResult Program(std::uint32_t index, const char* example) {
        return ProgramFpga(platform,
                           {index, SPINDLE_FPGA_PLAYER_HEX, std::string(SPINDLE_SOURCE_DIR) + "/examples/" + example, {}},
                           entry);
    }
};

TEST(FpgaProgramming, TheDemoDesignConfiguresTheChainAndAWrongIdcodeEndsTheStreamEarly) {
    FpgaBenchRig rig;
    const JobResult result = rig.Program(6, "demo-design.xsvf");
    EXPECT_TRUE(result.ok) << (result.problems.empty() ? "" : result.problems[0]);
    const auto chain = rig.bench->Device(6)->JtagState();
    ASSERT_TRUE(chain);
    EXPECT_TRUE(chain->configured);
    EXPECT_EQ(result.bytesWritten, std::filesystem::file_size(std::string(SPINDLE_SOURCE_DIR) + "/examples/demo-design.xsvf"));
    const auto sleeps = rig.clock.Sleeps();
    EXPECT_EQ(sleeps.back(), kFpgaSettleMs);
    EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), kFpgaPlayerStartMs), sleeps.end());
    EXPECT_TRUE(rig.ui.Messages().empty());

    const JobResult wrong = rig.Program(7, "wrong-idcode.xsvf");
    EXPECT_FALSE(wrong.ok);
    ASSERT_FALSE(wrong.problems.empty());
    EXPECT_NE(wrong.problems[0].find("the device ended the stream early, after taking"), std::string::npos);
    EXPECT_FALSE(rig.bench->Device(7)->JtagState()->configured);
}

}  // namespace
}  // namespace spindle::test
