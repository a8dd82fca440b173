#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StoredValuesDevice.h"
#include "protocol/StoredValues.h"

namespace spindle {
namespace {

using test::SlotBench;
constexpr auto kRead = TransferDirection::Read;
constexpr auto kWrite = TransferDirection::Write;

std::vector<int> WrittenSlots(const test::SlotDevice& device) {
    std::vector<int> slots;
    for (const auto& w : device.slotWrites) slots.push_back(w.slot);
    return slots;
}
std::vector<int> Range(int first, int last, std::vector<int> then = {}) {
    std::vector<int> r;
    for (int i = first; i <= last; ++i) r.push_back(i);
    r.insert(r.end(), then.begin(), then.end());
    return r;
}

class StoredValuesTransferTest : public ::testing::Test {
protected:
    SlotBench bench;
    void SetUp() override {
        bench.device.stringDescriptors[1] = "2.01.7";
        bench.device.slots = {{0, "SN-0042"}, {1, "345.123456"}, {2, "0.381234"}, {5, "1.5e-3"},
                              {14, "7"}, {15, "CONFIG-A"}, {16, "CONFIG-B"}};
    }
};

TEST_F(StoredValuesTransferTest, SaveWritesSlotsInOrderAndKeepsTheInstrumentsOrder) {
    CStoredValues get(bench.platform, 2);
    ASSERT_TRUE(get.TransferCommon(bench.protocol, bench.handle, kRead).Ok());
    CValueList list;
    get.FillCommonRows(list);
    EXPECT_EQ(list.GetText(0, 1), "2.01.7");
    list.SetText(15, 1, "3");                       // order edits do not reach the instrument
    list.SetText(16, 1, std::string(300, 'Q'));     // nor more than 15 characters of a text

    bench.clock.ClearSleeps();
    CStoredValues save(bench.platform, 2);
    save.TransferCommon(bench.protocol, bench.handle, kRead);
    save.ParseCommonRows(list);
    EXPECT_TRUE(save.TransferCommon(bench.protocol, bench.handle, kWrite).Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 16));
    EXPECT_EQ(bench.device.Text(1), "345.123456");  // unedited: not rounded to the list digits
    EXPECT_EQ(bench.device.Text(2), "0.381234");
    EXPECT_EQ(bench.device.Text(5), "1.5e-3");        // unedited: byte for byte as the instrument held it
    EXPECT_EQ(bench.device.Text(14), "7");
    EXPECT_EQ(bench.device.slots[15], std::string(15, 'Q'));
    const auto sleeps = bench.clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 200u), 17);
}

TEST_F(StoredValuesTransferTest, FailedReadsLeaveNothingOfEarlierReadsAndAreReported) {
    CStoredValues values(bench.platform, 2);
    ASSERT_TRUE(values.TransferCommon(bench.protocol, bench.handle, kRead).Ok());
    bench.device.failSlotReads = {0, 5, 15};
    bench.device.stringDescriptors.clear();
    const TransferResult result = values.TransferCommon(bench.protocol, bench.handle, kRead);
    EXPECT_EQ(result.failedSlots, (std::vector<int>{0, 5, 15}));
    EXPECT_TRUE(result.firmwareVersionFailed);
    EXPECT_EQ(values.FirmwareVersion(), "");
    const RawSlots& read = values.SlotsAsRead();
    EXPECT_EQ(read.count(0) + read.count(5) + read.count(15), 0u);
    ASSERT_EQ(read.count(16), 1u);  // the rest is still read
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(read.at(16).data())), "CONFIG-B");
}

TEST_F(StoredValuesTransferTest, FailedWritesAreReportedAndTheRestStillWritten) {
    CStoredValues values(bench.platform, 2);
    values.TransferCommon(bench.protocol, bench.handle, kRead);
    bench.device.failSlotWrites = {3, 16};
    EXPECT_EQ(values.TransferCommon(bench.protocol, bench.handle, kWrite).failedSlots, (std::vector<int>{3, 16}));
    std::vector<int> expected = Range(0, 15);
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(WrittenSlots(bench.device), expected);
}

TEST_F(StoredValuesTransferTest, BaudRateAndAutoNullingRoundTrip) {
    bench.device.slots[17] = std::string("\x01\x02\x46\x00\x60\xEA\x55", 7);
    bench.device.slots[18] = std::string("\x00\xE1\x77", 3);
    CStoredValues get(bench.platform, 15);
    ASSERT_TRUE(get.TransferExtra(bench.protocol, bench.handle, kRead).Ok());
    CValueList list;
    get.FillCommonRows(list);
    get.FillExtraRows(list);
    EXPECT_EQ(list.GetText(19, 1), "-7936");
    CAutoNullingInfo frameCopy;
    get.GetAutoNulling(frameCopy);
    frameCopy.autoNullingMode = 3;

    CStoredValues save(bench.platform, 15);
    save.SetAutoNulling(frameCopy);
    save.TransferExtra(bench.protocol, bench.handle, kRead);
    save.ParseExtraRows(list);
    EXPECT_TRUE(save.TransferExtra(bench.protocol, bench.handle, kWrite).Ok());
    EXPECT_EQ(bench.device.slots[17].substr(0, 7), std::string("\x03\x02\x46\x00\x60\xEA\x55", 7));
    EXPECT_EQ(bench.device.slots[18].substr(0, 3), std::string("\x00\xE1\x77", 3));
}

TEST_F(StoredValuesTransferTest, HeronWritesSlot44LastAndMerlinKeepsSlot13) {
    bench.device.slots[44] = "CPLD-2";
    bench.device.slots[13] = "4.250000e+00";
    CStoredValues heron(bench.platform, 3);
    ASSERT_TRUE(heron.TransferHeron(bench.protocol, bench.handle, kRead).Ok());
    CValueList list;
    heron.FillHeronRows(list);
    EXPECT_EQ(list.GetText(35, 1), "CPLD-2");
    CStoredValues save(bench.platform, 3);
    save.ParseHeronRows(list);
    EXPECT_TRUE(save.TransferHeron(bench.protocol, bench.handle, kWrite).Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 33, {44}));

    bench.device.slotWrites.clear();
    CStoredValues merlin(bench.platform, 8);
    merlin.TransferMerlin(bench.protocol, bench.handle, kRead);
    list.Clear();
    merlin.FillMerlinRows(list);
    merlin.ParseMerlinRows(list);
    EXPECT_TRUE(merlin.TransferMerlin(bench.protocol, bench.handle, kWrite).Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 14));
    // Slot 13 is not shown: it goes back exactly as the Heron write left it.
    EXPECT_EQ(bench.device.Text(13), "4.2500000e+00");
}

TEST_F(StoredValuesTransferTest, LanternSaveKeepsTheSlopeAndCommits) {
    bench.device.accessorySlots = {{0, "LAN-3"}, {1, "0.0625"}, {2, "-40.5"}};
    CStoredValues values(bench.platform, 5);
    ASSERT_TRUE(values.TransferLantern(bench.protocol, bench.handle, kRead).Ok());
    CValueList list;
    values.FillLanternRows(list);
    list.SetText(1, 1, "-41");
    values.ParseLanternRows(list);
    EXPECT_TRUE(values.TransferLantern(bench.protocol, bench.handle, kWrite).Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 18));
    EXPECT_TRUE(bench.device.slotWrites.front().accessory);
    // The slope is not shown and goes back byte for byte; the edited row is encoded.
    EXPECT_EQ(std::string(bench.device.accessorySlots[1].c_str()), "0.0625");
    EXPECT_EQ(std::string(bench.device.accessorySlots[2].c_str()), "-4.100000e+01");
    EXPECT_EQ(bench.device.commits, 1);
    EXPECT_EQ(bench.clock.Sleeps().back(), 3500u);
}

TEST_F(StoredValuesTransferTest, FpgaReadsStopPerFamilyWithThePsocVersion) {
    for (const auto& [family, last] : {std::pair{10, 23}, std::pair{11, 24}, std::pair{14, 26}, std::pair{15, 28}}) {
        SlotBench b;
        b.device.psocVersion = 0x0213;
        b.device.fpgaRegisters[0x08] = 0x1234;
        b.device.failFpgaAddresses = {0x0C};
        CStoredValues values(b.platform, family);
        values.Fpga().values[1] = 0xDEAD;  // a failed read must not show this
        const TransferResult result = values.ReadFpgaRegisters(b.protocol, b.handle);
        std::vector<int> expected;
        for (int i = 0; i <= last; ++i) expected.push_back(kFpgaRegisterAddresses[i]);
        EXPECT_EQ(b.device.fpgaAddressesRead, expected) << family;
        EXPECT_EQ(result.failedFpgaIndexes, std::vector<int>{3});
        EXPECT_EQ(values.Fpga().values[0], 0x1234u);
        EXPECT_EQ(values.Fpga().values[1], 0u);
        EXPECT_EQ(values.PsocVersion(), family <= 11 ? "0.21.3" : "") << family;
        // Only the Falcon reads its PSOC twice, a second apart: after 24
        // register requests and the first PSOC request's two writes.
        const auto sleeps = b.clock.Sleeps();
        const auto pause = std::find(sleeps.begin(), sleeps.end(), 1000u);
        EXPECT_EQ(pause == sleeps.end() ? -1 : pause - sleeps.begin(), family == 10 ? 26 : -1);
    }
}

}  // namespace
}  // namespace spindle
