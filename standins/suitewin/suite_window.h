// The suite's expert frame and monitor as stand-ins: a top-level window of a given class that
// writes every state message it receives to a log, so that tests and demos can read what
// reached it.
#pragma once

#include <windows.h>

#include <string>

namespace suitewin {

// Each option as given on the command line, and as the monitor also reads it from its
// environment (which is all it has when the loader starts it).
struct WindowOptions {
    std::wstring logPath;        // --log <file>, PEL_MONITOR_LOG: one line per event, appended
    DWORD delayWindowMs = 0;     // --delay-window <ms>, PEL_MONITOR_DELAY_MS: create it later
    DWORD exitAfterMs = 120000;  // --exit-after <ms>, PEL_MONITOR_EXIT_MS: end, whatever happens
    bool hang = false;           // --hang, PEL_MONITOR_HANG (not "0"): no pumping once it exists
    DWORD resumeAfterMs = 0;     // --resume-after <ms>, PEL_MONITOR_RESUME_MS: pump again later
    DWORD slowMs = 0;            // --slow <ms>, PEL_MONITOR_SLOW_MS: answer each message later
    DWORD slowCount = MAXDWORD;  // --slow-count <n>, PEL_MONITOR_SLOW_COUNT: only n answers slow
    // --slow-state <n>, PEL_MONITOR_SLOW_STATE: only messages with this state are answered
    // slowly and counted; any other sender (another loader of the same desktop) gets its answer
    // at once and cannot delay or use up the slow answers meant for one sender.
    bool slowStateOnly = false;
    INT32 slowState = 0;
};

// Log lines: "<event> class=<class> pid=<id> tick=<GetTickCount64> time=<hh:mm:ss.mmm> ...":
//   start   uninit=<1 when the whole command line was "/uninit"> cmdline=<the command line>
//   window  hwnd=<handle>
//   reply   nState=<n> (a slow answer given to that message)
//   hang, resume, exit
//   message dwData=<n> cbData=<n> nCode=<n> nState=<n> data=<the block in hex> sender=<text>
// cmdline and sender come last and run to the end of the line.

// Applies the PEL_MONITOR_* variables that are set.
void ReadEnvironment(WindowOptions& options);

// Applies the options that follow the program name on a command line; false for anything
// unknown or incomplete.
bool ParseCommandLine(const wchar_t* commandLine, WindowOptions& options);

// Logs the start, creates the window and serves it until it is closed (WM_CLOSE) or
// --exit-after ends the program.
int RunSuiteWindow(const wchar_t* windowClass, const WindowOptions& options, bool startedUninit);

}  // namespace suitewin
