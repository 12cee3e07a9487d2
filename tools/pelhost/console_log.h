// pelhost's output: one line per event on standard output, stamped with the milliseconds
// since start and the calling thread, written whole under one lock so that lines from the
// loader's worker threads never interleave with the host's own.
#pragma once

#include <windows.h>

#include <string>

namespace pelhost {

// Starts the clock; call once, before any other thread exists.
void StartClock();

// "<ms> ms  tid <id>  <text>" on standard output.
void PrintLine(const std::string& text);

// "pelhost: <text>" on standard error.
void PrintError(const std::string& text);

// Plain text on standard output, unstamped (help).
void PrintRaw(const std::string& text);

// While it lives, every OutputDebugStringA/W of any thread of the process is printed as a
// stamped "debug: <text>" line at once, from the sending thread.
class DebugEcho {
public:
    DebugEcho();
    ~DebugEcho();
    DebugEcho(const DebugEcho&) = delete;
    DebugEcho& operator=(const DebugEcho&) = delete;

private:
    void* m_handler;
};

// Number of diagnostic messages seen so far.
size_t MessageCount();

// Waits until one of the messages from index `from` on contains `text`; false after
// `timeoutMs` without one.
bool WaitForMessage(const std::string& text, size_t from, DWORD timeoutMs);

}  // namespace pelhost
