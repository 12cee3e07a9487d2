// DLL plug-ins driven through the loader's entry points: what each plug-in receives, on which
// thread, in which order, and what the adapter reports when an entry is missing.
#include "worker_test.h"

#include <thread>

namespace {

using workertest::DllFun;
using workertest::Loaded;
using workertest::Texts;
using workertest::BusyPluginTest;
using workertest::WorkerTest;

class DllPlugins : public WorkerTest {};

TEST_F(DllPlugins, EachPluginIsLoadedAndServedOnAWorkerThreadOfItsOwn) {
    AddDll("Antivirus", 3);
    AddDll("Antispy", 4, L"plugfix_dll.dll", 20);  // menu handler at another ordinal
    layout.Write({3, 4});

    EXPECT_EQ(1, api().InitSet(5));
    ASSERT_TRUE(WaitMessage(Loaded("AntivirusMenu")));
    ASSERT_TRUE(WaitMessage(Loaded("AntispyMenu")));
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState"}), CallTexts("Antivirus"));
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState"}), CallTexts("Antispy"));

    // The host's VARIANT_TRUE reaches the plug-ins as 1.
    EXPECT_EQ(0, api().MenuBool(0));
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 2));
    ASSERT_TRUE(WaitOp("Antispy", "DllState", 2));
    EXPECT_EQ(VARIANT_TRUE, api().MenuBool(VARIANT_TRUE));
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 3));
    ASSERT_TRUE(WaitOp("Antispy", "DllState", 3));
    EXPECT_EQ(1, api().Exit());

    const Texts expected{"attach",    "DllInit 0 0 0", DllFun(1), "DllState", DllFun(0),
                         "DllState",  DllFun(1),       "DllState", "DllClose", "detach"};
    EXPECT_EQ(expected, CallTexts("Antivirus"));
    EXPECT_EQ(expected, CallTexts("Antispy"));
    ExpectOneWorkerThread("Antivirus");
    ExpectOneWorkerThread("Antispy");
    EXPECT_NE(Calls("Antivirus").front().threadId, Calls("Antispy").front().threadId);
    EXPECT_EQ(1u, capture.Count(Loaded("AntivirusMenu")));
    EXPECT_EQ(1u, capture.Count(Loaded("AntispyMenu")));
}

TEST_F(DllPlugins, OnlyEnabledRecordsGetAWorker) {
    AddDll("Enabled", 1);
    AddDll("Disabled", 2);
    layout.Write({1});

    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("EnabledMenu")));
    // Switching on starts no worker for a record that has none.
    api().MenuBool(1);
    ASSERT_TRUE(WaitOp("Enabled", "DllState", 2));
    api().Exit();
    EXPECT_TRUE(Calls("Disabled").empty());
    EXPECT_EQ(1u, Count("Enabled", "detach"));
}

TEST_F(DllPlugins, SettingsChangeReachesEveryRunningPluginAndStartsNewlyEnabledOnes) {
    AddDll("Antivirus", 1);
    AddDll("Antispy", 2);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("AntivirusMenu")));

    // Codes other than 18 change nothing.
    api().NotifySetChange(17);
    // Settings change: the setup-change wake-up and the enable wake-up.
    EXPECT_EQ(0, api().NotifySetChange(18));
    ASSERT_TRUE(WaitOp("Antivirus", "KIChange"));
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 2));
    EXPECT_TRUE(Calls("Antispy").empty());

    // Antispy's bit is set now: it is started and signalled in the same call.
    suite.SetActiveMask((1u << 1) | (1u << 2));
    api().NotifySetChange(18);
    ASSERT_TRUE(WaitMessage(Loaded("AntispyMenu")));
    ASSERT_TRUE(WaitOp("Antispy", "KIChange"));
    ASSERT_TRUE(WaitOp("Antispy", "DllState", 2));
    ASSERT_TRUE(WaitOp("Antivirus", "KIChange", 2));
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 3));

    // Antivirus's bit is cleared: it is switched off.
    suite.SetActiveMask(1u << 2);
    api().NotifySetChange(18);
    ASSERT_TRUE(WaitOp("Antivirus", "KIChange", 3));
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 4));
    ASSERT_TRUE(WaitOp("Antispy", "KIChange", 2));
    ASSERT_TRUE(WaitOp("Antispy", "DllState", 3));
    api().Exit();

    const auto antivirusMenus = peltest::CallsOf(Calls("Antivirus"), "DllFun");
    ASSERT_EQ(4u, antivirusMenus.size());
    EXPECT_EQ(DllFun(0), antivirusMenus.back().Text());
    EXPECT_EQ(3u, Count("Antivirus", "KIChange"));
    for (const auto& call : peltest::CallsOf(Calls("Antivirus"), "KIChange"))
        EXPECT_EQ("KIChange 0 0", call.Text());
    EXPECT_EQ(3u, Count("Antispy", "DllFun"));
    EXPECT_EQ(2u, Count("Antispy", "KIChange"));
    // Every menu call is followed by its state query.
    for (const std::string name : {"Antivirus", "Antispy"}) {
        const Texts texts = CallTexts(name, {"attach", "detach", "KIChange", "DllInit", "DllClose"});
        for (size_t i = 0; i < texts.size(); i += 2) {
            EXPECT_EQ(0u, texts[i].rfind("DllFun ", 0)) << name << " " << i;
            ASSERT_LT(i + 1, texts.size());
            EXPECT_EQ("DllState", texts[i + 1]) << name << " " << i;
        }
    }
    ExpectOneWorkerThread("Antivirus");
    ExpectOneWorkerThread("Antispy");
}

// The worker is held inside a menu call while the host issues commands.
class DllEventOrder : public BusyPluginTest {};

TEST_F(DllEventOrder, OnThenOffWhileBusyEndsOff) {
    StartBusy();
    api().MenuBool(1);
    api().MenuBool(0);
    EXPECT_EQ((Texts{DllFun(1), "DllState", DllFun(0), "DllState"}), ReleaseAndSettle(2));
}

TEST_F(DllEventOrder, OffThenOnWhileBusyEndsOnAndDropsTheOvertakenOff) {
    StartBusy();
    api().MenuBool(0);
    api().MenuBool(1);
    // Enable is taken first and is the last command; the off it overtook is not delivered.
    EXPECT_EQ((Texts{DllFun(1), "DllState"}), ReleaseAndSettle(1));
}

TEST_F(DllEventOrder, OnOffOnWhileBusyEndsOn) {
    StartBusy();
    api().MenuBool(1);
    api().MenuBool(0);
    api().MenuBool(1);
    EXPECT_EQ((Texts{DllFun(1), "DllState"}), ReleaseAndSettle(1));
}

TEST_F(DllEventOrder, RepeatedEnablesWhileBusyGiveOneCall) {
    StartBusy();
    api().MenuBool(1);
    api().MenuBool(1);
    api().MenuBool(VARIANT_TRUE);
    EXPECT_EQ((Texts{DllFun(1), "DllState"}), ReleaseAndSettle(1));
}

TEST_F(DllEventOrder, SetupChangeWakeUpCallsOnlyTheSettingsEntry) {
    StartBusy();
    // Pending: enable (the plug-in's bit is set) and setup-change. Enable is served first;
    // the setup-change wake-up that follows calls KIChange and nothing else.
    api().NotifySetChange(18);
    EXPECT_EQ((Texts{DllFun(1), "DllState", "KIChange 0 0"}), ReleaseAndSettle(1));
}

TEST_F(DllEventOrder, ExitWithCommandsPendingClosesWithoutServingThem) {
    // The broken COM record's shutdown message comes after Exit has set the exit event of the
    // record before it.
    StartBusy(true);
    ASSERT_TRUE(WaitMessage("CWorkPart::ComExit m_pComInterface is NULL"));
    api().NotifySetChange(18);
    std::thread exitThread([this] { EXPECT_EQ(1, api().Exit()); });
    EXPECT_TRUE(WaitMessage("CPelInit::ExitClear pComInterface is NULL"));
    SetEvent(m_release);
    exitThread.join();
    // Enable, exit and setup-change were pending when the call under way returned: the worker,
    // let go, makes no call but the close (not even the state query of that call).
    const Texts expected{"attach",   "DllInit 0 0 0", DllFun(1), "DllState",
                         DllFun(0), "DllClose",      "detach"};
    EXPECT_EQ(expected, CallTexts("Antivirus", {"blocked"}));
    EXPECT_EQ(0u, capture.Count("CPelInit::ExitClear MenuTag AntivirusMenu did not end in time, "
                                "closed when its call returns"));
}

// The adapter's reports when the plug-in or its entries are missing.
class DllAdapter : public WorkerTest {};

TEST_F(DllAdapter, NoPathForTheModuleGivesOnlyTheCloseMessage) {
    AddRecord("Pathless", 1, L"0,2,,10");  // no file name: the install library has no path
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage("CWorkPart::DllExit m_hModule is NULL"));
    // Its events are gone: nothing reaches the record any more.
    api().MenuBool(0);
    api().NotifySetChange(18);
    api().Exit();
    EXPECT_EQ((Texts{"CWorkPart::DllExit m_hModule is NULL"}), WorkerMessages());
}

TEST_F(DllAdapter, ModuleWithoutInitIsClosedAndUnloadedWithoutBeingServed) {
    AddDll("NoInit", 1, L"plugfix_noinit.dll");
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitOp("NoInit", "detach"));
    api().MenuBool(0);
    api().MenuBool(1);
    api().NotifySetChange(18);
    api().Exit();
    EXPECT_EQ((Texts{"attach", "DllClose", "detach"}), CallTexts("NoInit"));
    ExpectOneWorkerThread("NoInit");
    EXPECT_TRUE(WorkerMessages().empty());
}

TEST_F(DllAdapter, ModuleWithoutInitOrCloseIsUnloadedWithTheCloseMessage) {
    AddDll("Bare", 1, L"plugfix_bare.dll");
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitOp("Bare", "detach"));
    api().Exit();
    EXPECT_EQ((Texts{"attach", "detach"}), CallTexts("Bare"));
    EXPECT_EQ((Texts{"CWorkPart::DllExit DllClose is NULL"}), WorkerMessages());
}

TEST_F(DllAdapter, ModuleWithoutStateQueryReportsEachQuery) {
    AddDll("NoState", 1, L"plugfix_nostate.dll");
    layout.Write({1});
    api().InitSet(0);
    const std::string message = "CWorkPart::DllMenuState DllState is NULL, MenuTag NoStateMenu";
    ASSERT_TRUE(WaitMessage(message));
    api().MenuBool(0);
    ASSERT_TRUE(WaitMessage(message, 2));
    api().Exit();
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), DllFun(0), "DllClose", "detach"}),
              CallTexts("NoState"));
    EXPECT_EQ((Texts{message, Loaded("NoStateMenu"), message}), WorkerMessages());
}

TEST_F(DllAdapter, OrdinalZeroNeverCallsTheMenuHandlerButStillQueriesTheState) {
    AddDll("Zero", 1, L"plugfix_dll.dll", 0);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("ZeroMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Zero", "DllState", 2));
    api().Exit();
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", "DllState", "DllState", "DllClose", "detach"}),
              CallTexts("Zero"));
    EXPECT_EQ((Texts{"CWorkPart::DllMenuHandle m_uOrdinal == 0", Loaded("ZeroMenu"),
                     "CWorkPart::DllMenuHandle m_uOrdinal == 0"}),
              WorkerMessages());
}

TEST_F(DllAdapter, MenuOrdinalThatIsNotExportedIsReportedEachTime) {
    AddDll("Elsewhere", 1, L"plugfix_dll.dll", 30);
    AddDll("NoMenu", 2, L"plugfix_nomenu.dll", 10);
    layout.Write({1, 2});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("ElsewhereMenu")));
    ASSERT_TRUE(WaitMessage(Loaded("NoMenuMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Elsewhere", "DllState", 2));
    ASSERT_TRUE(WaitOp("NoMenu", "DllState", 2));
    api().Exit();
    const Texts expected{"attach", "DllInit 0 0 0", "DllState", "DllState", "DllClose", "detach"};
    EXPECT_EQ(expected, CallTexts("Elsewhere"));
    EXPECT_EQ(expected, CallTexts("NoMenu"));
    EXPECT_EQ(4u, capture.Count("CWorkPart::DllMenuHandle DllFun is NULL"));
}

TEST_F(DllAdapter, ModuleWithoutSettingsEntryReportsTheSetupChange) {
    AddDll("NoChange", 1, L"plugfix_nokichange.dll");
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("NoChangeMenu")));
    api().NotifySetChange(18);
    const std::string message = "CWorkPart::DllSetupChange KIChange is NULL, MenuTag NoChangeMenu";
    ASSERT_TRUE(WaitMessage(message));
    ASSERT_TRUE(WaitOp("NoChange", "DllState", 2));
    api().Exit();
    EXPECT_EQ(1u, capture.Count(message));
    EXPECT_EQ(2u, Count("NoChange", "DllFun"));
    EXPECT_EQ(1u, Count("NoChange", "detach"));
}

TEST_F(DllAdapter, ModuleWithoutCloseIsUnloadedAtShutdownWithItsMessage) {
    AddDll("NoClose", 1, L"plugfix_noclose.dll");
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("NoCloseMenu")));
    api().Exit();
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "detach"}),
              CallTexts("NoClose"));
    EXPECT_EQ((Texts{Loaded("NoCloseMenu"), "CPelInit::ExitClear DllClose is NULL"}),
              WorkerMessages());
    ExpectOneWorkerThread("NoClose");
}

TEST_F(DllAdapter, RecordThatIsNeitherDllNorComLoadsNothing) {
    // Both copies exist: a load would show up as their attach.
    AddRecord("KindZero", 1, L"0,0,KindZero.dll,10");
    AddRecord("KindThree", 2, L"0,3,KindThree.dll,10");
    suite.InstallBinary(L"plugfix_dll.dll", L"KindZero", L"KindZero.dll");
    suite.InstallBinary(L"plugfix_dll.dll", L"KindThree", L"KindThree.dll");
    layout.Write({1, 2});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage("CWorkPart::Init plugin is not a DLL or com, MenuTag KindZeroMenu"));
    ASSERT_TRUE(WaitMessage("CWorkPart::Init plugin is not a DLL or com, MenuTag KindThreeMenu"));
    api().MenuBool(0);
    api().NotifySetChange(18);
    api().Exit();
    EXPECT_TRUE(Calls("KindZero").empty());
    EXPECT_TRUE(Calls("KindThree").empty());
    EXPECT_EQ(2u, WorkerMessages().size());
}

TEST_F(DllAdapter, MenuHandlerResultIsLeftAlone) {
    Switch("Owner", "RESULT_OBJECT", "1");
    AddDll("Owner", 1);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("OwnerMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Owner", "DllState", 2));
    api().Exit();
    EXPECT_EQ(2u, Count("Owner", "DllFun"));
    EXPECT_EQ(0u, Count("Owner", "ResultRelease"));
}

}  // namespace
