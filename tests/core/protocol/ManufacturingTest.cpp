#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ValueEditingTestRig.h"
#include "device/EzusbRequests.h"
#include "platform/Format.h"

namespace spindle::test {
namespace {

constexpr const char* kPass = "Vendor and Device ID Test\n\n-----PASS-----";
constexpr const char* kFailure =
    "Vendor and Device ID Test\n\n*********************\n*********************\n****FAILURE******\n"
    "*********************\n*********************";
constexpr const char* kReminder = "Press <Save All Values> to write to Spectrometer.";

class ManufacturingTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.frame.OnCreate();
        rig.ui.timerLog.clear();
    }
    std::vector<std::string> Values() {
        std::vector<std::string> values;
        for (const ValueRow& row : rig.frame.List().Rows()) values.push_back(row.value);
        return values;
    }
    FrameRig rig;
};

// --- Verify -----------------------------------------------------------------

TEST_F(ManufacturingTest, VerifyReportsKnownProductsAndFailsOthers) {
    struct Case {
        std::uint16_t vendor;
        std::uint16_t product;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases{
        {0xFA57, 0x1002, {"Device verified as Kestrel", kPass}},
        {0xFA57, 0x1004, {"Device verified as Heron", kPass}},
        {0xFA57, 0x1008, {"Device verified as Petrel", kPass}},
        {0xFA57, 0x100A, {"Device verified as Osprey", kPass}},
        {0xFA57, 0x1006, {kFailure}},
        {0x04B4, 0x1002, {"Verify Failed.  Invalid Vendor ID.", kFailure}},
    };
    rig.SelectDevice(family::kKestrel, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product);
        rig.ui.ClearMessages();
        rig.ui.timerLog.clear();
        rig.driver.openedPaths.clear();
        rig.driver.closedHandles.clear();
        rig.driver.SetDeviceIds(c.vendor, c.product);
        rig.frame.OnVerify();
        EXPECT_EQ(rig.ui.MessageTexts(), c.messages);
        for (const auto& message : rig.ui.Messages()) {
            EXPECT_EQ(message.title, "Spindle");
            EXPECT_EQ(message.style, mb::kOk);
        }
        ASSERT_EQ(rig.driver.openedPaths.size(), 1u);
        EXPECT_NE(rig.driver.openedPaths[0].find("Ezusb-3"), std::string::npos);
        EXPECT_EQ(rig.driver.closedHandles.size(), 1u);
        EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 999 1000"}));
    }
    // Verify only reads the descriptor: nothing is sent over the bulk pipes.
    EXPECT_TRUE(rig.driver.BulkWrites().empty());
}

TEST_F(ManufacturingTest, VerifyWithoutAnIdleDeviceOnlyRestartsTheTimer) {
    rig.driver.SetDeviceIds(0xFA57, 0x1002);
    // Nothing selected, then a category item without a record, then a busy device.
    rig.frame.OnVerify();
    const int category = rig.frame.Tree().InsertItem("Kestrel", 0, CDeviceTree::kNoItem);
    rig.frame.Tree().Select(category);
    rig.frame.OnVerify();
    rig.SelectDevice(family::kKestrel, 5);
    rig.frame.jobBusy[5].store(1);
    rig.frame.OnVerify();
    EXPECT_TRUE(rig.ui.Messages().empty());
    EXPECT_TRUE(rig.driver.openedPaths.empty());
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 999 1000", "kill 999", "set 999 1000",
                                                         "kill 999", "set 999 1000"}));
    EXPECT_EQ(rig.frame.RememberedTimer(), timer::kEepromCountdown);
}

TEST_F(ManufacturingTest, VerifyOfADeviceThatWillNotOpenFails) {
    rig.SelectDevice(family::kKestrel, 2);
    rig.driver.SetDeviceIds(0xFA57, 0x1002);
    rig.driver.unopenablePaths.insert(DevicePath(DeviceName(2)));
    rig.frame.OnVerify();
    const auto texts = rig.ui.MessageTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kFailure);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string(kPass)), 0);
    EXPECT_EQ(rig.ui.timers.count(timer::kEepromCountdown), 1u);
}

// --- Reset Coefs. --------------------------------------------------------------

TEST_F(ManufacturingTest, ResetCoefsByFamily) {
    // Common families: serial and both configuration strings "N/A", rows 2-15 "0".
    for (int familyCode : {family::kKestrel, family::kOsprey, family::kIbis}) {
        rig.SelectDevice(familyCode);
        rig.FillList(18);
        rig.frame.OnResetCoefs();
        std::vector<std::string> expected{"v0", "N/A"};
        expected.insert(expected.end(), 14, "0");
        expected.insert(expected.end(), 2, "N/A");
        EXPECT_EQ(Values(), expected) << familyCode;
    }
    // Merlin: fifteen rows, of which rows 15 to 17 do not exist.
    rig.SelectDevice(family::kMerlin);
    rig.FillList(15);
    rig.frame.OnResetCoefs();
    std::vector<std::string> merlin{"v0", "N/A"};
    merlin.insert(merlin.end(), 13, "0");
    EXPECT_EQ(Values(), merlin);

    // Heron: rows 2 to 34 (channel mask and 32 coefficients); CPLD version kept.
    rig.SelectDevice(family::kHeron);
    rig.FillList(36);
    rig.frame.OnResetCoefs();
    std::vector<std::string> heron{"v0", "N/A"};
    heron.insert(heron.end(), 33, "0");
    heron.push_back("v35");
    EXPECT_EQ(Values(), heron);

    // Lantern: row 0 is its serial and stays; row 1 is its first coefficient.
    rig.SelectDevice(family::kLantern);
    rig.FillList(18);
    rig.frame.OnResetCoefs();
    std::vector<std::string> lantern{"v0", "N/A"};
    lantern.insert(lantern.end(), 16, "0");
    EXPECT_EQ(Values(), lantern);

    EXPECT_EQ(rig.ui.waitCursorDepth, 0);
    EXPECT_TRUE(rig.ui.Messages().empty());
}

TEST_F(ManufacturingTest, ResetCoefsLeavesOtherFamiliesAndNoSelectionAlone) {
    for (int familyCode : {family::kKestrelPlus, family::kHarrier, family::kFalcon, family::kCondor,
                           family::kWren, family::kFinch}) {
        rig.SelectDevice(familyCode);
        rig.FillList(48);
        const auto before = Values();
        rig.frame.OnResetCoefs();
        EXPECT_EQ(Values(), before) << familyCode;
    }
    rig.frame.Tree().Select(CDeviceTree::kNoItem);
    rig.FillList(18);
    const auto before = Values();
    rig.frame.OnResetCoefs();
    EXPECT_EQ(Values(), before);
    EXPECT_EQ(rig.ui.waitCursorDepth, 0);
}

// --- Linearity Coefs ------------------------------------------------------------

class LinearityTest : public ManufacturingTest {
protected:
    void SetUp() override {
        ManufacturingTest::SetUp();
        rig.SelectDevice(family::kKestrel);
        rig.FillList(18);
    }
    std::string WriteFile(const std::string& name, const std::string& text) {
        const std::string path = files.File(name);
        std::ofstream(path) << text;
        return path;
    }
    ScratchFolder files{"spindle-lin"};
    ScratchFolder home{"spindle-home"};
    ScopedVariable homeVariable{"HOME", home.Path()};
};

TEST_F(LinearityTest, ImportFillsRows7To14AndTheOrder) {
    const std::string path = WriteFile("sensor.lin",
                                       "[Linearity Coefficients]\n"
                                       "Intercept=0.98\nNL0=1.5e-5\nNL1=-2.25e-9\nNL2=3\n"
                                       "NL3=-4e-17\nNL4=5e-21\nNL5=6.5e-25\nNL6=-7e-30\n");
    rig.ui.filesToChoose.push_back(path);
    rig.frame.OnLinearityCoefs();

    ASSERT_EQ(rig.ui.fileRequests.size(), 1u);
    const FileChoice& request = rig.ui.fileRequests[0];
    EXPECT_TRUE(request.forOpening);
    EXPECT_EQ(request.title, "Select Quillby Linearity Calibration File");
    EXPECT_EQ(request.filter, "Linearity Calibration File (*.lin)|*.lin|All Files (*.*)|*.*|");
    EXPECT_EQ(request.defaultExtension, "lin");

    const std::vector<std::string> expected{
        "v0",  "v1",  "v2",  "v3",  "v4",  "v5",  "v6",
        StrPrintf("%0.7e", 0.98), StrPrintf("%0.7e", 1.5e-5), StrPrintf("%0.7e", -2.25e-9),
        StrPrintf("%0.7e", 3.0), StrPrintf("%0.7e", -4e-17), StrPrintf("%0.7e", 5e-21),
        StrPrintf("%0.7e", 6.5e-25), StrPrintf("%0.7e", -7e-30),
        "7",   "v16", "v17"};
    EXPECT_EQ(Values(), expected);
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{kReminder});
    EXPECT_EQ(rig.ui.Messages()[0].title, "Spindle");
    EXPECT_EQ(rig.ui.waitCursorDepth, 0);
    EXPECT_GT(rig.ui.waitCursorCalls, 0);
}

TEST_F(LinearityTest, MissingKeysReadAsZeroAndCancelChangesNothing) {
    const std::string zero = StrPrintf("%0.7e", 0.0);
    rig.ui.filesToChoose.push_back(WriteFile("partial.lin", "[Linearity Coefficients]\nNL2=2.5\n"));
    rig.frame.OnLinearityCoefs();
    for (int row = 7; row <= 14; ++row) EXPECT_EQ(rig.Value(row), row == 10 ? StrPrintf("%0.7e", 2.5) : zero);
    EXPECT_EQ(rig.Value(15), "7");

    rig.FillList(18);
    rig.ui.filesToChoose.push_back(WriteFile("other.lin", "[Other]\nIntercept=5\n"));
    rig.frame.OnLinearityCoefs();
    for (int row = 7; row <= 14; ++row) EXPECT_EQ(rig.Value(row), zero);
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{kReminder, kReminder}));

    // Cancel: nothing changes and nothing is shown.
    rig.FillList(18);
    const auto before = Values();
    rig.ui.ClearMessages();
    rig.frame.OnLinearityCoefs();
    EXPECT_EQ(Values(), before);
    EXPECT_TRUE(rig.ui.Messages().empty());

    // A list shorter than the import: no rows appear.
    rig.FillList(9);
    rig.ui.filesToChoose.push_back(WriteFile("full.lin", "[Linearity Coefficients]\nIntercept=1\n"));
    rig.frame.OnLinearityCoefs();
    EXPECT_EQ(rig.frame.List().RowCount(), 9);
    EXPECT_EQ(rig.Value(7), StrPrintf("%0.7e", 1.0));
}

TEST_F(LinearityTest, DialogOpensInTheLastFolderUsedElseHome) {
    rig.frame.OnLinearityCoefs();  // cancelled: nothing remembered
    rig.ui.filesToChoose.push_back(WriteFile("a.lin", "[Linearity Coefficients]\n"));
    rig.frame.OnLinearityCoefs();
    rig.frame.OnLinearityCoefs();
    ASSERT_EQ(rig.ui.fileRequests.size(), 3u);
    EXPECT_EQ(rig.ui.fileRequests[0].initialFolder, home.Path());
    EXPECT_EQ(rig.ui.fileRequests[1].initialFolder, home.Path());
    EXPECT_EQ(std::filesystem::path(rig.ui.fileRequests[2].initialFolder), std::filesystem::path(files.Path()));

    // A remembered folder that has gone falls back to home again.
    {
        ScratchFolder gone{"spindle-gone"};
        rig.ui.filesToChoose.push_back(gone.File("b.lin"));
        std::ofstream(gone.File("b.lin")) << "";
        rig.frame.OnLinearityCoefs();
    }
    rig.frame.OnLinearityCoefs();
    EXPECT_EQ(rig.ui.fileRequests.back().initialFolder, home.Path());
    for (const FileChoice& request : rig.ui.fileRequests) {
        EXPECT_EQ(request.initialFolder.find("C:\\"), std::string::npos);
    }
}

}  // namespace
}  // namespace spindle::test
