// pelhost driving the loader with the sample plug-ins, interactively through its standard
// input: the plug-ins' messages come live from their worker threads, between the host's calls.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "pelhost_process.h"
#include "sample_com_plugin.h"
#include "suite.h"
#include "suite_layout.h"

namespace {

using peltest::FindText;

class PelhostWithSamples : public ::testing::Test {
protected:
    void SetUp() override {
        m_layout.AddDll(L"SampleDll", 3, L"sample_dll_plugin.dll", 10, L"sample_dll_plugin.dll");
        m_layout.AddCom(L"SampleCom", 4, L"sample_com_plugin.dll", PEL_SAMPLE_COM_CLSID_TEXT);
        m_layout.Write({3, 4});
    }

    // Sends a command and waits for every one of `texts` to be printed after it.
    void Step(peltest::PelhostProcess& host, const std::string& command,
              const std::vector<std::string>& texts) {
        const size_t from = host.Texts().size();
        host.Send(command);
        // Each printed in answer to this command, not left over from an earlier one.
        for (const std::string& text : texts)
            ASSERT_TRUE(host.WaitForLine(text, from)) << "after '" << command << "' no '" << text
                                                      << "' in:\n" << host.Output() << host.Errors();
    }

    peltest::TestSuite m_suite;
    peltest::SuiteLayout m_layout{m_suite};
};

TEST_F(PelhostWithSamples, PluginMessagesArriveLiveFromTheirWorkers) {
    peltest::PelhostProcess host(peltest::BinPath(L"pelhost.exe"), L"");
    ASSERT_TRUE(host.Started());

    // pelhost now waits for its next line, so whatever arrives meanwhile was printed live.
    Step(host, "init 7", {"InitSet(0, 7, 0) = 1", "debug: SampleDll: DllInit(0, 0, 0)",
                          "debug: SampleDll: menu handler state=1",
                          "debug: SampleDll: DllState() = 1",
                          "debug: SampleCom: PluginInit(0, 0, 0)",
                          "debug: SampleCom: PluginMenuHandle state=1",
                          "debug: SampleCom: PluginGetState() = 1"});
    Step(host, "off", {"MenuHandle(VT_BOOL 0) = VT_BOOL 0",
                       "debug: SampleDll: menu handler state=0", "debug: SampleDll: DllState() = 0",
                       "debug: SampleCom: PluginMenuHandle state=0",
                       "debug: SampleCom: PluginGetState() = 0"});
    Step(host, "state", {"AskForState(&v) = 0, v = 7"});
    Step(host, "notify 18", {"NotifySetChange(18, 0) = 0",
                             "debug: SampleDll: KIChange(0, 0) settings changed",
                             "debug: SampleCom: PluginSetupChange(0, 0) settings changed",
                             "debug: SampleDll: menu handler state=1",
                             "debug: SampleCom: PluginMenuHandle state=1"});
    Step(host, "exit", {"Exit() = 1"});
    EXPECT_EQ(0, host.Finish()) << host.Errors();

    const std::vector<peltest::HostLine> lines = host.Lines();
    const std::vector<std::string> texts = host.Texts();
    // Exit returns after the workers have closed their plug-ins.
    const int exitLine = FindText(texts, "Exit() = 1");
    for (const char* closing : {"debug: SampleDll: DllClose()", "debug: SampleCom: PluginExit(0)",
                                "debug: SampleCom: object released"}) {
        const int at = FindText(texts, closing);
        EXPECT_GE(at, 0) << closing;
        EXPECT_LT(at, exitLine) << closing;
    }
    EXPECT_EQ(-1, FindText(texts, "note: Exit was not called"));

    // The host's calls run on one thread; each plug-in's messages come from a worker of its own.
    const DWORD hostThread = lines[static_cast<size_t>(FindText(texts, "InitSet("))].threadId;
    std::set<DWORD> dllThreads, comThreads;
    for (const peltest::HostLine& line : lines) {
        if (line.text.rfind("debug: ", 0) != 0) {
            EXPECT_EQ(hostThread, line.threadId) << line.text;
        } else if (line.text.rfind("debug: Sample", 0) != 0) {
            continue;  // the loader's own, from either side
        } else if (line.text.find("SampleDll:") != std::string::npos) {
            dllThreads.insert(line.threadId);
        } else {
            comThreads.insert(line.threadId);
        }
    }
    ASSERT_EQ(1u, dllThreads.size());
    ASSERT_EQ(1u, comThreads.size());
    EXPECT_NE(hostThread, *dllThreads.begin());
    EXPECT_NE(hostThread, *comThreads.begin());
    EXPECT_NE(*dllThreads.begin(), *comThreads.begin());
}

TEST_F(PelhostWithSamples, ANonBooleanCommandResendsTheStateToThePlugins) {
    peltest::PelhostProcess host(peltest::BinPath(L"pelhost.exe"), L"");
    ASSERT_TRUE(host.Started());
    Step(host, "init", {"InitSet(0, 0, 0) = 1", "debug: SampleDll: DllState() = 1",
                        "debug: SampleCom: PluginGetState() = 1"});
    Step(host, "off", {"debug: SampleDll: DllState() = 0", "debug: SampleCom: PluginGetState() = 0"});
    // The loader's state stays off; the plug-ins are told so again.
    Step(host, "menu i4 5", {"MenuHandle(VT_I4 5) = VT_BOOL 0",
                             "debug: SampleDll: menu handler state=0",
                             "debug: SampleCom: PluginMenuHandle state=0"});
    Step(host, "exit", {"Exit() = 1"});
    EXPECT_EQ(0, host.Finish()) << host.Errors();
    // Started once each, and the component list holds no third plug-in.
    EXPECT_EQ(1u, peltest::CountTexts(host.Texts(), "DllInit("));
    EXPECT_EQ(1u, peltest::CountTexts(host.Texts(), "PluginInit("));
}

}  // namespace
