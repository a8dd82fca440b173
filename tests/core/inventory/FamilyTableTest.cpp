// The family table against the classification table: every family a device
// can be classified as has its own row, and the table holds no row the scan
// can never produce.
#include <gtest/gtest.h>

#include <set>

#include "device/Families.h"
#include "inventory/Classification.h"

namespace spindle {
namespace {

TEST(FamilyTableTest, EveryClassifiedFamilyHasItsOwnRowAndEveryRowCanBeMet) {
    std::set<int> classified;
    for (const ClassificationRow& row : ClassificationTable()) {
        classified.insert(row.family);
        EXPECT_EQ(FamilyOf(row.family).code, row.family)
            << "no family row for " << std::hex << row.vendor << "/" << row.product;
    }
    bool someHostsLantern = false;
    int previous = -1;
    for (const FamilyTraits& traits : FamilyTable()) {
        EXPECT_GT(traits.code, previous) << "rows are kept in code order, once each";
        previous = traits.code;
        someHostsLantern = someHostsLantern || traits.hostsLantern;
        // A row no pair classifies is only reachable as the light source
        // found behind a host family.
        if (classified.count(traits.code) == 0) {
            EXPECT_EQ(traits.code, family::kLantern) << "family " << traits.code << " is never classified";
        }
    }
    EXPECT_TRUE(someHostsLantern) << "the Lantern row is unreachable without a host family";
}

TEST(FamilyTableTest, UnprogrammedChipsFollowTheirVendorsGeneration) {
    const ClassificationRow* fx2 = Classify(0x04B4, 0x8613);
    const ClassificationRow* ezusb = Classify(0x0547, 0x2131);
    ASSERT_NE(fx2, nullptr);
    ASSERT_NE(ezusb, nullptr);
    EXPECT_EQ(FamilyOf(fx2->family).chip, ChipGeneration::Fx2);
    EXPECT_EQ(FamilyOf(ezusb->family).chip, ChipGeneration::Ezusb);
    EXPECT_EQ(CpucsAddressFor(fx2->family), kCpucsFx2);
    EXPECT_EQ(CpucsAddressFor(ezusb->family), kCpucsEzusb);
    // A blank chip holds nothing to show, reset or program an FPGA from.
    for (const ClassificationRow* row : {fx2, ezusb}) {
        const FamilyTraits& traits = FamilyOf(row->family);
        EXPECT_EQ(traits.layout, ValueLayout::None);
        EXPECT_EQ(traits.reset, ResetLayout::None);
        EXPECT_FALSE(traits.programsFpga);
        EXPECT_EQ(traits.buttons[0].commandId, 0);
    }
}

TEST(FamilyTableTest, AnUnknownCodeGetsThePlainFallbackRow) {
    const FamilyTraits& unknown = FamilyOf(999);
    EXPECT_EQ(unknown.chip, ChipGeneration::Ezusb);
    EXPECT_EQ(unknown.layout, ValueLayout::None);
    EXPECT_STREQ(EepromFilePattern(999, 1), "*.iic");
    EXPECT_STREQ(EepromFilePattern(999, 2), "*.iic");
    EXPECT_FALSE(IsFx2Family(999));
}

}  // namespace
}  // namespace spindle
