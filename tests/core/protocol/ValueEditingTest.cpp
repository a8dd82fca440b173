#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/INIFileSupport.h"
#include "protocol/ValueEditors.h"
#include "ValueEditingTestRig.h"

namespace spindle::test {
namespace {

constexpr const char* kNote = "Configuration strings can only be changed by\n Lumora Manufacturing.";

// What the editor dialog looked like when it opened, and an answer script.
struct EditorProbe {
    bool opened = false;
    CEditValueDlg seen;
    std::string typed;  // empty: leave the value as it is
    int answer = mb::kIdOk;

    std::function<int(CDialogModel&)> Handler() {
        return [this](CDialogModel& model) {
            auto* dialog = dynamic_cast<CEditValueDlg*>(&model);
            if (dialog == nullptr) return mb::kIdCancel;
            opened = true;
            seen = *dialog;
            if (!typed.empty()) dialog->value = typed;
            return answer;
        };
    }
};

class ValueEditingTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.frame.OnCreate();
        rig.ui.timerLog.clear();
    }
    FrameRig rig;
};

TEST_F(ValueEditingTest, ManufacturingOnlyRowsAreLockedOutsideManufacturingMode) {
    rig.SelectDevice(family::kKestrel);
    rig.FillList(18);
    struct Case {
        int row;
        bool lockedOutsideManufacturing;
    };
    // Configuration strings are locked; the serial number never is.
    for (const Case c : {Case{16, true}, Case{17, true}, Case{1, false}, Case{6, false}}) {
        for (int mode : {0, 1}) {
            SCOPED_TRACE("row " + std::to_string(c.row) + " mode " + std::to_string(mode));
            rig.frame.flags.manufacturingMode = mode;
            rig.FillList(18);
            EditorProbe probe;
            probe.typed = "NEW";
            rig.ui.onDialog = probe.Handler();
            rig.frame.OnListDoubleClick(c.row);
            ASSERT_TRUE(probe.opened);
            const bool locked = c.lockedOutsideManufacturing && mode != 1;
            EXPECT_EQ(probe.seen.label, CommonLabels()[static_cast<std::size_t>(c.row)]);
            EXPECT_EQ(probe.seen.value, "v" + std::to_string(c.row));
            EXPECT_EQ(probe.seen.manufacturingMode, mode);
            EXPECT_EQ(probe.seen.valueEnabled, !locked);
            EXPECT_EQ(probe.seen.noteShown, locked);
            EXPECT_EQ(probe.seen.noteText, kNote);
            EXPECT_EQ(probe.seen.focusControl, CEditValueDlg::kValueControlId);
            // A locked value stays even if the front end hands back a change.
            EXPECT_EQ(rig.Value(c.row), locked ? "v" + std::to_string(c.row) : "NEW");
        }
    }
    // The prefix test: Merlin reserved rows and the Heron CPLD version are
    // locked; a one-space FPGA label or a shorter prefix is not.
    for (const auto& [label, locked] : std::vector<std::pair<std::string, bool>>{
             {"  Reserved", true},
             {"  Configuration - CPLD Version", true},
             {"  Config", true},
             {"  Confi", false},
             {" Configuration String 1", false},
             {"  Serial Number", false}}) {
        EXPECT_EQ(CEditValueDlg::IsManufacturingOnlyLabel(label), locked) << label;
    }
}

TEST_F(ValueEditingTest, CancelKeepsTheRowAndLongTextsPassThroughWhole) {
    rig.SelectDevice(family::kKestrel);
    rig.FillList(18);
    EditorProbe probe;
    probe.typed = "changed";
    probe.answer = mb::kIdCancel;
    rig.ui.onDialog = probe.Handler();
    rig.frame.OnListEnterKey(2);
    EXPECT_TRUE(probe.opened);
    EXPECT_EQ(rig.Value(2), "v2");

    // Texts longer than the old 100-character buffers are neither cut on the
    // way in nor lost when confirmed unchanged.
    const std::string longValue(150, '7');
    const std::string longLabel = "  Serial Number" + std::string(120, 'x');
    rig.frame.List().SetText(3, CValueList::kDataColumn, longValue);
    rig.frame.List().SetText(3, CValueList::kItemColumn, longLabel);
    EditorProbe unchanged;
    rig.ui.onDialog = unchanged.Handler();
    rig.frame.OnListEnterKey(3);
    EXPECT_EQ(unchanged.seen.value, longValue);
    EXPECT_EQ(unchanged.seen.label, longLabel);
    EXPECT_EQ(rig.Value(3), longValue);
}

TEST_F(ValueEditingTest, AutoNullingRowOpensItsOwnEditorOnlyOnDoubleClickOfKestrelPlusAndHarrier) {
    const std::string plain = "Edit Stored Value";
    const std::string autoNulling = "Auto Nulling FPGA Registers";
    for (int familyCode : {family::kHarrier, family::kKestrelPlus}) {
        SCOPED_TRACE(familyCode);
        FrameRig local;
        local.frame.OnCreate();
        local.SelectDevice(familyCode);
        local.FillList(20);
        local.frame.OnListDoubleClick(18);
        local.frame.OnListEnterKey(18);
        local.frame.OnListDoubleClick(17);
        EXPECT_EQ(local.ui.dialogsShown, (std::vector<std::string>{autoNulling, plain, plain}));
    }
    // A Kestrel has no auto-nulling settings: its row 18 (if any) is plain.
    rig.SelectDevice(family::kKestrel);
    rig.FillList(20);
    rig.frame.OnListDoubleClick(18);
    // Without a device record the plain editor opens too.
    rig.frame.Tree().Select(CDeviceTree::kNoItem);
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(rig.ui.dialogsShown, (std::vector<std::string>{plain, plain}));
}

TEST_F(ValueEditingTest, CountdownIsHeldWhileEitherEditorIsOpen) {
    rig.SelectDevice(family::kHarrier);
    rig.FillList(20);
    std::vector<bool> runningDuringDialog;
    rig.ui.onDialog = [&](CDialogModel&) {
        runningDuringDialog.push_back(rig.ui.timers.count(timer::kEepromCountdown) != 0);
        return mb::kIdCancel;
    };
    rig.frame.OnListDoubleClick(18);  // auto-nulling editor
    rig.frame.OnListDoubleClick(1);   // value editor
    rig.frame.OnListEnterKey(1);
    EXPECT_EQ(runningDuringDialog, (std::vector<bool>{false, false, false}));
    const std::vector<std::string> cycle{"kill 999", "set 999 1000"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(rig.ui.timerLog, expected);
    EXPECT_EQ(rig.frame.RememberedTimer(), timer::kEepromCountdown);

    // An FPGA countdown running: the gesture must not leave two timers ticking.
    rig.frame.StopCountdownTimer();
    rig.frame.StartCountdownTimer(timer::kFpgaCountdown);
    rig.frame.OnListEnterKey(1);
    EXPECT_EQ(rig.ui.timers.size(), 1u);
}

TEST_F(ValueEditingTest, RowsTheListDoesNotHaveOpenNothing) {
    rig.SelectDevice(family::kHarrier);
    rig.FillList(3);
    for (int row : {-1, 3, 18, 1000}) {
        rig.frame.OnListDoubleClick(row);
        rig.frame.OnListEnterKey(row);
    }
    EXPECT_TRUE(rig.ui.dialogsShown.empty());
    EXPECT_TRUE(rig.ui.timerLog.empty());
    EXPECT_EQ(rig.frame.List().RowCount(), 3);
    CAutoNullingInfo info;
    EXPECT_FALSE(RunAutoNullingEditor(rig.ui, rig.frame.List(), 18, info, 1));
    EXPECT_FALSE(RunValueEditor(rig.ui, rig.frame.List(), 3, 1));
    EXPECT_EQ(rig.frame.List().RowCount(), 3);
}

// Scripts the auto-nulling dialog: records it as opened, then lets `edit` act.
std::function<int(CDialogModel&)> AutoNullingScript(CAutoNullingDlg& seen,
                                                    std::function<int(CAutoNullingDlg&)> edit) {
    return [&seen, edit](CDialogModel& model) {
        auto& dialog = dynamic_cast<CAutoNullingDlg&>(model);
        seen = dialog;
        return edit(dialog);
    };
}

TEST_F(ValueEditingTest, AutoNullingEditorShowsAndStoresTheSettings) {
    rig.SelectDevice(family::kHarrier);
    rig.FillList(20);
    rig.frame.flags.manufacturingMode = 1;
    rig.frame.autoNulling.autoNullingMode = 3;
    rig.frame.autoNulling.temperatureCompensation = 1;
    rig.frame.autoNulling.darkValue = 812;
    rig.frame.autoNulling.saturationValue = 65535;
    const std::string before = rig.Value(18);

    CAutoNullingDlg seen;
    rig.ui.onDialog = AutoNullingScript(seen, [](CAutoNullingDlg& dialog) {
        dialog.OnAutoNullingClicked();  // mode off
        dialog.darkValue = "70000";
        dialog.saturationValue = "60000";
        return mb::kIdOk;
    });
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(seen.autoNullingEnabled, 1);
    EXPECT_EQ(seen.temperatureCompensation, 1);
    EXPECT_EQ(seen.darkValue, "812");
    EXPECT_EQ(seen.saturationValue, "65535");
    EXPECT_TRUE(seen.controlsEnabled);
    EXPECT_FALSE(seen.noteShown);
    EXPECT_EQ(seen.focusControl, CAutoNullingDlg::kDarkValueControlId);
    // The row keeps the text as typed; the setting keeps its low 16 bits.
    EXPECT_EQ(rig.Value(18), "Disabled,Enabled,70000,60000");
    EXPECT_EQ(rig.frame.autoNulling.darkValue, 4464);
    EXPECT_EQ(rig.frame.autoNulling.saturationValue, 60000);
    EXPECT_EQ(rig.frame.autoNulling.autoNullingMode, 0);
    EXPECT_EQ(rig.frame.autoNulling.temperatureCompensation, 1);

    // Cancel changes nothing.
    const CAutoNullingInfo kept = rig.frame.autoNulling;
    rig.ui.onDialog = AutoNullingScript(seen, [](CAutoNullingDlg& dialog) {
        dialog.darkValue = "5";
        dialog.OnAutoNullingClicked();
        return mb::kIdCancel;
    });
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(seen.autoNullingEnabled, 0);
    EXPECT_EQ(rig.frame.autoNulling, kept);
    EXPECT_EQ(rig.Value(18), "Disabled,Enabled,70000,60000");
    EXPECT_NE(before, rig.Value(18));
}

TEST_F(ValueEditingTest, AutoNullingEditorIsReadOnlyOutsideManufacturingMode) {
    rig.SelectDevice(family::kKestrelPlus);
    rig.FillList(20);
    rig.frame.flags.manufacturingMode = 0;
    // Bytes that only display as "Disabled": confirming must not rewrite them.
    rig.frame.autoNulling.autoNullingMode = 1;
    rig.frame.autoNulling.temperatureCompensation = 2;
    rig.frame.autoNulling.darkValue = 10;
    rig.frame.autoNulling.saturationValue = 20;
    const CAutoNullingInfo before = rig.frame.autoNulling;

    CAutoNullingDlg seen;
    rig.ui.onDialog = AutoNullingScript(seen, [](CAutoNullingDlg& dialog) {
        dialog.darkValue = "999";
        return mb::kIdOk;
    });
    rig.frame.OnListDoubleClick(18);
    EXPECT_EQ(seen.autoNullingEnabled, 0);
    EXPECT_EQ(seen.temperatureCompensation, 0);
    EXPECT_FALSE(seen.controlsEnabled);
    EXPECT_TRUE(seen.noteShown);
    EXPECT_EQ(seen.noteText, kNote);
    EXPECT_EQ(rig.frame.autoNulling, before);
    EXPECT_EQ(rig.Value(18), "v18");
}

TEST_F(ValueEditingTest, ColumnWidthsDefaultTo200AndPersist) {
    const int application = 0;
    // The settings file lives in the rig's temporary folder, never at home.
    EXPECT_EQ(SettingsFilePath().rfind(rig.settingsFolder.Path(), 0), 0u);
    const ColumnWidths first = ReadColumnWidths(rig.ui, &application);
    EXPECT_EQ(first.item, 200);
    EXPECT_EQ(first.data, 200);
    EXPECT_TRUE(WriteColumnWidths(rig.ui, &application, ColumnWidths{260, 415}));
    const ColumnWidths next = ReadColumnWidths(rig.ui, &application);
    EXPECT_EQ(next.item, 260);
    EXPECT_EQ(next.data, 415);
    CINIFileSupport store(rig.ui, nullptr, 1, &application);
    EXPECT_EQ(store.ReadText("Settings", "ItemWidth"), "260");
    EXPECT_EQ(store.ReadText("Settings", "DataWidth"), "415");
    EXPECT_TRUE(rig.ui.Messages().empty());
}

}  // namespace
}  // namespace spindle::test
