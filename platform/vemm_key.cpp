#include "platform/vemm_key.h"

#include <atomic>

#include "platform/vemm_store.h"

namespace {

constexpr LONG kEmptyPath = ERROR_INVALID_PARAMETER;  // 87
constexpr LONG kNoStore = ERROR_MOD_NOT_FOUND;        // 126
constexpr LONG kWrongData = ERROR_INVALID_DATA;       // 13
constexpr REGSAM kReadAccess = 0x20019;               // KEY_READ

constexpr DWORD kTypeText = REG_SZ;
constexpr DWORD kTypeExpandText = REG_EXPAND_SZ;
constexpr DWORD kTypeNumber = REG_DWORD;

std::atomic<HMODULE> g_hStoreLibrary{nullptr};
std::atomic<GetVemmPtrFn> g_getStore{nullptr};

// The store library stays loaded for the life of the process. A failed load is tried again at
// the next use; when two threads load it at once, the loser drops its extra reference.
HMODULE StoreLibrary() {
    HMODULE module = g_hStoreLibrary.load(std::memory_order_acquire);
    if (module) return module;
    HMODULE loaded = LoadLibraryW(L"VemmBase.dll");
    if (!loaded) return nullptr;
    if (!g_hStoreLibrary.compare_exchange_strong(module, loaded, std::memory_order_acq_rel)) {
        FreeLibrary(loaded);
        return module;
    }
    return loaded;
}

// The library's "GetVemmPtr", looked up once: a lookup waits for the process's loader lock,
// which workers loading their plug-ins hold.
GetVemmPtrFn StoreEntry(HMODULE library) {
    GetVemmPtrFn entry = g_getStore.load(std::memory_order_acquire);
    if (entry) return entry;
    entry = reinterpret_cast<GetVemmPtrFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetVemmPtr")));
    g_getStore.store(entry, std::memory_order_release);
    return entry;
}

}  // namespace

VemmKey::~VemmKey() { Release(); }

LONG VemmKey::EnsureStore() {
    HMODULE library = StoreLibrary();
    if (!library) return kNoStore;
    if (m_pStore) return ERROR_SUCCESS;
    const GetVemmPtrFn getStore = StoreEntry(library);
    if (!getStore) return kNoStore;
    m_pStore = getStore();
    return m_pStore ? ERROR_SUCCESS : kNoStore;
}

LONG VemmKey::OpenKey(HKEY root, const wchar_t* path) {
    if (!path || !*path) return kEmptyPath;
    const LONG status = EnsureStore();
    if (status != ERROR_SUCCESS) return status;
    return m_pStore->OpenKey(root, path, kReadAccess);
}

LONG VemmKey::QueryDWORDValue(const wchar_t* name, DWORD* value) {
    const LONG status = EnsureStore();
    if (status != ERROR_SUCCESS) return status;
    DWORD type = 0;
    DWORD size = sizeof(DWORD);
    const LONG result = m_pStore->QueryValue(name, &type, reinterpret_cast<BYTE*>(value), &size);
    if (result != ERROR_SUCCESS) return result;
    return type == kTypeNumber ? ERROR_SUCCESS : kWrongData;
}

LONG VemmKey::QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) {
    const ULONG capacity = *chars;
    DWORD size = static_cast<DWORD>(capacity * sizeof(wchar_t));
    *chars = 0;
    const LONG status = EnsureStore();
    if (status != ERROR_SUCCESS) return status;
    DWORD type = 0;
    const LONG result = m_pStore->QueryValue(name, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS) return result;
    if (type != kTypeText && type != kTypeExpandText) return kWrongData;
    if (buffer) {
        if (size == 0) {
            if (capacity > 0) buffer[0] = L'\0';
        } else if (size % sizeof(wchar_t) != 0 || size > capacity * sizeof(wchar_t) ||
                   buffer[size / sizeof(wchar_t) - 1] != L'\0') {
            // A size beyond the buffer would make the terminator check read past it.
            return kWrongData;
        }
    }
    *chars = size / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

void VemmKey::CloseKey() {
    if (EnsureStore() == ERROR_SUCCESS) m_pStore->CloseKey();
}

void VemmKey::Release() {
    if (!m_pStore) return;
    IVemmStore* store = m_pStore;
    m_pStore = nullptr;
    store->CloseKey();
    store->Release();
}
