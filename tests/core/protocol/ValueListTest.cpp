#include "protocol/ValueList.h"

#include <gtest/gtest.h>

namespace spindle {
namespace {

TEST(ValueListTest, RowsKeepInsertionOrderAndPositionsClamp) {
    CValueList list;
    int changes = 0;
    list.SetObserver([&] { ++changes; });
    EXPECT_EQ(list.AppendRow("  A", "1", 0), 0);
    EXPECT_EQ(list.AppendRow("  C", "3", 2), 1);
    EXPECT_EQ(list.InsertRow(1, "  B", "2", 1), 1);
    EXPECT_EQ(list.InsertRow(99, "  D", "4", 3), 3);
    EXPECT_EQ(list.InsertRow(-5, "  Z", "0", 9), 0);
    ASSERT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.GetText(1, CValueList::kItemColumn), "  A");
    EXPECT_EQ(list.GetText(2, CValueList::kDataColumn), "2");
    EXPECT_EQ(list.Image(4), 3);
    EXPECT_EQ(changes, 5);
    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(changes, 6);
}

TEST(ValueListTest, MissingRowsReadEmptyAndRefuseEdits) {
    CValueList list;
    list.AppendRow("  Serial Number", "ABC", 1);
    EXPECT_EQ(list.GetText(1, CValueList::kDataColumn), "");
    EXPECT_EQ(list.GetText(-1, CValueList::kItemColumn), "");
    EXPECT_EQ(list.GetText(0, 2), "");
    EXPECT_EQ(list.Image(7), -1);
    EXPECT_FALSE(list.SetText(1, CValueList::kDataColumn, "x"));
    EXPECT_FALSE(list.SetText(0, 5, "x"));
    EXPECT_TRUE(list.SetText(0, CValueList::kDataColumn, "XYZ"));
    EXPECT_EQ(list.Row(0).value, "XYZ");
    EXPECT_EQ(list.Row(0).label, "  Serial Number");
}

}  // namespace
}  // namespace spindle
