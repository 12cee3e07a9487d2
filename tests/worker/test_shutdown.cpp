// Exit: every plug-in is closed exactly once on its own worker thread and never called again;
// workers still loading are waited for, workers hung in a call are given up and close their
// plug-in once the call returns.
#include "worker_test.h"

#include <winternl.h>

#include <cstdio>
#include <vector>

namespace {

using workertest::ComMenu;
using workertest::DllFun;
using workertest::Loaded;
using workertest::Texts;
using workertest::WorkerTest;

std::string GaveUp(const std::string& tag) {
    return "CPelInit::ExitClear MenuTag " + tag + " did not end in time, closed when its call returns";
}

// One row of the system's handle list (SystemHandleInformation).
struct SystemHandleEntry {
    USHORT UniqueProcessId;
    USHORT CreatorBackTraceIndex;
    UCHAR ObjectTypeIndex;
    UCHAR HandleAttributes;
    USHORT HandleValue;
    PVOID Object;
    ULONG GrantedAccess;
};

// The handles this process holds. Wine answers GetProcessHandleCount with 0, so the system's
// handle list is counted there instead.
DWORD ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    typedef NTSTATUS(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    std::vector<BYTE> buffer(1 << 20);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const ULONG rows = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries =
        reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    for (ULONG i = 0; i < rows; ++i)
        if (entries[i].UniqueProcessId == self) ++count;
    return count;
}

class Shutdown : public WorkerTest {
protected:
    size_t AllCalls() const {
        size_t n = 0;
        for (const std::string name : {"Antivirus", "NoClose", "Firewall"}) n += Calls(name).size();
        return n;
    }
};

TEST_F(Shutdown, EveryPluginIsClosedOnceAndNothingReachesItUntilTheNextInitSet) {
    AddDll("Antivirus", 1);
    AddDll("NoClose", 2, L"plugfix_noclose.dll");
    AddCom("Firewall", 3);
    layout.Write({1, 2, 3});
    api().InitSet(9);
    for (const std::string tag : {"AntivirusMenu", "NoCloseMenu", "FirewallMenu"})
        ASSERT_TRUE(WaitMessage(Loaded(tag))) << tag;
    EXPECT_EQ(1, api().Exit());

    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "DllClose", "detach"}),
              CallTexts("Antivirus"));
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "detach"}),
              CallTexts("NoClose"));
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", "PluginExit 0",
                     "Release 0"}),
              CallTexts("Firewall", {"attach", "detach"}));
    ExpectOneWorkerThread("Antivirus");
    ExpectOneWorkerThread("NoClose");
    ExpectOneWorkerThread("Firewall", {"detach"});
    EXPECT_EQ(1u, capture.Count("CPelInit::ExitClear DllClose is NULL"));

    // Shut down: no entry point reaches a plug-in or starts a worker.
    const size_t before = AllCalls();
    const Texts messagesBefore = WorkerMessages();
    int hostValue = 0;
    api().MenuBool(0);
    api().MenuBool(1);
    api().SetStateAsProject();
    api().NotifySetChange(18);
    api().AskForState(&hostValue);
    EXPECT_EQ(9, hostValue);
    api().GetStateEqualProject(&hostValue);
    EXPECT_EQ(1, api().Exit());
    Sleep(300);  // room for a wrongly started worker to show itself
    for (const std::string name : {"Antivirus", "NoClose", "Firewall"}) SettledTexts(name);
    EXPECT_EQ(before, AllCalls());
    EXPECT_EQ(messagesBefore, WorkerMessages());

    // The next InitSet runs them all again, and Exit closes them again.
    api().InitSet(9);
    for (const std::string tag : {"AntivirusMenu", "NoCloseMenu", "FirewallMenu"})
        ASSERT_TRUE(WaitMessage(Loaded(tag), 2)) << tag;
    api().Exit();
    EXPECT_EQ(2u, Count("Antivirus", "DllInit"));
    EXPECT_EQ(2u, Count("Antivirus", "DllClose"));
    EXPECT_EQ(2u, Count("Antivirus", "detach"));
    EXPECT_EQ(2u, Count("NoClose", "detach"));
    EXPECT_EQ(2u, Count("Firewall", "create"));
    EXPECT_EQ(2u, Count("Firewall", "PluginExit"));
    EXPECT_EQ(2u, Count("Firewall", "Release"));
}

TEST_F(Shutdown, PluginsStillLoadingAreClosedOnceTheirInitReturns) {
    Switch("Slow", "INIT_MS", "2000");
    Switch("SlowCom", "INIT_MS", "2000");
    AddDll("Slow", 1);
    AddCom("SlowCom", 2);
    layout.Write({1, 2});
    api().InitSet(0);
    ASSERT_TRUE(WaitOp("Slow", "DllInit"));
    ASSERT_TRUE(WaitOp("SlowCom", "PluginInit"));
    EXPECT_EQ(1, api().Exit());

    // Let go while they initialised: the next and last call is the close.
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", "DllClose", "detach"}), CallTexts("Slow"));
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", "PluginExit 0", "Release 0"}),
              CallTexts("SlowCom", {"attach", "detach"}));
    ExpectOneWorkerThread("Slow");
    ExpectOneWorkerThread("SlowCom", {"detach"});
    // The COM worker had published nothing yet when Exit looked.
    EXPECT_EQ(1u, capture.Count("CPelInit::ExitClear pComInterface is NULL"));
    EXPECT_EQ(0u, capture.Count(GaveUp("SlowMenu")));
    EXPECT_EQ(0u, capture.Count(GaveUp("SlowComMenu")));
}

TEST_F(Shutdown, PluginHungInACallIsGivenUpAndOnlyClosedOnceTheCallReturns) {
    HANDLE releaseDll = Blocker("Hung");
    HANDLE releaseCom = Blocker("HungCom");
    AddDll("Hung", 1);
    AddCom("HungCom", 2);
    AddDll("Calm", 3);
    layout.Write({1, 2, 3});
    api().InitSet(0);
    for (const std::string tag : {"HungMenu", "HungComMenu", "CalmMenu"})
        ASSERT_TRUE(WaitMessage(Loaded(tag))) << tag;
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Hung", "blocked"));
    ASSERT_TRUE(WaitOp("HungCom", "blocked"));
    ASSERT_TRUE(WaitOp("Calm", "DllState", 2));

    EXPECT_EQ(1, api().Exit());
    EXPECT_EQ(1u, capture.Count(GaveUp("HungMenu")));
    EXPECT_EQ(1u, capture.Count(GaveUp("HungComMenu")));
    EXPECT_EQ(0u, capture.Count(GaveUp("CalmMenu")));
    EXPECT_EQ(1u, Count("Calm", "DllClose"));
    EXPECT_EQ(1u, Count("Calm", "detach"));

    // The host lets go of the loader; the workers that are still out keep it loaded.
    UnloadLoader();
    EXPECT_NE(nullptr, GetModuleHandleW(L"PelLoader.dll"));
    SetEvent(releaseDll);
    SetEvent(releaseCom);
    // Both workers end and drop their hold on the loader.
    const ULONGLONG deadline = GetTickCount64() + workertest::kWaitMs;
    while (GetModuleHandleW(L"PelLoader.dll") && GetTickCount64() < deadline) Sleep(10);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"PelLoader.dll"));

    // Each was closed by its own worker when its call returned, with no call in between.
    SettledTexts("Hung");
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", DllFun(0), "blocked",
                     "DllClose", "detach"}),
              CallTexts("Hung"));
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", ComMenu(0),
                     "blocked", "PluginExit 0", "Release 0"}),
              CallTexts("HungCom", {"attach", "detach"}));
    ExpectOneWorkerThread("Hung");
    ExpectOneWorkerThread("HungCom", {"detach"});
}

TEST_F(Shutdown, HundredStartAndExitCyclesLeaveNoHandlesBehind) {
    AddDll("Cycler", 1);
    AddCom("CyclerCom", 2);
    layout.Write({1, 2});

    const auto cycle = [this](size_t n) {
        api().InitSet(0);
        ASSERT_TRUE(WaitMessage(Loaded("CyclerMenu"), n)) << n;
        ASSERT_TRUE(WaitMessage(Loaded("CyclerComMenu"), n)) << n;
        ASSERT_EQ(1, api().Exit());
        ASSERT_EQ(n, Count("Cycler", "DllInit")) << n;
        ASSERT_EQ(n, Count("Cycler", "DllClose")) << n;
        ASSERT_EQ(n, Count("Cycler", "attach")) << n;
        ASSERT_EQ(n, Count("Cycler", "detach")) << n;
        ASSERT_EQ(n, Count("CyclerCom", "create")) << n;
        ASSERT_EQ(n, Count("CyclerCom", "PluginExit")) << n;
        ASSERT_EQ(n, Count("CyclerCom", "Release")) << n;
    };

    cycle(1);  // the first cycle loads the libraries that stay
    ASSERT_FALSE(HasFatalFailure());
    const DWORD before = ProcessHandleCount();
    ASSERT_NE(0u, before);
    for (size_t n = 2; n <= 101; ++n) {
        cycle(n);
        ASSERT_FALSE(HasFatalFailure());
    }
    const DWORD after = ProcessHandleCount();
    std::printf("process handles: %lu before, %lu after 100 cycles\n",
                static_cast<unsigned long>(before), static_cast<unsigned long>(after));
    EXPECT_LE(after, before + 5);
}

}  // namespace
