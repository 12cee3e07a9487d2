// pelhost.exe from the outside: its command language, what it prints for every entry point,
// its exit codes, and its diagnostics.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelhost_process.h"
#include "suite.h"

namespace {

using peltest::BinPath;
using peltest::FindText;
using peltest::RunPelhost;

std::wstring Pelhost() { return BinPath(L"pelhost.exe"); }

// Calls and results only: the loader's own diagnostics are left out.
std::vector<std::string> Calls(const std::vector<std::string>& texts) {
    std::vector<std::string> calls;
    for (const std::string& text : texts)
        if (text.rfind("debug: ", 0) != 0 && text.rfind("loaded ", 0) != 0) calls.push_back(text);
    return calls;
}

struct BadArguments {
    const wchar_t* arguments;
    const char* message;
};

TEST(PelhostArguments, BadCommandsAreRefusedBeforeTheLoaderIsLoaded) {
    const BadArguments cases[] = {
        {L"bogus", "unknown command 'bogus'"},
        {L"init exit frobnicate", "unknown command 'frobnicate'"},
        {L"init x7", "init: host value 'x7' is not a 32-bit integer"},
        {L"init 4294967296", "init: host value '4294967296'"},
        {L"notify 1.5", "notify: code '1.5' is not a 32-bit integer"},
        {L"sleep", "sleep: the number of milliseconds is missing"},
        {L"sleep -5", "sleep: '-5' is not a number of milliseconds"},
        {L"menu", "menu: the VARIANT type is missing"},
        {L"menu i9 3", "menu: unknown VARIANT type 'i9'"},
        {L"menu i4 abc", "menu: 'abc' is not a value of that type"},
        {L"menu i2 40000", "menu: '40000' is not a value of that type"},
        {L"menu bool", "menu: the value is missing"},
        {L"wait", "wait: the text to wait for is missing"},
        {LR"(wait \"\")", "wait: the text to wait for is empty"},
        {L"wait x soon", "wait: 'soon' is not a number of milliseconds"},
        {L"--frobnicate init", "unknown option '--frobnicate'"},
        {L"--loader", "--loader needs a path"},
    };
    for (const BadArguments& c : cases) {
        SCOPED_TRACE(std::string(c.message));
        const peltest::PelhostRun run = RunPelhost(Pelhost(), c.arguments);
        EXPECT_EQ(2, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find(std::string("pelhost: ") + c.message)) << run.err;
        // Nothing was loaded or called.
        EXPECT_EQ("", run.out);
    }
}

TEST(PelhostArguments, HelpListsEveryCommandWithoutLoading) {
    for (const wchar_t* arguments : {L"--help", L"help", L"--loader Z:\\nowhere\\x.dll --help"}) {
        const peltest::PelhostRun run = RunPelhost(Pelhost(), arguments);
        EXPECT_EQ(0, run.exitCode);
        for (const char* command : {"init", "on", "off", "menu", "state", "equal", "project",
                                    "notify", "exit", "sleep", "wait", "quit", "help"})
            EXPECT_NE(std::string::npos, run.out.find("\n  " + std::string(command) + " "))
                << command;
        EXPECT_EQ(std::string::npos, run.out.find("loaded ")) << run.out;
    }
}

TEST(PelhostLoader, MissingLoaderOrEntryPointEndsWithStatus3) {
    const std::wstring missing = BinPath(L"no-such-loader.dll");
    peltest::PelhostRun run = RunPelhost(Pelhost(), L"--loader \"" + missing + L"\" init exit");
    EXPECT_EQ(3, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("no-such-loader.dll (error 126)")) << run.err;
    EXPECT_EQ("", run.out);

    // A plug-in DLL has ordinals 5, 6, 7, 10 and 15 but not the loader's 8 and 9.
    run = RunPelhost(Pelhost(), L"--loader=\"" + BinPath(L"sample_dll_plugin.dll") + L"\" init");
    EXPECT_EQ(3, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.err.find("has no export at ordinal 8 (GetStateEqualProject), 9 (SetStateAsProject)"))
        << run.err;
    EXPECT_EQ(std::string::npos, run.out.find("InitSet")) << run.out;
}

TEST(PelhostCalls, EveryEntryPointIsCalledAndReported) {
    // A suite without a component list: the loader starts nothing, so every result comes from
    // the loader state alone.
    peltest::TestSuite suite;
    const peltest::PelhostRun run = RunPelhost(
        Pelhost(),
        L"init 0x10 state on state equal \"menu i4 5\" \"menu bool 1\" state off "
        LR"("menu empty" menu null "menu bstr \"two words\"" project equal "notify 3" exit )"
        L"init -7 equal exit");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    const std::vector<std::string> expected = {
        "InitSet(0, 16, 0) = 0",
        "AskForState(&v) = 0, v = 16",
        "MenuHandle(VT_BOOL -1) = VT_BOOL -1",
        "AskForState(&v) = -1, v = 16",
        "GetStateEqualProject(&v) = 0, v = 16",
        "MenuHandle(VT_I4 5) = VT_BOOL -1",
        "MenuHandle(VT_BOOL 1) = VT_BOOL 1",
        "AskForState(&v) = 1, v = 16",
        "MenuHandle(VT_BOOL 0) = VT_BOOL 0",
        "MenuHandle(VT_EMPTY) = VT_BOOL 0",
        "MenuHandle(VT_NULL) = VT_BOOL 0",
        "MenuHandle(VT_BSTR \"two words\") = VT_BOOL 0",
        "SetStateAsProject() = 1",
        "GetStateEqualProject(&v) = 1, v = 16",
        "NotifySetChange(3, 0) = 0",
        "Exit() = 1",
        "InitSet(0, -7, 0) = 0",
        "GetStateEqualProject(&v) = 1, v = -7",
        "Exit() = 1",
    };
    EXPECT_EQ(expected, Calls(run.texts));
    // The loader's reason for starting nothing is echoed, once per InitSet.
    EXPECT_EQ(2u, peltest::CountTexts(run.texts,
                                      "debug: CPelInit::ReadQXActive GetComposeInstallPath Fail"));
    EXPECT_EQ(0, FindText(run.texts, "loaded ")) << run.out;
}

TEST(PelhostCalls, StampsAreInOrderAndNameTheCallingThread) {
    peltest::TestSuite suite;
    peltest::PelhostProcess host(Pelhost(), L"init on sleep 20 off exit");
    ASSERT_TRUE(host.Started());
    ASSERT_EQ(0, host.Finish());
    const std::vector<peltest::HostLine> lines = host.Lines();
    ASSERT_EQ(7u, lines.size()) << host.Output();
    EXPECT_EQ("sleep 20 ms", lines[4].text);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i - 1].ms, lines[i].ms);
        // Without plug-ins, everything happens on the host's one thread.
        EXPECT_EQ(lines[0].threadId, lines[i].threadId);
    }
    EXPECT_NE(0u, lines[0].threadId);
}

TEST(PelhostInput, StandardInputIsReadLineByLineAndABadLineIsSkipped) {
    peltest::TestSuite suite;
    const peltest::PelhostRun run = RunPelhost(Pelhost(), L"",
                                               "# a session\n"
                                               "init 5   # with a comment\n"
                                               "\n"
                                               "on; state\r\n"
                                               "stat\n"
                                               "menu i4\n"
                                               "off state\n"
                                               "quit\n"
                                               "exit\n");
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("pelhost: line 5: unknown command 'stat'")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("pelhost: line 6: menu: the value is missing"))
        << run.err;
    const std::vector<std::string> expected = {
        "InitSet(0, 5, 0) = 0",
        "MenuHandle(VT_BOOL -1) = VT_BOOL -1",
        "AskForState(&v) = -1, v = 5",
        "MenuHandle(VT_BOOL 0) = VT_BOOL 0",
        "AskForState(&v) = 0, v = 5",
        // "exit" came after "quit" and was never run.
        "note: Exit was not called; the plug-ins end with pelhost",
    };
    EXPECT_EQ(expected, Calls(run.texts));
}

TEST(PelhostInput, AWaitThatTimesOutIsReportedAndTheSessionGoesOn) {
    peltest::TestSuite suite;
    const peltest::PelhostRun run = RunPelhost(
        Pelhost(), LR"(init "wait \"GetComposeInstallPath Fail\" 5000" "wait \"never said\" 100")"
                   L" state exit");
    EXPECT_EQ(4, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.err.find("pelhost: wait: no message containing \"never said\" within 100 ms"))
        << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("GetComposeInstallPath")) << run.err;
    const std::vector<std::string> expected = {"InitSet(0, 0, 0) = 0", "AskForState(&v) = 0, v = 0",
                                               "Exit() = 1"};
    EXPECT_EQ(expected, Calls(run.texts));
}

}  // namespace
