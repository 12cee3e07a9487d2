// The store client against a stand-in that test_store_variants.cpp copied next to this program
// under the name VemmBase.dll (or against no store at all). Each test suite below belongs to
// one store variant and is run in a process of its own with --gtest_filter.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/install_module.h"
#include "platform/vemm_key.h"
#include "suite.h"

namespace {

const HKEY kRoot = HKEY_LOCAL_MACHINE;

// An export of the store library the client loaded, or null before it is loaded.
template <class Fn>
Fn StoreExport(const char* name) {
    const HMODULE store = GetModuleHandleW(L"VemmBase.dll");
    if (!store) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(store, name)));
}

// Both queries fail with `code`, give no length and leave the caller's number and text alone.
void ExpectQueriesFail(VemmKey& key, LONG code) {
    DWORD value = 0xA5A5A5A5;
    EXPECT_EQ(code, key.QueryDWORDValue(L"ActiveOpt", &value));
    EXPECT_EQ(0xA5A5A5A5u, value);
    wchar_t text[8] = L"keep";
    ULONG chars = 8;
    EXPECT_EQ(code, key.QueryStringValue(L"Path", text, &chars));
    EXPECT_EQ(0u, chars);
    EXPECT_STREQ(L"keep", text);
}

// ---- No VemmBase.dll anywhere on the search path.

TEST(MissingStore, EmptyPathIsRefusedBeforeTheLibraryIsSought) {
    VemmKey key;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, nullptr));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, key.OpenKey(kRoot, L"OPTIONS\\Active"));
}

TEST(MissingStore, EveryOperationReportsTheMissingLibrary) {
    VemmKey key;
    ExpectQueriesFail(key, ERROR_MOD_NOT_FOUND);
    key.CloseKey();
    key.Release();
    EXPECT_EQ(nullptr, GetModuleHandleW(L"VemmBase.dll"));
}

// QXInstall.dll lies beside the program: the bare name finds it.
TEST(MissingStore, InstallLibraryIsLoadedByItsBareName) {
    QXInstallModule module;
    EXPECT_STREQ(L"QXInstall.dll", module.GetLibraryPath());
    wchar_t out[260] = L"untouched";
    // The stand-in itself has no store to read its map from.
    EXPECT_EQ(0, GetWorkPathFile(out, L"Options", L"QXActive.config"));
    EXPECT_STREQ(L"untouched", out);
    ASSERT_NE(nullptr, g_pInstallModule);
    ASSERT_TRUE(g_pInstallModule->IsLoaded());
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_pInstallModule->m_hLibrary, path, MAX_PATH);
    EXPECT_EQ(0, lstrcmpiW(peltest::BinPath(L"QXInstall.dll").c_str(), path));
}

// ---- A store library without "GetVemmPtr".

TEST(NoEntryStore, OperationsReportTheMissingEntry) {
    VemmKey key;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, L""));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, key.OpenKey(kRoot, L"OPTIONS\\Active"));
    ExpectQueriesFail(key, ERROR_MOD_NOT_FOUND);
    // The library was found and stays loaded.
    EXPECT_NE(nullptr, GetModuleHandleW(L"VemmBase.dll"));
}

TEST(NoEntryStore, InstallLibraryPathFallsBackToTheBareName) {
    QXInstallModule module;
    EXPECT_STREQ(L"QXInstall.dll", module.GetLibraryPath());
}

// ---- "GetVemmPtr" that gives no object.

TEST(NullStore, NoObjectIsAskedForAgainAtEveryOperation) {
    {
        VemmKey key;
        EXPECT_EQ(ERROR_MOD_NOT_FOUND, key.OpenKey(kRoot, L"OPTIONS\\Active"));
        const auto calls = StoreExport<LONG(__stdcall*)()>("GetVemmPtrCalls");
        ASSERT_NE(nullptr, calls);
        const LONG before = calls();
        ExpectQueriesFail(key, ERROR_MOD_NOT_FOUND);
        EXPECT_EQ(before + 2, calls());
    }
    // Releasing a key without an object asks for none.
    const auto calls = StoreExport<LONG(__stdcall*)()>("GetVemmPtrCalls");
    const LONG after = calls();
    {
        VemmKey key;
        key.Release();
    }
    EXPECT_EQ(after, calls());
}

TEST(NullStore, InstallLibraryPathFallsBackToTheBareName) {
    QXInstallModule module;
    EXPECT_STREQ(L"QXInstall.dll", module.GetLibraryPath());
}

// ---- A scripted store that records its calls.

class ScriptedStore : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto clear = StoreExport<void(__stdcall*)()>("StoreClearTrace")) clear();
    }
    void TearDown() override { EXPECT_EQ(0, LiveObjects()) << "objects not released"; }

    // The calls so far; empty while the store library is not loaded.
    static std::string Trace() {
        const auto trace = StoreExport<const char*(__stdcall*)()>("StoreTrace");
        return trace ? trace() : "";
    }
    static LONG LiveObjects() {
        const auto live = StoreExport<LONG(__stdcall*)()>("StoreLiveObjects");
        return live ? live() : 0;
    }

    struct Text {
        LONG result;
        ULONG chars;
        std::wstring buffer;  // all 16 characters
    };
    // Reads a text into a 16-character buffer of which `capacity` are offered.
    static Text QueryText(VemmKey& key, const wchar_t* name, ULONG capacity = 10) {
        wchar_t buffer[16];
        wmemset(buffer, L'#', 16);
        ULONG chars = capacity;
        const LONG result = key.QueryStringValue(name, buffer, &chars);
        return {result, chars, std::wstring(buffer, 16)};
    }
};

TEST_F(ScriptedStore, UnusedKeyNeverReachesTheStore) {
    { VemmKey key; }
    {
        VemmKey key;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, L""));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key.OpenKey(kRoot, nullptr));
    }
    EXPECT_EQ("", Trace());
}

TEST_F(ScriptedStore, ObjectComesAtFirstUseAndIsClosedThenReleased) {
    {
        VemmKey key;
        EXPECT_EQ(0, key.OpenKey(kRoot, L"OPTIONS\\Active"));
        DWORD mask = 0;
        EXPECT_EQ(0, key.QueryDWORDValue(L"Number", &mask));
        EXPECT_EQ(0x12345678u, mask);
        EXPECT_EQ(1, LiveObjects());
    }
    EXPECT_EQ("G1 O1(80000002,20019,OPTIONS\\Active) Q1(Number,4) C1 R1", Trace());
}

TEST_F(ScriptedStore, ExplicitCloseIsFollowedByTheReleasingClose) {
    {
        VemmKey key;
        EXPECT_EQ(0, key.OpenKey(kRoot, L"OPTIONS\\Active"));
        DWORD mask = 0;
        key.QueryDWORDValue(L"Number", &mask);
        key.CloseKey();
    }
    EXPECT_EQ("G1 O1(80000002,20019,OPTIONS\\Active) Q1(Number,4) C1 C1 R1", Trace());
}

TEST_F(ScriptedStore, ExplicitReleaseLeavesNothingForTheDestructor) {
    {
        VemmKey key;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.OpenKey(kRoot, L"Missing"));
        key.Release();
        EXPECT_EQ("G1 O1(80000002,20019,Missing) C1 R1", Trace());
        key.Release();
        EXPECT_EQ(0, LiveObjects());
        EXPECT_EQ(0, key.OpenKey(kRoot, L"Again"));
    }
    EXPECT_EQ("G1 O1(80000002,20019,Missing) C1 R1 G2 O2(80000002,20019,Again) C2 R2", Trace());
}

TEST_F(ScriptedStore, EachKeyHoldsItsOwnObject) {
    {
        VemmKey first;
        VemmKey second;
        first.OpenKey(kRoot, L"A");
        second.OpenKey(kRoot, L"B");
        first.OpenKey(kRoot, L"C");
        EXPECT_EQ(2, LiveObjects());
    }
    EXPECT_EQ("G1 O1(80000002,20019,A) G2 O2(80000002,20019,B) O1(80000002,20019,C) C2 R2 C1 R1",
              Trace());
}

TEST_F(ScriptedStore, RootIsPassedThrough) {
    {
        VemmKey key;
        key.OpenKey(HKEY_CURRENT_USER, L"K");
    }
    EXPECT_EQ("G1 O1(80000001,20019,K) C1 R1", Trace());
}

TEST_F(ScriptedStore, NumberOfAnotherTypeKeepsWhatTheStoreWrote) {
    VemmKey key;
    DWORD value = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"NumberAsText", &value));
    EXPECT_EQ(0x00320031u, value);  // "12"
    value = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"Binary", &value));
    EXPECT_EQ(0x04030201u, value);
    // The store's own code comes first, whatever the type.
    EXPECT_EQ(ERROR_ACCESS_DENIED, key.QueryDWORDValue(L"Denied", &value));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(L"Absent", &value));
}

TEST_F(ScriptedStore, TextAsksForTwiceItsLengthInBytes) {
    {
        VemmKey key;
        const Text text = QueryText(key, L"Text", 10);
        EXPECT_EQ(0, text.result);
        EXPECT_EQ(4u, text.chars);
        EXPECT_STREQ(L"abc", text.buffer.c_str());
        const Text expand = QueryText(key, L"ExpandText", 7);
        EXPECT_EQ(0, expand.result);
        EXPECT_EQ(7u, expand.chars);
        EXPECT_STREQ(L"%TEMP%", expand.buffer.c_str());
        const Text small = QueryText(key, L"Text", 3);
        EXPECT_EQ(ERROR_MORE_DATA, small.result);
        EXPECT_EQ(0u, small.chars);
    }
    EXPECT_EQ("G1 Q1(Text,20) Q1(ExpandText,14) Q1(Text,6) C1 R1", Trace());
}

TEST_F(ScriptedStore, BadlyShapedTextsAreRejected) {
    VemmKey key;
    for (const wchar_t* name : {L"Number", L"Binary", L"OddText", L"Unterminated", L"Oversized"}) {
        const Text text = QueryText(key, name);
        EXPECT_EQ(ERROR_INVALID_DATA, text.result) << name;
        EXPECT_EQ(0u, text.chars) << name;
        EXPECT_EQ(L'#', text.buffer[10]) << name;
    }
    EXPECT_EQ(ERROR_ACCESS_DENIED, QueryText(key, L"Denied").result);
}

TEST_F(ScriptedStore, ZeroSizeTextIsEmpty) {
    VemmKey key;
    const Text text = QueryText(key, L"EmptyText");
    EXPECT_EQ(0, text.result);
    EXPECT_EQ(0u, text.chars);
    EXPECT_EQ(L'\0', text.buffer[0]);
    EXPECT_EQ(L'#', text.buffer[1]);
}

TEST_F(ScriptedStore, WithoutABufferOnlyTheLengthComesBack) {
    VemmKey key;
    ULONG chars = 0;
    EXPECT_EQ(0, key.QueryStringValue(L"Text", nullptr, &chars));
    EXPECT_EQ(4u, chars);
}

TEST_F(ScriptedStore, InstallLibraryPathIsReadThroughOneReleasedKey) {
    QXInstallModule module;
    EXPECT_STREQ(L"X:\\Scripted\\QXInstall.dll", module.GetLibraryPath());
    EXPECT_EQ("G1 O1(80000002,20019,FileMap\\Common) Q1(QXInstall.dll,520) C1 R1", Trace());
    // A failed load, then the bare name is never tried in its place.
    EXPECT_FALSE(module.Load());
    EXPECT_STREQ(L"X:\\Scripted\\QXInstall.dll", module.m_szLibraryPath);
}

// ---- The scripted store, first used by many threads at once (a process of its own).

TEST(ScriptedStoreFirstUse, ConcurrentFirstUseLoadsOneLibrary) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"VemmBase.dll"));
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, go);
    constexpr int kThreads = 8;
    std::vector<LONG> results(kThreads, -1);
    std::vector<DWORD> values(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            WaitForSingleObject(go, INFINITE);
            VemmKey key;
            results[i] = key.OpenKey(kRoot, L"OPTIONS\\Active");
            if (results[i] == 0) results[i] = key.QueryDWORDValue(L"Number", &values[i]);
        });
    }
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(0, results[i]) << i;
        EXPECT_EQ(0x12345678u, values[i]) << i;
    }
    const auto live = StoreExport<LONG(__stdcall*)()>("StoreLiveObjects");
    const auto trace = StoreExport<const char*(__stdcall*)()>("StoreTrace");
    ASSERT_NE(nullptr, live);
    ASSERT_NE(nullptr, trace);
    EXPECT_EQ(0, live());
    // One object per key, each closed and released once.
    const std::string calls = trace();
    int made = 0, closed = 0, released = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i > 0 && calls[i - 1] != ' ') continue;
        made += calls[i] == 'G';
        closed += calls[i] == 'C';
        released += calls[i] == 'R';
    }
    EXPECT_EQ(kThreads, made);
    EXPECT_EQ(kThreads, closed);
    EXPECT_EQ(kThreads, released);
}

}  // namespace
