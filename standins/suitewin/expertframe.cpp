// Stand-in for the suite's expert frame: a window of class "QxXP_ExpertFrame" that logs the
// state messages it receives. Options: see suite_window.h.
#include "suite_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    suitewin::WindowOptions options;
    if (!suitewin::ParseCommandLine(GetCommandLineW(), options)) return 2;
    return suitewin::RunSuiteWindow(L"QxXP_ExpertFrame", options, false);
}
