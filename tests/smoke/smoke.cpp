// End-to-end run of one build's PelLoader.dll as the host drives it: a DLL plug-in and a COM
// plug-in enabled, one component disabled, the suite's windows present. Made to run as one
// process, so that it also serves the 32-bit build under emulation.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "loader/monitor_notify.h"
#include "loader_api.h"
#include "plugfix_calls.h"
#include "suite.h"
#include "suite_layout.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    (ok ? g_passed : g_failed)++;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
}

// The suite's expert frame and monitor windows, on a thread of their own, keeping every state
// message they receive.
class SuiteWindows {
public:
    SuiteWindows() {
        InitializeCriticalSection(&s_lock);
        m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, &SuiteWindows::Main, this, 0, &m_threadId);
        WaitForSingleObject(m_ready, 10000);
    }
    ~SuiteWindows() {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
        CloseHandle(m_ready);
        DeleteCriticalSection(&s_lock);
    }
    struct Received {
        std::string window;
        ULONG_PTR dwData;
        std::vector<unsigned char> bytes;
    };
    std::vector<Received> Messages() {
        EnterCriticalSection(&s_lock);
        std::vector<Received> copy = s_received;
        LeaveCriticalSection(&s_lock);
        return copy;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            Received received;
            received.window = std::string(className, className + wcslen(className));
            received.dwData = data->dwData;
            const auto* bytes = static_cast<const unsigned char*>(data->lpData);
            received.bytes.assign(bytes, bytes + data->cbData);
            EnterCriticalSection(&s_lock);
            s_received.push_back(received);
            LeaveCriticalSection(&s_lock);
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    static DWORD WINAPI Main(void* arg) {
        auto* self = static_cast<SuiteWindows*>(arg);
        for (const wchar_t* name : {L"QxXP_ExpertFrame", L"QXXP_Monitor"}) {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = &SuiteWindows::Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = name;
            RegisterClassW(&wc);
            CreateWindowExW(0, name, name, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            wc.hInstance, nullptr);
        }
        SetEvent(self->m_ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return 0;
    }

    HANDLE m_ready;
    HANDLE m_thread;
    DWORD m_threadId = 0;
    static CRITICAL_SECTION s_lock;
    static std::vector<Received> s_received;
};
CRITICAL_SECTION SuiteWindows::s_lock;
std::vector<SuiteWindows::Received> SuiteWindows::s_received;

// How often fixture copy `name` received exactly `call` ("op args").
size_t CountCalls(const peltest::DebugCapture& capture, const std::string& name, const std::string& call) {
    const std::vector<std::string> texts = peltest::CallTexts(peltest::PluginCalls(capture, name));
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), call));
}

bool WaitCalls(const peltest::DebugCapture& capture, const std::string& name, const std::string& call,
               size_t times) {
    return capture.WaitFor("plugfix " + name + " " + call, times, 20000);
}

bool CheckStateMessage(const std::vector<unsigned char>& bytes, int state) {
    if (bytes.size() != 528) return false;
    LoaderStateMessage expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.nCode = 1330;
    expected.nState = state;
    std::memcpy(expected.szSender, L"PelLoader_01", sizeof(L"PelLoader_01"));
    return std::memcmp(bytes.data(), &expected, 528) == 0;
}

}  // namespace

int main() {
    std::printf("PelLoader smoke run (%d-bit)\n", static_cast<int>(sizeof(void*) * 8));
    peltest::DebugCapture capture;
    peltest::TestSuite suite;
    {
        peltest::SuiteLayout layout(suite);
        layout.AddDll(L"SmokeDll", 1, L"plugfix_dll.dll", 10);
        layout.AddCom(L"SmokeCom", 2, L"plugfix_com.dll", peltest::SuiteLayout::NewClsid());
        layout.AddDll(L"SmokeOff", 3, L"plugfix_dll.dll", 10);
        layout.Write({1, 2});
        SuiteWindows windows;

        {
            peltest::LoaderApi api;
            Check(api.Loaded(), "PelLoader.dll loads and exports its ordinals");
            if (!api.Loaded()) return 1;
            const DWORD host = GetCurrentThreadId();

            Check(api.InitSet(77) == 1, "InitSet returns the configured state 1");
            const bool started = WaitCalls(capture, "SmokeDll", "DllState", 1) &&
                                 WaitCalls(capture, "SmokeCom", "PluginGetState", 1);
            Check(started, "both enabled plug-ins are initialised and queried");
            Check(CountCalls(capture, "SmokeDll", "DllInit 0 0 0") == 1, "DllInit(0, 0, 0) once");
            Check(CountCalls(capture, "SmokeDll", peltest::DllFun(1)) == 1,
                  "menu handler gets VT_BOOL 1, VT_I4 0, VT_INT 0");
            Check(CountCalls(capture, "SmokeCom", "PluginInit 0 0 0") == 1, "PluginInit(0, 0, 0) once");
            Check(CountCalls(capture, "SmokeCom", peltest::ComMenu(1)) == 1,
                  "COM menu call gets VT_BOOL 1 and two empty VARIANTs");
            Check(peltest::PluginCalls(capture, "SmokeOff").empty(), "the disabled component is not loaded");

            VARTYPE type = VT_EMPTY;
            Check(api.MenuBool(0, &type) == 0 && type == VT_BOOL, "MenuHandle(off) returns VT_BOOL 0");
            Check(WaitCalls(capture, "SmokeDll", peltest::DllFun(0), 1) &&
                      WaitCalls(capture, "SmokeCom", peltest::ComMenu(0), 1),
                  "off reaches both plug-ins as VT_BOOL 0");
            Check(api.MenuBool(VARIANT_TRUE, &type) == VARIANT_TRUE && type == VT_BOOL,
                  "MenuHandle(on) returns VT_BOOL -1");
            Check(WaitCalls(capture, "SmokeDll", peltest::DllFun(1), 2) &&
                      WaitCalls(capture, "SmokeCom", peltest::ComMenu(1), 2),
                  "on reaches both plug-ins as VT_BOOL 1, not -1");

            int value = 0;
            Check(api.AskForState(&value) == -1 && value == 77, "AskForState returns -1 and the host value");
            Check(api.GetStateEqualProject(&value) == 0 && value == 77, "GetStateEqualProject: -1 is not 1");
            Check(api.SetStateAsProject() == 1 && api.AskForState(&value) == 1,
                  "SetStateAsProject takes the configured state");

            Check(api.NotifySetChange(18) == 0, "NotifySetChange(18) returns 0");
            Check(WaitCalls(capture, "SmokeDll", "KIChange 0 0", 1) &&
                      WaitCalls(capture, "SmokeCom", "PluginSetupChange 0 0", 1),
                  "the settings change reaches both plug-ins");
            const auto received = windows.Messages();
            bool frame = false, monitor = false;
            for (const auto& m : received) {
                if (m.dwData != 3 || !CheckStateMessage(m.bytes, 1)) continue;
                frame |= m.window == "QxXP_ExpertFrame";
                monitor |= m.window == "QXXP_Monitor";
            }
            Check(received.size() == 2 && frame && monitor,
                  "expert frame and monitor each get the 528-byte state message (1330, 1, PelLoader_01)");

            bool workerThreads = true;
            for (const char* name : {"SmokeDll", "SmokeCom"})
                for (const peltest::PluginCall& call : peltest::PluginCalls(capture, name))
                    if (call.op != "attach" && call.op != "detach") workerThreads &= call.threadId != host;
            Check(workerThreads, "every plug-in call runs on a worker thread");

            Check(api.Exit() == 1, "Exit returns 1");
            const size_t after = capture.Messages().size();
            Check(CountCalls(capture, "SmokeDll", "DllClose") == 1, "the DLL plug-in is closed once");
            Check(CountCalls(capture, "SmokeCom", "PluginExit 0") == 1 &&
                      CountCalls(capture, "SmokeCom", "Release 0") == 1,
                  "the COM plug-in is closed and released once");
            Sleep(1000);
            const std::vector<peltest::DebugMessage> messages = capture.Messages();
            bool quiet = true;
            for (size_t i = after; i < messages.size(); ++i)
                quiet &= messages[i].text.compare(0, 8, "plugfix ") != 0 ||
                         messages[i].text.find(" detach") != std::string::npos;
            Check(quiet, "no plug-in is called after Exit");
        }
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
