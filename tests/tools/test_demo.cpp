// The demo of scripts/demo.sh, end to end inside the test prefix: the same suite, laid out
// from the same templates (demo/), with the store in this test's own subtree, and pelhost
// running the demo's session script.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pelhost_process.h"
#include "sample_com_plugin.h"
#include "suite.h"
#include "utf16_file.h"

namespace {

using peltest::BinPath;
using peltest::CreateTree;
using peltest::FindText;

// The file's bytes; empty when it cannot be read.
std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    peltest::ReadBytes(path, &bytes);
    return bytes;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// As the demo script installs a template: UTF-16LE with a byte-order mark, CR LF line ends.
bool InstallTemplate(const std::string& utf8, const std::wstring& target) {
    return peltest::WriteUtf16File(target, ReplaceAll(Widen(utf8), L"\n", L"\r\n"));
}

// Every file below `dir`, as paths relative to it.
void ListFiles(const std::wstring& dir, const std::wstring& prefix, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\" + prefix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(dir, prefix + name + L"\\", out);
        else
            out.push_back(prefix + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

int RunAndWait(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return -1;
    WaitForSingleObject(info.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

// Ends the monitor program that the loader started from this suite, so that no window of
// class "QXXP_Monitor" outlives the test.
void EndMonitorFrom(const std::wstring& suiteRoot) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"QXXP_Monitor", nullptr); window;
         window = FindWindowExW(nullptr, window, L"QXXP_Monitor", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION |
                                         SYNCHRONIZE, FALSE, pid);
        if (!process) continue;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &size) &&
            CompareStringOrdinal(image, static_cast<int>(suiteRoot.size()), suiteRoot.c_str(),
                                 static_cast<int>(suiteRoot.size()), TRUE) == CSTR_EQUAL) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 10000);
        }
        CloseHandle(process);
    }
}

class DemoSuite : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring templates = BinPath(L"demo");
        const std::wstring root = m_suite.Root();

        // The build's programs and DLLs, where demo/layout.txt puts them.
        std::istringstream layout(ReadAll(templates + L"\\layout.txt"));
        std::string line;
        int copied = 0;
        while (std::getline(layout, line)) {
            std::istringstream fields(line);
            std::string file, folder, name;
            if (!(fields >> file >> folder >> name) || file[0] == '#') continue;
            CreateTree(root + L"\\" + Widen(folder));
            ASSERT_TRUE(CopyFileW(BinPath(Widen(file)).c_str(),
                                  (root + L"\\" + Widen(folder) + L"\\" + Widen(name)).c_str(), FALSE))
                << line;
            ++copied;
        }
        ASSERT_GT(copied, 0);

        // The documents.
        std::vector<std::wstring> documents;
        ListFiles(templates + L"\\suite", L"", documents);
        ASSERT_FALSE(documents.empty());
        for (const std::wstring& document : documents) {
            const std::wstring target = root + L"\\" + document;
            CreateTree(target.substr(0, target.find_last_of(L'\\')));
            ASSERT_TRUE(InstallTemplate(ReadAll(templates + L"\\suite\\" + document), target));
        }

        // The store values and the COM registration, imported as the demo does, but into this
        // test's store subtree.
        std::wstring reg = Widen(ReadAll(templates + L"\\store.reg"));
        reg = ReplaceAll(reg, L"@STORE@", L"HKEY_CURRENT_USER\\" + m_suite.StoreKey());
        reg = ReplaceAll(reg, L"@SUITE@", ReplaceAll(root, L"\\", L"\\\\"));
        const std::wstring regFile = root + L"\\store.reg";
        ASSERT_TRUE(peltest::WriteUtf16File(regFile, ReplaceAll(reg, L"\n", L"\r\n")));
        ASSERT_EQ(0, RunAndWait(L"reg.exe import \"" + regFile + L"\""));

        m_monitorLog = root + L"\\monitor.log";
        SetEnvironmentVariableW(L"PEL_MONITOR_LOG", m_monitorLog.c_str());
        SetEnvironmentVariableW(L"PEL_MONITOR_EXIT_MS", L"60000");
    }

    void TearDown() override {
        EndMonitorFrom(m_suite.Root());
        SetEnvironmentVariableW(L"PEL_MONITOR_LOG", nullptr);
        SetEnvironmentVariableW(L"PEL_MONITOR_EXIT_MS", nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" PEL_SAMPLE_COM_CLSID_TEXT);
    }

    peltest::TestSuite m_suite;
    std::wstring m_monitorLog;
};

TEST_F(DemoSuite, ScriptedSessionShowsThePluginsTheSettingsChangeAndTheMonitor) {
    const peltest::PelhostRun run = peltest::RunPelhost(m_suite.Root() + L"\\Host\\pelhost.exe", L"",
                                                        ReadAll(BinPath(L"demo\\session.txt")));
    ASSERT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_EQ("", run.err);
    const std::vector<std::string>& texts = run.texts;

    // Start-up: the two enabled plug-ins are loaded and switched on; the idle one is not.
    EXPECT_GE(FindText(texts, "InitSet(0, 7, 0) = 1"), 0) << run.out;
    EXPECT_EQ(1u, peltest::CountTexts(texts, "debug: SampleDll: DllInit(0, 0, 0)"));
    EXPECT_EQ(1u, peltest::CountTexts(texts, "debug: SampleCom: PluginInit(0, 0, 0)"));

    // Off: both plug-ins follow the host's command.
    const int off = FindText(texts, "MenuHandle(VT_BOOL 0) = VT_BOOL 0");
    ASSERT_GE(off, 0) << run.out;
    const int on = FindText(texts, "MenuHandle(VT_BOOL -1) = VT_BOOL -1");
    ASSERT_GE(on, 0) << run.out;
    EXPECT_LT(on, off);
    EXPECT_GT(FindText(texts, "debug: SampleDll: menu handler state=0", static_cast<size_t>(on)), on);
    EXPECT_GT(FindText(texts, "debug: SampleCom: PluginMenuHandle state=0", static_cast<size_t>(on)),
              on);
    EXPECT_GE(FindText(texts, "AskForState(&v) = 0, v = 7"), 0) << run.out;

    // The settings change: both plug-ins are told, and switched back on from the mask.
    const int notify = FindText(texts, "NotifySetChange(18, 0) = 0");
    ASSERT_GT(notify, off) << run.out;
    EXPECT_GE(FindText(texts, "debug: SampleDll: KIChange(0, 0) settings changed"), 0) << run.out;
    EXPECT_GE(FindText(texts, "debug: SampleCom: PluginSetupChange(0, 0) settings changed"), 0)
        << run.out;
    EXPECT_GE(FindText(texts, "AskForState(&v) = 1, v = 7", static_cast<size_t>(notify)), 0)
        << run.out;

    // Shutdown: both plug-ins closed before Exit returned.
    const int exit = FindText(texts, "Exit() = 1");
    ASSERT_GE(exit, 0) << run.out;
    EXPECT_LT(FindText(texts, "debug: SampleDll: DllClose()"), exit);
    EXPECT_LT(FindText(texts, "debug: SampleCom: PluginExit(0)"), exit);
    EXPECT_GE(FindText(texts, "debug: SampleCom: PluginExit(0)"), 0);

    // The monitor program was started by the loader and told the state 1 by "PelLoader_01".
    const std::string log = ReadAll(m_monitorLog);
    EXPECT_NE(std::string::npos, log.find("nCode=1330 nState=1")) << log;
    EXPECT_NE(std::string::npos, log.find("sender=PelLoader_01")) << log;
}

}  // namespace
