// The menu documents: which section each record takes and how its plug-in is loaded.
#include <windows.h>

#include <cstring>

#include "config/ini_document.h"
#include "core/text.h"
#include "startup_fixture.h"
#include "utf16_file.h"

namespace {

class MenuConfig : public StartupReaders {
protected:
    // Appends a record as the component list would have built it.
    void AddRecord(const wchar_t* compose, int loader = 1) {
        PluginItem item;
        std::memset(&item, 0, sizeof(item));
        pel::CopyText(item.chCompose, compose);
        item.nLoader = loader;
        g_ArrayPlugin.Add(item);
    }
    const PluginItem& Record(int i) { return g_ArrayPlugin.At(i); }
};

TEST_F(MenuConfig, AnEmptyTableIsReported) {
    EXPECT_EQ(0, init.ReadMenuIni());
    EXPECT_EQ((std::vector<std::string>{"CPelInit::ReadMenuIni g_ArrayPlugin is Empty"}),
              capture.Texts());
}

TEST_F(MenuConfig, RecordsNotServedByThisLoaderAreNotLookedAt) {
    AddRecord(L"Alpha", 0);
    AddRecord(L"Beta", 2);
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_TRUE(capture.Texts().empty());
}

TEST_F(MenuConfig, FirstAcceptableCandidateIsTakenAndTheRestNeverLookedUp) {
    AddRecord(L"Alpha");
    WriteMenu(L"Alpha", L"[Menu]\r\nMenuList=Missing,Scan,Other,Absent\r\n"
                        L"[Scan]\r\nusedobj=Pel\r\ninvoker=0,2,scan.dll,10\r\n"
                        L"[Other]\r\nusedobj=Pel\r\ninvoker=0,2,other.dll,11\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"Scan", Record(0).MenuTag);
    EXPECT_EQ(2, Record(0).nInvokerType);
    EXPECT_STREQ(L"scan.dll", Record(0).tchDllName);
    EXPECT_EQ(10u, Record(0).m_uOrdinal);
    EXPECT_EQ((std::vector<std::string>{"CPelInit::FillPluginMenuInfo  FindSection Missing is NULL"}),
              capture.Texts());
    EXPECT_EQ(nullptr, init.m_pObjMenu);
}

TEST_F(MenuConfig, RecordsOfOneComponentTakeDifferentSections) {
    AddRecord(L"Alpha");
    AddRecord(L"ALPHA");
    AddRecord(L"alpha");
    AddRecord(L"Beta");  // another component may use the same section names
    const std::wstring menu = L"[Menu]\r\nMenuList=One,Two\r\n"
                              L"[One]\r\nusedobj=Pel\r\ninvoker=0,2,one.dll,5\r\n"
                              L"[Two]\r\nusedobj=Pel\r\ninvoker=0,2,two.dll,6\r\n";
    WriteMenu(L"Alpha", menu);
    WriteMenu(L"Beta", menu);
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"One", Record(0).MenuTag);
    EXPECT_STREQ(L"Two", Record(1).MenuTag);
    EXPECT_STREQ(L"", Record(2).MenuTag);
    EXPECT_EQ(0, Record(2).nInvokerType);
    EXPECT_STREQ(L"One", Record(3).MenuTag);
    EXPECT_EQ((std::vector<std::string>{"CPelInit::FillPluginMenuInfo  FindSection One Same",
                                        "CPelInit::FillPluginMenuInfo  FindSection One Same",
                                        "CPelInit::FillPluginMenuInfo  FindSection Two Same"}),
              capture.Texts());
}

TEST_F(MenuConfig, ComponentsAreOneWheneverTheNameComparisonFindsThemEqual) {
    // lstrcmpiW finds these equal beyond case: a ligature against its letters, a sharp s
    // against "ss". A section one of them took is taken for the other too; other names that
    // only look alike are other components.
    AddRecord(L"\u00C6ther");
    AddRecord(L"AETHER");
    AddRecord(L"Stra\u00DFe");
    AddRecord(L"STRASSE");
    AddRecord(L"Aether-");
    const std::wstring menu = L"[Menu]\r\nMenuList=One,Two\r\n"
                              L"[One]\r\nusedobj=Pel\r\ninvoker=0,2,one.dll,5\r\n"
                              L"[Two]\r\nusedobj=Pel\r\ninvoker=0,2,two.dll,6\r\n";
    for (const wchar_t* compose :
         {L"\u00C6ther", L"AETHER", L"Stra\u00DFe", L"STRASSE", L"Aether-"})
        WriteMenu(compose, menu);
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"One", Record(0).MenuTag);
    EXPECT_STREQ(L"Two", Record(1).MenuTag);
    EXPECT_STREQ(L"One", Record(2).MenuTag);
    EXPECT_STREQ(L"Two", Record(3).MenuTag);
    EXPECT_STREQ(L"One", Record(4).MenuTag);
    EXPECT_EQ((std::vector<std::string>{"CPelInit::FillPluginMenuInfo  FindSection One Same",
                                        "CPelInit::FillPluginMenuInfo  FindSection One Same"}),
              capture.Texts());
}

TEST_F(MenuConfig, UsedobjMustBePelInAnyCase) {
    AddRecord(L"A");
    AddRecord(L"B");
    AddRecord(L"C");
    WriteMenu(L"A", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=pEL\r\ninvoker=0,2,a.dll,1\r\n");
    WriteMenu(L"B", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj= Pel\r\ninvoker=0,2,b.dll,1\r\n");
    WriteMenu(L"C", L"[Menu]\r\nMenuList=S\r\n[S]\r\ninvoker=0,2,c.dll,1\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"S", Record(0).MenuTag);
    EXPECT_STREQ(L"", Record(1).MenuTag);
    EXPECT_STREQ(L"", Record(2).MenuTag);
    EXPECT_TRUE(capture.Texts().empty());  // refused without a message
}

TEST_F(MenuConfig, CandidatesAreNotTrimmedAndEmptyOnesAreReported) {
    AddRecord(L"A");
    WriteMenu(L"A", L"[Menu]\r\nMenuList= S,,S,\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,1\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"S", Record(0).MenuTag);
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::FillPluginMenuInfo  FindSection  S is NULL",
                  "CPelInit::FillPluginMenuInfo  tchSecName[0] or tchSecName is NULL"}),
              capture.Texts());
}

TEST_F(MenuConfig, InvokerFieldsAndClsid) {
    for (const wchar_t* name : {L"Com", L"ComFour", L"Dll3", L"DllComma", L"DllClsid", L"Empty",
                                L"BadClsid"})
        AddRecord(name);
    const wchar_t* clsid = L"{3DDBDB2E-7AF0-4039-B0E4-A2DEFFB014A4}";
    WriteMenu(L"Com", std::wstring(L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=x,1\r\nclsid=") + clsid);
    WriteMenu(L"ComFour", std::wstring(L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,1,x.dll,9,extra\r\nclsid=") + clsid);
    WriteMenu(L"Dll3", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0, 2,my plugin.dll\r\n");
    WriteMenu(L"DllComma", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,2,p.dll,\r\n");
    WriteMenu(L"DllClsid", std::wstring(L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,2,p.dll,7\r\nclsid=") + clsid);
    WriteMenu(L"Empty", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\n");
    WriteMenu(L"BadClsid", L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,1\r\nclsid=not-a-guid\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());

    CLSID expected;
    CLSIDFromString(clsid, &expected);
    const CLSID none = {};
    EXPECT_EQ(1, Record(0).nInvokerType);
    EXPECT_TRUE(IsEqualCLSID(expected, Record(0).clsid));
    EXPECT_EQ(1, Record(1).nInvokerType);
    EXPECT_EQ(0u, Record(1).m_uOrdinal);  // the ordinal is for DLLs only
    EXPECT_STREQ(L"x.dll", Record(1).tchDllName);
    EXPECT_TRUE(IsEqualCLSID(expected, Record(1).clsid));
    EXPECT_EQ(2, Record(2).nInvokerType);  // " 2" still converts
    EXPECT_STREQ(L"my plugin.dll", Record(2).tchDllName);
    EXPECT_EQ(0u, Record(2).m_uOrdinal);
    EXPECT_EQ(0u, Record(3).m_uOrdinal);
    EXPECT_EQ(7u, Record(4).m_uOrdinal);
    EXPECT_TRUE(IsEqualCLSID(none, Record(4).clsid));  // a DLL never reads "clsid"
    EXPECT_STREQ(L"S", Record(5).MenuTag);            // empty invoker: accepted, kind 0
    EXPECT_EQ(0, Record(5).nInvokerType);
    EXPECT_EQ(1, Record(6).nInvokerType);
    EXPECT_STREQ(L"S", Record(6).MenuTag);
    EXPECT_TRUE(capture.Texts().empty());
}

TEST_F(MenuConfig, MissingDocumentsAndListsLeaveTheRecordUntouched) {
    AddRecord(L"NoFile");
    AddRecord(L"EmptyFile");
    AddRecord(L"NoList");
    suite.WriteDocument(L"Menu", L"EmptyFile.ini", L"", false);
    WriteMenu(L"NoList", L"[Menu]\r\nOther=1\r\n[S]\r\nusedobj=Pel\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());
    const std::string dir = Narrow(suite.ComponentDir(L"Menu"));
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::GetModuleMenuInfo  LoadFromFile " + dir + "\\NoFile.ini Fail",
                  "CPelInit::GetModuleMenuInfo  LoadFromFile " + dir + "\\EmptyFile.ini Fail",
                  "CPelInit::GetModuleMenuInfo strMenuList Empty"}),
              capture.Texts());
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(L"", Record(i).MenuTag);
    EXPECT_EQ(nullptr, init.m_pObjMenu);
}

TEST_F(MenuConfig, AMenuDocumentOverTheReadersSizeLimitGivesItsRecordNoPlugin) {
    AddRecord(L"Alpha");
    AddRecord(L"Beta");
    const std::wstring menu =
        L"[Menu]\r\nMenuList=S\r\n[S]\r\nusedobj=Pel\r\ninvoker=0,2,s.dll,4\r\n";
    const std::wstring path = suite.WriteDocument(L"Menu", L"Alpha.ini", menu);
    WriteMenu(L"Beta", menu);
    ASSERT_TRUE(peltest::SetFileSize(path, IniDocument::kMaxFileSize + 2ull));
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"", Record(0).MenuTag);
    EXPECT_EQ(0, Record(0).nInvokerType);  // no worker is started for it
    EXPECT_STREQ(L"", Record(0).tchDllName);
    EXPECT_STREQ(L"S", Record(1).MenuTag);  // the next record's document is still read
    EXPECT_EQ(2, Record(1).nInvokerType);
    EXPECT_EQ((std::vector<std::string>{
                  "IniDocument::LoadFromFile " + Narrow(path) +
                      " is too large (33554434 bytes, limit 33554432)",
                  "CPelInit::GetModuleMenuInfo  LoadFromFile " + Narrow(path) + " Fail"}),
              capture.Texts());
    EXPECT_EQ(nullptr, init.m_pObjMenu);
}

TEST_F(MenuConfig, AnUnresolvedMenuDocumentIsReportedByFileName) {
    peltest::TestSuite bare;  // "Menu" not mapped in this store
    AddRecord(L"Alpha");
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_EQ((std::vector<std::string>{"CPelInit::ReadMenuIni menu Alpha.ini GetWorkPathFile fail"}),
              capture.Texts());
}

TEST_F(MenuConfig, TextsTooLongForTheirFieldsAreRefused) {
    AddRecord(std::wstring(252, L'c').c_str());  // no room for ".ini"
    AddRecord(L"Long");
    const std::wstring longTag(32, L'T');
    const std::wstring longInvoker = L"0,2," + std::wstring(70, L'x') + L".dll,10";
    WriteMenu(L"Long", L"[Menu]\r\nMenuList=" + longTag + L",Inv,Ok\r\n[" + longTag +
                           L"]\r\nusedobj=Pel\r\ninvoker=0,1\r\n[Inv]\r\nusedobj=Pel\r\ninvoker=" +
                           longInvoker + L"\r\n[Ok]\r\nusedobj=Pel\r\ninvoker=0,2,ok.dll,3\r\n");
    EXPECT_EQ(1, init.ReadMenuIni());
    EXPECT_STREQ(L"", Record(0).MenuTag);
    EXPECT_STREQ(L"Ok", Record(1).MenuTag);
    EXPECT_STREQ(L"ok.dll", Record(1).tchDllName);
    const auto texts = capture.Texts();
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ(0u, texts[0].rfind("CPelInit::ReadMenuIni menu cccc", 0));  // cut to its buffer
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection " + Narrow(longTag) + " text too long", texts[1]);
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection Inv text too long", texts[2]);
}

TEST_F(MenuConfig, FillPluginMenuInfoWithoutADocument) {
    AddRecord(L"A");
    EXPECT_EQ(0, init.FillPluginMenuInfo(L"S"));
    EXPECT_EQ(0, init.FillPluginMenuInfo(L""));
    EXPECT_EQ((std::vector<std::string>{
                  "CPelInit::FillPluginMenuInfo  FindSection S m_pObjMenu == NULL",
                  "CPelInit::FillPluginMenuInfo  tchSecName[0] or tchSecName is NULL"}),
              capture.Texts());
}

}  // namespace
