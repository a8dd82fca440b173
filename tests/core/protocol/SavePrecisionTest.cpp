#include <gtest/gtest.h>

#include "core/protocol/AllValuesRig.h"

namespace spindle {
namespace {

// The list shows eight significant digits; a slot may hold more. Saving
// without editing must not round the instrument's calibration.
TEST(SavePrecision, UneditedCoefficientsKeepEveryDigitEditedOnesTakeTheEdit) {
    test::AllValuesRig rig;
    rig.Select(0, 2);
    ASSERT_EQ(rig.Value(2), "3.3987351e+02");
    rig.frame.List().SetText(3, CValueList::kDataColumn, "0.5");
    rig.frame.OnSaveAllValues();
    EXPECT_TRUE(rig.ui.Messages().empty());
    EXPECT_EQ(rig.Device(0).SlotText(1), "339.873512");  // not 339.873510
    EXPECT_EQ(rig.Device(0).SlotText(2), "0.500000");
    EXPECT_EQ(rig.Device(0).SlotText(3), "-1.573621e-05");

    // Merlin and Lantern coefficient rows too.
    rig.Select(13, 8);
    const std::string merlinBefore = rig.Device(13).SlotText(1);
    rig.frame.OnSaveAllValues();
    EXPECT_EQ(rig.Device(13).SlotText(1), merlinBefore);
    rig.Select(0, 5);
    rig.frame.OnSaveAllValues();
    EXPECT_EQ(sim::TextOfSlot(rig.Device(0).CommittedAccessorySlot(3)), "1.254300e+04");
}

}  // namespace
}  // namespace spindle
