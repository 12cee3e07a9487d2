#include "suite.h"


#include <atomic>
#include <stdexcept>

#include "utf16_file.h"

namespace peltest {
namespace {

std::atomic<int> g_suiteCount{0};

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

HKEY CreateKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create a store key");
    return key;
}

}  // namespace

void CreateTree(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1))
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring BinPath(const std::wstring& file) { return BinDir() + L"\\" + file; }

TestSuite::TestSuite(bool withInstallLibrary) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64()) + L"-" +
                                std::to_wstring(g_suiteCount++);
    m_root = std::wstring(temp) + L"pelsuite-" + unique;
    CreateTree(m_root);
    m_storeKey = L"Software\\PelLoaderTests\\" + unique;
    RegCloseKey(CreateKey(m_storeKey));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", (L"HKCU\\" + m_storeKey).c_str());
    if (withInstallLibrary) SetString(L"FileMap\\Common", L"QXInstall.dll", BinPath(L"QXInstall.dll"));
}

TestSuite::~TestSuite() {
    RegDeleteTreeW(HKEY_CURRENT_USER, m_storeKey.c_str());  // the key itself goes too
    RemoveTree(m_root);
}

std::wstring TestSuite::AddComponent(const std::wstring& name) {
    const std::wstring dir = ComponentDir(name);
    CreateTree(dir);
    MapComponent(name, dir);
    return dir;
}

void TestSuite::MapComponent(const std::wstring& name, const std::wstring& folder) {
    SetString(L"Install\\" + name, L"Path", folder);
}

std::wstring TestSuite::WriteDocument(const std::wstring& component, const std::wstring& file,
                                      const std::wstring& text, bool bom) {
    const std::wstring dir = ComponentDir(component);
    CreateTree(dir);
    const std::wstring path = dir + L"\\" + file;
    if (!WriteUtf16File(path, text, bom)) throw std::runtime_error("cannot write a document");
    return path;
}

std::wstring TestSuite::InstallBinary(const std::wstring& binFile, const std::wstring& component,
                                      const std::wstring& asName) {
    const std::wstring dir = ComponentDir(component);
    CreateTree(dir);
    const std::wstring path = dir + L"\\" + asName;
    if (!CopyFileW(BinPath(binFile).c_str(), path.c_str(), FALSE))
        throw std::runtime_error("cannot copy a binary");
    return path;
}

void TestSuite::SetString(const std::wstring& keyPath, const std::wstring& name,
                          const std::wstring& value, DWORD type) {
    SetBinary(keyPath, name, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)),
              type);
}

void TestSuite::SetDword(const std::wstring& keyPath, const std::wstring& name, DWORD value) {
    SetBinary(keyPath, name, &value, sizeof(value), REG_DWORD);
}

void TestSuite::SetBinary(const std::wstring& keyPath, const std::wstring& name, const void* data,
                          DWORD size, DWORD type) {
    HKEY key = CreateKey(m_storeKey + L"\\" + keyPath);
    RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void TestSuite::DeleteValue(const std::wstring& keyPath, const std::wstring& name) {
    HKEY key = CreateKey(m_storeKey + L"\\" + keyPath);
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

}  // namespace peltest
