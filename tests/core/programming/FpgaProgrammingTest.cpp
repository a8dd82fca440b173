// The host side of an FPGA job: the XSVF check, and the stream's messages and
// flow control against a scripted device.
#include <gtest/gtest.h>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "programming/FpgaProgramming.h"
#include "programming/XsvfFile.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

XsvfCheck Check(const Bytes& bytes) { return CheckXsvf(bytes.data(), bytes.size()); }

TEST(XsvfFile, FilesThatAreNotXsvfAreRefusedWithWhereAndWhy) {
    const std::pair<Bytes, const char*> refused[] = {
        {{}, "it is empty"},
        {{0x08, 0, 0, 0, 8, 0x03, 0x01}, "does not end with XCOMPLETE"},
        {{0x05, 0x00}, "byte 0x05 at offset 0 is not an XSVF command"},
        {{0x03, 0x00, 0x00}, "the XSDR at offset 0 comes before any XSDRSIZE"},
        {{0x08, 0, 0, 0, 16, 0x09, 1, 2, 3}, "the XSDRTDO at offset 5 runs past the end"},
        {{0x00, 0x00}, "1 bytes follow the XCOMPLETE at offset 0"},
        // Two steps of XSDRINC need two data bytes after the mask of five ones.
        {{0x08, 0, 0, 0, 8, 0x0A, 0x01, 0x1F, 0x0B, 0x00, 2, 0xAA}, "the XSDRINC at offset 8 runs past"},
    };
    for (const auto& [bytes, problem] : refused) {
        const XsvfCheck bad = Check(bytes);
        EXPECT_FALSE(bad.ok);
        EXPECT_NE(bad.problem.find(problem), std::string::npos) << bad.problem;
    }
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
        return PlayXsvf(platform, 5, path, ReadWholeFile(path), entry, limits);
    }
    // Every message the host sent, in order, stream packets by their header ("33 len").
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
    EXPECT_TRUE(stream.outcome.Ok());
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(0)}));
    // The data went unchanged, on pipe 0; the replies came from pipe 3.
    EXPECT_EQ(rig.driver.BulkWrites()[3][2 + 61], static_cast<std::uint8_t>(123 * 13 + 1));
    for (const auto& request : rig.driver.Requests()) {
        if (request.IsBulkWrite() || request.IsBulkRead()) EXPECT_EQ(request.Pipe(), request.IsBulkWrite() ? 0u : 3u);
    }
    EXPECT_EQ(rig.entry.progress.Now().done, 124u);
    EXPECT_EQ(rig.clock.Sleeps().back(), kFpgaSettleMs);
}

TEST(XsvfStreaming, NearlyFullLowAndBusyRepliesSendTheirMarksAndArePolled) {
    ScriptRig rig;
    // K = 4096: nearly full from 3976. Before the first fill 2048 sends
    // nothing; 3976 sends 0x36 0x00 and the single 0x0E; 2049 nothing, 2048
    // 0x36 0x01; a later near-full reply 0x36 0x00 alone.
    rig.Reply({4096, 2048, 3975, 3976, 2049, 2048, 4000, 0});
    EXPECT_TRUE(rig.Play(rig.File(6 * 62)).outcome.Ok());
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(62), kFull, kStart,
                                              Packet(62), Packet(62), kLow, Packet(62), kFull, Packet(0), kLow}));
    // Nearly full; then busy, which counts as full too: polled until a
    // level below 10000 comes.
    ScriptRig busy;
    busy.Reply({8192, 8100, 0xFFFF, 0xFFFF, 500, 300});
    EXPECT_TRUE(busy.Play(busy.File(124)).outcome.Ok());
    EXPECT_EQ(busy.driver.BulkReadCount(), 6u);
    // K below 120 wraps the threshold: nothing ever counts as nearly full.
    ScriptRig small;
    small.Reply({100, 60000, 0});
    small.Play(small.File(62));
    EXPECT_EQ(small.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(0)}));
}

TEST(XsvfStreaming, AStreamTheDeviceEndsOrTheJobStopsIsAFailureWithTheBytesSent) {
    ScriptRig rig;
    rig.Reply({8192, 0xBEEF});
    const XsvfStream stream = rig.Play(rig.File(200));
    EXPECT_TRUE(stream.endedEarly);
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62)}));
    EXPECT_EQ(stream.outcome.failed, std::vector<std::string>{"the device ended the stream early, after taking 62 of the file's 200 bytes"});
    // The bar is full and the 10 s wait follows, as for a whole stream.
    EXPECT_EQ(rig.entry.progress.Now().done, 200u);
    EXPECT_EQ(rig.clock.Sleeps().back(), kFpgaSettleMs);

    // After a last packet with data, the empty packet's answer is the verdict.
    ScriptRig tail;
    tail.Reply({8192, 62, 77, 15, 0xFFFF, 0xFFFF, 0xBEEF});
    const XsvfStream late = tail.Play(tail.File(139));
    EXPECT_TRUE(late.failedAtEnd);
    EXPECT_EQ(tail.Sent(), (std::vector<Bytes>{kOpen, kAskSize, Packet(62), Packet(62), Packet(15), Packet(0)}));
    EXPECT_NE(late.outcome.failed.at(0).find("failed a check at the end"), std::string::npos);

    ScriptRig stopped;
    stopped.Reply({8192, 62});
    stopped.entry.stop.store(true);
    const XsvfStream asked = stopped.Play(stopped.File(139));
    EXPECT_EQ(stopped.Sent(), (std::vector<Bytes>{kOpen, kAskSize}));
    EXPECT_NE(asked.outcome.failed.at(0).find("stopped on request after 0 of the file's 139 bytes"), std::string::npos);
}

}  // namespace
}  // namespace spindle::test
