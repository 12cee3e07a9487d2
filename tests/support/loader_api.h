// PelLoader.dll loaded and called the way the host does: by export ordinal.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace peltest {

class LoaderApi {
public:
    // Loads the DLL (by default the build's PelLoader.dll) and resolves ordinals 5-10 and 15.
    explicit LoaderApi(const std::wstring& path = L"");
    ~LoaderApi();  // unloads the DLL
    LoaderApi(const LoaderApi&) = delete;
    LoaderApi& operator=(const LoaderApi&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    HMODULE Module() const { return m_module; }

    int InitSet(int hostValue, int unused1 = 0, int unused3 = 0);
    int Exit();
    int AskForState(int* hostValue);
    int GetStateEqualProject(int* hostValue);
    int SetStateAsProject();
    VARIANT MenuHandle(const VARIANT& command);
    // MenuHandle with a VT_BOOL command; returns the result's boolVal (checks its type is VT_BOOL
    // through `resultType`).
    int MenuBool(short value, VARTYPE* resultType = nullptr);
    int NotifySetChange(int code, int unused = 0);

private:
    HMODULE m_module = nullptr;
    FARPROC m_fn[16] = {};
};

}  // namespace peltest
