// The install library's component map lives in the configuration store, read through
// VemmBase.dll like every other store value: key "Install\<component>", text value "Path" =
// the component's install folder.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/vemm_store.h"

namespace {

// One store object, released (which also closes its key) when the lookup is done.
class StoreObject {
public:
    StoreObject() {
        // The store library is shared with the rest of the process and never unloaded.
        HMODULE library = GetModuleHandleW(L"VemmBase.dll");
        if (!library) library = LoadLibraryW(L"VemmBase.dll");
        if (!library) return;
        auto getStore = reinterpret_cast<GetVemmPtrFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetVemmPtr")));
        if (getStore) m_store = getStore();
    }
    ~StoreObject() {
        if (m_store) m_store->Release();
    }
    StoreObject(const StoreObject&) = delete;
    StoreObject& operator=(const StoreObject&) = delete;

    IVemmStore* operator->() const { return m_store; }
    explicit operator bool() const { return m_store != nullptr; }

private:
    IVemmStore* m_store = nullptr;
};

// The folder a component is mapped to; false when it is not mapped.
bool ComponentFolder(const wchar_t* component, std::wstring* folder) {
    if (!component || !*component) return false;
    StoreObject store;
    if (!store) return false;
    const std::wstring key = std::wstring(L"Install\\") + component;
    if (store->OpenKey(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (store->QueryValue(L"Path", &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // One spare character: the stored text need not be terminated.
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    if (store->QueryValue(L"Path", &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    std::wstring text(data.data(), wcsnlen(data.data(), size / sizeof(wchar_t)));
    if (type == REG_EXPAND_SZ && !text.empty()) {
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::vector<wchar_t> expanded(needed + 1, L'\0');
        if (needed == 0 || ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed) == 0)
            return false;
        text = expanded.data();
    }
    if (text.empty()) return false;
    *folder = text;
    return true;
}

// Copies the whole answer with its terminator, or nothing when it does not fit.
int WriteAnswer(wchar_t* out, int cchOut, const std::wstring& text) {
    if (text.size() + 1 > static_cast<size_t>(cchOut)) return 0;
    wmemcpy(out, text.c_str(), text.size() + 1);
    return 1;
}

bool Usable(const wchar_t* out, int cchOut) { return out && cchOut > 0; }

}  // namespace

extern "C" int __stdcall GetWorkPathFile(wchar_t* out, int cchOut, const wchar_t* component,
                                         const wchar_t* file, int /*reserved*/) {
    if (!Usable(out, cchOut) || !file || !*file) return 0;
    std::wstring path;
    if (!ComponentFolder(component, &path)) return 0;
    if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += file;
    return WriteAnswer(out, cchOut, path);
}

extern "C" int __stdcall GetComposeInstallPath(wchar_t* out, int cchOut, const wchar_t* component,
                                               int /*reserved*/) {
    if (!Usable(out, cchOut)) return 0;
    std::wstring folder;
    if (!ComponentFolder(component, &folder)) return 0;
    return WriteAnswer(out, cchOut, folder);
}

extern "C" int __stdcall IsComposeInstalled(const wchar_t* component) {
    std::wstring folder;
    if (!ComponentFolder(component, &folder)) return 0;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}
