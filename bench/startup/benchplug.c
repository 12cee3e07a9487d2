/* A minimal DLL plug-in for the loader benchmark: it does no work of its own and reports each
 * call to the benchmark program through the program's exported BenchNotify, so that measuring
 * adds no handle or thread to the figures. */
#include <windows.h>
#include <oleauto.h>

typedef void(__stdcall* BenchNotifyFn)(int event);
static BenchNotifyFn g_notify;
static int g_state;

enum { kInit = 0, kMenu = 1, kState = 2, kClose = 3 };

static void Notify(int event) {
    if (!g_notify) {
        FARPROC proc = GetProcAddress(GetModuleHandleW(NULL), "BenchNotify");
        g_notify = (BenchNotifyFn)(void*)proc;
    }
    if (g_notify) g_notify(event);
}

int __stdcall DllInit(int a, int b, int c) {
    (void)a; (void)b; (void)c;
    Notify(kInit);
    return 1;
}

int __stdcall DllClose(void) {
    Notify(kClose);
    return 1;
}

int __stdcall DllState(int* unused) {
    (void)unused;
    Notify(kState);
    return g_state;
}

int __stdcall KIChange(int a, int b) {
    (void)a; (void)b;
    return 1;
}

VARIANT __stdcall DllFun(VARIANT state, VARIANT b, VARIANT c) {
    (void)b; (void)c;
    g_state = state.boolVal;
    Notify(kMenu);
    VARIANT result;
    VariantInit(&result);
    return result;
}
