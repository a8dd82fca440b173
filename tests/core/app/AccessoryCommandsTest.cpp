// Calibrate, Zephyr Cal. File and Extra Kestrel on the frame, on the demo
// bench's Kestrel 0 and the Lantern behind it.
#include <gtest/gtest.h>

#include "FrameRig.h"

#include "app/Availability.h"
#include "platform/Format.h"
#include "protocol/ValueEditors.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::test {
namespace {

// The frame on the bench's Kestrel 0, or the Lantern behind it.
struct AccessoryRig : FrameRig {
    void Select(bool lantern) { FrameRig::Select(kKestrel, lantern); }
    std::string Accessory(int slot) { return sim::TextOfSlot(bench->Device(0)->CommittedAccessorySlot(slot)); }
};

TEST(AccessoryCommands, CalibrateShowsTheLanternsLineAndPutsTheInterceptOnlyIntoSlotTwosRow) {
    AccessoryRig rig;
    rig.Select(true);
    const std::string slope = rig.Accessory(1), intercept = rig.Accessory(2), io = rig.Accessory(3);
    std::string shownSlope, shownIntercept;
    rig.ui.onDialog = [&](CDialogModel& dialog) {
        auto& calibration = dynamic_cast<CLanternCalDlg&>(dialog);
        shownSlope = calibration.slopeText;
        shownIntercept = calibration.interceptText;
        calibration.interceptText = "7.000000e+00";
        return mb::kIdOk;
    };
    rig.ui.timerLog.clear();
    EXPECT_TRUE(rig.frame.OnCommand(cmd::kCalibrate));
    EXPECT_EQ(shownSlope, slope);
    EXPECT_EQ(shownIntercept, intercept);
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 999 1000"}));
    int changed = 0;
    for (int row = 0; row < rig.frame.List().RowCount(); ++row) {
        if (rig.frame.List().GetText(row, CValueList::kDataColumn) == "7.000000e+00") {
            ++changed;
            EXPECT_EQ(rig.frame.List().Rule(row).slot, 2);
        }
    }
    EXPECT_EQ(changed, 1);
    // Saved: slot 2 takes it, slots 1 and 3 keep theirs.
    EXPECT_TRUE(rig.frame.OnSaveAllValues().Ok());
    EXPECT_EQ(rig.Accessory(2), "7.000000e+00");
    EXPECT_EQ(rig.Accessory(1), slope);
    EXPECT_DOUBLE_EQ(std::stod(rig.Accessory(3)), std::stod(io));
}

TEST(AccessoryCommands, ZephyrImportFillsSlots3To18AndListsThem) {
    AccessoryRig rig;
    rig.Select(true);
    const std::string serial = rig.Accessory(0), slope = rig.Accessory(1), intercept = rig.Accessory(2);
    std::string text = "[Setup]\n";
    for (int i = 0; i < 16; ++i) text += std::string(kZephyrCoefficientKeys[i]) + "=" + std::to_string(i) + ".25\n";
    const std::string path = rig.folder.File("sensor.cal");
    WriteWholeFile(path, text);
    rig.ui.filesToChoose.push_back(path);
    EXPECT_TRUE(rig.frame.OnZephyrCalFile().Ok());
    ASSERT_FALSE(rig.ui.fileRequests.empty());
    EXPECT_EQ(rig.ui.fileRequests.back().title, "Select Quillby Zephyr Calibration File");
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rig.Accessory(3 + i), StrPrintf("%0.6e", i + 0.25)) << i;
    EXPECT_EQ(rig.Accessory(0), serial);
    EXPECT_DOUBLE_EQ(std::stod(rig.Accessory(1)), std::stod(slope));
    EXPECT_DOUBLE_EQ(std::stod(rig.Accessory(2)), std::stod(intercept));
    const auto sleeps = rig.clock.Sleeps();
    EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), 2000u), sleeps.end());

    // A file without the coefficients writes nothing and says so.
    WriteWholeFile(path, "[Setup]\nBoxcar=3\n");
    rig.ui.filesToChoose.push_back(path);
    rig.ui.ClearMessages();
    EXPECT_FALSE(rig.frame.OnZephyrCalFile().Ok());
    EXPECT_EQ(rig.Accessory(3), StrPrintf("%0.6e", 0.25));
    ASSERT_EQ(rig.ui.MessageTexts().size(), 1u);
}

// The command line checks the family before it gets here; the frame itself
// refuses another family's device without showing the dialog.
TEST(AccessoryCommands, ExtraKestrelRefusesAnotherFamilysDevice) {
    AccessoryRig rig;
    rig.FrameRig::Select(kOsprey);
    rig.ui.dialogsShown.clear();
    EXPECT_FALSE(rig.frame.OnExtraKestrel().Ok());
    EXPECT_TRUE(rig.ui.dialogsShown.empty());
}

// What both front ends offer: the family's own buttons on that family with
// their switch on, the manufacturing commands and locked rows only in
// manufacturing mode, each refusal with its reason.
TEST(AccessoryCommands, AvailabilityFollowsTheFamilyAndTheSwitches) {
    AccessoryRig rig;
    rig.Select(true);
    EXPECT_TRUE(CommandAvailability(rig.frame, cmd::kCalibrate).Available());
    const Availability verify = CommandAvailability(rig.frame, cmd::kVerify);
    EXPECT_TRUE(!verify.offered && verify.needsUnlock);
    EXPECT_EQ(verify.reason, "Verify is a manufacturing command; unlock manufacturing mode first");
    rig.Select(false);
    EXPECT_EQ(CommandAvailability(rig.frame, cmd::kCalibrate).reason, "Calibrate is not offered for this device");
    EXPECT_TRUE(CommandAvailability(rig.frame, cmd::kExtraKestrel).needsUnlock);
    int config = 0;
    while (!rig.frame.List().GetText(config, CValueList::kItemColumn).starts_with("  Config")) ++config;
    EXPECT_EQ(RowAvailability(rig.frame, config).reason, kManufacturingOnlyNote);
    EXPECT_TRUE(RowAvailability(rig.frame, 1).offered);
    rig.frame.flags.manufacturingMode = rig.frame.flags.extraKestrelUnlocked = 1;
    EXPECT_TRUE(CommandAvailability(rig.frame, cmd::kExtraKestrel).Available());
    EXPECT_TRUE(CommandAvailability(rig.frame, cmd::kVerify).Available());
    EXPECT_FALSE(CommandAvailability(rig.frame, cmd::kLinearityCoefs).offered) << "no FPGA family";
    EXPECT_TRUE(RowAvailability(rig.frame, config).offered);
}

}  // namespace
}  // namespace spindle::test
