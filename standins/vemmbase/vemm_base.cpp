// The configuration store kept in the real registry. The store's local-machine root stands for
// HKEY_LOCAL_MACHINE\Software\PelSuite\Store, or for the key named by VEMM_STORE_ROOT
// ("HKCU\<path>" or "HKLM\<path>"), so that every test suite gets a private store.
#include <windows.h>

#include <new>
#include <string>

#include "platform/vemm_store.h"

namespace {

constexpr DWORD kLocalMachineRoot = 0x80000002;
constexpr wchar_t kDefaultRoot[] = L"Software\\PelSuite\\Store";
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

bool EqualNoCase(const wchar_t* a, size_t aLength, const wchar_t* b) {
    return CompareStringOrdinal(a, static_cast<int>(aLength), b, -1, TRUE) == CSTR_EQUAL;
}

// Where the store's root lies in the registry, read afresh at every open so that one process
// can switch between stores.
bool StoreRoot(HKEY* hive, std::wstring* path) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(L"VEMM_STORE_ROOT", value, 1024);
    if (length == 0) {
        *hive = HKEY_LOCAL_MACHINE;
        *path = kDefaultRoot;
        return true;
    }
    if (length >= 1024) return false;
    const std::wstring text(value, length);
    const size_t slash = text.find(L'\\');
    const size_t hiveLength = slash == std::wstring::npos ? text.size() : slash;
    static const struct {
        const wchar_t* name;
        HKEY hive;
    } kHives[] = {{L"HKCU", HKEY_CURRENT_USER},
                  {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                  {L"HKLM", HKEY_LOCAL_MACHINE},
                  {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}};
    for (const auto& entry : kHives) {
        if (EqualNoCase(text.c_str(), hiveLength, entry.name)) {
            *hive = entry.hive;
            *path = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
            return true;
        }
    }
    return false;
}

class RegistryStore final : public IVemmStore {
public:
    LONG __stdcall Release() override {
        CloseKey();
        delete this;
        return ERROR_SUCCESS;
    }

    LONG __stdcall SetValue(const wchar_t* name, DWORD type, const BYTE* data,
                            DWORD sizeInBytes) override {
        if (!m_key) return ERROR_INVALID_HANDLE;
        return RegSetValueExW(m_key, name, 0, type, data, sizeInBytes);
    }

    LONG __stdcall EnumValue(DWORD index, wchar_t* name, DWORD* nameChars) override {
        if (!m_key) return ERROR_INVALID_HANDLE;
        return RegEnumValueW(m_key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
    }

    LONG __stdcall QueryValue(const wchar_t* name, DWORD* type, BYTE* data,
                              DWORD* sizeInBytes) override {
        if (!m_key) return ERROR_INVALID_HANDLE;
        return RegQueryValueExW(m_key, name, nullptr, type, data, sizeInBytes);
    }

    LONG __stdcall EnumKey(DWORD index, wchar_t* name, DWORD* nameChars) override {
        if (!m_key) return ERROR_INVALID_HANDLE;
        return RegEnumKeyExW(m_key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
    }

    // Opens for reading; creates the key when write access is asked for.
    LONG __stdcall OpenKey(HKEY root, const wchar_t* path, REGSAM access) override {
        CloseKey();
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(root)) != kLocalMachineRoot)
            return ERROR_INVALID_HANDLE;
        HKEY hive = nullptr;
        std::wstring full;
        if (!StoreRoot(&hive, &full)) return ERROR_BAD_PATHNAME;
        if (path && *path) {
            if (!full.empty()) full += L'\\';
            full += path;
        }
        HKEY key = nullptr;
        const LONG result =
            (access & kWriteAccess)
                ? RegCreateKeyExW(hive, full.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr)
                : RegOpenKeyExW(hive, full.c_str(), 0, access, &key);
        if (result == ERROR_SUCCESS) m_key = key;
        return result;
    }

    LONG __stdcall CloseKey() override {
        if (!m_key) return ERROR_SUCCESS;
        const LONG result = RegCloseKey(m_key);
        m_key = nullptr;
        return result;
    }

private:
    HKEY m_key = nullptr;
};

}  // namespace

extern "C" IVemmStore* __stdcall GetVemmPtr(void) { return new (std::nothrow) RegistryStore; }
