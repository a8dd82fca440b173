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
    // An unknown code gets the plain fallback row.
    EXPECT_EQ(FamilyOf(999).layout, ValueLayout::None);
    EXPECT_FALSE(IsFx2Family(999));
}


}  // namespace
}  // namespace spindle
