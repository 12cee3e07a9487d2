// A DLL plug-in for PelLoader.dll, to copy and start from.
//
// The loader finds every entry of a DLL plug-in by export ordinal (see sample_dll_plugin.def):
//   5  DllInit(0, 0, 0)         once, right after the DLL is loaded
//   10 the menu handler         the on/off command: VT_BOOL 1 (on) or 0 (off), VT_I4 0, VT_INT 0;
//                               its ordinal is the fourth field of "invoker" in the menu document
//   7  DllState(&n)             after every menu-handler call; the result is the plug-in's state
//   15 KIChange(0, 0)           the suite's settings changed
//   6  DllClose()               once, before the DLL is unloaded
// All of them are called on the plug-in's own worker thread, one at a time, so a plug-in needs
// no lock of its own for calls from the loader. That thread has joined the multithreaded COM
// apartment.
//
// This sample keeps its on/off state and reports every call it receives on the debugger
// output (OutputDebugStringA), where pelhost, DebugView or a debugger shows it.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "pel_plugin.h"

namespace {

// The state the loader last asked for: 1 on, 0 off.
std::atomic<int> g_state{0};

void Report(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    OutputDebugStringA(text);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    // The plug-in gets no thread notifications it would use.
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

// Ordinal 5. Load settings and acquire resources here; the result is ignored.
int __stdcall DllInit(int a, int b, int c) {
    Report("SampleDll: DllInit(%d, %d, %d)", a, b, c);
    return 1;
}

// The menu handler, at the ordinal that the menu document names (10 here). The loader passes
// 1 for on and 0 for off; it never passes VARIANT_TRUE (-1), so test for non-zero. The
// returned VARIANT is ignored and never cleared: return nothing that owns memory.
VARIANT __stdcall DllFun(VARIANT command, VARIANT, VARIANT) {
    VARIANT result;
    VariantInit(&result);
    if (command.vt != VT_BOOL) {
        Report("SampleDll: menu handler ignores a command of type %d", command.vt);
        return result;
    }
    g_state = command.boolVal != 0 ? 1 : 0;
    Report("SampleDll: menu handler state=%d", g_state.load());
    result.vt = VT_BOOL;
    result.boolVal = command.boolVal;
    return result;
}

// Ordinal 7. The return value is the state; the loader does not read *state back.
int __stdcall DllState(int* state) {
    const int current = g_state;
    if (state) *state = current;
    Report("SampleDll: DllState() = %d", current);
    return current;
}

// Ordinal 15. Re-read whatever settings the plug-in keeps in the suite's store here. Along
// with it the loader sends the current on/off state again through the menu handler.
int __stdcall KIChange(int a, int b) {
    Report("SampleDll: KIChange(%d, %d) settings changed", a, b);
    return 1;
}

// Ordinal 6. Release everything: the loader unloads the DLL right after.
int __stdcall DllClose(void) {
    Report("SampleDll: DllClose()");
    g_state = 0;
    return 1;
}

}  // extern "C"
