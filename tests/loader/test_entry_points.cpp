// The entry points called by ordinal on a loader with an empty table.
#include <gtest/gtest.h>

#include "loader_api.h"
#include "suite.h"

namespace {

using peltest::LoaderApi;

class EntryPoints : public ::testing::Test {
protected:
    peltest::TestSuite suite{false};  // no install library: the table stays empty
    LoaderApi api;
};

TEST_F(EntryPoints, AllSevenOrdinalsAreExportedAndNothingAt11To14) {
    ASSERT_TRUE(api.Loaded());
    for (int ordinal : {5, 6, 7, 8, 9, 10, 15})
        EXPECT_NE(nullptr, GetProcAddress(api.Module(), MAKEINTRESOURCEA(ordinal))) << ordinal;
    for (int ordinal : {4, 11, 12, 13, 14, 16})
        EXPECT_EQ(nullptr, GetProcAddress(api.Module(), MAKEINTRESOURCEA(ordinal))) << ordinal;
}

TEST_F(EntryPoints, HostValueComesBackFromBothStateQueries) {
    EXPECT_EQ(0, api.InitSet(-123456));
    int value = 0;
    api.AskForState(&value);
    EXPECT_EQ(-123456, value);
    value = 0;
    api.GetStateEqualProject(&value);
    EXPECT_EQ(-123456, value);
    EXPECT_EQ(1, api.Exit());
    api.InitSet(42);
    api.AskForState(&value);
    EXPECT_EQ(42, value);
    api.Exit();
}

TEST_F(EntryPoints, MenuHandleStoresTheSignExtendedBoolean) {
    api.InitSet(1);
    int value;
    VARTYPE type = VT_EMPTY;
    EXPECT_EQ(VARIANT_TRUE, api.MenuBool(VARIANT_TRUE, &type));
    EXPECT_EQ(VT_BOOL, type);
    EXPECT_EQ(-1, api.AskForState(&value));
    // On, while the configured state is 0: not equal.
    EXPECT_EQ(0, api.GetStateEqualProject(&value));

    EXPECT_EQ(1, api.MenuBool(1));
    EXPECT_EQ(1, api.AskForState(&value));
    EXPECT_EQ(0, api.MenuBool(0));
    EXPECT_EQ(0, api.AskForState(&value));
    EXPECT_EQ(1, api.GetStateEqualProject(&value));
    // 0x12345 does not fit a VARIANT_BOOL; only its low 16 bits travel.
    EXPECT_EQ(static_cast<short>(0x8001), api.MenuBool(static_cast<short>(0x8001)));
    EXPECT_EQ(static_cast<int>(static_cast<short>(0x8001)), api.AskForState(&value));
    api.Exit();
}

TEST_F(EntryPoints, MenuHandleWithAnotherTypeResendsTheCurrentState) {
    api.InitSet(0);
    api.MenuBool(VARIANT_TRUE);
    VARIANT command;
    VariantInit(&command);
    command.vt = VT_I4;
    command.lVal = 0;
    VARIANT result = api.MenuHandle(command);
    EXPECT_EQ(VT_BOOL, result.vt);
    EXPECT_EQ(VARIANT_TRUE, result.boolVal);
    int value;
    EXPECT_EQ(-1, api.AskForState(&value));

    command.vt = VT_EMPTY;
    api.MenuBool(0);
    result = api.MenuHandle(command);
    EXPECT_EQ(VT_BOOL, result.vt);
    EXPECT_EQ(0, result.boolVal);
    api.Exit();
}

TEST_F(EntryPoints, SetStateAsProjectCopiesTheConfiguredStateAndClearsIt) {
    api.InitSet(0);
    api.MenuBool(VARIANT_TRUE);
    EXPECT_EQ(1, api.SetStateAsProject());
    int value;
    EXPECT_EQ(0, api.AskForState(&value));  // the configured state was 0
    EXPECT_EQ(1, api.GetStateEqualProject(&value));
    api.Exit();
}

TEST_F(EntryPoints, NotifySetChangeActsOnlyOnCode18) {
    api.InitSet(0);
    for (int code : {0, 1, 17, 19, -18})
        EXPECT_EQ(0, api.NotifySetChange(code, 99)) << code;
    EXPECT_EQ(0, api.NotifySetChange(18, 0));
    api.Exit();
}

TEST_F(EntryPoints, CallsOutOfOrderAreHarmless) {
    int value = 7;
    // Before any InitSet.
    EXPECT_EQ(VARIANT_TRUE, api.MenuBool(VARIANT_TRUE));
    EXPECT_EQ(1, api.SetStateAsProject());
    EXPECT_EQ(0, api.NotifySetChange(18));
    EXPECT_EQ(1, api.Exit());
    EXPECT_EQ(1, api.Exit());
    EXPECT_EQ(0, api.AskForState(&value));
    // InitSet twice without Exit, then Exit twice.
    EXPECT_EQ(0, api.InitSet(5));
    EXPECT_EQ(0, api.InitSet(6));
    api.AskForState(&value);
    EXPECT_EQ(6, value);
    EXPECT_EQ(1, api.Exit());
    EXPECT_EQ(1, api.Exit());
    EXPECT_EQ(-1, api.MenuBool(VARIANT_TRUE));
}

}  // namespace
