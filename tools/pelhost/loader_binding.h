// PelLoader.dll as the host sees it: loaded with LoadLibraryW, its seven entry points found
// by ordinal.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace pelhost {

extern "C" {
typedef int(__stdcall* InitSetFn)(int unused1, int hostValue, int unused3);  // @5
typedef int(__stdcall* ExitFn)(void);                                        // @6
typedef int(__stdcall* AskForStateFn)(int* hostValue);                       // @7
typedef int(__stdcall* GetStateEqualProjectFn)(int* hostValue);              // @8
typedef int(__stdcall* SetStateAsProjectFn)(void);                           // @9
typedef VARIANT(__stdcall* MenuHandleFn)(VARIANT command, VARIANT, VARIANT); // @10
typedef int(__stdcall* NotifySetChangeFn)(int code, int unused);             // @15
}

struct LoaderBinding {
    InitSetFn InitSet = nullptr;
    ExitFn Exit = nullptr;
    AskForStateFn AskForState = nullptr;
    GetStateEqualProjectFn GetStateEqualProject = nullptr;
    SetStateAsProjectFn SetStateAsProject = nullptr;
    MenuHandleFn MenuHandle = nullptr;
    NotifySetChangeFn NotifySetChange = nullptr;
};

// Loads the DLL and resolves every ordinal. The module stays loaded until the process ends:
// worker threads of the loader may still run in it. On failure `error` says what is missing.
bool LoadLoader(const std::wstring& path, LoaderBinding& binding, std::string& error);

// The folder of pelhost.exe joined with `file`.
std::wstring BesideHost(const std::wstring& file);

}  // namespace pelhost
