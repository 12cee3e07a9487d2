// The passes over the table: refresh from the store, signalling, and worker start-up.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "config/pel_init.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "debug_capture.h"
#include "loader/state_passes.h"
#include "platform/active_mask.h"
#include "suite.h"

namespace {

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

class StatePasses : public ::testing::Test {
protected:
    void SetUp() override {
        g_ArrayPlugin.RemoveAll();
        pel::g_bRunning = true;
    }
    void TearDown() override {
        CPelInit().ExitClear();
        for (int i = 0; i < g_ArrayPlugin.Count(); ++i) {
            PluginItem& item = g_ArrayPlugin.At(i);
            for (HANDLE* e : {&item.hEventEnable, &item.hEventDisable, &item.hEventExit,
                              &item.hEventSetupChange}) {
                if (*e) CloseHandle(*e);
            }
        }
        g_ArrayPlugin.RemoveAll();
    }

    // A record as if its worker were running: four events owned by the test.
    int AddRecord(int nLoader, int bEnable, bool withEvents, int nId = 0) {
        PluginItem item;
        std::memset(&item, 0, sizeof(item));
        pel::CopyText(item.chCompose, L"Comp");
        item.nLoader = nLoader;
        item.bEnable = bEnable;
        item.nId = nId;
        if (withEvents) {
            item.hEventEnable = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            item.hEventDisable = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            item.hEventExit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            item.hEventSetupChange = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        }
        return g_ArrayPlugin.Add(item);
    }
    PluginItem& Record(int i) { return g_ArrayPlugin.At(i); }

    peltest::TestSuite suite;
};

TEST_F(StatePasses, SignallingSetsSetupChangeAndTheEventOfEachRecordsState) {
    const int on = AddRecord(1, 1, true);
    const int off = AddRecord(1, 0, true);
    const int other = AddRecord(2, 1, true);
    AddRecord(1, 1, false);  // no worker: nothing to set
    EXPECT_EQ(1, SignalPlugins(18));
    EXPECT_TRUE(IsSet(Record(on).hEventSetupChange));
    EXPECT_TRUE(IsSet(Record(on).hEventEnable));
    EXPECT_FALSE(IsSet(Record(on).hEventDisable));
    EXPECT_TRUE(IsSet(Record(off).hEventSetupChange));
    EXPECT_TRUE(IsSet(Record(off).hEventDisable));
    EXPECT_FALSE(IsSet(Record(off).hEventEnable));
    for (HANDLE e : {Record(other).hEventEnable, Record(other).hEventDisable,
                     Record(other).hEventSetupChange})
        EXPECT_FALSE(IsSet(e));
    for (int i : {on, off, other}) EXPECT_FALSE(IsSet(Record(i).hEventExit));
}

TEST_F(StatePasses, OnlyCode18CarriesTheSetupChange) {
    const int on = AddRecord(1, 1, true);
    SignalPlugins(17);
    EXPECT_FALSE(IsSet(Record(on).hEventSetupChange));
    EXPECT_TRUE(IsSet(Record(on).hEventEnable));
}

TEST_F(StatePasses, NothingIsSignalledOrStartedOutsideInitSetAndExit) {
    const int on = AddRecord(1, 1, true);
    pel::g_bRunning = false;
    SignalPlugins(18);
    EXPECT_FALSE(IsSet(Record(on).hEventEnable));
    EXPECT_FALSE(IsSet(Record(on).hEventSetupChange));
    const int idle = AddRecord(1, 1, false);
    StartWorkers();
    EXPECT_EQ(0, Record(idle).bThreadStarted);
    EXPECT_EQ(nullptr, Record(idle).hEventEnable);
}

TEST_F(StatePasses, RefreshTakesEveryRecordsBitFromTheStore) {
    suite.SetActiveMask((1u << 1) | (1u << 31));
    AddRecord(1, 0, false, 33);
    AddRecord(2, 0, false, -1);  // the loader value does not matter here
    AddRecord(1, 1, false, 5);
    g_nState = 0;
    EXPECT_EQ(1, RefreshPluginState());
    EXPECT_EQ(1, Record(0).bActiveOpt);
    EXPECT_EQ(1, Record(0).bEnable);
    EXPECT_EQ(1, Record(1).bActiveOpt);
    EXPECT_EQ(0, Record(2).bActiveOpt);
    EXPECT_EQ(0, Record(2).bEnable);
    EXPECT_EQ(1, g_nState.load());

    suite.DeleteValue(L"OPTIONS\\Active", L"ActiveOpt");  // unreadable mask: all inactive
    g_nState = -1;
    RefreshPluginState();
    EXPECT_EQ(0, Record(0).bEnable);
    EXPECT_EQ(0, Record(1).bEnable);
    EXPECT_EQ(0, g_nState.load());
    EXPECT_EQ(0u, ActiveOptionMask());
}

TEST_F(StatePasses, RefreshOfAnEmptyTableTurnsTheStateOff) {
    suite.SetActiveMask(0xFFFFFFFF);
    g_nState = 1;
    RefreshPluginState();
    EXPECT_EQ(0, g_nState.load());
    EXPECT_EQ(0xFFFFFFFFu, ActiveOptionMask());
}

TEST_F(StatePasses, StartWorkersGivesEnabledRecordsEventsAndAThreadOnce) {
    peltest::DebugCapture capture;
    const int started = AddRecord(1, 1, false);
    pel::CopyText(Record(started).MenuTag, L"Tag0");  // kind 0: its worker cannot load it
    const int disabled = AddRecord(1, 0, false);
    const int other = AddRecord(3, 1, false);
    EXPECT_EQ(1, StartWorkers());
    EXPECT_EQ(1, Record(started).bThreadStarted);
    EXPECT_NE(nullptr, Record(started).hThread);
    EXPECT_EQ(0, Record(disabled).bThreadStarted);
    EXPECT_EQ(nullptr, Record(disabled).hEventEnable);
    EXPECT_EQ(0, Record(other).bThreadStarted);

    // The worker gives up on a record it cannot load and closes the record's events.
    ASSERT_TRUE(capture.WaitFor("CWorkPart::Init plugin is not a DLL or com, MenuTag Tag0"));
    HANDLE thread = Record(started).hThread;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    {
        CLoaderLockGuard lock;
        EXPECT_EQ(nullptr, Record(started).hEventEnable);
        EXPECT_EQ(nullptr, Record(started).hEventSetupChange);
        EXPECT_EQ(1, Record(started).bThreadStarted);
    }
    // Never started again.
    StartWorkers();
    EXPECT_EQ(thread, Record(started).hThread);
    EXPECT_EQ(1u, capture.Count("CWorkPart::Init plugin is not a DLL or com, MenuTag Tag0"));
}

}  // namespace
