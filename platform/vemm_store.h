// The configuration store object handed out by VemmBase.dll's "GetVemmPtr".
// Every call returns a Win32 error code (0 = success).
#pragma once

#include <windows.h>

struct IVemmStore {
    virtual LONG __stdcall Release() = 0;                                          // slot 0
    // Sets a value of the open key (created by OpenKey when writing is asked for).
    virtual LONG __stdcall SetValue(const wchar_t* name, DWORD type, const BYTE* data,
                                    DWORD sizeInBytes) = 0;                        // slot 1
    // Names the index-th value of the open key; ERROR_NO_MORE_ITEMS past the last.
    virtual LONG __stdcall EnumValue(DWORD index, wchar_t* name, DWORD* nameChars) = 0;  // slot 2
    virtual LONG __stdcall QueryValue(const wchar_t* name, DWORD* type, BYTE* data,
                                      DWORD* sizeInBytes) = 0;                     // slot 3
    // Names the index-th subkey of the open key; ERROR_NO_MORE_ITEMS past the last.
    virtual LONG __stdcall EnumKey(DWORD index, wchar_t* name, DWORD* nameChars) = 0;  // slot 4
    virtual LONG __stdcall OpenKey(HKEY root, const wchar_t* path, REGSAM access) = 0;  // slot 5
    virtual LONG __stdcall CloseKey() = 0;                                         // slot 6
};

extern "C" typedef IVemmStore*(__stdcall* GetVemmPtrFn)(void);
