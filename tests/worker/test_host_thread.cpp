// The loader as a guest on the host's thread: windows of the host that the loader's own sends
// reach and that call the loader again, plug-ins that talk to the host while they close, and
// Exit while a settings change on another thread waits for the suite's windows. These tests
// run in a Wine prefix of their own, so that the suite's window classes made here meet no
// other test's loader.
#include <atomic>
#include <thread>

#include "host_window.h"
#include "suite_windows.h"
#include "worker_test.h"

namespace {

using peltest::HostWindow;
using workertest::ComMenu;
using workertest::DllFun;
using workertest::Loaded;
using workertest::Texts;
using workertest::WorkerTest;

constexpr wchar_t kFrameClass[] = L"QxXP_ExpertFrame";

std::string GaveUp(const std::string& tag) {
    return "CPelInit::ExitClear MenuTag " + tag +
           " did not end in time, closed when its call returns";
}

// A host window on a thread of its own that answers only what it is sent.
class WindowThread {
public:
    WindowThread(const std::wstring& windowClass, HostWindow::Handler handler)
        : m_thread([this, windowClass, handler] { Run(windowClass, handler); }) {
        WaitForSingleObject(m_ready, workertest::kWaitMs);
    }
    ~WindowThread() {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
        CloseHandle(m_ready);
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

private:
    void Run(const std::wstring& windowClass, const HostWindow::Handler& handler) {
        HostWindow window(windowClass, handler);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts
        m_threadId = GetCurrentThreadId();
        SetEvent(m_ready);
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }

    HANDLE m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD m_threadId = 0;
    std::thread m_thread;
};

class HostThread : public WorkerTest {
protected:
    // A DLL plug-in and a second plug-in, COM unless `secondIsDll`, loaded.
    void StartTwo(const std::string& dll = "Antivirus", const std::string& second = "Firewall",
                  bool secondIsDll = false) {
        AddDll(dll, 1);
        if (secondIsDll)
            AddDll(second, 2);
        else
            AddCom(second, 2);
        layout.Write({1, 2});
        api().InitSet(0);
        ASSERT_TRUE(WaitMessage(Loaded(dll + "Menu")));
        ASSERT_TRUE(WaitMessage(Loaded(second + "Menu")));
    }
    // The monitor program installed as the suite has it, logging to this test's file.
    void InstallMonitor(const std::wstring& delayMs) {
        suite.AddComponent(L"QXMonxp");
        suite.InstallBinary(L"qxmonxp.exe", L"QXMonxp", L"qxmonxp.qxp");
        m_env.emplace_back(std::make_unique<workertest::ScopedEnv>(L"PEL_MONITOR_LOG", m_log));
        m_env.emplace_back(
            std::make_unique<workertest::ScopedEnv>(L"PEL_MONITOR_DELAY_MS", delayMs));
        m_env.emplace_back(
            std::make_unique<workertest::ScopedEnv>(L"PEL_MONITOR_EXIT_MS", L"60000"));
    }
    bool WaitForMonitorStart() const {
        const ULONGLONG deadline = GetTickCount64() + workertest::kWaitMs;
        while (peltest::LoaderStartedMonitors(m_log).empty()) {
            if (GetTickCount64() > deadline) return false;
            Sleep(20);
        }
        return true;
    }
    void TearDown() override { EXPECT_TRUE(peltest::EndLoaderStartedMonitors(m_log)); }

    const std::wstring m_log = suite.Root() + L"\\windows.log";

private:
    std::vector<std::unique_ptr<workertest::ScopedEnv>> m_env;
};

// --- The host's frame calls the loader from the state message -----------------------------

TEST_F(HostThread, ExitFromTheFramesStateMessageClosesEveryPluginAndNothingIsSignalledAfter) {
    ASSERT_NO_FATAL_FAILURE(StartTwo());
    int nestedExits = 0;
    HostWindow frame(kFrameClass, [&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_COPYDATA && !InSendMessage()) {
            ++nestedExits;
            EXPECT_EQ(1, api().Exit());
        }
        return TRUE;
    });

    EXPECT_EQ(0, api().NotifySetChange(18));
    EXPECT_EQ(1, nestedExits);
    // Closed by the nested Exit; the settings change that was under way reached nothing.
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "DllClose", "detach"}),
              SettledTexts("Antivirus"));
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", "PluginExit 0",
                     "Release 0"}),
              SettledTexts("Firewall", {"attach", "detach"}));
}

TEST_F(HostThread, RestartFromTheFramesStateMessageIsNotSignalledByTheCallUnderWay) {
    ASSERT_NO_FATAL_FAILURE(StartTwo());
    HostWindow frame(kFrameClass, [&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_COPYDATA && !InSendMessage()) {
            api().Exit();
            api().InitSet(0);
        }
        return TRUE;
    });

    api().NotifySetChange(18);
    ASSERT_TRUE(WaitMessage(Loaded("AntivirusMenu"), 2));
    ASSERT_TRUE(WaitMessage(Loaded("FirewallMenu"), 2));
    // The new plug-ins only see their own start: no settings change, no second menu call.
    const Texts started{"attach", "DllInit 0 0 0", DllFun(1),       "DllState", "DllClose",
                        "detach", "attach",        "DllInit 0 0 0", DllFun(1),  "DllState"};
    EXPECT_EQ(started, SettledTexts("Antivirus"));
    EXPECT_EQ(0u, Count("Firewall", "PluginSetupChange"));
    EXPECT_EQ(2u, Count("Firewall", "PluginMenuHandle"));
}

TEST_F(HostThread, MenuHandleFromTheFramesStateMessageWhileAnotherThreadWaitsInExit) {
    HANDLE releaseClose = Blocker("Antivirus", "CLOSE_BLOCK");
    ASSERT_NO_FATAL_FAILURE(StartTwo());
    int exitResult = 0;
    int menuResult = -5;
    HostWindow frame(kFrameClass, [&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message != WM_COPYDATA || InSendMessage()) return TRUE;
        std::thread exitThread([&] { exitResult = api().Exit(); });
        // That Exit now waits for the plug-in held in its close.
        EXPECT_TRUE(WaitOp("Antivirus", "blocked"));
        menuResult = api().MenuBool(1);
        SetEvent(releaseClose);
        exitThread.join();
        return TRUE;
    });

    api().NotifySetChange(18);
    EXPECT_EQ(1, exitResult);
    EXPECT_EQ(1, menuResult);
    EXPECT_EQ(
        (Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "DllClose", "blocked", "detach"}),
        SettledTexts("Antivirus"));
    EXPECT_EQ(1u, Count("Firewall", "PluginExit"));
    EXPECT_EQ(0u, Count("Firewall", "PluginSetupChange"));
}

// --- Plug-ins that send to the host's window while they close ------------------------------

TEST_F(HostThread, PluginsThatSendToTheHostWhileClosingAreAnsweredAndUnloadedByExit) {
    int received = 0;
    HostWindow host(HostWindow::PrivateClass(L"PelTestHost"),
                    [&](UINT message, WPARAM, LPARAM) -> LRESULT {
                        if (message == WM_APP) ++received;
                        return 7;
                    });
    Switch("Tray", "CLOSE_SEND", host.HandleText());
    Switch("TrayCom", "CLOSE_SEND", host.HandleText());
    ASSERT_NO_FATAL_FAILURE(StartTwo("Tray", "TrayCom"));

    // Exit runs on the window's thread: it answers the plug-ins while it waits for them.
    EXPECT_EQ(1, api().Exit());
    EXPECT_EQ(2, received);
    EXPECT_EQ(0u, capture.Count(GaveUp("TrayMenu")));
    EXPECT_EQ(0u, capture.Count(GaveUp("TrayComMenu")));
    EXPECT_EQ(
        (Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", "DllClose", "sent 7", "detach"}),
        CallTexts("Tray"));
    EXPECT_EQ((Texts{"create", "PluginInit 0 0 0", ComMenu(1), "PluginGetState", "PluginExit 0",
                     "sent 7", "Release 0"}),
              CallTexts("TrayCom", {"attach", "detach"}));
    ExpectOneWorkerThread("Tray");
    ExpectOneWorkerThread("TrayCom", {"detach"});
}

// --- Exit while a settings change on another thread waits for the suite's windows ----------

TEST_F(HostThread, ExitDuringASlowMonitorStartDoesNotWaitForIt) {
    InstallMonitor(L"6000");  // its window comes 6 s after its start
    ASSERT_NO_FATAL_FAILURE(StartTwo());
    std::atomic<bool> notified{false};
    std::thread notifier([&] {
        api().NotifySetChange(18);
        notified = true;
    });
    ASSERT_TRUE(WaitForMonitorStart());

    EXPECT_EQ(1, api().Exit());
    EXPECT_FALSE(notified);
    EXPECT_EQ(1u, Count("Antivirus", "detach"));
    EXPECT_EQ(1u, Count("Firewall", "Release"));
    notifier.join();
    // The settings change went on to the monitor, but not to the plug-ins Exit had closed.
    EXPECT_EQ(0u, Count("Antivirus", "KIChange"));
    EXPECT_EQ(0u, Count("Firewall", "PluginSetupChange"));
}

TEST_F(HostThread, ExitDuringAStuckFrameDoesNotWaitForIt) {
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WindowThread frame(kFrameClass, [&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_COPYDATA) {
            SetEvent(entered);
            WaitForSingleObject(release, INFINITE);
        }
        return TRUE;
    });
    ASSERT_NO_FATAL_FAILURE(StartTwo());
    std::atomic<bool> notified{false};
    std::thread notifier([&] {
        api().NotifySetChange(18);
        notified = true;
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered, workertest::kWaitMs));

    EXPECT_EQ(1, api().Exit());
    EXPECT_FALSE(notified);
    EXPECT_EQ(1u, Count("Antivirus", "detach"));
    EXPECT_EQ(1u, Count("Firewall", "Release"));
    SetEvent(release);
    notifier.join();
    EXPECT_EQ(0u, Count("Antivirus", "KIChange"));
    CloseHandle(entered);
    CloseHandle(release);
}

// --- InitSet right after Exit gave up on a plug-in ------------------------------------------

TEST_F(HostThread, InitSetAfterAGiveUpStartsThePluginOnlyOnceItsOldCallHasReturned) {
    const std::string putOff =
        "CPelInit::StartWorkers MenuTag HungMenu is still closing its earlier load, started at "
        "a later pass";
    HANDLE release = Blocker("Hung");
    ASSERT_NO_FATAL_FAILURE(StartTwo("Hung", "Calm", true));
    api().MenuBool(0);
    ASSERT_TRUE(WaitOp("Hung", "blocked"));
    EXPECT_EQ(1, api().Exit());
    EXPECT_EQ(1u, capture.Count(GaveUp("HungMenu")));

    // The old call still runs: neither InitSet nor a settings change loads the component.
    api().InitSet(0);
    ASSERT_TRUE(WaitMessage(Loaded("CalmMenu"), 2));
    api().NotifySetChange(18);
    ASSERT_TRUE(WaitOp("Calm", "KIChange"));
    EXPECT_EQ(1u, capture.Count(putOff));
    EXPECT_EQ(1u, Count("Hung", "attach"));
    EXPECT_EQ(1u, Count("Hung", "DllInit"));

    // Its call returns: the old worker closes and unloads the first load, and the next pass
    // starts the component again.
    SetEvent(release);
    ASSERT_TRUE(WaitOp("Hung", "detach"));
    api().SetStateAsProject();
    ASSERT_TRUE(WaitMessage(Loaded("HungMenu"), 2));
    api().Exit();
    EXPECT_EQ(1u, capture.Count(putOff));
    EXPECT_EQ(
        (Texts{"attach", "DllInit 0 0 0", DllFun(1), "DllState", DllFun(0), "blocked", "DllClose",
               "detach", "attach", "DllInit 0 0 0", DllFun(1), "DllState", "DllClose", "detach"}),
        CallTexts("Hung"));
}

}  // namespace
