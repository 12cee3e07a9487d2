#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/plugin_table.h"
#include "core/text.h"

namespace {

PluginItem Item(int id) {
    PluginItem item;
    std::memset(&item, 0, sizeof(item));
    item.nId = id;
    return item;
}

TEST(PluginTable, GrowsByFourThenByAnEighthUpTo1024) {
    CPluginArray table;
    std::vector<int> capacities;
    for (int i = 0; i < 13; ++i) {
        table.Add(Item(i));
        if (capacities.empty() || capacities.back() != table.Capacity())
            capacities.push_back(table.Capacity());
    }
    EXPECT_EQ((std::vector<int>{1, 5, 9, 13}), capacities);
}

TEST(PluginTable, StepIsCountOverEightCappedAt1024) {
    CPluginArray table;
    int lastCapacity = 0;
    int lastCount = 0;
    for (int i = 0; i < 20000; ++i) {
        lastCount = table.Count();
        table.Add(Item(i));
        if (table.Capacity() != lastCapacity) {
            if (lastCapacity > 0) {
                int expectedStep = lastCount / 8;
                if (expectedStep < 4) expectedStep = 4;
                if (expectedStep > 1024) expectedStep = 1024;
                ASSERT_EQ(lastCapacity + expectedStep, table.Capacity()) << "at count " << lastCount;
            }
            lastCapacity = table.Capacity();
        }
    }
    EXPECT_EQ(20000, table.Count());
    EXPECT_EQ(19999, table.At(19999).nId);  // records survive every move
    EXPECT_EQ(0, table.At(0).nId);
}

TEST(PluginTable, IndexOutsideTheCountRaisesInvalidArgument) {
    CPluginArray table;
    EXPECT_THROW(table.At(0), CHResultError);
    table.Add(Item(7));
    EXPECT_EQ(7, table.At(0).nId);
    for (int bad : {1, -1, 0x7fffffff, static_cast<int>(0x80000000)}) {
        try {
            table.At(bad);
            ADD_FAILURE() << "no error for index " << bad;
        } catch (const CHResultError& e) {
            EXPECT_EQ(static_cast<HRESULT>(0x80070057), e.Code());
        }
    }
}

TEST(PluginTable, RemoveAllReleasesTheBlock) {
    CPluginArray table;
    for (int i = 0; i < 6; ++i) table.Add(Item(i));
    table.RemoveAll();
    EXPECT_EQ(0, table.Count());
    EXPECT_EQ(0, table.Capacity());
    EXPECT_THROW(table.At(0), CHResultError);
    table.Add(Item(3));
    EXPECT_EQ(1, table.Capacity());
}

TEST(PluginTable, AddedRecordsAreByteCopies) {
    CPluginArray table;
    PluginItem item = Item(5);
    pel::CopyText(item.chCompose, L"Antivirus");
    pel::CopyText(item.MenuTag, L"Scan");
    table.Add(item);
    pel::CopyText(item.chCompose, L"Changed");
    EXPECT_STREQ(L"Antivirus", table.At(0).chCompose);
    EXPECT_STREQ(L"Scan", table.At(0).MenuTag);
    EXPECT_EQ(nullptr, table.At(0).hEventEnable);
}

TEST(Text, DecimalConversionFollowsTheBaseTenRules) {
    EXPECT_EQ(0, pel::ParseDecimal(L""));
    EXPECT_EQ(0, pel::ParseDecimal(L"abc"));
    EXPECT_EQ(12, pel::ParseDecimal(L"  \t12x"));
    EXPECT_EQ(-7, pel::ParseDecimal(L"-7"));
    EXPECT_EQ(5, pel::ParseDecimal(L"+5"));
    EXPECT_EQ(0, pel::ParseDecimal(L"- 5"));
    EXPECT_EQ(2147483647, pel::ParseDecimal(L"2147483648"));
    EXPECT_EQ(-2147483647 - 1, pel::ParseDecimal(L"-99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, pel::ParseDecimal(L"-2147483648"));
}

TEST(Text, BoundedCopiesCutAndTerminate) {
    wchar_t field[4];
    std::wmemset(field, L'#', 4);
    EXPECT_FALSE(pel::CopyText(field, L"abcdef"));
    EXPECT_STREQ(L"abc", field);
    EXPECT_TRUE(pel::CopyText(field, L"ab"));
    EXPECT_STREQ(L"ab", field);
    EXPECT_TRUE(pel::AppendText(field, L"c"));
    EXPECT_FALSE(pel::AppendText(field, L"d"));
    EXPECT_STREQ(L"abc", field);
}

}  // namespace
