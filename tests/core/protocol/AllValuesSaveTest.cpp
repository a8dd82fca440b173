// Save All Values on the simulated demo bench: the edit round trip for every
// family, the values the list does not hold, the pauses on the wire, and the
// cases in which it must refuse to write.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AllValuesRig.h"
#include "platform/Format.h"

namespace spindle {
namespace {

using test::AllValuesRig;
namespace demo = test::demo;

double SlotNumber(const sim::SlotBytes& bytes) { return std::atof(sim::TextOfSlot(bytes).c_str()); }

struct DemoDevice {
    int index;
    int familyCode;
};

// Every device of the demo bench that has stored values.
const DemoDevice kDemoDevices[] = {
    {0, family::kKestrel}, {0, family::kLantern}, {1, family::kKestrel}, {2, family::kHeron},
    {3, family::kOsprey},  {4, family::kKestrelPlus}, {5, family::kHarrier}, {6, family::kFalcon},
    {7, family::kFalcon},  {8, family::kCondor}, {9, family::kIbis}, {10, family::kIbis},
    {11, family::kWren},   {12, family::kFinch}, {13, family::kMerlin},
};

TEST(AllValuesSaveTest, EditsOfEveryFamilyReachTheDeviceAndHiddenValuesStay) {
    for (const DemoDevice& d : kDemoDevices) {
        SCOPED_TRACE(testing::Message() << "device " << d.index << " family " << d.familyCode);
        AllValuesRig rig;
        ASSERT_NE(rig.ItemOf(d.index, d.familyCode), CDeviceTree::kNoItem);
        sim::SimDevice& device = rig.Device(d.index);
        const bool lantern = d.familyCode == family::kLantern;
        const sim::SlotBytes order = device.Slot(14);
        const sim::SlotBytes merlinSlot13 = device.Slot(13);
        const sim::SlotBytes kestrelExtras[] = {device.Slot(17), device.Slot(18), device.Slot(19)};
        const double slope = lantern ? SlotNumber(device.CommittedAccessorySlot(1)) : 0.0;

        rig.Select(d.index, d.familyCode);
        ASSERT_FALSE(rig.frame.List().Empty());
        // Edit the serial number and a coefficient; for the common families
        // also the nonlinearity order, which is never written from the list.
        const int serialRow = lantern ? 0 : 1;
        const int numberRow = lantern ? 5 : 3;
        rig.frame.List().SetText(serialRow, CValueList::kDataColumn, "EDITED-" + std::to_string(d.index));
        rig.frame.List().SetText(numberRow, CValueList::kDataColumn, "1.2500000e-01");
        const bool common = d.familyCode != family::kHeron && d.familyCode != family::kMerlin && !lantern;
        if (common) rig.frame.List().SetText(15, CValueList::kDataColumn, "7");

        rig.frame.OnSaveAllValues();
        EXPECT_TRUE(rig.ui.Messages().empty()) << (rig.ui.Messages().empty() ? "" : rig.ui.Messages()[0].text);
        EXPECT_EQ(rig.ui.waitCursorDepth, 0);

        rig.frame.OnGetAllValues();
        EXPECT_EQ(rig.Value(serialRow), "EDITED-" + std::to_string(d.index));
        EXPECT_EQ(std::atof(rig.Value(numberRow).c_str()), 0.125);

        if (common) {
            EXPECT_EQ(device.Slot(14), order) << "nonlinearity order";
            EXPECT_EQ(rig.Value(15), sim::TextOfSlot(order));
        }
        if (d.familyCode == family::kMerlin) {
            EXPECT_EQ(SlotNumber(device.Slot(13)), SlotNumber(merlinSlot13));
        }
        if (lantern) {
            EXPECT_EQ(SlotNumber(device.CommittedAccessorySlot(1)), slope) << "temperature calibration slope";
            EXPECT_EQ(sim::TextOfSlot(device.CommittedAccessorySlot(0)), "EDITED-0");
        }
        if (d.familyCode == family::kKestrel || d.familyCode == family::kLantern ||
            d.familyCode == family::kKestrelPlus || d.familyCode == family::kHarrier) {
            // Kestrel extra settings and the Kestrel+/Harrier auto-nulling and
            // baud-rate slots come back as they were.
            EXPECT_EQ(device.Slot(17), kestrelExtras[0]);
            EXPECT_EQ(device.Slot(18), kestrelExtras[1]);
            EXPECT_EQ(device.Slot(19), kestrelExtras[2]);
        }
    }
}

TEST(AllValuesSaveTest, HeronKeepsEveryDigitAndWritesSlot44Last) {
    AllValuesRig rig;
    // More digits than the list's eight: a save without edits keeps them all.
    rig.Device(demo::kHeron).SetSlotText(6, "341.0123456");
    rig.Select(demo::kHeron, family::kHeron);
    rig.Device(demo::kHeron).ClearLogs();
    rig.frame.OnSaveAllValues();

    std::vector<int> expected;
    for (int slot = 0; slot <= 33; ++slot) expected.push_back(slot);
    expected.push_back(44);
    EXPECT_EQ(rig.WrittenSlots(demo::kHeron), expected);
    EXPECT_EQ(rig.Device(demo::kHeron).SlotText(6), "341.0123456");
    EXPECT_EQ(rig.Device(demo::kHeron).SlotText(2), "3.4012345e+02");

    // An edited coefficient is written from its text in the Heron's format.
    rig.frame.List().SetText(3 + 4, CValueList::kDataColumn, "3.5e+02");
    rig.frame.OnSaveAllValues();
    EXPECT_EQ(rig.Device(demo::kHeron).SlotText(6), "350.0000000");
}

TEST(AllValuesSaveTest, RefusesAListFromAnotherDeviceOrNoListAtAll) {
    AllValuesRig rig;
    auto messages = [&] { return rig.ui.Messages(); };

    // A device selected without reading it (the list is empty after a refresh).
    rig.frame.Tree().Select(rig.ItemOf(demo::kOsprey, family::kOsprey));
    rig.frame.OnSaveAllValues();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find("the list is empty"), std::string::npos);

    // The Kestrel's list must not go into its Lantern, which shares its index.
    rig.Select(demo::kKestrelWithLantern, family::kKestrel);
    rig.frame.Tree().Select(rig.ItemOf(demo::kKestrelWithLantern, family::kLantern));
    rig.frame.OnSaveAllValues();
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[1].text,
              "Save All Values was not done: the list was read from another device. "
              "Select the device and press Get All Values first.");
    EXPECT_EQ(messages()[1].title, "Spindle");
    EXPECT_EQ(messages()[1].style, mb::kIconWarning);

    EXPECT_TRUE(rig.WrittenSlots(demo::kOsprey).empty());
    EXPECT_TRUE(rig.WrittenSlots(0, 0x24).empty());
    EXPECT_TRUE(rig.WrittenSlots(0).empty());
    EXPECT_EQ(rig.ui.waitCursorDepth, 0);
}

TEST(AllValuesSaveTest, RefusesWhenTheReadBeforeWritingFails) {
    AllValuesRig rig;
    rig.Select(demo::kMerlin, family::kMerlin);
    rig.FailSlotReads(demo::kMerlin, {13});
    rig.frame.OnSaveAllValues();
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].text.find("slot 13 could not be read"), std::string::npos)
        << rig.ui.Messages()[0].text;
    EXPECT_TRUE(rig.WrittenSlots(demo::kMerlin).empty());
    EXPECT_EQ(rig.Device(demo::kMerlin).SlotText(13), "1.000000e+00");

    // A device that cannot be opened is refused as clearly.
    rig.Device(demo::kMerlin).SetCommandHook(nullptr);
    rig.Device(demo::kMerlin).SetFailOpen(true);
    rig.frame.OnSaveAllValues();
    ASSERT_EQ(rig.ui.Messages().size(), 2u);
    EXPECT_NE(rig.ui.Messages()[1].text.find("could not be opened"), std::string::npos);
    EXPECT_TRUE(rig.WrittenSlots(demo::kMerlin).empty());
}

TEST(AllValuesSaveTest, FailedWritesAreNamedInOneMessage) {
    AllValuesRig rig;
    rig.Select(demo::kHarrier, family::kHarrier);
    rig.faults.failingWrites = {3, 16, 18};
    rig.frame.List().SetText(1, CValueList::kDataColumn, "HAR-NEW");
    rig.frame.OnSaveAllValues();

    const auto messages = rig.ui.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Save All Values did not store every value. Writing slots 3, 16, 18 failed. "
              "Check the device and press Save All Values again.");
    EXPECT_EQ(messages[0].title, "Spindle");
    // The other slots were written.
    EXPECT_EQ(rig.Device(demo::kHarrier).SlotText(0), "HAR-NEW");
    EXPECT_EQ(rig.WrittenSlots(demo::kHarrier).size(), 16u);
}

}  // namespace
}  // namespace spindle
