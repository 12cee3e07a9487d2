// Client of the configuration store library VemmBase.dll: one VemmKey per open key.
#pragma once

#include <windows.h>

struct IVemmStore;

class VemmKey {
public:
    VemmKey() = default;
    ~VemmKey();  // closes the key and releases the store object, if one was obtained
    VemmKey(const VemmKey&) = delete;
    VemmKey& operator=(const VemmKey&) = delete;

    // Opens `path` under `root` for reading. 87 for an empty path, 126 without a store.
    LONG OpenKey(HKEY root, const wchar_t* path);
    // 0 and the value for a 32-bit number; 13 for another type; the store's code on failure.
    LONG QueryDWORDValue(const wchar_t* name, DWORD* value);
    // Reads a text value into buffer[*chars]; on success *chars is the length with the NUL.
    LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars);
    void CloseKey();
    void Release();

private:
    LONG EnsureStore();

    IVemmStore* m_pStore = nullptr;
};
