#include "loader/monitor_notify.h"

#include <windows.h>

#include <cstring>

#include "core/diagnostics.h"
#include "loader/host_wait.h"
#include "platform/install_module.h"

namespace {

constexpr wchar_t kFrameClass[] = L"QxXP_ExpertFrame";
constexpr wchar_t kMonitorClass[] = L"QXXP_Monitor";
constexpr wchar_t kMonitorComponent[] = L"QXMonxp";
constexpr wchar_t kMonitorFile[] = L"qxmonxp.qxp";
constexpr wchar_t kSender[] = L"PelLoader_01";
static_assert(sizeof(kSender) <= sizeof(LoaderStateMessage::szSender), "the sender fits");

constexpr ULONG_PTR kCopyDataKind = 3;
constexpr std::int32_t kStateCode = 1330;
constexpr UINT kSendTimeoutMs = 1000;
constexpr int kWindowPolls = 80;
constexpr DWORD kPollIntervalMs = 500;
constexpr DWORD kPauseAfterFirstSendMs = 1000;
constexpr int kFurtherSends = 16;
constexpr DWORD kResendIntervalMs = 500;

HWND FindSuiteWindow(const wchar_t* windowClass) {
    return FindWindowExW(nullptr, nullptr, windowClass, nullptr);
}

// A hung monitor must not hold the host's thread for longer than the time-out. Like the
// untimed send, it answers messages sent to this thread while it waits.
LRESULT SendTimed(HWND hWnd, COPYDATASTRUCT& cds) {
    DWORD_PTR dwResult = 0;
    return SendMessageTimeoutW(hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &dwResult);
}

// Nobody waits for the monitor program, so its handles are of no use here.
void StartMonitor(const wchar_t* path) {
    wchar_t szCommandLine[] = L"/uninit";  // CreateProcessW may write into it
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof(pi));
    if (CreateProcessW(path, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

HWND WaitForMonitorWindow() {
    for (int i = 0; i < kWindowPolls; ++i) {
        pel::SleepAnswering(kPollIntervalMs);
        if (HWND hWnd = FindSuiteWindow(kMonitorClass)) return hWnd;
    }
    return nullptr;
}

// A monitor just started may not read its messages yet: retry until one is taken.
void SendToStartedMonitor(HWND hWnd, COPYDATASTRUCT& cds) {
    SendTimed(hWnd, cds);
    pel::SleepAnswering(kPauseAfterFirstSendMs);
    if (SendTimed(hWnd, cds)) return;
    for (int i = 0; i < kFurtherSends; ++i) {
        pel::SleepAnswering(kResendIntervalMs);
        if (SendTimed(hWnd, cds)) return;
    }
}

}  // namespace

int NotifyMonitorState(int nState) {
    LoaderStateMessage message{};
    message.nCode = kStateCode;
    message.nState = nState;
    std::memcpy(message.szSender, kSender, sizeof(kSender));

    COPYDATASTRUCT cds;
    cds.dwData = kCopyDataKind;
    cds.cbData = sizeof(message);
    cds.lpData = &message;

    if (HWND hFrame = FindSuiteWindow(kFrameClass))
        SendMessageW(hFrame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));

    if (HWND hMonitor = FindSuiteWindow(kMonitorClass)) {
        if (!SendTimed(hMonitor, cds)) SendTimed(hMonitor, cds);
        return 1;
    }

    wchar_t szPath[260];
    std::memset(szPath, 0, sizeof(szPath));
    GetWorkPathFile(szPath, kMonitorComponent, kMonitorFile);
    if (szPath[0] == L'\0') {
        pel::TraceF("%s is  not exist", "qxmonxp.qxp");
        return 0;
    }

    StartMonitor(szPath);
    if (HWND hMonitor = WaitForMonitorWindow()) SendToStartedMonitor(hMonitor, cds);
    return 1;
}
