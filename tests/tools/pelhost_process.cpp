#include "pelhost_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

namespace peltest {
namespace {

struct PipePair {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

// The child's end is inheritable, ours is not.
PipePair MakePipe(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    PipePair pipe;
    if (!CreatePipe(&pipe.read, &pipe.write, &inherit, 0)) return {};
    SetHandleInformation(childReads ? pipe.write : pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

bool ParseLine(const std::string& line, HostLine& parsed) {
    unsigned long long ms = 0;
    unsigned long tid = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%llu ms tid %lu %n", &ms, &tid, &consumed) != 2 || consumed == 0)
        return false;
    parsed.ms = ms;
    parsed.threadId = tid;
    parsed.text = line.substr(static_cast<size_t>(consumed));
    return true;
}

std::vector<HostLine> ParseOutput(const std::string& output) {
    std::vector<HostLine> lines;
    std::istringstream stream(output);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        HostLine parsed;
        if (ParseLine(line, parsed)) lines.push_back(parsed);
    }
    return lines;
}

bool HasText(const std::string& output, const std::string& part, size_t from) {
    const std::vector<HostLine> lines = ParseOutput(output);
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].text.find(part) != std::string::npos) return true;
    return false;
}

}  // namespace

PelhostProcess::PelhostProcess(const std::wstring& exe, const std::wstring& arguments) {
    PipePair in = MakePipe(true);
    PipePair out = MakePipe(false);
    PipePair err = MakePipe(false);
    if (!in.read || !out.read || !err.read) return;

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read;
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    const BOOL created = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(in.read);
    CloseHandle(out.write);
    CloseHandle(err.write);
    m_stdin = in.write;
    m_stdout = out.read;
    m_stderr = err.read;
    if (!created) return;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_outReader = std::thread([this] { Pump(m_stdout, m_out); });
    m_errReader = std::thread([this] { Pump(m_stderr, m_err); });
}

PelhostProcess::~PelhostProcess() {
    Finish(60000);
    for (HANDLE h : {m_stdout, m_stderr, m_process})
        if (h) CloseHandle(h);
}

// Reads only what the pipe holds, so that it can stop without an end of file: a program that
// the loader starts may inherit pelhost's end of the pipe and keep it open long after.
void PelhostProcess::Pump(HANDLE pipe, std::string& sink) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        const bool broken = !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr);
        if (broken || (available == 0 && Stopping())) {
            Drain(pipe, sink);
            return;
        }
        if (available == 0) {
            Sleep(5);
            continue;
        }
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof(buffer), available));
        if (!ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        sink.append(buffer, got);
        m_changed.notify_all();
    }
}

bool PelhostProcess::Stopping() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopReading;
}

// Under Wine, a pipe can report nothing available while the last write of a program that has
// just ended is still in it. Reads that do not wait take that rest, whether or not some other
// process still holds the pipe's other end.
void PelhostProcess::Drain(HANDLE pipe, std::string& sink) {
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) return;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        sink.append(buffer, got);
        m_changed.notify_all();
    }
}

// After the process has ended: whatever it wrote is in the pipes, so the readers take the rest
// and stop.
void PelhostProcess::StopReaders() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopReading = true;
    }
    if (m_outReader.joinable()) m_outReader.join();
    if (m_errReader.joinable()) m_errReader.join();
}

void PelhostProcess::Send(const std::string& line) {
    if (!m_stdin) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(m_stdin, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool PelhostProcess::WaitForLine(const std::string& text, size_t from, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return HasText(m_out, text, from); });
}

int PelhostProcess::Finish(DWORD timeoutMs) {
    if (m_stdin) {
        CloseHandle(m_stdin);
        m_stdin = nullptr;
    }
    if (!m_process) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(m_process, static_cast<UINT>(-1));
        WaitForSingleObject(m_process, INFINITE);
        code = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(m_process, &code);
    }
    StopReaders();
    return static_cast<int>(code);
}

std::string PelhostProcess::Output() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_out;
}

std::string PelhostProcess::Errors() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_err;
}

std::vector<HostLine> PelhostProcess::Lines() const { return ParseOutput(Output()); }

std::vector<std::string> PelhostProcess::Texts() const {
    std::vector<std::string> texts;
    for (const HostLine& line : Lines()) texts.push_back(line.text);
    return texts;
}

PelhostRun RunPelhost(const std::wstring& exe, const std::wstring& arguments,
                      const std::string& input) {
    PelhostProcess process(exe, arguments);
    PelhostRun run;
    if (!process.Started()) return run;
    if (!input.empty()) process.Send(input);
    run.exitCode = process.Finish();
    run.out = process.Output();
    run.err = process.Errors();
    run.texts = process.Texts();
    return run;
}

int FindText(const std::vector<std::string>& texts, const std::string& part, size_t from) {
    for (size_t i = from; i < texts.size(); ++i)
        if (texts[i].find(part) != std::string::npos) return static_cast<int>(i);
    return -1;
}

size_t CountTexts(const std::vector<std::string>& texts, const std::string& part) {
    size_t count = 0;
    for (const std::string& text : texts)
        if (text.find(part) != std::string::npos) ++count;
    return count;
}

}  // namespace peltest
