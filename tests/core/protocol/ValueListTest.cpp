#include "protocol/ValueList.h"

#include <gtest/gtest.h>

namespace spindle {
namespace {

TEST(ValueListTest, RowsByPositionAndMissingRowsReadEmpty) {
    CValueList list;
    int changes = 0;
    list.SetObserver([&] { ++changes; });
    list.AppendRow("  A", "1", 0);
    list.AppendRow("  C", "3", 2);
    EXPECT_EQ(list.InsertRow(1, "  B", "2", 1), 1);
    EXPECT_EQ(list.InsertRow(99, "  D", "4", 3), 3);  // clamped to the end
    EXPECT_EQ(list.GetText(1, CValueList::kItemColumn), "  B");
    EXPECT_EQ(list.Image(3), 3);
    EXPECT_TRUE(list.SetText(2, CValueList::kDataColumn, "x"));
    EXPECT_EQ(list.Row(2).value, "x");
    EXPECT_FALSE(list.SetText(4, CValueList::kDataColumn, "x"));
    EXPECT_EQ(list.GetText(4, CValueList::kDataColumn), "");
    EXPECT_EQ(list.Image(-1), -1);
    EXPECT_EQ(changes, 5);
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

}  // namespace
}  // namespace spindle
