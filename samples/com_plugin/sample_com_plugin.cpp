// A COM plug-in for PelLoader.dll, to copy and start from: an in-process server with one class
// that implements IPluginObject (pel_plugin.h).
//
// The loader creates the object with CoCreateInstance(clsid, CLSCTX_ALL, IID_IPluginObject)
// on the plug-in's own worker thread, which is in the multithreaded apartment; so the class
// must be registered with ThreadingModel "Both" (or "Free"). Every call comes from that
// thread, one at a time:
//   PluginInit(0, 0, 0)                     once, after creation
//   PluginMenuHandle(VT_BOOL s, empty, empty)  the on/off command: s is 1 (on) or 0 (off)
//   PluginGetState(&first, &state)          after every PluginMenuHandle; *state is read
//   PluginSetupChange(0, 0)                 the suite's settings changed
//   PluginExit(0), then Release             once, at the end
//
// This sample keeps its on/off state and reports every call on the debugger output.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "pel_plugin.h"
#include "sample_com_plugin.h"

namespace {

HMODULE g_module = nullptr;
// Live objects and server locks: DllCanUnloadNow answers S_OK only when both are gone.
std::atomic<long> g_moduleUsers{0};

void Report(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    OutputDebugStringA(text);
}

class SamplePlugin final : public IPluginObject {
public:
    SamplePlugin() { ++g_moduleUsers; }
    ~SamplePlugin() { --g_moduleUsers; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPluginObject)) {
            *object = static_cast<IPluginObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            Report("SampleCom: object released");
            delete this;
        }
        return left;
    }

    // IPluginObject. The loader ignores every HRESULT except PluginMenuHandle's, and even that
    // one changes nothing: report failures on the debugger output if they matter.
    HRESULT STDMETHODCALLTYPE PluginInit(LONG a, LONG b, LONG c) override {
        Report("SampleCom: PluginInit(%ld, %ld, %ld)", static_cast<long>(a), static_cast<long>(b),
               static_cast<long>(c));
        return S_OK;
    }

    // The loader reads only the second out-parameter.
    HRESULT STDMETHODCALLTYPE PluginGetState(LONG* first, LONG* state) override {
        if (!first || !state) return E_POINTER;
        *first = 0;
        *state = m_state;
        Report("SampleCom: PluginGetState() = %ld", static_cast<long>(*state));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE PluginExit(LONG a) override {
        Report("SampleCom: PluginExit(%ld)", static_cast<long>(a));
        m_state = 0;
        return S_OK;
    }

    // The loader passes 1 for on and 0 for off, never VARIANT_TRUE (-1): test for non-zero.
    HRESULT STDMETHODCALLTYPE PluginMenuHandle(VARIANT command, VARIANT, VARIANT) override {
        if (command.vt != VT_BOOL) {
            Report("SampleCom: PluginMenuHandle ignores a command of type %d", command.vt);
            return E_INVALIDARG;
        }
        m_state = command.boolVal != 0 ? 1 : 0;
        Report("SampleCom: PluginMenuHandle state=%ld", static_cast<long>(m_state));
        return S_OK;
    }

    // Slots 7 and 8 are never called, but must exist so that PluginSetupChange stays in slot 9.
    HRESULT STDMETHODCALLTYPE PluginReserved1(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PluginReserved2(LONG) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE PluginSetupChange(LONG a, LONG b) override {
        Report("SampleCom: PluginSetupChange(%ld, %ld) settings changed", static_cast<long>(a),
               static_cast<long>(b));
        return S_OK;
    }

private:
    std::atomic<ULONG> m_references{1};
    // Written and read on the worker thread; atomic because Exit may close from another.
    std::atomic<LONG> m_state{0};
};

class ClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory for the whole module: its references keep nothing alive.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        SamplePlugin* plugin = new (std::nothrow) SamplePlugin;
        if (!plugin) return E_OUTOFMEMORY;
        const HRESULT hr = plugin->QueryInterface(iid, object);
        plugin->Release();  // the reference of `new`; QueryInterface holds the caller's
        if (SUCCEEDED(hr)) Report("SampleCom: object created");
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ++g_moduleUsers;
        else --g_moduleUsers;
        return S_OK;
    }
};

ClassFactory g_factory;

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\" PEL_SAMPLE_COM_CLSID_TEXT;

LONG SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_PelSampleComPlugin)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow(void) { return g_moduleUsers == 0 ? S_OK : S_FALSE; }

// regsvr32 sample_com_plugin.dll: the class under HKLM (the loader's worker creates it from
// the multithreaded apartment, hence "Both"). Needs administrator rights on Windows.
STDAPI DllRegisterServer(void) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    HKEY key = nullptr;
    const std::wstring serverKey = std::wstring(kClassKey) + L"\\InprocServer32";
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverKey.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = SetText(key, nullptr, path);
        if (status == ERROR_SUCCESS) status = SetText(key, L"ThreadingModel", L"Both");
        RegCloseKey(key);
    }
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// regsvr32 /u sample_com_plugin.dll
STDAPI DllUnregisterServer(void) {
    const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK
                                                                     : HRESULT_FROM_WIN32(status);
}

}  // extern "C"
