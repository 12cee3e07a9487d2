// COM plug-ins driven through the loader's entry points: the object is created, called and
// released on its own worker thread.
#include "worker_test.h"

namespace {

using workertest::ComMenu;
using workertest::Loaded;
using workertest::Texts;
using workertest::WorkerTest;

class ComPlugins : public WorkerTest {};

TEST_F(ComPlugins, ObjectIsCreatedServedAndReleasedOnItsWorkerThread) {
    AddCom("Firewall", 4);
    layout.Write({4});
    EXPECT_EQ(1, api().InitSet(0));
    ASSERT_TRUE(WaitMessage(Loaded("FirewallMenu")));
    EXPECT_EQ((Texts{"attach", "create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState"}),
              CallTexts("Firewall"));

    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Firewall", "PluginGetState", 2));
    api().MenuBool(VARIANT_TRUE);
    ASSERT_TRUE(WaitOp("Firewall", "PluginGetState", 3));
    api().NotifySetChange(18);
    ASSERT_TRUE(WaitOp("Firewall", "PluginSetupChange"));
    ASSERT_TRUE(WaitOp("Firewall", "PluginGetState", 4));
    api().Exit();

    const Texts texts = CallTexts("Firewall", {"attach", "detach", "PluginSetupChange"});
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", ComMenu(0),
                     "PluginGetState", ComMenu(1), "PluginGetState", ComMenu(1), "PluginGetState",
                     "PluginExit 0", "Release 0"}),
              texts);
    EXPECT_EQ(1u, Count("Firewall", "PluginSetupChange"));
    EXPECT_EQ("PluginSetupChange 0 0", peltest::CallsOf(Calls("Firewall"), "PluginSetupChange")[0].Text());
    // The server may be unloaded by COM on another thread; every call is on the worker's.
    ExpectOneWorkerThread("Firewall", {"detach"});
    EXPECT_EQ(0u, capture.Count("CPelInit::ExitClear pComInterface is NULL"));
}

TEST_F(ComPlugins, ObjectIsCreatedInTheMultithreadedApartment) {
    Switch("Firewall", "APARTMENT", "1");
    AddCom("Firewall", 1);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("FirewallMenu")));
    api().Exit();
    const auto apartments = peltest::CallsOf(Calls("Firewall"), "apartment");
    ASSERT_EQ(1u, apartments.size());
    EXPECT_EQ("apartment mta", apartments[0].Text());
    ExpectOneWorkerThread("Firewall", {"detach"});
}

TEST_F(ComPlugins, UnregisteredClassIsReportedWithItsResult) {
    AddRecord("Ghost", 1, L"0,1", peltest::SuiteLayout::NewClsid());
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage("CWorkPart::ComExit m_pComInterface is NULL"));
    // Its events are closed: nothing reaches it any more.
    api().MenuBool(0);
    api().NotifySetChange(18);
    api().Exit();
    EXPECT_EQ((Texts{"CWorkPart::LoadCom CoCreateInstance Fail, MenuTag GhostMenu, HR 80040154",
                     "CWorkPart::ComExit m_pComInterface is NULL",
                     "CPelInit::ExitClear pComInterface is NULL"}),
              WorkerMessages());
}

TEST_F(ComPlugins, ClassLeftAllZeroFailsTheSameWay) {
    AddRecord("Blank", 1, L"0,1");  // no clsid value
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage("CWorkPart::ComExit m_pComInterface is NULL"));
    api().Exit();
    const Texts messages = WorkerMessages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(0u, messages[0].rfind("CWorkPart::LoadCom CoCreateInstance Fail, MenuTag BlankMenu, HR 8", 0))
        << messages[0];
    EXPECT_EQ("CWorkPart::ComExit m_pComInterface is NULL", messages[1]);
    EXPECT_EQ("CPelInit::ExitClear pComInterface is NULL", messages[2]);
}

TEST_F(ComPlugins, RefusedMenuCallIsStillFollowedByTheStateQuery) {
    Switch("Refuser", "MENU_HR", "0x80004005");
    Switch("Refuser", "STATE_FIRST_ONLY", "1");
    AddCom("Refuser", 1);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("RefuserMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Refuser", "PluginGetState", 2));
    api().MenuBool(1);
    ASSERT_TRUE(WaitOp("Refuser", "PluginGetState", 3));
    api().Exit();
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", ComMenu(0),
                     "PluginGetState", ComMenu(1), "PluginGetState", "PluginExit 0", "Release 0"}),
              CallTexts("Refuser", {"attach", "detach"}));
}

TEST_F(ComPlugins, OnThenOffWhileBusyEndsOff) {
    HANDLE release = Blocker("Firewall");
    AddCom("Firewall", 1);
    layout.Write({1});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("FirewallMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Firewall", "blocked"));
    api().MenuBool(1);
    api().MenuBool(0);
    SetEvent(release);
    ASSERT_TRUE(WaitOp("Firewall", "PluginGetState", 4));
    api().Exit();
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", ComMenu(0),
                     "PluginGetState", ComMenu(1), "PluginGetState", ComMenu(0), "PluginGetState",
                     "PluginExit 0", "Release 0"}),
              CallTexts("Firewall", {"attach", "detach", "blocked"}));
}

TEST_F(ComPlugins, DllAndComPluginsRunSideBySide) {
    AddDll("Antivirus", 1);
    AddCom("Firewall", 2);
    layout.Write({1, 2});
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("AntivirusMenu")));
    ASSERT_TRUE(WaitMessage(Loaded("FirewallMenu")));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Antivirus", "DllState", 2));
    ASSERT_TRUE(WaitOp("Firewall", "PluginGetState", 2));
    api().Exit();
    ExpectOneWorkerThread("Antivirus");
    ExpectOneWorkerThread("Firewall", {"detach"});
    EXPECT_NE(Calls("Antivirus").front().threadId, Calls("Firewall").front().threadId);
    EXPECT_EQ(1u, Count("Antivirus", "DllClose"));
    EXPECT_EQ(1u, Count("Firewall", "Release"));
}

}  // namespace
