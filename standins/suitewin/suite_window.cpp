#include "suite_window.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace suitewin {
namespace {

struct NumberOption {
    const wchar_t* flag;
    const wchar_t* env;
    DWORD WindowOptions::*field;
};

const NumberOption kNumberOptions[] = {
    {L"--delay-window", L"PEL_MONITOR_DELAY_MS", &WindowOptions::delayWindowMs},
    {L"--exit-after", L"PEL_MONITOR_EXIT_MS", &WindowOptions::exitAfterMs},
    {L"--resume-after", L"PEL_MONITOR_RESUME_MS", &WindowOptions::resumeAfterMs},
    {L"--slow", L"PEL_MONITOR_SLOW_MS", &WindowOptions::slowMs},
    {L"--slow-count", L"PEL_MONITOR_SLOW_COUNT", &WindowOptions::slowCount},
};

// The window procedure has no other way to reach them.
WindowOptions g_options;
const wchar_t* g_windowClass = L"";
DWORD g_messageCount = 0;

std::string Utf8(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    return out;
}

// One line per event, written in one piece so that programs sharing a log do not interleave.
// Common fields: the event, the window class, the process, GetTickCount64 (comparable between
// processes) and the local time.
void Log(const char* event, const std::string& fields) {
    if (g_options.logPath.empty()) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char head[160];
    std::snprintf(head, sizeof(head), "%s class=%s pid=%lu tick=%llu time=%02u:%02u:%02u.%03u",
                  event, Utf8(g_windowClass, static_cast<int>(wcslen(g_windowClass))).c_str(),
                  GetCurrentProcessId(), static_cast<unsigned long long>(GetTickCount64()),
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    const std::string line = head + (fields.empty() ? "" : " " + fields) + "\r\n";
    HANDLE file = CreateFileW(g_options.logPath.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// dwData, cbData, the fields of the state message as far as cbData holds them, the block in
// hex, and the sender last (it may contain blanks). False when the message is too short to
// hold a state; otherwise the state is in `state`.
bool LogMessage(const COPYDATASTRUCT& cds, INT32* state) {
    const BYTE* data = static_cast<const BYTE*>(cds.lpData);
    const DWORD size = data ? cds.cbData : 0;
    char number[64];
    std::snprintf(number, sizeof(number), "dwData=%llu cbData=%lu",
                  static_cast<unsigned long long>(cds.dwData), cds.cbData);
    std::string fields = number;
    const bool hasState = size >= 8;
    if (hasState) {
        INT32 code;
        std::memcpy(&code, data, 4);
        std::memcpy(state, data + 4, 4);
        std::snprintf(number, sizeof(number), " nCode=%d nState=%d", code, *state);
        fields += number;
    }
    fields += " data=";
    static const char kHex[] = "0123456789abcdef";
    for (DWORD i = 0; i < size && i < 4096; ++i) {
        fields += kHex[data[i] >> 4];
        fields += kHex[data[i] & 15];
    }
    wchar_t sender[260] = {};
    if (size > 8)
        std::memcpy(sender, data + 8, size - 8 < sizeof(sender) ? size - 8 : sizeof(sender));
    fields += " sender=" + Utf8(sender, static_cast<int>(wcsnlen(sender, 260)));
    Log("message", fields);
    return hasState;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COPYDATA: {
            INT32 state = 0;
            const bool hasState =
                LogMessage(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), &state);
            const bool slow =
                !g_options.slowStateOnly || (hasState && state == g_options.slowState);
            // A sender that waits with a time-out sees this one as not answering.
            if (g_options.slowMs && slow && g_messageCount++ < g_options.slowCount) {
                Sleep(g_options.slowMs);
                Log("reply", hasState ? "nState=" + std::to_string(state) : "");
            }
            return TRUE;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Ends the program at --exit-after whatever the window's thread is doing, so that nothing is
// left running after a test or a demo.
DWORD WINAPI ExitTimer(void*) {
    Sleep(g_options.exitAfterMs);
    Log("exit", "");
    ExitProcess(0);
}

bool ReadVariable(const wchar_t* name, std::wstring* value) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return false;
    value->assign(size, L'\0');
    value->resize(GetEnvironmentVariableW(name, &(*value)[0], size));
    return true;
}

DWORD ToNumber(const wchar_t* text, bool* ok) {
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(text, &end, 10);
    *ok = end != text && *end == L'\0';
    return static_cast<DWORD>(value);
}

bool ToState(const wchar_t* text, WindowOptions& options) {
    wchar_t* end = nullptr;
    const long value = wcstol(text, &end, 10);
    if (end == text || *end != L'\0') return false;
    options.slowStateOnly = true;
    options.slowState = static_cast<INT32>(value);
    return true;
}

}  // namespace

void ReadEnvironment(WindowOptions& options) {
    std::wstring value;
    if (ReadVariable(L"PEL_MONITOR_LOG", &value)) options.logPath = value;
    if (ReadVariable(L"PEL_MONITOR_HANG", &value)) options.hang = value != L"0";
    if (ReadVariable(L"PEL_MONITOR_SLOW_STATE", &value)) ToState(value.c_str(), options);
    for (const NumberOption& option : kNumberOptions) {
        bool ok = false;
        if (!ReadVariable(option.env, &value)) continue;
        const DWORD number = ToNumber(value.c_str(), &ok);
        if (ok) options.*option.field = number;
    }
}

bool ParseCommandLine(const wchar_t* commandLine, WindowOptions& options) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    if (!argv) return false;
    bool ok = true;
    for (int i = 1; ok && i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (wcscmp(arg, L"--hang") == 0) {
            options.hang = true;
            continue;
        }
        if (i + 1 >= argc) {
            ok = false;
            break;
        }
        if (wcscmp(arg, L"--log") == 0) {
            options.logPath = argv[++i];
            continue;
        }
        if (wcscmp(arg, L"--slow-state") == 0) {
            ok = ToState(argv[++i], options);
            continue;
        }
        ok = false;
        for (const NumberOption& option : kNumberOptions) {
            if (wcscmp(arg, option.flag) == 0) {
                options.*option.field = ToNumber(argv[++i], &ok);
                break;
            }
        }
    }
    LocalFree(argv);
    return ok;
}

int RunSuiteWindow(const wchar_t* windowClass, const WindowOptions& options, bool startedUninit) {
    g_options = options;
    g_windowClass = windowClass;
    const wchar_t* commandLine = GetCommandLineW();
    Log("start", std::string("uninit=") + (startedUninit ? "1" : "0") +
                     " cmdline=" + Utf8(commandLine, static_cast<int>(wcslen(commandLine))));

    HANDLE timer = CreateThread(nullptr, 0, ExitTimer, nullptr, 0, nullptr);
    if (!timer) return 1;
    CloseHandle(timer);

    Sleep(options.delayWindowMs);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = windowClass;
    if (!RegisterClassExW(&wc)) return 1;
    HWND window = CreateWindowExW(0, windowClass, windowClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 200, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    char handle[32];
    std::snprintf(handle, sizeof(handle), "hwnd=%p", static_cast<void*>(window));
    Log("window", handle);

    if (options.hang) {
        Log("hang", "");
        Sleep(options.resumeAfterMs ? options.resumeAfterMs : INFINITE);
        Log("resume", "");
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Log("exit", "");
    return 0;
}

}  // namespace suitewin
