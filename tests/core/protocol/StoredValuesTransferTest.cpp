#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/StoredValues.h"
#include "StoredValuesDevice.h"

namespace spindle {
namespace {

using test::SlotBench;

std::vector<int> WrittenSlots(const test::SlotDevice& device) {
    std::vector<int> slots;
    for (const auto& w : device.slotWrites) slots.push_back(w.slot);
    return slots;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> r;
    for (int i = first; i <= last; ++i) r.push_back(i);
    return r;
}

void StoreCommonSlots(test::SlotDevice& device) {
    device.stringDescriptors[1] = "2.01.7";
    device.slots[0] = "SN-0042";
    device.slots[1] = "345.123456";
    device.slots[2] = "0.381234";
    for (int s = 3; s <= 13; ++s) device.slots[s] = "1.500000e-0" + std::to_string(s % 10);
    device.slots[14] = "7";
    device.slots[15] = "CONFIG-A";
    device.slots[16] = "CONFIG-B";
}

TEST(StoredValuesTransferTest, CommonRoundTripKeepsTheOrderReadFromTheInstrument) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    CStoredValues values(bench.platform, 2);
    ASSERT_TRUE(values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read).Ok());
    CValueList list;
    values.FillCommonRows(list);
    EXPECT_EQ(list.GetText(0, 1), "2.01.7");
    EXPECT_EQ(list.GetText(1, 1), "SN-0042");
    EXPECT_EQ(list.GetText(2, 1), "3.4512346e+02");
    EXPECT_EQ(list.GetText(15, 1), "7");

    // The operator edits the serial number and the order; Save All Values
    // reads again, parses and writes.
    list.SetText(1, 1, "SN-9999");
    list.SetText(15, 1, "3");
    bench.clock.ClearSleeps();
    CStoredValues save(bench.platform, 2);
    ASSERT_TRUE(save.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read).Ok());
    save.ParseCommonRows(list);
    const TransferResult written = save.TransferCommon(bench.protocol, bench.handle, TransferDirection::Write);
    EXPECT_TRUE(written.Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 16));
    EXPECT_EQ(bench.device.SlotTextOf(0), "SN-9999");
    EXPECT_EQ(bench.device.SlotTextOf(1), "345.123460");  // "%4.6f" of the "%4.7e" text
    EXPECT_EQ(bench.device.SlotTextOf(2), "0.381234");
    EXPECT_EQ(bench.device.SlotTextOf(3), "1.500000e-03");
    EXPECT_EQ(bench.device.SlotTextOf(14), "7");
    const auto sleeps = bench.clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 200u), 17);
}

TEST(StoredValuesTransferTest, LongTextsReachTheSlotCutToFifteenCharacters) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    CStoredValues values(bench.platform, 2);
    values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
    values.Common().configString1 = std::string(300, 'Q');
    values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Write);
    EXPECT_EQ(bench.device.slots[15], std::string(15, 'Q'));
    EXPECT_EQ(values.Common().configString1.size(), 300u);
}

TEST(StoredValuesTransferTest, FailedReadsLeaveEmptyFieldsAndAreReported) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    CStoredValues values(bench.platform, 2);
    ASSERT_TRUE(values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read).Ok());

    // The same object read again from a device whose slots 0, 5 and 15 fail
    // and whose firmware version cannot be read: nothing of the first read
    // may remain.
    bench.device.failSlotReads = {0, 5, 15};
    bench.device.stringDescriptors.clear();
    const TransferResult result = values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.failedSlots, (std::vector<int>{0, 5, 15}));
    EXPECT_TRUE(result.firmwareVersionFailed);
    EXPECT_EQ(values.Common().firmwareVersion, "");
    EXPECT_EQ(values.Common().serialNumber, "");
    EXPECT_EQ(values.Common().coefficients[4], 0.0);
    EXPECT_EQ(values.Common().configString1, "");
    EXPECT_EQ(values.Common().configString2, "CONFIG-B");  // later slots still read
}

TEST(StoredValuesTransferTest, FailedWritesAreReportedAndTheRestStillWritten) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    CStoredValues values(bench.platform, 2);
    values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
    bench.device.failSlotWrites = {3, 16};
    const TransferResult result = values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Write);
    EXPECT_EQ(result.failedSlots, (std::vector<int>{3, 16}));
    std::vector<int> expected = Range(0, 15);
    expected.erase(std::find(expected.begin(), expected.end(), 3));
    EXPECT_EQ(WrittenSlots(bench.device), expected);
}

TEST(StoredValuesTransferTest, BaudRateAndAutoNullingSurviveASave) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    bench.device.slots[17] = std::string("\x01\x02\x46\x00\x60\xEA\x55\x66", 8);
    bench.device.slots[18] = std::string("\x00\xE1\x77", 3);
    CStoredValues values(bench.platform, 15);
    values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
    ASSERT_TRUE(values.TransferExtra(bench.protocol, bench.handle, TransferDirection::Read).Ok());
    CValueList list;
    values.FillCommonRows(list);
    values.FillExtraRows(list);
    EXPECT_EQ(list.GetText(18, 1), "Disabled,Disabled,70,60000");
    EXPECT_EQ(list.GetText(19, 1), "-7936");
    CAutoNullingInfo frameCopy;
    values.GetAutoNulling(frameCopy);
    frameCopy.autoNullingMode = 3;  // the operator enables auto-nulling

    bench.device.slotWrites.clear();
    CStoredValues save(bench.platform, 15);
    save.SetAutoNulling(frameCopy);
    save.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
    save.TransferExtra(bench.protocol, bench.handle, TransferDirection::Read);
    save.ParseCommonRows(list);
    save.ParseExtraRows(list);
    TransferResult result = save.TransferCommon(bench.protocol, bench.handle, TransferDirection::Write);
    result.Append(save.TransferExtra(bench.protocol, bench.handle, TransferDirection::Write));
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 18));
    EXPECT_EQ(bench.device.slots[17].substr(0, 8), std::string("\x03\x02\x46\x00\x60\xEA\x55\x66", 8));
    EXPECT_EQ(bench.device.slots[18].substr(0, 3), std::string("\x00\xE1\x77", 3));
}

TEST(StoredValuesTransferTest, HeronWritesSlot44Last) {
    SlotBench bench;
    bench.device.stringDescriptors[1] = "1.00.1";
    bench.device.slots[0] = "HERON-1";
    bench.device.slots[1] = "255";
    bench.device.slots[2] = "12.5";
    bench.device.slots[44] = "CPLD-2";
    CStoredValues values(bench.platform, 3);
    ASSERT_TRUE(values.TransferHeron(bench.protocol, bench.handle, TransferDirection::Read).Ok());
    CValueList list;
    values.FillHeronRows(list);
    EXPECT_EQ(list.GetText(2, 1), "255");
    EXPECT_EQ(list.GetText(35, 1), "CPLD-2");

    CStoredValues save(bench.platform, 3);
    save.ParseHeronRows(list);
    EXPECT_TRUE(save.TransferHeron(bench.protocol, bench.handle, TransferDirection::Write).Ok());
    std::vector<int> expected = Range(0, 33);
    expected.push_back(44);
    EXPECT_EQ(WrittenSlots(bench.device), expected);
    EXPECT_EQ(bench.device.SlotTextOf(2), "1.2500000e+01");
    EXPECT_EQ(bench.device.SlotTextOf(6), "0.0000000");  // slave intercept "%.7f"
    EXPECT_EQ(bench.device.SlotTextOf(44), "CPLD-2");
}

TEST(StoredValuesTransferTest, MerlinKeepsSlot13) {
    SlotBench bench;
    bench.device.stringDescriptors[1] = "1.2";
    bench.device.slots[13] = "4.250000e+00";
    bench.device.slots[14] = "MCFG";
    CStoredValues values(bench.platform, 8);
    values.TransferMerlin(bench.protocol, bench.handle, TransferDirection::Read);
    CValueList list;
    values.FillMerlinRows(list);
    values.ParseMerlinRows(list);
    EXPECT_TRUE(values.TransferMerlin(bench.protocol, bench.handle, TransferDirection::Write).Ok());
    EXPECT_EQ(WrittenSlots(bench.device), Range(0, 14));
    EXPECT_EQ(bench.device.SlotTextOf(13), "4.250000e+00");
    EXPECT_EQ(bench.device.SlotTextOf(14), "MCFG");
}

TEST(StoredValuesTransferTest, LanternSaveKeepsTheSlopeAndCommits) {
    SlotBench bench;
    bench.device.accessorySlots[0] = "LAN-3";
    bench.device.accessorySlots[1] = "0.0625";
    bench.device.accessorySlots[2] = "-40.5";
    CStoredValues values(bench.platform, 5);
    ASSERT_TRUE(values.TransferLantern(bench.protocol, bench.handle, TransferDirection::Read).Ok());
    CValueList list;
    values.FillLanternRows(list);
    list.SetText(1, 1, "-41");

    bench.clock.ClearSleeps();
    CStoredValues save(bench.platform, 5);
    save.TransferLantern(bench.protocol, bench.handle, TransferDirection::Read);
    save.ParseLanternRows(list);
    EXPECT_TRUE(save.TransferLantern(bench.protocol, bench.handle, TransferDirection::Write).Ok());
    ASSERT_EQ(bench.device.slotWrites.size(), 19u);
    EXPECT_TRUE(bench.device.slotWrites.front().accessory);
    EXPECT_EQ(bench.device.accessorySlots[1].c_str(), std::string("6.250000e-02"));
    EXPECT_EQ(bench.device.accessorySlots[2].c_str(), std::string("-4.100000e+01"));
    EXPECT_EQ(bench.device.commits, 1);
    EXPECT_EQ(bench.clock.Sleeps().back(), 3500u);
    EXPECT_TRUE(bench.device.slots.empty());  // no information slot touched
}

TEST(StoredValuesTransferTest, FpgaReadsStopPerFamily) {
    struct Case {
        int family;
        int lastIndex;
    };
    for (const Case c : {Case{10, 23}, Case{11, 24}, Case{14, 26}, Case{15, 28}}) {
        SlotBench bench;
        CStoredValues values(bench.platform, c.family);
        values.ReadFpgaRegisters(bench.protocol, bench.handle);
        std::vector<int> expected;
        for (int i = 0; i <= c.lastIndex; ++i) expected.push_back(kFpgaRegisterAddresses[i]);
        EXPECT_EQ(bench.device.fpgaAddressesRead, expected) << c.family;
    }
}

TEST(StoredValuesTransferTest, FalconReadsThePsocTwiceASecondApart) {
    SlotBench bench;
    bench.device.fpgaRegisters[0x04] = 0x0102;
    bench.device.psocVersion = 0x0213;
    CStoredValues values(bench.platform, 10);
    EXPECT_TRUE(values.ReadFpgaRegisters(bench.protocol, bench.handle).Ok());
    EXPECT_EQ(values.PsocVersion(), "0.21.3");
    EXPECT_EQ(std::string(values.Fpga().versionText.data()), "0.10.2");
    const auto sleeps = bench.clock.Sleeps();
    ASSERT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 1);
    // 24 register exchanges and one PSOC exchange (two writes) come first.
    const auto pause = std::find(sleeps.begin(), sleeps.end(), 1000u) - sleeps.begin();
    EXPECT_EQ(pause, 24 + 2);
    std::size_t psocRequests = 0;
    for (const auto& w : bench.device.BulkWrites()) psocRequests += w[0] == 0x69;
    EXPECT_EQ(psocRequests, 2u);
}

TEST(StoredValuesTransferTest, CondorPsocAndFailedRegistersReported) {
    SlotBench bench;
    bench.device.fpgaRegisters[0x08] = 0x1234;
    bench.device.psocVersion = 0x0120;
    CStoredValues values(bench.platform, 11);
    values.Fpga().values[0] = 0xDEAD;  // left over from nothing: must be cleared
    bench.device.failFpgaAddresses = {0x08};
    const TransferResult result = values.ReadFpgaRegisters(bench.protocol, bench.handle);
    EXPECT_EQ(result.failedFpgaIndexes, (std::vector<int>{2}));
    EXPECT_FALSE(result.psocVersionFailed);
    EXPECT_EQ(values.Fpga().values[0], 0u);
    EXPECT_EQ(values.PsocVersion(), "0.12.0");
    const auto sleeps = bench.clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 0);
}

TEST(StoredValuesTransferTest, KestrelPlusGetAllValuesWithAndWithoutAccess) {
    SlotBench bench;
    StoreCommonSlots(bench.device);
    bench.device.fpgaRegisters[0x04] = 0x0301;
    bench.device.fpgaRegisters[0x64] = 0x00FF;
    for (bool access : {false, true}) {
        CStoredValues values(bench.platform, 14);
        CValueList list;
        TransferResult result = values.TransferCommon(bench.protocol, bench.handle, TransferDirection::Read);
        result.Append(values.ReadFpgaRegisters(bench.protocol, bench.handle));
        values.FillCommonRows(list);
        result.Append(values.TransferExtra(bench.protocol, bench.handle, TransferDirection::Read));
        values.FillExtraRows(list);
        values.FillFpgaRows(list, access);
        EXPECT_TRUE(result.Ok());
        if (!access) {
            ASSERT_EQ(list.RowCount(), 21);
            EXPECT_EQ(list.GetText(20, 0), " 0x04 - FPGA Firmware Version");
            EXPECT_EQ(list.GetText(20, 1), "0.30.1");
        } else {
            ASSERT_EQ(list.RowCount(), 42);
            EXPECT_EQ(list.GetText(40, 0), " 0x64 - Read FPGA Programmed Data");
            EXPECT_EQ(list.GetText(40, 1), "0xff (255)");
        }
    }
}

}  // namespace
}  // namespace spindle
