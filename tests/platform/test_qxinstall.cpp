// The install library stand-in QXInstall.dll called by ordinal, the way any client calls it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "suite.h"

namespace {

using WorkPathFileFn = int(__stdcall*)(wchar_t*, int, const wchar_t*, const wchar_t*, int);
using ComposeInstallPathFn = int(__stdcall*)(wchar_t*, int, const wchar_t*, int);
using IsComposeInstalledFn = int(__stdcall*)(const wchar_t*);

template <class Fn>
Fn Ordinal(int ordinal) {
    static const HMODULE library = LoadLibraryW(peltest::BinPath(L"QXInstall.dll").c_str());
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
}

// A buffer with guard characters on both sides of the `cch` characters handed out.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int cch) : m_cch(cch), m_data(cch + 2 * kGuard, L'~') {}
    wchar_t* Out() { return m_data.data() + kGuard; }
    std::wstring Text() const { return m_data.data() + kGuard; }
    // True when nothing outside the handed-out part changed.
    bool GuardsIntact() const {
        for (int i = 0; i < kGuard; ++i) {
            if (m_data[i] != L'~' || m_data[kGuard + m_cch + i] != L'~') return false;
        }
        return true;
    }
    // True when nothing at all changed.
    bool Untouched() const {
        for (wchar_t c : m_data) {
            if (c != L'~') return false;
        }
        return true;
    }

private:
    static constexpr int kGuard = 8;
    int m_cch;
    std::vector<wchar_t> m_data;
};

class QXInstallStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        getWorkPathFile = Ordinal<WorkPathFileFn>(5);
        getComposeInstallPath = Ordinal<ComposeInstallPathFn>(6);
        isComposeInstalled = Ordinal<IsComposeInstalledFn>(9);
        ASSERT_NE(nullptr, getWorkPathFile);
        ASSERT_NE(nullptr, getComposeInstallPath);
        ASSERT_NE(nullptr, isComposeInstalled);
    }

    peltest::TestSuite suite;
    WorkPathFileFn getWorkPathFile = nullptr;
    ComposeInstallPathFn getComposeInstallPath = nullptr;
    IsComposeInstalledFn isComposeInstalled = nullptr;
};

TEST_F(QXInstallStandIn, AnswersFromTheComponentMap) {
    const std::wstring menu = suite.AddComponent(L"Menu");
    wchar_t out[260] = {};
    EXPECT_NE(0, getWorkPathFile(out, 260, L"Menu", L"scan.mnu", 0));
    EXPECT_EQ(menu + L"\\scan.mnu", out);
    EXPECT_NE(0, getComposeInstallPath(out, 260, L"Menu", 0));
    EXPECT_EQ(menu, out);
    EXPECT_NE(0, isComposeInstalled(L"Menu"));
    // Component names are looked up without regard to case, like the store's keys.
    EXPECT_NE(0, isComposeInstalled(L"MENU"));
}

TEST_F(QXInstallStandIn, FolderWithATrailingSeparatorIsNotDoubled) {
    suite.MapComponent(L"Options", suite.Root() + L"\\Options\\");
    wchar_t out[260] = {};
    EXPECT_NE(0, getWorkPathFile(out, 260, L"Options", L"QXActive.config", 0));
    EXPECT_EQ(suite.Root() + L"\\Options\\QXActive.config", out);
    EXPECT_NE(0, getComposeInstallPath(out, 260, L"Options", 0));
    EXPECT_EQ(suite.Root() + L"\\Options\\", out);
}

TEST_F(QXInstallStandIn, NeverWritesPastTheGivenLength) {
    const std::wstring folder = suite.AddComponent(L"Options");
    const std::wstring file = folder + L"\\QXActive.config";
    const int fits = static_cast<int>(file.size()) + 1;

    GuardedBuffer exact(fits);
    EXPECT_NE(0, getWorkPathFile(exact.Out(), fits, L"Options", L"QXActive.config", 0));
    EXPECT_EQ(file, exact.Text());
    EXPECT_TRUE(exact.GuardsIntact());

    GuardedBuffer shorter(fits - 1);
    EXPECT_EQ(0, getWorkPathFile(shorter.Out(), fits - 1, L"Options", L"QXActive.config", 0));
    EXPECT_TRUE(shorter.Untouched());

    const int folderFits = static_cast<int>(folder.size()) + 1;
    GuardedBuffer folderExact(folderFits);
    EXPECT_NE(0, getComposeInstallPath(folderExact.Out(), folderFits, L"Options", 0));
    EXPECT_EQ(folder, folderExact.Text());
    EXPECT_TRUE(folderExact.GuardsIntact());

    GuardedBuffer folderShorter(folderFits - 1);
    EXPECT_EQ(0, getComposeInstallPath(folderShorter.Out(), folderFits - 1, L"Options", 0));
    EXPECT_TRUE(folderShorter.Untouched());
}

TEST_F(QXInstallStandIn, MissingOrEmptyArgumentsGiveNothing) {
    suite.AddComponent(L"Options");
    GuardedBuffer out(260);
    EXPECT_EQ(0, getWorkPathFile(nullptr, 260, L"Options", L"f", 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), 0, L"Options", L"f", 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), -1, L"Options", L"f", 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), 260, nullptr, L"f", 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), 260, L"", L"f", 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), 260, L"Options", nullptr, 0));
    EXPECT_EQ(0, getWorkPathFile(out.Out(), 260, L"Options", L"", 0));
    EXPECT_EQ(0, getComposeInstallPath(nullptr, 260, L"Options", 0));
    EXPECT_EQ(0, getComposeInstallPath(out.Out(), 0, L"Options", 0));
    EXPECT_EQ(0, getComposeInstallPath(out.Out(), 260, nullptr, 0));
    EXPECT_EQ(0, getComposeInstallPath(out.Out(), 260, L"", 0));
    EXPECT_EQ(0, isComposeInstalled(nullptr));
    EXPECT_EQ(0, isComposeInstalled(L""));
    EXPECT_TRUE(out.Untouched());
}

TEST_F(QXInstallStandIn, UnknownComponentsGiveNothing) {
    suite.MapComponent(L"Gone", suite.Root() + L"\\gone");
    suite.SetString(L"Install\\Blank", L"Path", L"");
    suite.SetDword(L"Install\\Number", L"Path", 1);
    GuardedBuffer out(260);
    for (const wchar_t* component : {L"Unmapped", L"Blank", L"Number"}) {
        EXPECT_EQ(0, getWorkPathFile(out.Out(), 260, component, L"f.dll", 0)) << component;
        EXPECT_EQ(0, getComposeInstallPath(out.Out(), 260, component, 0)) << component;
        EXPECT_EQ(0, isComposeInstalled(component)) << component;
    }
    EXPECT_TRUE(out.Untouched());
    // Mapped to a folder that does not exist: the paths are known, the component not installed.
    EXPECT_EQ(0, isComposeInstalled(L"Gone"));
    EXPECT_NE(0, getComposeInstallPath(out.Out(), 260, L"Gone", 0));
    EXPECT_EQ(suite.Root() + L"\\gone", out.Text());
}

TEST_F(QXInstallStandIn, StoredPathsNeedNoTerminatorAndMayBeExpandable) {
    const std::wstring folder = suite.AddComponent(L"Raw");
    suite.SetBinary(L"Install\\Raw", L"Path", folder.c_str(),
                    static_cast<DWORD>(folder.size() * sizeof(wchar_t)), REG_SZ);
    wchar_t out[260] = {};
    EXPECT_NE(0, getComposeInstallPath(out, 260, L"Raw", 0));
    EXPECT_EQ(folder, out);

    SetEnvironmentVariableW(L"PELTEST_SUITE_ROOT", suite.Root().c_str());
    suite.SetString(L"Install\\Expand", L"Path", L"%PELTEST_SUITE_ROOT%\\Raw", REG_EXPAND_SZ);
    EXPECT_NE(0, getWorkPathFile(out, 260, L"Expand", L"a.dll", 0));
    EXPECT_EQ(folder + L"\\a.dll", out);
    EXPECT_NE(0, isComposeInstalled(L"Expand"));
}

}  // namespace
