// The store stand-in VemmBase.dll driven directly through "GetVemmPtr".
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/vemm_store.h"
#include "suite.h"

namespace {

const HKEY kRoot = HKEY_LOCAL_MACHINE;
constexpr REGSAM kRead = KEY_READ;
constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

class StoreObject {
public:
    StoreObject() {
        static const HMODULE library = LoadLibraryW(L"VemmBase.dll");
        const auto get = reinterpret_cast<GetVemmPtrFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetVemmPtr")));
        m_store = get ? get() : nullptr;
    }
    ~StoreObject() {
        if (m_store) m_store->Release();
    }
    StoreObject(const StoreObject&) = delete;
    StoreObject& operator=(const StoreObject&) = delete;

    IVemmStore* operator->() const { return m_store; }
    IVemmStore* get() const { return m_store; }

    std::wstring Text(const wchar_t* name) {
        wchar_t buffer[260] = {};
        DWORD type = 0;
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        if (m_store->QueryValue(name, &type, reinterpret_cast<BYTE*>(buffer), &size) != 0)
            return L"<error>";
        return type == REG_SZ ? buffer : L"<type>";
    }

private:
    IVemmStore* m_store = nullptr;
};

// A key of the real registry, removed when the test ends.
class RegistryKey {
public:
    RegistryKey(HKEY hive, std::wstring path) : m_hive(hive), m_path(std::move(path)) {
        HKEY key = nullptr;
        RegCreateKeyExW(m_hive, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        if (key) RegCloseKey(key);
    }
    ~RegistryKey() { RegDeleteTreeW(m_hive, m_path.c_str()); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    void SetText(const wchar_t* name, const std::wstring& value) {
        RegSetKeyValueW(m_hive, m_path.c_str(), name, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY m_hive;
    std::wstring m_path;
};

std::wstring UniqueName() {
    static int count = 0;
    return L"t" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(count++);
}

// Every name an enumeration of the open key gives, which must end with ERROR_NO_MORE_ITEMS.
std::set<std::wstring> Names(IVemmStore* store,
                             LONG (__stdcall IVemmStore::*enumerate)(DWORD, wchar_t*, DWORD*)) {
    std::set<std::wstring> names;
    wchar_t name[64];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 64;
        const LONG result = (store->*enumerate)(index, name, &chars);
        if (result != 0) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
            return names;
        }
        names.insert(name);
    }
}

class VemmBaseStandIn : public ::testing::Test {
protected:
    peltest::TestSuite suite{false};
};

TEST_F(VemmBaseStandIn, EveryCallGivesANewObject) {
    StoreObject first;
    StoreObject second;
    ASSERT_NE(nullptr, first.get());
    ASSERT_NE(nullptr, second.get());
    EXPECT_NE(first.get(), second.get());
}

TEST_F(VemmBaseStandIn, ReadsWhatTheSuiteWrote) {
    suite.SetString(L"FileMap\\Common", L"QXInstall.dll", L"C:\\x\\QXInstall.dll");
    suite.SetDword(L"OPTIONS\\Active", L"ActiveOpt", 0x11);
    StoreObject store;
    ASSERT_EQ(0, store->OpenKey(kRoot, L"FileMap\\Common", kRead));
    EXPECT_EQ(L"C:\\x\\QXInstall.dll", store.Text(L"QXInstall.dll"));
    // Opening another key closes the first.
    ASSERT_EQ(0, store->OpenKey(kRoot, L"OPTIONS\\Active", kRead));
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(0, store->QueryValue(L"ActiveOpt", &type, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0x11u, value);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, store->QueryValue(L"QXInstall.dll", &type, nullptr, &size));
    EXPECT_EQ(0, store->CloseKey());
    EXPECT_EQ(ERROR_INVALID_HANDLE, store->QueryValue(L"ActiveOpt", &type, nullptr, &size));
}

TEST_F(VemmBaseStandIn, OnlyTheLocalMachineRootIsServed) {
    suite.SetDword(L"Key", L"N", 1);
    StoreObject store;
    EXPECT_EQ(ERROR_INVALID_HANDLE, store->OpenKey(HKEY_CURRENT_USER, L"Key", kRead));
    EXPECT_EQ(ERROR_INVALID_HANDLE, store->OpenKey(HKEY_CLASSES_ROOT, L"Key", kRead));
    // Only the low 32 bits of the root count.
    const HKEY zeroExtended = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u));
    EXPECT_EQ(0, store->OpenKey(zeroExtended, L"Key", kRead));
    EXPECT_EQ(0, store->OpenKey(kRoot, L"Key", kRead));
}

TEST_F(VemmBaseStandIn, ReadingNeverCreatesAKeyButWritingDoes) {
    StoreObject store;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, store->OpenKey(kRoot, L"New\\Key", kRead));
    EXPECT_EQ(ERROR_INVALID_HANDLE, store->SetValue(L"Name", REG_SZ, nullptr, 0));
    ASSERT_EQ(0, store->OpenKey(kRoot, L"New\\Key", kReadWrite));
    const wchar_t value[] = L"written";
    EXPECT_EQ(
        0, store->SetValue(L"Name", REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value)));
    wchar_t stored[32] = {};
    DWORD size = sizeof(stored);
    EXPECT_EQ(0, RegGetValueW(HKEY_CURRENT_USER, (suite.StoreKey() + L"\\New\\Key").c_str(),
                              L"Name", RRF_RT_REG_SZ, nullptr, stored, &size));
    EXPECT_STREQ(L"written", stored);
}

TEST_F(VemmBaseStandIn, EnumeratesValuesAndSubkeys) {
    suite.SetDword(L"List", L"alpha", 1);
    suite.SetString(L"List", L"beta", L"b");
    suite.SetDword(L"List\\one", L"x", 1);
    suite.SetDword(L"List\\two", L"x", 1);
    StoreObject store;
    ASSERT_EQ(0, store->OpenKey(kRoot, L"List", kRead));
    EXPECT_EQ((std::set<std::wstring>{L"alpha", L"beta"}),
              Names(store.get(), &IVemmStore::EnumValue));
    EXPECT_EQ((std::set<std::wstring>{L"one", L"two"}), Names(store.get(), &IVemmStore::EnumKey));
}

TEST_F(VemmBaseStandIn, RedirectionIsReadAtEveryOpen) {
    peltest::TestSuite other{false};  // now VEMM_STORE_ROOT names the other subtree
    suite.SetString(L"Which", L"Name", L"first");
    other.SetString(L"Which", L"Name", L"second");
    StoreObject store;
    ASSERT_EQ(0, store->OpenKey(kRoot, L"Which", kRead));
    EXPECT_EQ(L"second", store.Text(L"Name"));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT",
                            (L"HKEY_CURRENT_USER\\" + suite.StoreKey()).c_str());
    ASSERT_EQ(0, store->OpenKey(kRoot, L"Which", kRead));
    EXPECT_EQ(L"first", store.Text(L"Name"));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", (L"hkcu\\" + other.StoreKey()).c_str());
    ASSERT_EQ(0, store->OpenKey(kRoot, L"Which", kRead));
    EXPECT_EQ(L"second", store.Text(L"Name"));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", (L"HKXX\\" + other.StoreKey()).c_str());
    EXPECT_NE(0, store->OpenKey(kRoot, L"Which", kRead));
}

TEST_F(VemmBaseStandIn, LocalMachineRedirectionAndTheDefaultRoot) {
    const std::wstring name = UniqueName();
    RegistryKey redirected(HKEY_LOCAL_MACHINE, L"Software\\PelLoaderTests\\" + name + L"\\Key");
    redirected.SetText(L"Name", L"redirected");
    RegistryKey standard(HKEY_LOCAL_MACHINE, L"Software\\PelSuite\\Store\\" + name);
    standard.SetText(L"Name", L"default");
    RegistryKey parent(HKEY_LOCAL_MACHINE, L"Software\\PelLoaderTests\\" + name);

    StoreObject store;
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT",
                            (L"HKLM\\Software\\PelLoaderTests\\" + name).c_str());
    ASSERT_EQ(0, store->OpenKey(kRoot, L"Key", kRead));
    EXPECT_EQ(L"redirected", store.Text(L"Name"));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT",
                            (L"HKEY_LOCAL_MACHINE\\Software\\PelLoaderTests\\" + name).c_str());
    ASSERT_EQ(0, store->OpenKey(kRoot, L"Key", kRead));
    EXPECT_EQ(L"redirected", store.Text(L"Name"));
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", nullptr);
    ASSERT_EQ(0, store->OpenKey(kRoot, name.c_str(), kRead));
    EXPECT_EQ(L"default", store.Text(L"Name"));
}

}  // namespace
