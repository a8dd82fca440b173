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
    // with zeros.
    static Bytes SlotReply(const std::string& text) {
        Bytes reply(17, 0);
        reply[0] = 0xAA;
        reply[1] = 0xBB;
        std::memcpy(&reply[2], text.data(), std::min<std::size_t>(text.size(), 15));
        return reply;
    }
};

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

}  // namespace
}  // namespace spindle
