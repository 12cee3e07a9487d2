#include "platform/install_module.h"

#include "core/text.h"
#include "platform/vemm_key.h"

QXInstallModule* g_pInstallModule = nullptr;

namespace {

constexpr int kOrdinals[17] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19};
constexpr int kPathChars = 260;
constexpr wchar_t kLibraryName[] = L"QXInstall.dll";

constexpr int kOrdinalWorkPathFile = 5;
constexpr int kOrdinalComposeInstallPath = 6;
constexpr int kOrdinalIsComposeInstalled = 9;

using WorkPathFileFn = int(__stdcall*)(wchar_t*, int, const wchar_t*, const wchar_t*, int);
using ComposeInstallPathFn = int(__stdcall*)(wchar_t*, int, const wchar_t*, int);
using IsComposeInstalledFn = int(__stdcall*)(const wchar_t*);

// Workers ask for work paths concurrently once the loader runs; creating the module and loading
// the library are serialised so that two first calls cannot load it twice or see half a table.
SRWLOCK g_installLock = SRWLOCK_INIT;

template <class Fn>
Fn LoadedEntry(int ordinal) {
    AcquireSRWLockExclusive(&g_installLock);
    if (!g_pInstallModule) g_pInstallModule = new QXInstallModule;
    if (!g_pInstallModule->IsLoaded()) g_pInstallModule->Load();
    const FARPROC entry = g_pInstallModule->IsLoaded() ? g_pInstallModule->Entry(ordinal) : nullptr;
    ReleaseSRWLockExclusive(&g_installLock);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

}  // namespace

QXInstallModule::QXInstallModule() : m_hLibrary(nullptr), m_szLibraryPath{}, m_pfn{} {}

QXInstallModule::~QXInstallModule() { Unload(); }

void QXInstallModule::Unload() {
    if (!m_hLibrary) return;
    FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
}

const wchar_t* QXInstallModule::GetLibraryPath() {
    m_szLibraryPath[0] = L'\0';
    VemmKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, L"FileMap\\Common") == ERROR_SUCCESS) {
        ULONG chars = kPathChars;
        key.QueryStringValue(L"QXInstall.dll", m_szLibraryPath, &chars);
        // A rejected text may have left the field unterminated.
        m_szLibraryPath[kPathChars - 1] = L'\0';
    }
    key.Release();
    if (m_szLibraryPath[0] == L'\0') pel::CopyText(m_szLibraryPath, kLibraryName);
    return m_szLibraryPath;
}

BOOL QXInstallModule::Load() {
    if (m_hLibrary) {
        FreeLibrary(m_hLibrary);
        m_hLibrary = nullptr;
    }
    m_hLibrary = LoadLibraryExW(GetLibraryPath(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    for (int i = 0; i < 17; ++i) {
        m_pfn[i] =
            m_hLibrary ? GetProcAddress(m_hLibrary, MAKEINTRESOURCEA(kOrdinals[i])) : nullptr;
    }
    return m_hLibrary != nullptr;
}

FARPROC QXInstallModule::Entry(int ordinal) const {
    for (int i = 0; i < 17; ++i) {
        if (kOrdinals[i] == ordinal) return m_pfn[i];
    }
    return nullptr;
}

int GetWorkPathFile(wchar_t* out, const wchar_t* component, const wchar_t* file) {
    const auto fn = LoadedEntry<WorkPathFileFn>(kOrdinalWorkPathFile);
    return fn ? fn(out, kPathChars, component, file, 0) : 0;
}

int GetComposeInstallPath(wchar_t* out) {
    const auto fn = LoadedEntry<ComposeInstallPathFn>(kOrdinalComposeInstallPath);
    return fn ? fn(out, kPathChars, L"Options", 0) : 0;
}

int IsComposeInstalled(const wchar_t* component) {
    const auto fn = LoadedEntry<IsComposeInstalledFn>(kOrdinalIsComposeInstalled);
    return fn ? fn(component) : 0;
}
