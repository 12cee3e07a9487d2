// QXInstallModule and its three wrappers, on the install library stand-in and on fixture
// libraries that the store names by full path.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/install_module.h"
#include "suite.h"

namespace {

using peltest::BinPath;

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// Every test starts without the process-wide module, as the loader does at start-up.
class QXInstallModuleTest : public ::testing::Test {
protected:
    QXInstallModuleTest() { Forget(); }
    ~QXInstallModuleTest() override { Forget(); }

    static void Forget() {
        delete g_pInstallModule;
        g_pInstallModule = nullptr;
    }

    void UseLibrary(const std::wstring& path) {
        suite.SetString(L"FileMap\\Common", L"QXInstall.dll", path);
    }

    peltest::TestSuite suite;
};

TEST_F(QXInstallModuleTest, PathComesFromTheStore) {
    QXInstallModule module;
    EXPECT_EQ(BinPath(L"QXInstall.dll"), module.GetLibraryPath());
    UseLibrary(L"D:\\Elsewhere\\Install.dll");
    EXPECT_STREQ(L"D:\\Elsewhere\\Install.dll", module.GetLibraryPath());
    EXPECT_STREQ(L"D:\\Elsewhere\\Install.dll", module.m_szLibraryPath);
}

TEST_F(QXInstallModuleTest, PathFallsBackToTheBareName) {
    QXInstallModule module;
    suite.DeleteValue(L"FileMap\\Common", L"QXInstall.dll");
    EXPECT_STREQ(L"QXInstall.dll", module.GetLibraryPath());
    UseLibrary(L"");
    EXPECT_STREQ(L"QXInstall.dll", module.GetLibraryPath());
    // The bare name is found beside the program.
    suite.DeleteValue(L"FileMap\\Common", L"QXInstall.dll");
    ASSERT_TRUE(module.Load());
    EXPECT_EQ(0,
              lstrcmpiW(BinPath(L"QXInstall.dll").c_str(), ModulePath(module.m_hLibrary).c_str()));
}

TEST_F(QXInstallModuleTest, LoadFetchesSeventeenOrdinalsAndSkips7And12) {
    UseLibrary(BinPath(L"fixture_install_echo.dll"));
    QXInstallModule module;
    EXPECT_EQ(nullptr, module.Entry(5));
    ASSERT_TRUE(module.Load());
    int fetched = 0;
    for (int ordinal = 0; ordinal <= 20; ++ordinal) {
        const FARPROC exported = GetProcAddress(module.m_hLibrary, MAKEINTRESOURCEA(ordinal));
        const bool listed = ordinal >= 1 && ordinal <= 19 && ordinal != 7 && ordinal != 12;
        EXPECT_EQ(listed ? exported : nullptr, module.Entry(ordinal)) << ordinal;
        if (listed && module.Entry(ordinal)) ++fetched;
    }
    EXPECT_EQ(17, fetched);
    // The table holds them in ordinal order, 7 and 12 left out.
    EXPECT_EQ(module.Entry(8), module.m_pfn[6]);
    EXPECT_EQ(module.Entry(13), module.m_pfn[10]);
    EXPECT_EQ(module.Entry(19), module.m_pfn[16]);
}

TEST_F(QXInstallModuleTest, LoadFreesTheLoadedLibraryFirst) {
    UseLibrary(BinPath(L"fixture_install_echo.dll"));
    {
        QXInstallModule module;
        ASSERT_TRUE(module.Load());
        ASSERT_TRUE(module.Load());
        module.Unload();
        EXPECT_FALSE(module.IsLoaded());
        EXPECT_EQ(nullptr, GetModuleHandleW(L"fixture_install_echo.dll"));
        ASSERT_TRUE(module.Load());
    }
    // The destructor unloads too.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"fixture_install_echo.dll"));
}

TEST_F(QXInstallModuleTest, FailedLoadClearsTheEntries) {
    QXInstallModule module;
    UseLibrary(BinPath(L"fixture_install_echo.dll"));
    ASSERT_TRUE(module.Load());
    UseLibrary(suite.Root() + L"\\absent\\QXInstall.dll");
    EXPECT_FALSE(module.Load());
    EXPECT_FALSE(module.IsLoaded());
    for (int ordinal = 1; ordinal <= 19; ++ordinal) EXPECT_EQ(nullptr, module.Entry(ordinal));
}

TEST_F(QXInstallModuleTest, WrappersPassTheirArguments) {
    UseLibrary(BinPath(L"fixture_install_echo.dll"));
    wchar_t out[260] = {};
    EXPECT_EQ(105, GetWorkPathFile(out, L"Menu", L"menu.mnu"));
    EXPECT_STREQ(L"5|260|Menu|menu.mnu|0", out);
    EXPECT_EQ(106, GetComposeInstallPath(out));
    EXPECT_STREQ(L"6|260|Options|0", out);
    EXPECT_EQ(905, IsComposeInstalled(L"Clean"));
    ASSERT_NE(nullptr, g_pInstallModule);
    EXPECT_EQ(BinPath(L"fixture_install_echo.dll"), g_pInstallModule->m_szLibraryPath);
}

TEST_F(QXInstallModuleTest, MissingOrdinalsLeaveTheBufferUntouched) {
    UseLibrary(BinPath(L"fixture_install_bare.dll"));
    wchar_t out[260];
    wmemset(out, L'Q', 260);
    EXPECT_EQ(0, GetWorkPathFile(out, L"Options", L"QXActive.config"));
    EXPECT_EQ(0, GetComposeInstallPath(out));
    EXPECT_EQ(0, IsComposeInstalled(L"Options"));
    for (wchar_t c : out) ASSERT_EQ(L'Q', c);
    ASSERT_NE(nullptr, g_pInstallModule);
    EXPECT_TRUE(g_pInstallModule->IsLoaded());
    EXPECT_NE(nullptr, g_pInstallModule->Entry(2));
}

TEST_F(QXInstallModuleTest, FailedLoadIsTriedAgainAtTheNextCall) {
    const std::wstring options = suite.AddComponent(L"Options");
    UseLibrary(suite.Root() + L"\\absent\\QXInstall.dll");
    wchar_t out[260] = L"untouched";
    EXPECT_EQ(0, GetWorkPathFile(out, L"Options", L"QXActive.config"));
    EXPECT_STREQ(L"untouched", out);
    EXPECT_EQ(0, IsComposeInstalled(L"Options"));
    ASSERT_NE(nullptr, g_pInstallModule);
    EXPECT_FALSE(g_pInstallModule->IsLoaded());

    UseLibrary(BinPath(L"QXInstall.dll"));
    EXPECT_NE(0, GetWorkPathFile(out, L"Options", L"QXActive.config"));
    EXPECT_EQ(options + L"\\QXActive.config", out);
    EXPECT_TRUE(g_pInstallModule->IsLoaded());
}

TEST_F(QXInstallModuleTest, LoadedLibraryIsKeptWhenTheStoreChanges) {
    suite.AddComponent(L"Options");
    wchar_t out[260] = {};
    ASSERT_NE(0, GetComposeInstallPath(out));
    QXInstallModule* const first = g_pInstallModule;
    UseLibrary(BinPath(L"fixture_install_echo.dll"));
    EXPECT_NE(0, GetComposeInstallPath(out));
    EXPECT_EQ(suite.ComponentDir(L"Options"), out);
    EXPECT_EQ(first, g_pInstallModule);
}

TEST_F(QXInstallModuleTest, WrappersOnTheStandIn) {
    const std::wstring options = suite.AddComponent(L"Options");
    suite.MapComponent(L"Gone", suite.Root() + L"\\gone");
    wchar_t out[260] = {};
    EXPECT_NE(0, GetWorkPathFile(out, L"Options", L"QXActive.config"));
    EXPECT_EQ(options + L"\\QXActive.config", out);
    wmemset(out, 0, 260);
    EXPECT_NE(0, GetComposeInstallPath(out));
    EXPECT_EQ(options, out);
    EXPECT_NE(0, IsComposeInstalled(L"Options"));
    EXPECT_EQ(0, IsComposeInstalled(L"Gone"));
    EXPECT_EQ(0, IsComposeInstalled(L"Unmapped"));
    wchar_t untouched[260] = L"untouched";
    EXPECT_EQ(0, GetWorkPathFile(untouched, L"Unmapped", L"x.dll"));
    EXPECT_STREQ(L"untouched", untouched);
}

// Workers ask for their DLL paths at the same time; the first calls create and load the module.
TEST_F(QXInstallModuleTest, ConcurrentFirstCallsAllGetTheirPath) {
    const std::wstring folder = suite.AddComponent(L"Worker");
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, go);
    constexpr int kThreads = 8;
    std::vector<std::wstring> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            WaitForSingleObject(go, INFINITE);
            wchar_t out[260] = {};
            const std::wstring file = L"plugin" + std::to_wstring(i) + L".dll";
            GetWorkPathFile(out, L"Worker", file.c_str());
            results[i] = out;
        });
    }
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(folder + L"\\plugin" + std::to_wstring(i) + L".dll", results[i]);
    ASSERT_NE(nullptr, g_pInstallModule);
    EXPECT_TRUE(g_pInstallModule->IsLoaded());
}

}  // namespace
