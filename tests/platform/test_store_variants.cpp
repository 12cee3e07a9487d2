// The store client against broken stores. The client loads VemmBase.dll by name and never
// unloads it, so each variant runs store_client_child.exe in a folder of its own, next to the
// variant copied as VemmBase.dll, in a process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "suite.h"
#include "utf16_file.h"

namespace {

using peltest::BinPath;

class StoreVariants : public ::testing::Test {
protected:
    // Runs the child's tests matching `filter` beside `storeFixture` (none when empty) and,
    // when asked, a copy of the install library stand-in.
    ::testing::AssertionResult RunChild(const std::wstring& storeFixture,
                                        const std::wstring& filter,
                                        bool withInstallLibrary = false) {
        const std::wstring dir = suite.Root() + L"\\child";
        CreateDirectoryW(dir.c_str(), nullptr);
        const std::wstring exe = dir + L"\\store_client_child.exe";
        if (!CopyFileW(BinPath(L"store_client_child.exe").c_str(), exe.c_str(), FALSE))
            return ::testing::AssertionFailure() << "cannot copy the child program";
        if (!storeFixture.empty() &&
            !CopyFileW(BinPath(storeFixture).c_str(), (dir + L"\\VemmBase.dll").c_str(), FALSE))
            return ::testing::AssertionFailure() << "cannot copy the store fixture";
        if (withInstallLibrary && !CopyFileW(BinPath(L"QXInstall.dll").c_str(),
                                             (dir + L"\\QXInstall.dll").c_str(), FALSE))
            return ::testing::AssertionFailure() << "cannot copy the install library";

        const std::wstring log = dir + L"\\child.log";
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE)
            return ::testing::AssertionFailure() << "cannot create the child's log";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        std::wstring command = L"\"" + exe + L"\" --gtest_filter=" + filter;
        PROCESS_INFORMATION process{};
        // The child's folder is also its current folder, so that the build's VemmBase.dll is
        // nowhere on its search path.
        const BOOL started = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0,
                                            nullptr, dir.c_str(), &startup, &process);
        CloseHandle(output);
        if (!started) return ::testing::AssertionFailure() << "cannot start the child";
        // A bound against a hung child only; the child's own run takes a fraction of it.
        const bool finished = WaitForSingleObject(process.hProcess, 100000) == WAIT_OBJECT_0;
        if (!finished) TerminateProcess(process.hProcess, 99);
        DWORD exitCode = 99;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);

        std::string text;
        if (!peltest::ReadBytes(log, &text)) text = "<no output>";
        if (!finished) return ::testing::AssertionFailure() << "child hung:\n" << text;
        // gtest exits with 0 also when the filter matched nothing.
        const size_t passed = text.find("[  PASSED  ] ");
        const int count = passed == std::string::npos ? 0 : std::atoi(text.c_str() + passed + 13);
        if (exitCode != 0 || count == 0)
            return ::testing::AssertionFailure() << "child exit code " << exitCode << ":\n" << text;
        return ::testing::AssertionSuccess() << count << " child tests passed";
    }

    peltest::TestSuite suite;
};

TEST_F(StoreVariants, StoreLibraryMissing) { EXPECT_TRUE(RunChild(L"", L"MissingStore.*", true)); }

TEST_F(StoreVariants, GetVemmPtrMissing) {
    EXPECT_TRUE(RunChild(L"fixture_store_noentry.dll", L"NoEntryStore.*"));
}

TEST_F(StoreVariants, GetVemmPtrGivesNoObject) {
    EXPECT_TRUE(RunChild(L"fixture_store_null.dll", L"NullStore.*"));
}

TEST_F(StoreVariants, ScriptedStore) {
    EXPECT_TRUE(RunChild(L"fixture_store_scripted.dll", L"ScriptedStore.*"));
}

TEST_F(StoreVariants, ScriptedStoreFirstUsedByManyThreads) {
    EXPECT_TRUE(RunChild(L"fixture_store_scripted.dll", L"ScriptedStoreFirstUse.*"));
}

}  // namespace
