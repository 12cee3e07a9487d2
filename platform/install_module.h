// Client of the suite's install library QXInstall.dll, located through the configuration store
// and reached by export ordinals.
#pragma once

#include <windows.h>

class QXInstallModule {
public:
    QXInstallModule();
    virtual ~QXInstallModule();  // unloads the library
    QXInstallModule(const QXInstallModule&) = delete;
    QXInstallModule& operator=(const QXInstallModule&) = delete;
    virtual void Unload();
    // The library's path from the store ("FileMap\Common", "QXInstall.dll"), or the bare name.
    virtual const wchar_t* GetLibraryPath();

    // Loads the library (freeing a loaded one first) and fetches its entries by ordinal.
    BOOL Load();
    BOOL IsLoaded() const { return m_hLibrary != nullptr; }
    FARPROC Entry(int ordinal) const;  // null for an ordinal not fetched

    HMODULE m_hLibrary;
    wchar_t m_szLibraryPath[260];
    FARPROC m_pfn[17];  // ordinals 1-6, 8-11, 13-19, in this order
};

extern QXInstallModule* g_pInstallModule;

// The three entries the loader uses. `out` holds 260 characters; it is left untouched when
// the library or the entry is unavailable.
int GetWorkPathFile(wchar_t* out, const wchar_t* component, const wchar_t* file);
int GetComposeInstallPath(wchar_t* out);  // for component "Options"
int IsComposeInstalled(const wchar_t* component);
