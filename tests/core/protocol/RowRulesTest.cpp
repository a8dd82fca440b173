// What the list's editors accept, on devices of the simulated bench: a typo,
// a text or number the slot cannot hold, and a row Save All Values never
// writes are refused before anything reaches the device.
#include <gtest/gtest.h>

#include "AllValuesRig.h"
#include "protocol/RowRule.h"
#include "protocol/ValueEditors.h"

namespace spindle::test {
namespace {

// Types `typed` into the row's editor and presses OK; returns what the
// editor showed.
CEditValueDlg Type(AllValuesRig& rig, int row, const std::string& typed) {
    CEditValueDlg seen;
    rig.ui.onDialog = [&](CDialogModel& model) {
        auto& dialog = dynamic_cast<CEditValueDlg&>(model);
        dialog.value = typed;
        seen = dialog;
        return mb::kIdOk;
    };
    rig.frame.OnListEnterKey(row);
    return seen;
}

TEST(RowRulesTest, TyposAndValuesTheSlotCannotHoldAreRefusedWithTheReason) {
    AllValuesRig rig;
    rig.Select(demo::kOsprey, family::kOsprey);
    const std::string intercept = rig.Value(2);
    struct Case {
        int row;
        std::string typed;
        std::string reason;  // a piece of the refusal
    };
    const std::vector<Case> refused = {
        {2, "abc", "is not a number"},
        {2, "0,5", "is not a number"},
        {2, "LAN00777", "is not a number"},
        {2, "0x10", "is not a number"},
        {2, "nan", "is not a number"},
        {2, "1e999", "is not a number"},
        {2, "1e20", "15 characters"},             // "%4.6f" of it does not fit the slot
        {7, "1e39", "not a coefficient the instrument can keep"},  // beyond a float, as a .lin file's
        {1, std::string(30, 'S'), "at most 15 characters"},
    };
    for (const Case& c : refused) {
        rig.ui.ClearMessages();
        const std::string before = rig.Value(c.row);
        Type(rig, c.row, c.typed);
        ASSERT_EQ(rig.ui.Messages().size(), 1u) << c.typed;
        EXPECT_NE(rig.ui.Messages()[0].text.find(c.reason), std::string::npos) << rig.ui.Messages()[0].text;
        EXPECT_EQ(rig.Value(c.row), before) << c.typed;
    }
    EXPECT_FALSE(rig.frame.List().Modified());

    // Blanks around a number are fine, and the serial may use all 15 bytes.
    rig.ui.ClearMessages();
    Type(rig, 2, "  177.5 ");
    Type(rig, 1, std::string(15, 'S'));
    EXPECT_TRUE(rig.ui.Messages().empty());
    EXPECT_EQ(rig.Value(2), "  177.5 ");
    EXPECT_TRUE(rig.frame.List().Modified());
    rig.frame.OnSaveAllValues();
    EXPECT_EQ(rig.Device(demo::kOsprey).SlotText(1), "177.500000");
    EXPECT_EQ(rig.Device(demo::kOsprey).SlotText(0), std::string(15, 'S'));
    (void)intercept;

    // The Heron's channel mask is one byte.
    AllValuesRig heron;
    heron.Select(demo::kHeron, family::kHeron);
    const std::string mask = heron.Value(2);
    Type(heron, 2, "263");
    ASSERT_EQ(heron.ui.Messages().size(), 1u);
    EXPECT_NE(heron.ui.Messages()[0].text.find("from 0 to 255"), std::string::npos);
    EXPECT_EQ(heron.Value(2), mask);
}

TEST(RowRulesTest, RowsSaveAllValuesNeverWritesOpenReadOnly) {
    AllValuesRig rig;
    rig.frame.flags.manufacturingMode = 1;  // not a lock: these are never written
    rig.frame.flags.fpgaRegistersUnlocked = 1;
    rig.Select(demo::kFalcon, family::kFalcon);
    const std::vector<std::string> labels = rig.Labels();
    std::vector<int> shownOnly;
    for (int row = 0; row < static_cast<int>(labels.size()); ++row) {
        const std::string& label = labels[static_cast<std::size_t>(row)];
        if (label == "  Firmware Version" || label == "  Nonlinearity Correction Order" ||
            label == "  PSOC Firmware Version" || label.rfind(" 0x", 0) == 0) {
            shownOnly.push_back(row);
        }
    }
    ASSERT_GT(shownOnly.size(), 4u);
    for (int row : shownOnly) {
        const std::string before = rig.Value(row);
        const CEditValueDlg seen = Type(rig, row, "12");
        EXPECT_FALSE(seen.valueEnabled) << labels[static_cast<std::size_t>(row)];
        EXPECT_TRUE(seen.noteShown);
        EXPECT_EQ(seen.noteText, kShownOnlyNote);
        EXPECT_EQ(rig.Value(row), before);
    }
    EXPECT_FALSE(rig.frame.List().Modified());

    // The auto-nulling text row, through Enter, is only shown too: its
    // settings are edited in their own dialog.
    AllValuesRig harrier;
    harrier.Select(demo::kHarrier, family::kHarrier);
    const std::string nulling = harrier.Value(18);
    EXPECT_FALSE(Type(harrier, 18, "Enabled,Enabled,1,2").valueEnabled);
    EXPECT_EQ(harrier.Value(18), nulling);
}

}  // namespace
}  // namespace spindle::test
