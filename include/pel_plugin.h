// Public contract between PelLoader.dll and the plug-ins it runs.
//
// A plug-in is either a DLL reached by export ordinal or an in-process COM object that
// implements IPluginObject. Every call into a plug-in is made on the plug-in's own worker
// thread, one call at a time; that thread is in the multithreaded COM apartment.
#ifndef PEL_PLUGIN_H
#define PEL_PLUGIN_H

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

// ---- DLL plug-ins: export these by ordinal (a .def file: "DllInit @5", ...). ----
enum PelPluginOrdinal : WORD {
    kPelOrdinalInit = 5,        // DllInit(0, 0, 0), right after loading
    kPelOrdinalClose = 6,       // DllClose(), once, before the DLL is unloaded
    kPelOrdinalState = 7,       // DllState(&dummy), after every menu call; returns the state
    kPelOrdinalSetupChange = 15 // KIChange(0, 0), when the suite's settings changed
    // The menu handler's ordinal is chosen by the plug-in's menu document ("invoker" field 4).
};

extern "C" {
typedef int(__stdcall* PelDllInitFn)(int, int, int);
typedef int(__stdcall* PelDllCloseFn)(void);
typedef int(__stdcall* PelDllStateFn)(int* state);
typedef int(__stdcall* PelKIChangeFn)(int, int);
// Called with VT_BOOL state (1 on, 0 off), VT_I4 0 and VT_INT 0. The result is ignored and not
// cleared by the loader.
typedef VARIANT(__stdcall* PelDllFunFn)(VARIANT, VARIANT, VARIANT);
}

// ---- COM plug-ins ----
// {3DDBDB2E-7AF0-4039-B0E4-A2DEFFB014A4}
static const IID IID_IPluginObject = {
    0x3ddbdb2e, 0x7af0, 0x4039, {0xb0, 0xe4, 0xa2, 0xde, 0xff, 0xb0, 0x14, 0xa4}};

struct IPluginObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE PluginInit(LONG, LONG, LONG) = 0;               // slot 3
    virtual HRESULT STDMETHODCALLTYPE PluginGetState(LONG* first, LONG* state) = 0;   // slot 4
    virtual HRESULT STDMETHODCALLTYPE PluginExit(LONG) = 0;                           // slot 5
    // Called with VT_BOOL state (1 on, 0 off) and two VT_EMPTY VARIANTs.
    virtual HRESULT STDMETHODCALLTYPE PluginMenuHandle(VARIANT, VARIANT, VARIANT) = 0; // slot 6
    // Slots 7 and 8 are reserved: the loader never calls them, but they must be present.
    virtual HRESULT STDMETHODCALLTYPE PluginReserved1(LONG) = 0;                      // slot 7
    virtual HRESULT STDMETHODCALLTYPE PluginReserved2(LONG) = 0;                      // slot 8
    virtual HRESULT STDMETHODCALLTYPE PluginSetupChange(LONG, LONG) = 0;              // slot 9
};

#endif
