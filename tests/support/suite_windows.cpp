#include "suite_windows.h"

#include "suite.h"
#include "utf16_file.h"

namespace peltest {
namespace {

LogEvent ParseLine(const std::string& line) {
    LogEvent parsed;
    size_t pos = line.find(' ');
    parsed.event = line.substr(0, pos);
    while (pos != std::string::npos) {
        const size_t start = pos + 1;
        const size_t equals = line.find('=', start);
        if (equals == std::string::npos) break;
        const std::string key = line.substr(start, equals - start);
        // These two may contain blanks and come last.
        if (key == "cmdline" || key == "sender") {
            parsed.fields[key] = line.substr(equals + 1);
            break;
        }
        pos = line.find(' ', equals);
        parsed.fields[key] =
            line.substr(equals + 1, pos == std::string::npos ? pos : pos - equals - 1);
    }
    return parsed;
}

BOOL CALLBACK PostClose(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

std::vector<LogEvent> ReadLog(const std::wstring& path) {
    std::vector<LogEvent> events;
    std::string text;
    if (!ReadBytes(path, &text)) return events;
    size_t begin = 0;
    for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        events.push_back(ParseLine(text.substr(begin, end - begin)));
    return events;
}

std::vector<LogEvent> Select(const std::vector<LogEvent>& events, const std::string& event,
                             const std::string& windowClass) {
    std::vector<LogEvent> selected;
    for (const LogEvent& e : events)
        if (e.event == event && e.Field("class") == windowClass) selected.push_back(e);
    return selected;
}

std::vector<LogEvent> LoaderStartedMonitors(const std::wstring& log) {
    std::vector<LogEvent> starts;
    for (const LogEvent& start : Select(ReadLog(log), "start", "QXXP_Monitor"))
        if (start.Field("uninit") == "1") starts.push_back(start);
    return starts;
}

HWND WaitForWindow(const wchar_t* windowClass, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = FindWindowExW(nullptr, nullptr, windowClass, nullptr)) return window;
        if (GetTickCount64() >= deadline) return nullptr;
        Sleep(20);
    }
}

bool EndProgram(HANDLE process, DWORD processId) {
    EnumWindows(PostClose, static_cast<LPARAM>(processId));
    if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0) return true;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    return false;
}

bool EndLoaderStartedMonitors(const std::wstring& log) {
    bool byThemselves = true;
    for (const LogEvent& start : LoaderStartedMonitors(log)) {
        const DWORD processId = std::stoul(start.Field("pid"));
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
        if (!process) continue;  // already gone
        byThemselves = EndProgram(process, processId) && byThemselves;
        CloseHandle(process);
    }
    return byThemselves;
}

Program::Program(const wchar_t* file, const std::wstring& options) {
    std::wstring commandLine = L"\"" + BinPath(file) + L"\" " + options;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_info))
        m_info = {};
}

bool Program::End() {
    if (!m_info.hProcess) return true;
    const bool byItself = EndProgram(m_info.hProcess, m_info.dwProcessId);
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
    m_info = {};
    return byItself;
}

}  // namespace peltest
