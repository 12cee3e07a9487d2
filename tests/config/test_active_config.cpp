// The component list: which records start-up builds, and the messages it gives.
#include <windows.h>

#include "config/ini_document.h"
#include "startup_fixture.h"
#include "utf16_file.h"

namespace {

using ActiveConfig = StartupReaders;

TEST_F(ActiveConfig, ThreeListedComponentsGiveThreeRecordsInListOrder) {
    for (const wchar_t* name : {L"Alpha", L"Beta", L"Gamma"}) suite.AddComponent(name);
    suite.SetActiveMask(1u << 2);
    WriteList(L"[Active]\r\nActive=C,A,B\r\n"
              L"[A]\r\nloader=1\r\nid=1\r\ncompose=Alpha\r\n"
              L"[B]\r\nloader=1\r\nid=2\r\ncompose=Beta\r\n"
              L"[C]\r\nloader=1\r\nid=3\r\ncompose=Gamma\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    ASSERT_EQ(3, g_ArrayPlugin.Count());
    EXPECT_STREQ(L"Gamma", g_ArrayPlugin.At(0).chCompose);
    EXPECT_STREQ(L"Alpha", g_ArrayPlugin.At(1).chCompose);
    EXPECT_STREQ(L"Beta", g_ArrayPlugin.At(2).chCompose);
    EXPECT_EQ(3, g_ArrayPlugin.At(0).nId);
    EXPECT_EQ(0, g_ArrayPlugin.At(0).bActiveOpt);
    EXPECT_EQ(1, g_ArrayPlugin.At(2).bActiveOpt);
    EXPECT_EQ(0, g_ArrayPlugin.At(2).bEnable);
    EXPECT_EQ(1, g_nProjectState.load());
    EXPECT_EQ(nullptr, init.m_pObjQXAC);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST_F(ActiveConfig, ListSplittingPassesEmptyItemsAndKeepsBlanks) {
    suite.AddComponent(L"Alpha");
    WriteList(L"[Active]\r\nActive=A,,A, A,\r\n[A]\r\nloader=1\r\nid=0\r\ncompose=Alpha\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    EXPECT_EQ(2, g_ArrayPlugin.Count());  // the same section listed twice gives two records
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL",
                  "CPelInit::FillPluginItem  FindSection  A is NULL"}),
              capture.Texts());
}

TEST_F(ActiveConfig, ABlankAfterTheEqualsSignBelongsToTheFirstName) {
    suite.AddComponent(L"Alpha");
    WriteList(L"[Active]\r\nActive= A\r\n[A]\r\nloader=1\r\ncompose=Alpha\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    EXPECT_EQ(0, g_ArrayPlugin.Count());
    EXPECT_EQ(1u, capture.Count("CPelInit::FillPluginItem  FindSection  A is NULL"));
}

TEST_F(ActiveConfig, SectionsAndKeysMatchInAnyLetterCase) {
    suite.AddComponent(L"Alpha");
    suite.SetActiveMask(1u << 4);
    WriteList(L"[ACTIVE]\r\nactive=comp\r\n[Comp]\r\nLOADER=1\r\nId=4\r\nCompose=Alpha\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    ASSERT_EQ(1, g_ArrayPlugin.Count());
    EXPECT_EQ(1, g_ArrayPlugin.At(0).nLoader);
    EXPECT_EQ(1, g_ArrayPlugin.At(0).bActiveOpt);
}

TEST_F(ActiveConfig, IdsUseTheLowFiveBits) {
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) suite.AddComponent(name);
    suite.SetActiveMask((1u << 1) | (1u << 31));
    WriteList(L"[Active]\r\nActive=a,b,c,d\r\n"
              L"[a]\r\nloader=1\r\nid=33\r\ncompose=A\r\n"
              L"[b]\r\nloader=1\r\nid=-1\r\ncompose=B\r\n"
              L"[c]\r\nloader=1\r\ncompose=C\r\n"
              L"[d]\r\nloader=1\r\nid= 1x\r\ncompose=D\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    ASSERT_EQ(4, g_ArrayPlugin.Count());
    EXPECT_EQ(1, g_ArrayPlugin.At(0).bActiveOpt);  // 33 -> bit 1
    EXPECT_EQ(1, g_ArrayPlugin.At(1).bActiveOpt);  // -1 -> bit 31
    EXPECT_EQ(0, g_ArrayPlugin.At(2).nId);         // missing -> 0
    EXPECT_EQ(0, g_ArrayPlugin.At(2).bActiveOpt);
    EXPECT_EQ(1, g_ArrayPlugin.At(3).nId);         // leading blank skipped, stops at 'x'
}

TEST_F(ActiveConfig, LoaderOtherThanOneIsReportedButTheRecordIsKept) {
    suite.AddComponent(L"Alpha");
    suite.AddComponent(L"Beta");
    WriteList(L"[Active]\r\nActive=A,B\r\n[A]\r\nloader=0\r\ncompose=Alpha\r\n[B]\r\ncompose=Beta\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    ASSERT_EQ(2, g_ArrayPlugin.Count());
    EXPECT_EQ(0, g_ArrayPlugin.At(0).nLoader);
    EXPECT_EQ((std::vector<std::string>{"CPelInit::FillPluginItem  A Loader is not correct",
                                        "CPelInit::FillPluginItem  B Loader is not correct"}),
              capture.Texts());
}

TEST_F(ActiveConfig, ComposeAlternativesTakeTheFirstInstalledOne) {
    suite.AddComponent(L"Second");
    suite.AddComponent(L"First2");
    WriteList(L"[Active]\r\nActive=A,B,C,D\r\n"
              L"[A]\r\nloader=1\r\ncompose=First,Second\r\n"    // only the second installed
              L"[B]\r\nloader=1\r\ncompose=First2,Other\r\n"    // only the first installed
              L"[C]\r\nloader=1\r\ncompose=Missing,Gone,\r\n"   // none: the first is reported
              L"[D]\r\nloader=1\r\ncompose= Second\r\n");       // the blank is part of it
    EXPECT_EQ(1, init.ReadQXActive());
    ASSERT_EQ(2, g_ArrayPlugin.Count());
    EXPECT_STREQ(L"Second", g_ArrayPlugin.At(0).chCompose);
    EXPECT_STREQ(L"First2", g_ArrayPlugin.At(1).chCompose);
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::FillPluginItem  chCompose Missing is not installed",
                  "CPelInit::FillPluginItem  chCompose  Second is not installed"}),
              capture.Texts());
    EXPECT_EQ(L"Second", GetInstalledCompose(L"Second"));
    EXPECT_EQ(L"", GetInstalledCompose(L""));
    EXPECT_EQ(L"", GetInstalledCompose(L",,"));
    EXPECT_EQ(L"Last", GetInstalledCompose(L"Missing,Last"));
}

TEST_F(ActiveConfig, AnActiveButUninstalledComponentStillSetsTheConfiguredState) {
    suite.SetActiveMask(1u << 3);
    WriteList(L"[Active]\r\nActive=A\r\n[A]\r\nloader=1\r\nid=3\r\ncompose=Nowhere\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    EXPECT_EQ(0, g_ArrayPlugin.Count());
    EXPECT_EQ(1, g_nProjectState.load());
}

TEST_F(ActiveConfig, MissingOrEmptyListsFailWithTheirMessage) {
    EXPECT_EQ(0, init.ReadQXActive());
    const std::wstring path = suite.ComponentDir(L"Options") + L"\\QXActive.config";
    EXPECT_EQ((std::vector<std::string>{"CPelInit::ReadQXActive  LoadFromFile " + Narrow(path) + " Fail"}),
              capture.Texts());

    for (const wchar_t* text : {L"[Other]\r\nActive=A\r\n", L"[Active]\r\nList=A\r\n",
                                L"[Active]\r\nActive=\r\n"}) {
        capture.Clear();
        WriteList(text);
        EXPECT_EQ(0, init.ReadQXActive());
        EXPECT_EQ((std::vector<std::string>{"CPelInit::ReadQXActive strComposeList Empty"}),
                  capture.Texts());
        EXPECT_EQ(nullptr, init.m_pObjQXAC);
    }
}

TEST_F(ActiveConfig, EmptyFileIsALoadFailure) {
    suite.WriteDocument(L"Options", L"QXActive.config", L"", false);
    EXPECT_EQ(0, init.ReadQXActive());
    ASSERT_EQ(1u, capture.Texts().size());
    EXPECT_NE(std::string::npos, capture.Texts()[0].find("LoadFromFile"));
}

TEST_F(ActiveConfig, AListOverTheReadersSizeLimitStartsNothing) {
    suite.AddComponent(L"Alpha");
    const std::wstring path =
        suite.WriteDocument(L"Options", L"QXActive.config",
                            L"[Active]\r\nActive=A\r\n[A]\r\nloader=1\r\ncompose=Alpha\r\n");
    ASSERT_TRUE(peltest::SetFileSize(path, IniDocument::kMaxFileSize + 2ull));
    EXPECT_EQ(0, init.ReadQXActive());
    EXPECT_EQ(0, g_ArrayPlugin.Count());
    EXPECT_EQ(nullptr, init.m_pObjQXAC);
    EXPECT_EQ((std::vector<std::string>{
                  "IniDocument::LoadFromFile " + Narrow(path) +
                      " is too large (33554434 bytes, limit 33554432)",
                  "CPelInit::ReadQXActive  LoadFromFile " + Narrow(path) + " Fail"}),
              capture.Texts());
}

TEST_F(ActiveConfig, FillPluginItemChecksItsArguments) {
    EXPECT_EQ(0, init.FillPluginItem(L""));
    EXPECT_EQ(0, init.FillPluginItem(nullptr));
    EXPECT_EQ(0, init.FillPluginItem(L"A"));
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL",
                  "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL",
                  "CPelInit::FillPluginItem  m_pObjQXAC == NULL"}),
              capture.Texts());
}

TEST_F(ActiveConfig, AComponentNameTooLongForItsFieldIsRefused) {
    const std::wstring longName(300, L'n');
    WriteList(L"[Active]\r\nActive=A\r\n[A]\r\nloader=1\r\ncompose=" + longName + L"\r\n");
    EXPECT_EQ(1, init.ReadQXActive());
    EXPECT_EQ(0, g_ArrayPlugin.Count());
    ASSERT_EQ(1u, capture.Texts().size());
    EXPECT_EQ(259u, capture.Texts()[0].size());  // the message itself is cut to its buffer
}

TEST(ActiveConfigWithoutInstallLibrary, NoPathSourceGivesTheInstallPathMessage) {
    peltest::TestSuite suite(false);
    peltest::DebugCapture capture;
    CPelInit init;
    EXPECT_EQ(0, init.ReadQXActive());
    EXPECT_EQ((std::vector<std::string>{"CPelInit::ReadQXActive GetComposeInstallPath Fail"}),
              capture.Texts());
}

}  // namespace
