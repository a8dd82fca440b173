#include "protocol/InstrumentProtocol.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScriptedDriver;

class SpecProtocolTest : public ::testing::Test {
protected:
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    test::ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CSpecProtocol protocol{platform};
    DeviceHandle handle = 0x42;

    // A 17-byte slot reply: two leading bytes, then the value text padded
    // with `fill`.
    static Bytes SlotReply(const std::string& text, std::uint8_t fill = 0) {
        Bytes reply(17, fill);
        reply[0] = 0xAA;
        reply[1] = 0xBB;
        std::memcpy(&reply[2], text.data(), std::min<std::size_t>(text.size(), 15));
        return reply;
    }
    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const auto& m : ui.Messages()) titles.push_back(m.title);
        return titles;
    }
};

// --- Slots ------------------------------------------------------------------

TEST_F(SpecProtocolTest, QueryInfoSlotSendsRequestAndDeliversValuePlusThreeZeros) {
    // A reply with no terminator of its own: the last three delivered bytes
    // must still be zero.
    driver.QueueBulkReply(SlotReply("ABCDEFGHIJKLMNO"));
    SlotReadValue value;
    value.fill('x');
    ASSERT_TRUE(protocol.QueryInfoSlot(handle, 7, value));

    const auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].IsBulkWrite());
    EXPECT_EQ(requests[0].Pipe(), 0u);
    EXPECT_EQ(requests[0].data, (Bytes{0x05, 7, 0x01}));
    EXPECT_TRUE(requests[1].IsBulkRead());
    EXPECT_EQ(requests[1].Pipe(), 3u);
    EXPECT_EQ(requests[1].outLength, 17u);

    EXPECT_EQ(std::string(value.data(), 15), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(value[15], '\0');
    EXPECT_EQ(value[16], '\0');
    EXPECT_EQ(value[17], '\0');
    EXPECT_EQ(SlotText(value), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));
}

TEST_F(SpecProtocolTest, QueryAccessorySlotUsesOpcode0x23) {
    driver.QueueBulkReply(SlotReply("L123"));
    SlotReadValue value{};
    ASSERT_TRUE(protocol.QueryAccessorySlot(handle, 0, value));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x23, 0, 0x01}}));
    EXPECT_EQ(SlotText(value), "L123");
}

TEST_F(SpecProtocolTest, FailedSlotReadLeavesZerosNotStaleBytesAndIsQuiet) {
    // The caller's buffer holds another slot's value from before.
    driver.QueueBulkReply(SlotReply("OLD-SERIAL"));
    SlotReadValue value{};
    ASSERT_TRUE(protocol.QueryInfoSlot(handle, 0, value));
    ASSERT_EQ(SlotText(value), "OLD-SERIAL");

    driver.FailNext(ioctl::kBulkRead);
    EXPECT_FALSE(protocol.QueryInfoSlot(handle, 1, value));
    EXPECT_EQ(value, SlotReadValue{});

    value.fill('y');
    driver.FailNext(ioctl::kBulkWrite);
    EXPECT_FALSE(protocol.QueryAccessorySlot(handle, 1, value));
    EXPECT_EQ(value, SlotReadValue{});
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(SpecProtocolTest, SlotReadShortReplyDoesNotExposeEarlierBytes) {
    // The device answers only 5 bytes: the rest must read as zeros.
    driver.QueueBulkReply(SlotReply("LONG-VALUE-TEXT"));
    SlotReadValue value{};
    ASSERT_TRUE(protocol.QueryInfoSlot(handle, 0, value));
    driver.QueueBulkReply({0xAA, 0xBB, 'a', 'b', 'c'});
    ASSERT_TRUE(protocol.QueryInfoSlot(handle, 1, value));
    EXPECT_EQ(SlotText(value), "abc");
}

TEST_F(SpecProtocolTest, WriteInfoSlotSendsFifteenCharactersWithoutTerminatorThenPauses) {
    SlotWriteValue value;
    std::memcpy(value.data(), "123456789012345Z", 16);  // 16th byte must not be sent
    ASSERT_TRUE(protocol.WriteInfoSlot(handle, 4, value));

    Bytes expected{0x06, 4};
    for (char c : std::string("123456789012345")) expected.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{expected}));
    EXPECT_EQ(driver.BulkReadCount(), 0u);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10, 200}));
}

TEST_F(SpecProtocolTest, WriteAccessorySlotOfShortAndLongTexts) {
    ASSERT_TRUE(protocol.WriteAccessorySlot(handle, 1, MakeSlotWriteValue("1.5e+00")));
    ASSERT_TRUE(protocol.WriteAccessorySlot(handle, 2, MakeSlotWriteValue("ABCDEFGHIJKLMNOPQRSTUVWXYZ")));
    const auto writes = driver.BulkWrites();
    ASSERT_EQ(writes.size(), 2u);
    Bytes first{0x24, 1, '1', '.', '5', 'e', '+', '0', '0'};
    first.resize(17, 0);
    EXPECT_EQ(writes[0], first);
    Bytes second{0x24, 2};
    for (char c : std::string("ABCDEFGHIJKLMNO")) second.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(writes[1], second);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10, 200, 10, 200}));
}

TEST_F(SpecProtocolTest, FailedSlotWriteIsQuietAndSkipsThePause) {
    driver.FailNext(ioctl::kBulkWrite);
    EXPECT_FALSE(protocol.WriteInfoSlot(handle, 3, MakeSlotWriteValue("x")));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(SpecProtocolTest, CommitAccessorySlotsPausesAfterSuccessAndWarnsOnFailure) {
    ASSERT_TRUE(protocol.CommitAccessorySlots(handle));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x27, 0x00}}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10, 3500}));

    clock.ClearSleeps();
    driver.FailNext(ioctl::kBulkWrite);
    EXPECT_FALSE(protocol.CommitAccessorySlots(handle));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"BULK_OUT failed."}));
    EXPECT_EQ(Titles(), (std::vector<std::string>{"USB Warning!"}));
}

TEST_F(SpecProtocolTest, QueryAccessoryInfoReportsLanternOnlyForTwo) {
    driver.QueueBulkReply({2, 9, 9, 9, 9, 9, 9});
    AccessoryInfo info{};
    ASSERT_TRUE(protocol.QueryAccessoryInfo(handle, info));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x0C, 0x00}}));
    EXPECT_EQ(driver.BulkReadLengths(), (std::vector<std::uint32_t>{7}));
    EXPECT_TRUE(IsLanternAttached(info));

    for (std::uint8_t other : {0, 1, 3, 0x82, 0xFF}) {
        info.fill(0);
        info[0] = other;
        EXPECT_FALSE(IsLanternAttached(info)) << int(other);
    }
}

// --- FPGA and versions ---------------------------------------------------------

TEST_F(SpecProtocolTest, ReadFpgaRegisterStoresByIndex) {
    FpgaRegisters registers;
    driver.QueueBulkReply({0xEE, 0x34, 0x12});
    driver.QueueBulkReply({0xEE, 0x02, 0x01});
    driver.QueueBulkReply({0xEE, 0xCD, 0xAB});
    driver.QueueBulkReply({0xEE, 0x01, 0x00});
    ASSERT_TRUE(protocol.ReadFpgaRegister(handle, registers, 0));
    ASSERT_TRUE(protocol.ReadFpgaRegister(handle, registers, 1));
    ASSERT_TRUE(protocol.ReadFpgaRegister(handle, registers, 5));
    ASSERT_TRUE(protocol.ReadFpgaRegister(handle, registers, 29));

    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x6B, 0x00}, {0x6B, 0x04}, {0x6B, 0x14}, {0x6B, 0x90}}));
    EXPECT_EQ(driver.BulkReadLengths(), (std::vector<std::uint32_t>{3, 3, 3, 3}));
    EXPECT_EQ(registers.register0, 0x1234u);
    EXPECT_STREQ(registers.versionText.data(), "0.10.2");
    EXPECT_EQ(registers.values[3], 0xABCDu);
    EXPECT_EQ(registers.values[27], 1u);
}

TEST_F(SpecProtocolTest, ReadPsocVersionSendsBothRequestsAndReadsBigEndian) {
    driver.QueueBulkReply({0x01, 0x02, 0x00});
    std::string text;
    ASSERT_TRUE(protocol.ReadPsocVersion(handle, text));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x69, 0x10, 0x02, 0x01, 0x03}, {0x68}}));
    EXPECT_EQ(driver.BulkReadLengths(), (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(text, "0.10.2");
}

TEST_F(SpecProtocolTest, ReadCondorPsocVersionUsesTheSecondReply) {
    driver.QueueBulkReply({0x99, 0x99, 0, 0});
    driver.QueueBulkReply({0x21, 0x03, 0, 0});
    std::string text;
    ASSERT_TRUE(protocol.ReadCondorPsocVersion(handle, text));
    const Bytes request{0x68, 0x41, 0, 0, 0};
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{request, request}));
    EXPECT_EQ(driver.BulkReadLengths(), (std::vector<std::uint32_t>{4, 4}));
    EXPECT_EQ(text, "2.10.3");

    // A failure of the second exchange fails the command.
    driver.Clear();
    driver.QueueBulkReply({0x99, 0x99, 0, 0});
    driver.FailRequest(3);
    text = "keep";
    EXPECT_FALSE(protocol.ReadCondorPsocVersion(handle, text));
    EXPECT_EQ(text, "keep");
}

TEST_F(SpecProtocolTest, ReadFirmwareVersionTextReadsStringOneAndClearsOnFailure) {
    driver.stringDescriptors[1] = "2.41.7";
    std::string text = "stale";
    ASSERT_TRUE(protocol.ReadFirmwareVersionText(handle, text));
    EXPECT_EQ(text, "2.41.7");
    ASSERT_EQ(driver.Requests().size(), 1u);
    EXPECT_EQ(driver.Requests()[0].code, ioctl::kGetStringDescriptor);
    EXPECT_EQ(driver.Requests()[0].in[0], 1);

    driver.stringDescriptors.clear();
    EXPECT_FALSE(protocol.ReadFirmwareVersionText(handle, text));
    EXPECT_EQ(text, "");
}

// --- PSOC, TEC and board temperature ----------------------------------------------

TEST_F(SpecProtocolTest, BoardTemperatureNeedsTag0x08) {
    driver.QueueBulkReply({0x08, 0x00, 0x19});  // 0x1900 = 6400 counts
    float celsius = -1.0f;
    ASSERT_TRUE(protocol.ReadBoardTemperature(handle, celsius));
    EXPECT_EQ(driver.BulkWrites(), (std::vector<Bytes>{{0x6C}}));
    EXPECT_EQ(driver.BulkReadLengths(), (std::vector<std::uint32_t>{3}));
    EXPECT_FLOAT_EQ(celsius, 6400.0f * 0.003906f);

    driver.QueueBulkReply({0x07, 0x00, 0x19});
    celsius = -1.0f;
    EXPECT_FALSE(protocol.ReadBoardTemperature(handle, celsius));
    EXPECT_EQ(celsius, -1.0f);
    EXPECT_TRUE(ui.Messages().empty());

    // High counts are unsigned.
    driver.QueueBulkReply({0x08, 0xFF, 0xFF});
    ASSERT_TRUE(protocol.ReadBoardTemperature(handle, celsius));
    EXPECT_FLOAT_EQ(celsius, 65535.0f * 0.003906f);
}

TEST_F(SpecProtocolTest, SetTecControlSelectors) {
    ASSERT_TRUE(protocol.SetTecControl(handle, 0, 0xFFCE));
    ASSERT_TRUE(protocol.SetTecControl(handle, 1, 0x0101));
    ASSERT_TRUE(protocol.SetTecControl(handle, 2, 0x0000));
    EXPECT_EQ(driver.BulkWrites(),
              (std::vector<Bytes>{{0x3E, 0x00, 0xFF, 0xCE, 0x00, 0x00}, {0x0B, 0x01}, {0x0D, 0x00}}));

    driver.Clear();
    EXPECT_TRUE(protocol.SetTecControl(handle, 3, 1));
    EXPECT_TRUE(protocol.SetTecControl(handle, -1, 1));
    EXPECT_TRUE(driver.Requests().empty());
}

// --- Lantern ----------------------------------------------------------------------

TEST_F(SpecProtocolTest, AccessoryTemperatureRetriesInGroupsOfThree) {
    driver.QueueBulkReply({0xFF, 0xFF, 0x34, 0x12});  // low half all ones: invalid
    driver.QueueBulkReply({0x10, 0, 0, 0});             // inside a group: not judged
    driver.QueueBulkReply({0x11, 0, 0, 0});
    driver.QueueBulkReply({0, 0, 0, 0});                // last of the group: 0, invalid
    driver.QueueBulkReply({0xFF, 0xFF, 0, 0});
    driver.QueueBulkReply({0xFF, 0xFF, 0xFF, 0xFF});
    driver.QueueBulkReply({0x00, 0x80, 0, 0});          // valid
    EXPECT_EQ(protocol.ReadAccessoryTemperature(handle), 0x8000u);
    EXPECT_EQ(driver.BulkWrites().size(), 7u);
    EXPECT_EQ(driver.PendingReplies(), 0u);
    std::vector<std::uint32_t> expected{10};
    for (int i = 0; i < 6; ++i) {
        expected.push_back(150);
        expected.push_back(10);
    }
    EXPECT_EQ(clock.Sleeps(), expected);
}

TEST_F(SpecProtocolTest, AccessoryTemperatureGivesUpAfterTheBound) {
    // No reply queued: every read delivers nothing, the buffer stays 0.
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(protocol.ReadAccessoryTemperature(handle), 0u);
    const int groups = CSpecProtocol::kTemperatureRetryGroups;
    EXPECT_EQ(driver.BulkWrites().size(), static_cast<std::size_t>(1 + 3 * groups));
    EXPECT_EQ(clock.NowMs() - start, static_cast<std::uint64_t>(10 + 3 * groups * 160));
    EXPECT_LE(clock.NowMs() - start, 10000u);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(SpecProtocolTest, AverageAccessoryTemperatureUsesStoredLine) {
    driver.QueueBulkReply(SlotReply("2.5e-01"));
    driver.QueueBulkReply(SlotReply("-1.0e+01xyz"));  // parsed as atof does
    driver.QueueBulkReply({100, 0, 0, 0});
    driver.QueueBulkReply({200, 0, 0, 0});
    float average = 0;
    ASSERT_TRUE(protocol.AverageAccessoryTemperature(handle, 2, average));
    // (100 * 0.25 - 10 + 200 * 0.25 - 10) / 2
    EXPECT_FLOAT_EQ(average, 27.5f);
    const auto writes = driver.BulkWrites();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], (Bytes{0x23, 1, 0x01}));
    EXPECT_EQ(writes[1], (Bytes{0x23, 2, 0x01}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10, 10, 10, 150, 10, 150}));
}

// --- Handles and descriptors ---------------------------------------------------------

TEST_F(SpecProtocolTest, NullHandleGivesFalseWithoutTransfer) {
    const DeviceHandle null = kNullHandle;
    SlotReadValue value;
    value.fill('s');
    FpgaRegisters registers;
    AccessoryInfo info{};
    std::string text;
    std::uint16_t u16 = 0;
    float f = 0;
    PsocRegisterBuffer psoc{};
    TecStatus status{};
    EXPECT_FALSE(protocol.QueryInfoSlot(null, 0, value));
    EXPECT_EQ(value, SlotReadValue{});
    EXPECT_FALSE(protocol.QueryAccessorySlot(null, 0, value));
    EXPECT_FALSE(protocol.WriteInfoSlot(null, 0, MakeSlotWriteValue("a")));
    EXPECT_FALSE(protocol.WriteAccessorySlot(null, 0, MakeSlotWriteValue("a")));
    EXPECT_FALSE(protocol.CommitAccessorySlots(null));
    EXPECT_FALSE(protocol.QueryAccessoryInfo(null, info));
    EXPECT_FALSE(protocol.ReadFpgaRegister(null, registers, 0));
    EXPECT_FALSE(protocol.ReadPsocVersion(null, text));
    EXPECT_FALSE(protocol.ReadCondorPsocVersion(null, text));
    EXPECT_FALSE(protocol.ReadFirmwareVersionText(null, text));
    EXPECT_FALSE(protocol.ReadPsocAdc(null, u16));
    EXPECT_FALSE(protocol.WritePsocDac(null, 1));
    EXPECT_FALSE(protocol.ReadBoardTemperature(null, f));
    EXPECT_FALSE(protocol.ReadPsocRegister(null, psoc));
    EXPECT_FALSE(protocol.WritePsocRegister(null, 1, 1));
    EXPECT_FALSE(protocol.ReadTecStatus(null, status));
    EXPECT_FALSE(protocol.SetTecControl(null, 0, 1));
    EXPECT_EQ(protocol.ReadAccessoryTemperature(null), 0u);
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_TRUE(ui.Messages().empty());
}

}  // namespace
}  // namespace spindle
