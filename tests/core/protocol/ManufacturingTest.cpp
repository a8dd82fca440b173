#include <gtest/gtest.h>

#include <fstream>

#include "ValueEditingTestRig.h"
#include "device/EzusbRequests.h"
#include "platform/Format.h"

namespace spindle::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kPass = "Vendor and Device ID Test\n\n-----PASS-----";
const std::string kFailure = "Vendor and Device ID Test\n\n*********************\n*********************\n"
                             "****FAILURE******\n*********************\n*********************";
const std::string kReminder = "Press <Save All Values> to write to Spectrometer.";

TEST(ManufacturingTest, VerifyChecksVendorAndProduct) {
    FrameRig rig;
    rig.SelectDevice(family::kKestrel, 3);
    const std::vector<std::tuple<std::uint16_t, std::uint16_t, Texts>> cases{
        {0xFA57, 0x1002, {"Device verified as Kestrel", kPass}},
        {0xFA57, 0x1004, {"Device verified as Heron", kPass}},
        {0xFA57, 0x1006, {kFailure}},
        {0x04B4, 0x1002, {"Verify Failed.  Invalid Vendor ID.", kFailure}},
    };
    for (const auto& [vendor, product, texts] : cases) {
        rig.ui.ClearMessages();
        rig.driver.SetDeviceIds(vendor, product);
        rig.frame.OnVerify();
        EXPECT_EQ(rig.ui.MessageTexts(), texts) << product;
        for (const auto& message : rig.ui.Messages()) EXPECT_EQ(message.title, "Spindle");
    }
    EXPECT_EQ(rig.driver.openedPaths, Texts(4, DevicePath(DeviceName(3))));
    EXPECT_EQ(rig.driver.closedHandles.size(), 4u);
    EXPECT_TRUE(rig.driver.BulkWrites().empty());

    rig.driver.unopenablePaths.insert(DevicePath(DeviceName(3)));
    rig.frame.OnVerify();
    EXPECT_EQ(rig.ui.MessageTexts().back(), kFailure);
}

TEST(ManufacturingTest, ResetCoefsByFamily) {
    // family, rows in its list, the values expected after the reset
    auto expect = [](std::initializer_list<std::pair<int, std::string>> runs) {
        Texts values{"v0"};
        for (const auto& [count, text] : runs) values.insert(values.end(), static_cast<std::size_t>(count), text);
        return values;
    };
    Texts untouched;
    for (int row = 0; row < 48; ++row) untouched.push_back("v" + std::to_string(row));
    const std::vector<std::tuple<int, int, Texts>> cases{
        {family::kKestrel, 18, expect({{1, "N/A"}, {14, "0"}, {2, "N/A"}})},
        {family::kMerlin, 15, expect({{1, "N/A"}, {13, "0"}})},
        {family::kHeron, 36, expect({{1, "N/A"}, {33, "0"}, {1, "v35"}})},
        {family::kLantern, 18, expect({{1, "N/A"}, {16, "0"}})},
        {family::kKestrelPlus, 48, untouched},
    };
    for (const auto& [familyCode, rows, values] : cases) {
        FrameRig rig;
        rig.SelectDevice(familyCode);
        rig.FillList(rows);
        rig.frame.OnResetCoefs();
        EXPECT_EQ(rig.Values(), values) << familyCode;
        EXPECT_EQ(rig.ui.waitCursorDepth, 0);
    }
}

TEST(ManufacturingTest, LinearityImportFillsRows7To15) {
    FrameRig rig;
    TempFolder home, files;
    ScopedEnv homeEnv{"HOME", home.Path().c_str()};
    rig.SelectDevice(family::kKestrel);
    rig.FillList(18);
    const std::string path = files.File("sensor.lin");
    std::ofstream(path) << "[Linearity Coefficients]\nIntercept=0.98\nNL0=1.5e-5\nNL6=-7e-30\n";
    rig.frame.OnLinearityCoefs();  // cancelled: nothing changes
    EXPECT_EQ(rig.Value(7), "v7");
    rig.ui.filesToChoose = {path};
    rig.frame.OnLinearityCoefs();
    const std::string zero = StrPrintf("%0.7e", 0.0);
    EXPECT_EQ(rig.Values(), (Texts{"v0", "v1", "v2", "v3", "v4", "v5", "v6", StrPrintf("%0.7e", 0.98),
                                   StrPrintf("%0.7e", 1.5e-5), zero, zero, zero, zero, zero,
                                   StrPrintf("%0.7e", -7e-30), "7", "v16", "v17"}));
    EXPECT_EQ(rig.ui.MessageTexts(), Texts{kReminder});
    EXPECT_EQ(rig.ui.waitCursorDepth, 0);
    rig.frame.OnLinearityCoefs();
    // First in the home folder, then in the folder of the last file; never a Windows path.
    ASSERT_EQ(rig.ui.fileRequests.size(), 3u);
    EXPECT_EQ(rig.ui.fileRequests[0].initialFolder, home.Path().string());
    EXPECT_EQ(rig.ui.fileRequests[1].initialFolder, home.Path().string());
    EXPECT_EQ(rig.ui.fileRequests[2].initialFolder, files.Path().string());
}

}  // namespace
}  // namespace spindle::test
