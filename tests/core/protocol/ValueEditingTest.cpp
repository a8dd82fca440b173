#include <gtest/gtest.h>

#include "ValueEditingTestRig.h"
#include "platform/INIFileSupport.h"
#include "protocol/ValueEditors.h"

namespace spindle::test {
namespace {

using Texts = std::vector<std::string>;

TEST(ValueEditingTest, ManufacturingOnlyRowsLockOutsideManufacturingModeOnly) {
    FrameRig rig;
    rig.SelectDevice(family::kMerlin);
    CEditValueDlg seen;
    rig.ui.onDialog = [&](CDialogModel& model) {
        auto& dialog = dynamic_cast<CEditValueDlg&>(model);
        seen = dialog;
        dialog.value = "NEW";  // a front end handing back a change, even to a locked box
        return mb::kIdOk;
    };
    // Row 16 is a configuration string, row 5 "  Reserved"; the serial (row 1) is never locked.
    for (int mode : {0, 1}) {
        for (int row : {1, 5, 16}) {
            rig.frame.flags.manufacturingMode = mode;
            rig.FillList(18, "  Reserved");
            rig.frame.OnListDoubleClick(row);
            const bool locked = row != 1 && mode != 1;
            EXPECT_EQ(seen.valueEnabled, !locked) << row << " " << mode;
            EXPECT_EQ(seen.noteShown, locked);
            EXPECT_EQ(seen.value, "v" + std::to_string(row));
            EXPECT_EQ(rig.Value(row), locked ? "v" + std::to_string(row) : "NEW");
        }
    }
    EXPECT_EQ(seen.noteText, "Configuration strings can only be changed by\n Lumora Manufacturing.");
    EXPECT_TRUE(CEditValueDlg::IsManufacturingOnlyLabel("  Configuration - CPLD Version"));
    EXPECT_FALSE(CEditValueDlg::IsManufacturingOnlyLabel(" Configuration"));  // one space: not a stored value
    // A text longer than 99 characters goes in and comes back whole.
    rig.frame.List().SetText(2, CValueList::kDataColumn, std::string(150, '7'));
    rig.ui.onDialog = [](CDialogModel&) { return mb::kIdOk; };
    rig.frame.OnListEnterKey(2);
    EXPECT_EQ(rig.Value(2), std::string(150, '7'));
}

TEST(ValueEditingTest, AutoNullingEditorRefusesValuesBeyondSixteenBitsAndLocksOutsideManufacturing) {
    FrameRig rig;
    rig.SelectDevice(family::kHarrier);
    rig.FillList(20);
    rig.frame.autoNulling.autoNullingMode = 1;  // shows as disabled
    rig.frame.autoNulling.temperatureCompensation = 1;
    rig.frame.autoNulling.darkValue = 812;
    CAutoNullingDlg seen;
    rig.ui.onDialog = [&](CDialogModel& model) {
        auto& dialog = dynamic_cast<CAutoNullingDlg&>(model);
        seen = dialog;
        dialog.OnAutoNullingClicked();
        dialog.darkValue = "70000";
        return mb::kIdOk;
    };
    // Locked: confirming rewrites nothing, not even the mode byte 1.
    const CAutoNullingInfo before = rig.frame.autoNulling;
    rig.frame.OnListDoubleClick(18);
    EXPECT_TRUE(seen.noteShown);
    EXPECT_FALSE(seen.controlsEnabled);
    EXPECT_EQ(rig.frame.autoNulling, before);
    EXPECT_EQ(rig.Value(18), "v18");

    // 70000 does not fit the slot's 16 bits: refused, naming the limit,
    // and nothing changes (it used to be stored as 4464).
    rig.frame.flags.manufacturingMode = 1;
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(seen.autoNullingEnabled, 0);
    EXPECT_EQ(seen.temperatureCompensation, 1);
    EXPECT_EQ(seen.darkValue, "812");
    EXPECT_FALSE(seen.noteShown);
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].text.find("from 0 to 65535"), std::string::npos) << rig.ui.Messages()[0].text;
    EXPECT_EQ(rig.Value(18), "v18");
    EXPECT_EQ(rig.frame.autoNulling, before);

    rig.ui.onDialog = [&](CDialogModel& model) {
        auto& dialog = dynamic_cast<CAutoNullingDlg&>(model);
        dialog.OnAutoNullingClicked();
        dialog.darkValue = "65535";
        return mb::kIdOk;
    };
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(rig.Value(18), "Enabled,Enabled,65535,0");
    EXPECT_EQ(rig.frame.autoNulling.darkValue, 65535);
    EXPECT_EQ(rig.frame.autoNulling.autoNullingMode, 3);
}

}  // namespace
}  // namespace spindle::test
