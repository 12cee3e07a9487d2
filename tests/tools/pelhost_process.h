// pelhost.exe run as a child process with pipes on its standard streams, the way a script or
// a terminal drives it. pelcheck's tests run pelcheck.exe the same way.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peltest {

// One stdout line of pelhost: "<ms> ms  tid <id>  <text>".
struct HostLine {
    unsigned long long ms = 0;
    DWORD threadId = 0;
    std::string text;
};

class PelhostProcess {
public:
    // Starts `exe` with `arguments` (already quoted as a command line tail); stdin stays open
    // for Send until Finish.
    PelhostProcess(const std::wstring& exe, const std::wstring& arguments);
    ~PelhostProcess();
    PelhostProcess(const PelhostProcess&) = delete;
    PelhostProcess& operator=(const PelhostProcess&) = delete;

    bool Started() const { return m_process != nullptr; }

    // Writes one line to pelhost's standard input.
    void Send(const std::string& line);
    // Waits until standard output holds a line, at index `from` of Texts() or later, whose
    // text contains `text`.
    bool WaitForLine(const std::string& text, size_t from = 0, DWORD timeoutMs = 30000);
    // Closes standard input, waits for the end and returns the exit code (-1 if it had to be
    // killed after `timeoutMs`).
    int Finish(DWORD timeoutMs = 60000);

    std::string Output() const;
    std::string Errors() const;
    // Standard output parsed into stamped lines; lines without a stamp are left out.
    std::vector<HostLine> Lines() const;
    // The texts of Lines(), in order.
    std::vector<std::string> Texts() const;

private:
    void Pump(HANDLE pipe, std::string& sink);
    void Drain(HANDLE pipe, std::string& sink);
    bool Stopping() const;
    void StopReaders();

    HANDLE m_process = nullptr;
    HANDLE m_stdin = nullptr;
    HANDLE m_stdout = nullptr;
    HANDLE m_stderr = nullptr;
    std::thread m_outReader;
    std::thread m_errReader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopReading = false;  // guarded by m_mutex
    std::string m_out;
    std::string m_err;
};

// Runs pelhost to the end with the given arguments and standard input text.
struct PelhostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<std::string> texts;
};
PelhostRun RunPelhost(const std::wstring& exe, const std::wstring& arguments,
                      const std::string& input = std::string());

// Index of the first text containing `part` at or after `from`; -1 when there is none.
int FindText(const std::vector<std::string>& texts, const std::string& part, size_t from = 0);
// Number of texts containing `part`.
size_t CountTexts(const std::vector<std::string>& texts, const std::string& part);

}  // namespace peltest
