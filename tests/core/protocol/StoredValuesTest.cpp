#include "protocol/StoredValues.h"

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

class StoredValuesTest : public ::testing::Test {
protected:
    test::ScriptedDriver driver;
    VirtualClock clock;
    NullDebugTrace trace;
    test::ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};

    static std::vector<std::string> Labels(const CValueList& list) {
        std::vector<std::string> labels;
        for (const ValueRow& row : list.Rows()) labels.push_back(row.label);
        return labels;
    }
    static std::vector<int> Images(const CValueList& list) {
        std::vector<int> images;
        for (const ValueRow& row : list.Rows()) images.push_back(row.image);
        return images;
    }
    // Gives each FPGA register a value that names it: 0x1000 + address.
    static void FillRegisters(CStoredValues& values) {
        FpgaRegisters& fpga = values.Fpga();
        fpga.register0 = 1000;
        const std::string version = "1.23.4";
        std::copy(version.begin(), version.end(), fpga.versionText.begin());
        for (std::size_t i = 0; i < fpga.values.size(); ++i) fpga.values[i] = 0x1000u + kFpgaRegisterAddresses[i + 2];
    }
};

TEST_F(StoredValuesTest, CatalogueHoldsTheLabelsAndMarkers) {
    CStoredValues values(platform);
    const auto& labels = values.Labels();
    ASSERT_EQ(labels.size(), 102u);
    const CatalogueMarkers& m = values.Markers();
    EXPECT_EQ(m.commonFirst, 0);
    EXPECT_EQ(m.commonLast, 17);
    EXPECT_EQ(m.extraFirst, 18);
    EXPECT_EQ(m.extraLast, 19);
    EXPECT_EQ(m.fpgaFirst, 20);
    EXPECT_EQ(m.fpgaLast, 47);
    EXPECT_EQ(values.AfterFpgaIndex(), 48);
    EXPECT_EQ(values.PsocLabelIndex(), 48);
    EXPECT_EQ(m.heronFirst, 49);
    EXPECT_EQ(m.heronLast, 82);
    EXPECT_EQ(m.lanternFirst, 83);
    EXPECT_EQ(m.lanternLast, 100);
    EXPECT_EQ(values.ReservedLabelIndex(), 101);

    EXPECT_EQ(labels[0], "  Firmware Version");
    EXPECT_EQ(labels[6], "  Stray Light Correction Coefficient");
    EXPECT_EQ(labels[15], "  Nonlinearity Correction Order");
    EXPECT_EQ(labels[17], "  Configuration String 2");
    EXPECT_EQ(labels[18], "  AutoNulling Info");
    EXPECT_EQ(labels[19], "  Startup Baud Rate");
    EXPECT_EQ(labels[20], " 0x00 - Master Clock");
    EXPECT_EQ(labels[25], " 0x14 - 24/48 MHz Clock");
    EXPECT_EQ(labels[47], " 0x90 - Write Default Offset 4");
    EXPECT_EQ(labels[48], "  PSOC Firmware Version");
    EXPECT_EQ(labels[49], "  Channels Enabled (Binary)");
    EXPECT_EQ(labels[53], "  Master Wavelength Calibration Third Coefficient");
    EXPECT_EQ(labels[54], "  Slave 1 Wavelength Calibration Intercept");
    EXPECT_EQ(labels[81], "  Slave 7 Wavelength Calibration Third Coefficient");
    EXPECT_EQ(labels[82], "  Configuration - CPLD Version");
    EXPECT_EQ(labels[83], "  Temperature Calibration Slope");
    EXPECT_EQ(labels[85], "  Io, No Temperature Compensation");
    EXPECT_EQ(labels[91], "  K, 1st-order Temperature Coefficient");
    EXPECT_EQ(labels[100], "  K2, 2nd-order Temperature Coefficient");
    EXPECT_EQ(labels[101], "  Reserved");
    for (int i = 0; i < 102; ++i) {
        const bool fpga = i >= 20 && i <= 47;
        EXPECT_EQ(labels[i].rfind(fpga ? " 0x" : "  ", 0), 0u) << i;
    }
    EXPECT_EQ(values.Label(102), "");
}

TEST_F(StoredValuesTest, CommonAndExtraRowsUseTheirFormatsAndImages) {
    CStoredValues values(platform, 14);
    CommonValues& c = values.Common();
    c.firmwareVersion = "2.01.3";
    c.serialNumber = "KP001234";
    c.coefficients = {345.123, 0.38, -1.5e-5, 2e-9, 1.25e-3, 1, -2, 3, 0, 0, 0, 0, 0};
    c.nonlinearityOrder = 7;
    c.configString1 = "cfg1";
    c.configString2 = "cfg2";
    c.autoNullingBytes = {3, 1, 0x46, 0x00, 0x60, 0xEA};
    c.baudRateBytes = {0x00, 0xE1};
    CValueList list;
    values.FillCommonRows(list);
    values.FillExtraRows(list);
    ASSERT_EQ(list.RowCount(), 20);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(list.GetText(i, 0), values.Label(i));
    EXPECT_EQ(list.GetText(0, 1), "2.01.3");
    EXPECT_EQ(list.GetText(1, 1), "KP001234");
    EXPECT_EQ(list.GetText(2, 1), "3.4512300e+02");
    EXPECT_EQ(list.GetText(4, 1), "-1.5000000e-05");
    EXPECT_EQ(list.GetText(6, 1), "1.2500000e-03");
    EXPECT_EQ(list.GetText(8, 1), "-2.0000000e+00");
    EXPECT_EQ(list.GetText(15, 1), "7");
    EXPECT_EQ(list.GetText(17, 1), "cfg2");
    EXPECT_EQ(list.GetText(18, 1), "Enabled,Enabled,70,60000");
    EXPECT_EQ(list.GetText(19, 1), "-7936");
    EXPECT_EQ(Images(list), (std::vector<int>{0, 1, 2, 2, 2, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5}));

    CAutoNullingInfo held;
    values.GetAutoNulling(held);
    EXPECT_EQ(held.darkValue, 70);
    EXPECT_EQ(held.saturationValue, 60000);
}

TEST_F(StoredValuesTest, ParsingTakesRowsBackAndIgnoresOrderRow) {
    CStoredValues values(platform, 15);
    values.Common().nonlinearityOrder = 5;
    values.Common().autoNullingBytes = {0, 0, 0, 0, 0, 0, 0xAB, 0xCD};
    values.Common().baudRateBytes = {0, 0, 0x11, 0x22};
    CValueList list;
    values.FillCommonRows(list);
    values.FillExtraRows(list);
    list.SetText(1, 1, "a serial number longer than any slot");
    list.SetText(2, 1, "345.5xyz");
    list.SetText(14, 1, "-1e-3");
    list.SetText(15, 1, "2");   // the order is not taken from the list
    list.SetText(16, 1, "CONF");
    list.SetText(19, 1, "57600");
    list.SetText(18, 1, "ignored");  // the held settings are written, not this text
    CAutoNullingInfo edited;
    edited.autoNullingMode = 3;
    edited.temperatureCompensation = 1;
    edited.darkValue = 0x1234;
    edited.saturationValue = 0xBEEF;
    values.SetAutoNulling(edited);
    values.ParseCommonRows(list);
    values.ParseExtraRows(list);

    const CommonValues& c = values.Common();
    EXPECT_EQ(c.serialNumber, "a serial number longer than any slot");
    EXPECT_DOUBLE_EQ(c.coefficients[0], 345.5);
    EXPECT_DOUBLE_EQ(c.coefficients[12], -1e-3);
    EXPECT_EQ(c.nonlinearityOrder, 5);
    EXPECT_EQ(c.configString1, "CONF");
    EXPECT_EQ(c.autoNullingBytes[0], 3);
    EXPECT_EQ(c.autoNullingBytes[1], 1);
    EXPECT_EQ(c.autoNullingBytes[2], 0x34);
    EXPECT_EQ(c.autoNullingBytes[3], 0x12);
    EXPECT_EQ(c.autoNullingBytes[4], 0xEF);
    EXPECT_EQ(c.autoNullingBytes[5], 0xBE);
    EXPECT_EQ(c.autoNullingBytes[6], 0xAB);  // bytes past the settings stay as read
    EXPECT_EQ(c.baudRateBytes[0], 0x00);     // 57600 = 0xE100
    EXPECT_EQ(c.baudRateBytes[1], 0xE1);
    EXPECT_EQ(c.baudRateBytes[2], 0x11);
}

TEST_F(StoredValuesTest, MerlinShowsFifteenRowsNineReserved) {
    CStoredValues values(platform, 8);
    MerlinValues& m = values.Merlin();
    m.firmwareVersion = "1.00.0";
    m.serialNumber = "MER1";
    for (int i = 0; i < 13; ++i) m.values[i] = i + 1;
    m.text = "merlin cfg";
    CValueList list;
    values.FillMerlinRows(list);
    ASSERT_EQ(list.RowCount(), 15);
    int reserved = 0;
    for (const ValueRow& row : list.Rows()) reserved += row.label == "  Reserved";
    EXPECT_EQ(reserved, 9);
    EXPECT_EQ(list.GetText(2, 0), "  Wavelength Calibration Intercept");
    EXPECT_EQ(list.GetText(2, 1), "1.0000000e+00");
    EXPECT_EQ(list.GetText(13, 1), "1.2000000e+01");  // slot 12; slot 13 is not shown
    EXPECT_EQ(list.GetText(14, 0), "  Configuration String 1");
    EXPECT_EQ(list.GetText(14, 1), "merlin cfg");
    EXPECT_EQ(Images(list), (std::vector<int>{0, 1, 2, 2, 2, 9, 9, 9, 9, 9, 9, 9, 9, 9, 5}));

    list.SetText(5, 1, "44");
    list.SetText(14, 1, "new");
    values.ParseMerlinRows(list);
    EXPECT_DOUBLE_EQ(m.values[3], 44);
    EXPECT_DOUBLE_EQ(m.values[12], 13);  // slot 13 keeps the value read
    EXPECT_EQ(m.text, "new");
}

TEST_F(StoredValuesTest, LanternNeverShowsTheSlope) {
    CStoredValues values(platform, 5);
    LanternValues& l = values.Lantern();
    l.serialNumber = "LS-7";
    for (int i = 0; i < 18; ++i) l.coefficients[i] = 100 + i;
    CValueList list;
    values.FillLanternRows(list);
    ASSERT_EQ(list.RowCount(), 18);
    for (const ValueRow& row : list.Rows()) EXPECT_NE(row.label, "  Temperature Calibration Slope");
    EXPECT_EQ(list.GetText(0, 0), "  Serial Number");
    EXPECT_EQ(list.GetText(1, 0), "  Temperature Calibration Intercept");
    EXPECT_EQ(list.GetText(1, 1), "1.0100000e+02");
    EXPECT_EQ(list.GetText(2, 0), "  Io, No Temperature Compensation");
    EXPECT_EQ(list.GetText(17, 0), "  K2, 2nd-order Temperature Coefficient");
    EXPECT_EQ(list.GetText(17, 1), "1.1700000e+02");
    EXPECT_EQ(Images(list), (std::vector<int>{1, 7, 7, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}));

    list.SetText(1, 1, "-3.5");
    values.ParseLanternRows(list);
    EXPECT_DOUBLE_EQ(l.coefficients[0], 100);  // slope as read
    EXPECT_DOUBLE_EQ(l.coefficients[1], -3.5);
}

TEST_F(StoredValuesTest, HeronRowsAndParse) {
    CStoredValues values(platform, 3);
    HeronValues& h = values.Heron();
    h.serialNumber = "HER9";
    h.channelsEnabled = 0x83;
    for (int i = 0; i < 32; ++i) h.coefficients[i] = i * 0.5;
    h.cpldVersion = "CPLD 4";
    CValueList list;
    values.FillHeronRows(list);
    ASSERT_EQ(list.RowCount(), 36);
    EXPECT_EQ(list.GetText(2, 0), "  Channels Enabled (Binary)");
    EXPECT_EQ(list.GetText(2, 1), "131");
    EXPECT_EQ(list.Image(2), 8);
    EXPECT_EQ(list.GetText(7, 0), "  Slave 1 Wavelength Calibration Intercept");
    EXPECT_EQ(list.GetText(7, 1), "2.0000000e+00");
    EXPECT_EQ(list.GetText(35, 0), "  Configuration - CPLD Version");
    EXPECT_EQ(list.Image(35), 5);

    list.SetText(2, 1, "257");  // cut to the 8-bit mask
    list.SetText(34, 1, "9.75");
    values.ParseHeronRows(list);
    EXPECT_EQ(h.channelsEnabled, 1);
    EXPECT_DOUBLE_EQ(h.coefficients[31], 9.75);
    EXPECT_EQ(h.cpldVersion, "CPLD 4");
}

TEST_F(StoredValuesTest, FpgaRowsWithoutAccessShowOnlyTheVersion) {
    CStoredValues values(platform, 14);
    FillRegisters(values);
    CValueList list;
    values.FillFpgaRows(list, false);
    ASSERT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.GetText(0, 0), " 0x04 - FPGA Firmware Version");
    EXPECT_EQ(list.GetText(0, 1), "1.23.4");
    EXPECT_EQ(list.Image(0), 0);
}

TEST_F(StoredValuesTest, KestrelPlusFpgaRowsRenameAndStop) {
    CStoredValues values(platform, 14);
    FillRegisters(values);
    CValueList list;
    values.FillFpgaRows(list, true);
    ASSERT_EQ(list.RowCount(), 22);
    EXPECT_EQ(list.GetText(0, 1), "1000");
    EXPECT_EQ(list.GetText(2, 0), " 0x08 - Continuous Strobe");
    EXPECT_EQ(list.GetText(2, 1), "0x1008 (4104)");
    EXPECT_EQ(list.GetText(18, 0), " 0x5c - Read Default Offset Value");
    EXPECT_EQ(list.GetText(18, 1), "0x105c (4188)");
    EXPECT_EQ(list.GetText(19, 0), " 0x60 - Read Default Offset Control");
    EXPECT_EQ(list.GetText(20, 0), " 0x64 - Read FPGA Programmed Data");
    EXPECT_EQ(list.GetText(20, 1), "0x1064 (4196)");
    EXPECT_EQ(list.GetText(21, 0), " 0x68 - Read Max Saturation Value");
    EXPECT_EQ(list.GetText(21, 1), "0x1068 (4200)");
}

TEST_F(StoredValuesTest, FalconAndCondorFpgaRows) {
    CStoredValues falcon(platform, 10);
    FillRegisters(falcon);
    falcon.PsocVersion() = "0.10.2";
    CValueList list;
    falcon.FillFpgaRows(list, true);
    falcon.FillPsocRow(list);
    ASSERT_EQ(list.RowCount(), 20);
    EXPECT_EQ(list.GetText(18, 0), " 0x5c - Shutter Toggle Enable");
    EXPECT_EQ(list.GetText(19, 0), "  PSOC Firmware Version");
    EXPECT_EQ(list.GetText(19, 1), "0.10.2");

    CStoredValues condor(platform, 11);
    FillRegisters(condor);
    list.Clear();
    condor.FillFpgaRows(list, true);
    ASSERT_EQ(list.RowCount(), 20);
    EXPECT_EQ(list.GetText(7, 0), " 0x20 - Condor detector/pixel mode");
    EXPECT_EQ(list.GetText(7, 1), "0x1020 (4128)");
    EXPECT_EQ(list.GetText(19, 0), " 0x60 - Status Register");
}

TEST_F(StoredValuesTest, HarrierFpgaRowsNameTheRegistersTheyShow) {
    CStoredValues values(platform, 15);
    FillRegisters(values);
    CValueList list;
    values.FillFpgaRows(list, true);
    // 0x00 to 0x5c, then 0x74 to 0x8c; 0x60 is left out and 0x90 is never read.
    ASSERT_EQ(list.RowCount(), 26);
    for (int row = 2; row < list.RowCount(); ++row) {
        const std::string label = list.GetText(row, 0);
        const unsigned address = std::stoul(label.substr(1, 4), nullptr, 16);
        EXPECT_EQ(list.GetText(row, 1), StrPrintf("%#x (%d)", 0x1000 + address, 0x1000 + address)) << label;
    }
    EXPECT_EQ(list.GetText(19, 0), " 0x74 - Read Default Offset Value");
    EXPECT_EQ(list.GetText(25, 0), " 0x8c - Write Default Offset 3");
}

}  // namespace
}  // namespace spindle
