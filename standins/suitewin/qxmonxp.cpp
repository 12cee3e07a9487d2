// Stand-in for the suite's monitor program (installed as "qxmonxp.qxp"): a window of class
// "QXXP_Monitor" that logs the state messages it receives. The loader starts it with the bare
// command line "/uninit" and no options, so the PEL_MONITOR_* environment variables, which it
// inherits, configure it then; command-line options override them. See suite_window.h.
#include <cwchar>

#include "suite_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    suitewin::WindowOptions options;
    suitewin::ReadEnvironment(options);
    // Started by the loader the whole command line is the switch, without a program name.
    const bool startedUninit = wcscmp(GetCommandLineW(), L"/uninit") == 0;
    if (!startedUninit && !suitewin::ParseCommandLine(GetCommandLineW(), options)) return 2;
    return suitewin::RunSuiteWindow(L"QXXP_Monitor", options, startedUninit);
}
