// The slot table, its codecs and the value set without a device: the rows
// each layout shows, what a save writes for edited and unedited rows, and
// the FPGA rows per family.
#include "protocol/StoredValues.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DebugTrace.h"
#include "platform/Format.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

class ValueSetTest : public ::testing::Test {
protected:
    test::ScriptedDriver driver;
    VirtualClock clock;
    NullDebugTrace trace;
    test::ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};

    static std::vector<int> Images(const CValueList& list) {
        std::vector<int> images;
        for (const ValueRow& row : list.Rows()) images.push_back(row.image);
        return images;
    }
    // Sets what each slot read gave.
    static void Read(CStoredValues& values, const std::map<int, std::string>& slots) {
        for (const auto& [slot, text] : slots) {
            RawSlot bytes{};
            std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
            values.Values().SetRead(slot, bytes);
        }
    }
    // The bytes a save writes into a slot, up to the first zero.
    static std::string Written(const CStoredValues& values, int slot) {
        const auto& slots = values.Values().Slots();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].slot != slot) continue;
            const RawSlot bytes = values.Values().BytesToWrite(static_cast<int>(i));
            return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
        }
        return "(none)";
    }
    // Each register value names its register: 0x1000 + address.
    static void FillRegisters(CStoredValues& values) {
        values.Fpga().register0 = 1000;
        values.Fpga().versionText = {'1', '.', '2', '3', '.', '4'};
        for (std::size_t i = 0; i < values.Fpga().values.size(); ++i) {
            values.Fpga().values[i] = 0x1000u + kFpgaRegisterAddresses[i + 2];
        }
    }
};

TEST_F(ValueSetTest, CommonAndExtraRowsShowAndWhatASaveWrites) {
    CStoredValues values(platform, 14);
    Read(values, {{1, "345.123"}, {2, "0.38"}, {7, "-2"}, {14, "5"}, {17, std::string("\x01\x02\x46\x00\x60\xEA\x55", 7)},
                  {18, std::string("\x00\xE1\x77", 3)}});
    CValueList list;
    values.FillCommonRows(list);
    values.FillExtraRows(list);
    ASSERT_EQ(list.RowCount(), 20);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(list.GetText(i, 0), values.Label(i));
    EXPECT_EQ(list.GetText(2, 1), "3.4512300e+02");
    EXPECT_EQ(list.GetText(8, 1), "-2.0000000e+00");
    EXPECT_EQ(list.GetText(15, 1), "5");
    EXPECT_EQ(list.GetText(18, 1), "Disabled,Disabled,70,60000");
    EXPECT_EQ(list.GetText(19, 1), "-7936");
    EXPECT_EQ(Images(list), (std::vector<int>{0, 1, 2, 2, 2, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5}));

    list.SetText(2, 1, "345.5xyz");  // taken as strtod reads it
    list.SetText(15, 1, "2");        // the order is not taken from the list
    list.SetText(19, 1, "9600");
    CAutoNullingInfo settings;
    values.GetAutoNulling(settings);
    settings.autoNullingMode = 3;
    settings.darkValue = 300;
    values.SetAutoNulling(settings);
    values.ParseCommonRows(list);
    values.ParseExtraRows(list);
    EXPECT_EQ(Written(values, 1), "345.500000");
    EXPECT_EQ(Written(values, 2), "0.38");  // unedited: the bytes as read
    EXPECT_EQ(Written(values, 14), "5");
    const auto& slots = values.Values().Slots();
    auto bytes = [&](int slot) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].slot == slot) return values.Values().BytesToWrite(static_cast<int>(i));
        }
        return RawSlot{};
    };
    // Only the bytes the settings and the baud rate hold change.
    const RawSlot nulling = bytes(17), baud = bytes(18);
    EXPECT_EQ(std::vector<int>(nulling.begin(), nulling.begin() + 7), (std::vector<int>{3, 2, 0x2C, 1, 0x60, 0xEA, 0x55}));
    EXPECT_EQ(std::vector<int>(baud.begin(), baud.begin() + 3), (std::vector<int>{0x80, 0x25, 0x77}));
}

TEST_F(ValueSetTest, MerlinAndLanternKeepTheSlotsTheyDoNotShow) {
    CStoredValues merlin(platform, 8);
    for (int i = 0; i < 13; ++i) Read(merlin, {{i + 1, std::to_string(i + 1)}});
    CValueList list;
    merlin.FillMerlinRows(list);
    ASSERT_EQ(list.RowCount(), 15);
    EXPECT_EQ(std::count_if(list.Rows().begin(), list.Rows().end(), [](const ValueRow& r) { return r.label == "  Reserved"; }), 9);
    EXPECT_EQ(list.GetText(13, 1), "1.2000000e+01");  // slot 12; slot 13 is not shown
    EXPECT_EQ(list.GetText(14, 0), "  Configuration String 1");
    EXPECT_EQ(Images(list), (std::vector<int>{0, 1, 2, 2, 2, 9, 9, 9, 9, 9, 9, 9, 9, 9, 5}));
    list.SetText(5, 1, "44");
    merlin.ParseMerlinRows(list);
    EXPECT_EQ(Written(merlin, 4), "4.400000e+01");
    EXPECT_EQ(Written(merlin, 13), "13");

    CStoredValues lantern(platform, 5);
    for (int i = 0; i < 18; ++i) Read(lantern, {{i + 1, std::to_string(100 + i)}});
    list.Clear();
    lantern.FillLanternRows(list);
    ASSERT_EQ(list.RowCount(), 18);
    for (const ValueRow& row : list.Rows()) EXPECT_NE(row.label, "  Temperature Calibration Slope");
    EXPECT_EQ(list.GetText(1, 0), "  Temperature Calibration Intercept");
    EXPECT_EQ(list.GetText(1, 1), "1.0100000e+02");
    EXPECT_EQ(Images(list), (std::vector<int>{1, 7, 7, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}));
    EXPECT_FALSE(list.Modified());
    list.SetText(1, 1, "-41");
    EXPECT_TRUE(list.Modified());
    lantern.ParseLanternRows(list);
    EXPECT_EQ(Written(lantern, 2), "-4.100000e+01");
    EXPECT_EQ(Written(lantern, 1), "100");
}

TEST_F(ValueSetTest, FpgaRowsPerFamilyShowTheRegisterTheirLabelNames) {
    CStoredValues kestrelPlus(platform, 14);
    FillRegisters(kestrelPlus);
    CValueList list;
    kestrelPlus.FillFpgaRows(list, false);
    ASSERT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.GetText(0, 0), " 0x04 - FPGA Firmware Version");
    EXPECT_EQ(list.GetText(0, 1), "1.23.4");
    list.Clear();
    kestrelPlus.FillFpgaRows(list, true);
    ASSERT_EQ(list.RowCount(), 22);
    EXPECT_EQ(list.GetText(0, 1), "1000");
    EXPECT_EQ(list.GetText(19, 0), " 0x60 - Read Default Offset Control");
    EXPECT_EQ(list.GetText(21, 0), " 0x68 - Read Max Saturation Value");

    CStoredValues condor(platform, 11);
    FillRegisters(condor);
    list.Clear();
    condor.FillFpgaRows(list, true);
    ASSERT_EQ(list.RowCount(), 20);
    EXPECT_EQ(list.GetText(7, 0), " 0x20 - Condor detector/pixel mode");

    // Harrier: 0x60 is left out, 0x90 is never read.
    CStoredValues harrier(platform, 15);
    FillRegisters(harrier);
    list.Clear();
    harrier.FillFpgaRows(list, true);
    ASSERT_EQ(list.RowCount(), 26);
    EXPECT_EQ(list.GetText(25, 0), " 0x8c - Write Default Offset 3");
    for (int row = 2; row < list.RowCount(); ++row) {
        const unsigned address = std::stoul(list.GetText(row, 0).substr(1, 4), nullptr, 16);
        EXPECT_EQ(list.GetText(row, 1), StrPrintf("%#x (%u)", 0x1000 + address, 0x1000 + address)) << row;
    }
}

}  // namespace
}  // namespace spindle
