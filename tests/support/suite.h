// A suite install for one test: a private folder tree, a private subtree of the configuration
// store (VEMM_STORE_ROOT), and the install library's component map inside it.
#pragma once

#include <windows.h>

#include <string>

namespace peltest {

// Folder of the running test program, where every DLL and program of the build lies.
std::wstring BinDir();
std::wstring BinPath(const std::wstring& file);

// Creates a folder and every missing folder above it.
void CreateTree(const std::wstring& path);

class TestSuite {
public:
    // Creates the folder and the store subtree, points VEMM_STORE_ROOT at it and registers
    // the install library (FileMap\Common, "QXInstall.dll") unless `withInstallLibrary` is false.
    explicit TestSuite(bool withInstallLibrary = true);
    ~TestSuite();
    TestSuite(const TestSuite&) = delete;
    TestSuite& operator=(const TestSuite&) = delete;

    const std::wstring& Root() const { return m_root; }
    // Registry path (under HKEY_CURRENT_USER) that stands for the store's local-machine root.
    const std::wstring& StoreKey() const { return m_storeKey; }

    // Creates <root>\<name> and maps component `name` to it; returns the folder.
    std::wstring AddComponent(const std::wstring& name);
    // Maps a component to any folder (which need not exist).
    void MapComponent(const std::wstring& name, const std::wstring& folder);
    std::wstring ComponentDir(const std::wstring& name) const { return m_root + L"\\" + name; }

    // Writes a UTF-16LE document into a component's folder (created on demand).
    std::wstring WriteDocument(const std::wstring& component, const std::wstring& file,
                               const std::wstring& text, bool bom = true);
    // Copies a program or DLL of the build into a component's folder under a new name.
    std::wstring InstallBinary(const std::wstring& binFile, const std::wstring& component,
                               const std::wstring& asName);

    // Store values, as the loader reads them under the local-machine root.
    // A text with its terminator; `type` REG_EXPAND_SZ for an expandable one.
    void SetString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& value,
                   DWORD type = REG_SZ);
    void SetDword(const std::wstring& keyPath, const std::wstring& name, DWORD value);
    void SetBinary(const std::wstring& keyPath, const std::wstring& name, const void* data,
                   DWORD size, DWORD type);
    void DeleteValue(const std::wstring& keyPath, const std::wstring& name);
    void SetActiveMask(DWORD mask) { SetDword(L"OPTIONS\\Active", L"ActiveOpt", mask); }

private:
    std::wstring m_root;
    std::wstring m_storeKey;
};

}  // namespace peltest
