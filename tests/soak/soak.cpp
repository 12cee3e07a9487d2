// Soak and fault-injection run: many InitSet/Exit cycles over DLL and COM plug-ins while other
// host threads call the other entry points, with faults injected at random. One host thread
// owns the expert frame and calls the loader again from the state message it receives; two
// plug-ins send to a window of the main thread while they close. Prints what the plug-ins
// themselves counted and the process's resources at the end against the start.
//
//   pelsoak.exe [--seconds N] [--seed S]        (the test suite runs a short form)
#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture.h"
#include "host_window.h"
#include "loader_api.h"
#include "plugfix_calls.h"
#include "process_usage.h"
#include "suite.h"
#include "suite_layout.h"

namespace {

// Faults that are not the loader's own reports: anything but a debugger print counts.
std::atomic<long> g_crashes{0};
LONG CALLBACK CountCrashes(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW ||
        code == EXCEPTION_ILLEGAL_INSTRUCTION || code == EXCEPTION_INT_DIVIDE_BY_ZERO ||
        code == 0xC0000374 /* heap corruption */)
        ++g_crashes;
    return EXCEPTION_CONTINUE_SEARCH;
}

// The monitor window, present for the whole run; some cycles it stops answering for a while.
class Monitor {
public:
    Monitor() {
        m_thread = std::thread([this] { Run(); });
        while (!m_ready) Sleep(1);
    }
    ~Monitor() {
        m_stop = true;
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    void HangFor(DWORD ms) { m_hangMs = ms; }
    long Received() const { return m_received; }
    long OtherStates() const { return m_otherStates; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            auto* self = reinterpret_cast<Monitor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            ++self->m_received;
            // The loader sends the state its refresh computed: 0 or 1, never a host's -1.
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            LONG state = 0;
            if (data->cbData >= 8) std::memcpy(&state, static_cast<const char*>(data->lpData) + 4, 4);
            if (state != 0 && state != 1) ++self->m_otherStates;
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    void Run() {
        m_threadId = GetCurrentThreadId();
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Monitor::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QXXP_Monitor";
        RegisterClassW(&wc);
        HWND window = CreateWindowExW(0, wc.lpszClassName, L"soak", WS_OVERLAPPED, 0, 0, 1, 1,
                                      nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_ready = true;
        MSG msg;
        while (!m_stop) {
            if (const DWORD hang = m_hangMs.exchange(0)) Sleep(hang);  // not pumping: hung
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0)
                continue;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) m_stop = true;
                DispatchMessageW(&msg);
            }
        }
        DestroyWindow(window);
    }

    std::thread m_thread;
    DWORD m_threadId = 0;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_stop{false};
    std::atomic<DWORD> m_hangMs{0};
    std::atomic<long> m_received{0};
    std::atomic<long> m_otherStates{0};
};

struct Totals {
    long cycles = 0;
    long loaded = 0;
    long loadedCom = 0;
    long closed = 0;
    long closedTwice = 0;
    long notClosed = 0;
    long callsAfterClose = 0;
    long failedLoads = 0;
    long hostCalls = 0;
};

void SetSwitch(const std::wstring& copy, const wchar_t* name, const std::wstring& value) {
    std::wstring upper = copy;
    CharUpperW(&upper[0]);
    SetEnvironmentVariableW((L"PLUGFIX_" + upper + L"_" + name).c_str(),
                            value.empty() ? nullptr : value.c_str());
}

// What the plug-ins of one cycle counted: each load closed exactly once, nothing after.
void Account(const peltest::DebugCapture& capture, const std::vector<std::string>& names,
             const std::vector<bool>& isCom, Totals& totals) {
    for (size_t i = 0; i < names.size(); ++i) {
        const auto calls = peltest::PluginCalls(capture, names[i]);
        const std::string opened = isCom[i] ? "create" : "DllInit";
        const std::string closing = isCom[i] ? "Release" : "DllClose";
        long loads = 0, closes = 0;
        bool closedNow = false;
        for (const peltest::PluginCall& call : calls) {
            if (call.op == opened) {
                ++loads;
                closedNow = false;
            } else if (call.op == closing) {
                ++closes;
                closedNow = true;
            } else if (closedNow && call.op != "detach" && call.op != "attach" &&
                       call.op != "ResultRelease" && call.op != "sent") {
                ++totals.callsAfterClose;
                std::printf("call after close: %s %s\n", names[i].c_str(), call.Text().c_str());
            }
        }
        totals.loaded += loads;
        if (isCom[i]) totals.loadedCom += loads;
        totals.closed += closes;
        if (closes > loads) totals.closedTwice += closes - loads;
        if (loads > closes) {
            totals.notClosed += loads - closes;
            std::printf("not closed: %s (%ld loads, %ld closes)\n", names[i].c_str(), loads,
                        closes);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 45;
    unsigned seed = 20261208;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        else if (option == "--seed")
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else {
            std::fprintf(stderr, "usage: pelsoak [--seconds N] [--seed S]\n");
            return 2;
        }
    }
    AddVectoredExceptionHandler(1, CountCrashes);
    std::mt19937 random(seed);
    peltest::DebugCapture capture;
    peltest::TestSuite suite;
    peltest::SuiteLayout layout(suite);
    const int dllCount = 4, comCount = 2;
    std::vector<std::wstring> copies;
    std::vector<std::string> names;
    std::vector<bool> isCom;
    for (int i = 0; i < dllCount; ++i) {
        copies.push_back(L"SoakDll" + std::to_wstring(i));
        layout.AddDll(copies.back(), i, L"plugfix_dll.dll", 10);
        isCom.push_back(false);
    }
    for (int i = 0; i < comCount; ++i) {
        copies.push_back(L"SoakCom" + std::to_wstring(i));
        layout.AddCom(copies.back(), dllCount + i, L"plugfix_com.dll",
                      peltest::SuiteLayout::NewClsid());
        isCom.push_back(true);
    }
    for (const std::wstring& c : copies) names.emplace_back(c.begin(), c.end());
    layout.AddDll(L"SoakOff", 20, L"plugfix_dll.dll", 10);
    std::vector<int> active;
    for (int i = 0; i < dllCount + comCount; ++i) active.push_back(i);
    layout.Write(active);
    suite.AddComponent(L"QXMonxp");  // resolvable, though the window is always there
    const std::wstring storeRoot = L"HKCU\\" + suite.StoreKey();
    const std::wstring installPath = peltest::BinPath(L"QXInstall.dll");
    Monitor monitor;

    // Host threads calling the other entry points throughout; the loader is swapped under them
    // only while they hold no call (the host would not unload a DLL it is calling).
    SRWLOCK loaderLock = SRWLOCK_INIT;
    peltest::LoaderApi* api = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<long> hostCalls{0};
    std::atomic<long> reentries{0};
    // The expert frame, on host thread 0: the state message that thread's own settings change
    // sends it calls the loader again (not Exit and InitSet: a load the cycle's Exit has not
    // seen would not be counted).
    const auto frameHandler = [&](std::mt19937& r, int& depth) {
        return [&](UINT message, WPARAM, LPARAM) -> LRESULT {
            if (message != WM_COPYDATA || InSendMessage() || depth > 0) return TRUE;
            ++depth;
            switch (r() % 4) {
                case 0:
                    api->MenuBool(VARIANT_TRUE);
                    break;
                case 1:
                    api->MenuBool(0);
                    break;
                case 2:
                    api->SetStateAsProject();
                    break;
                case 3:
                    api->Exit();
                    break;
            }
            ++reentries;
            --depth;
            return TRUE;
        };
    };
    const auto startHosts = [&] {
        std::vector<std::thread> hosts;
        for (int t = 0; t < 3; ++t) {
            hosts.emplace_back([&, t] {
                std::mt19937 r(seed + 17 * (t + 1));
                int depth = 0;
                std::unique_ptr<peltest::HostWindow> frame;
                if (t == 0)
                    frame = std::make_unique<peltest::HostWindow>(L"QxXP_ExpertFrame",
                                                                  frameHandler(r, depth));
                while (!stop) {
                    AcquireSRWLockShared(&loaderLock);
                    if (api) {
                        int value = 0;
                        switch (r() % 8) {
                            case 0:
                            case 1:
                                api->MenuBool(VARIANT_TRUE);
                                break;
                            case 2:
                            case 3:
                                api->MenuBool(0);
                                break;
                            case 4:
                                api->AskForState(&value);
                                break;
                            case 5:
                                api->GetStateEqualProject(&value);
                                break;
                            case 6:
                                api->SetStateAsProject();
                                break;
                            case 7:
                                api->NotifySetChange(r() % 4 == 0 ? 18 : 3);
                                break;
                        }
                        ++hostCalls;
                    }
                    ReleaseSRWLockShared(&loaderLock);
                    peltest::SleepAnswering(r() % 15);
                }
            });
        }
        return hosts;
    };

    // A window of the main thread, the one that runs InitSet and Exit; two plug-ins send to it
    // while they close.
    std::atomic<long> sentAtClose{0};
    peltest::HostWindow tray(peltest::HostWindow::PrivateClass(L"PelSoakHost"),
                             [&](UINT message, WPARAM, LPARAM) -> LRESULT {
                                 if (message == WM_APP) ++sentAtClose;
                                 return 1;
                             });
    const std::string trayText = tray.HandleText();
    const std::wstring trayHandle(trayText.begin(), trayText.end());
    SetSwitch(copies[1], L"CLOSE_SEND", trayHandle);
    SetSwitch(copies[dllCount], L"CLOSE_SEND", trayHandle);
    // The main thread waits as a host's thread does, answering what is sent to its window.
    const auto lockExclusive = [&] {
        while (!TryAcquireSRWLockExclusive(&loaderLock)) peltest::SleepAnswering(1);
    };

    Totals totals;
    const auto cycle = [&] {
        // Faults of this cycle.
        for (size_t i = 0; i < copies.size(); ++i) {
            SetSwitch(copies[i], L"INIT_MS",
                      random() % 4 == 0 ? std::to_wstring(random() % 300) : L"");
            SetSwitch(copies[i], L"STATE",
                      random() % 3 == 0 ? std::to_wstring(static_cast<int>(random())) : L"");
            SetSwitch(copies[i], isCom[i] ? L"MENU_HR" : L"RESULT_BSTR",
                      random() % 3 == 0 ? L"0x80004005" : L"");
        }
        // A plug-in file that is missing for this cycle fails to load.
        const size_t broken = random() % (copies.size() * 2);
        const std::wstring brokenPath =
            broken < copies.size() && !isCom[broken]
                ? suite.ComponentDir(copies[broken]) + L"\\" + copies[broken] + L".dll"
                : L"";
        if (!brokenPath.empty()) MoveFileW(brokenPath.c_str(), (brokenPath + L".off").c_str());
        // Now and then no store values, or no install library.
        const unsigned storeFault = random() % 10;
        SetEnvironmentVariableW(L"VEMM_STORE_ROOT", storeFault == 0
                                                        ? (storeRoot + L"-missing").c_str()
                                                        : storeRoot.c_str());
        suite.SetString(L"FileMap\\Common", L"QXInstall.dll",
                        storeFault == 1 ? L"C:\\nowhere\\QXInstall.dll" : installPath);
        if (random() % 8 == 0) monitor.HangFor(1500);

        lockExclusive();
        api = new peltest::LoaderApi;
        ReleaseSRWLockExclusive(&loaderLock);

        AcquireSRWLockShared(&loaderLock);
        api->InitSet(static_cast<int>(totals.cycles));
        ReleaseSRWLockShared(&loaderLock);
        peltest::SleepAnswering(50 + random() % 250);
        AcquireSRWLockShared(&loaderLock);
        api->Exit();
        ReleaseSRWLockShared(&loaderLock);

        lockExclusive();
        delete api;  // the host unloads the loader at once
        api = nullptr;
        ReleaseSRWLockExclusive(&loaderLock);

        if (!brokenPath.empty()) MoveFileW((brokenPath + L".off").c_str(), brokenPath.c_str());
        Account(capture, names, isCom, totals);
        capture.Clear();
        ++totals.cycles;
    };

    // One cycle alone first, for the one-time loads (store and install libraries, COM).
    cycle();
    peltest::SleepAnswering(200);
    const peltest::ProcessUsage start = peltest::MeasureProcess();
    std::vector<std::thread> hosts = startHosts();
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < deadline) cycle();
    stop = true;
    for (std::thread& h : hosts) h.join();
    peltest::SleepAnswering(200);
    const peltest::ProcessUsage end = peltest::MeasureProcess();
    totals.hostCalls = hostCalls;

    std::printf("cycles completed          %ld\n", totals.cycles);
    std::printf("host calls between        %ld\n", totals.hostCalls);
    std::printf("plug-ins loaded           %ld (%ld DLL, %ld COM)\n", totals.loaded,
                totals.loaded - totals.loadedCom, totals.loadedCom);
    std::printf("plug-ins closed           %ld\n", totals.closed);
    std::printf("loaded but not closed     %ld\n", totals.notClosed);
    std::printf("closed more than once     %ld\n", totals.closedTwice);
    std::printf("calls after close         %ld\n", totals.callsAfterClose);
    std::printf("state messages to monitor %ld\n", monitor.Received());
    std::printf("states other than 0 or 1  %ld\n", monitor.OtherStates());
    std::printf("re-entries from the frame %ld\n", reentries.load());
    std::printf("sends to the host at close %ld\n", sentAtClose.load());
    std::printf("handles    start %6ld  end %6ld\n", start.handles, end.handles);
    std::printf("threads    start %6ld  end %6ld\n", start.threads, end.threads);
    std::printf("private KiB start %6llu  end %6llu\n",
                static_cast<unsigned long long>(start.privateBytes / 1024),
                static_cast<unsigned long long>(end.privateBytes / 1024));
    std::printf("crashes                   %ld\n", g_crashes.load());
    const bool sound = totals.notClosed == 0 && totals.closedTwice == 0 &&
                       totals.callsAfterClose == 0 && g_crashes == 0 &&
                       monitor.OtherStates() == 0 && reentries > 0 && sentAtClose > 0 &&
                       end.threads <= start.threads && end.handles <= start.handles + 16;
    std::printf("%s\n", sound ? "soak: nothing lost" : "soak: FAILED");
    return sound ? 0 : 1;
}
