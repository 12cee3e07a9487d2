// The suite's window programs (the build's expertframe and qxmonxp stand-ins) as the tests
// start, read and end them: each writes one line per event to the log it is given.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace peltest {

// One line of a window program's log: the event and its fields.
struct LogEvent {
    std::string event;
    std::map<std::string, std::string> fields;

    std::string Field(const std::string& key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? std::string() : it->second;
    }
};

std::vector<LogEvent> ReadLog(const std::wstring& path);

// The events of one kind written by the windows of one class.
std::vector<LogEvent> Select(const std::vector<LogEvent>& events, const std::string& event,
                             const std::string& windowClass);

// Monitors started by the loader ("/uninit"), as their start lines.
std::vector<LogEvent> LoaderStartedMonitors(const std::wstring& log);

// The first top-level window of the class, waiting up to `timeoutMs` for it.
HWND WaitForWindow(const wchar_t* windowClass, DWORD timeoutMs = 20000);

// Asks a window program to close its windows and waits for it; ends it by force only when it
// does not go. True when it ended by itself.
bool EndProgram(HANDLE process, DWORD processId);

// Ends every monitor that the loader started and that logged to `log`; true when all of them
// ended by themselves when asked.
bool EndLoaderStartedMonitors(const std::wstring& log);

// A window program of the build started by the test, ended at the latest when it goes out of
// scope.
class Program {
public:
    Program(const wchar_t* file, const std::wstring& options);
    ~Program() { End(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_info.hProcess != nullptr; }
    DWORD Id() const { return m_info.dwProcessId; }
    bool End();

private:
    PROCESS_INFORMATION m_info = {};
};

}  // namespace peltest
