// pelcheck.exe run as a child process over whole suite installs, sound and broken: its verdicts,
// the loader texts it attaches, its exit status, and its JSON.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "json_check.h"
#include "pelhost_process.h"
#include "suite.h"
#include "suite_layout.h"
#include "utf16_file.h"

namespace {

using peltest::JsonValue;

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;  // UTF-8
    std::string err;
};

// Runs bin\pelcheck.exe with the arguments and this process's environment.
RunResult RunPelcheck(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& arg : args) line += L"\"" + arg + L"\" ";
    peltest::PelhostProcess process(peltest::BinPath(L"pelcheck.exe"), line);
    RunResult result;
    if (!process.Started()) {
        ADD_FAILURE() << "cannot start pelcheck.exe";
        return result;
    }
    result.exitCode = static_cast<DWORD>(process.Finish());
    result.out = process.Output();
    result.err = process.Errors();
    return result;
}

std::string Narrow(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
    return result;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Pelcheck : public ::testing::Test {
protected:
    // Runs pelcheck --json and parses what it wrote; `status` is the expected exit status.
    JsonValue RunJson(DWORD status, std::vector<std::wstring> args = {}) {
        args.push_back(L"--json");
        const RunResult run = RunPelcheck(args);
        EXPECT_EQ(status, run.exitCode) << run.out << run.err;
        JsonValue root;
        std::string error;
        EXPECT_TRUE(peltest::ParseJson(run.out, &root, &error)) << error << "\n" << run.out;
        EXPECT_EQ(static_cast<double>(status), root["exit_status"].number);
        lastJson = run.out;
        return root;
    }

    static const JsonValue& Component(const JsonValue& root, const std::string& name) {
        const JsonValue& components = root["components"];
        for (const JsonValue& c : components.items) {
            if (c["name"].text == name) return c;
        }
        ADD_FAILURE() << "no component " << name;
        return root["no such member"];
    }

    // The finding that carries exactly this loader text; null when none does.
    static const JsonValue* FindingWithText(const JsonValue& findings, const std::string& text) {
        for (const JsonValue& f : findings.items) {
            if (f["loader_text"].text == text) return &f;
        }
        return nullptr;
    }

    std::string MenuPath(const std::wstring& compose) {
        return Narrow(suite.ComponentDir(L"Menu") + L"\\" + compose + L".ini");
    }

    peltest::TestSuite suite;
    peltest::SuiteLayout layout{suite};
    std::string lastJson;
};

// ---- Sound suites ----

TEST_F(Pelcheck, SoundSuiteIsCleanAndAComponentSwitchedOffCountsAsClean) {
    const std::wstring clsid = peltest::SuiteLayout::NewClsid();
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.AddCom(L"Beta", 1, L"plugfix_com.dll", clsid);
    layout.AddDll(L"Gamma", 2, L"plugfix_dll.dll", 20);
    layout.Write({0, 1});

    const JsonValue root = RunJson(0);
    EXPECT_EQ(0, root["problems"].number);
    EXPECT_EQ(3.0, root["store"]["mask"].number);
    EXPECT_TRUE(root["install_library"]["loaded"].boolean);
    EXPECT_EQ("work_path", root["component_list"]["source"].text);
    EXPECT_EQ(Narrow(suite.ComponentDir(L"Options") + L"\\QXActive.config"),
              root["component_list"]["path"].text);
    EXPECT_EQ("Alpha,Beta,Gamma", root["component_list"]["active"].text);
    EXPECT_EQ(1, root["init_set"]["configured_state"].number);
    ASSERT_EQ(2u, root["init_set"]["workers"].Size());
    EXPECT_EQ("Alpha", root["init_set"]["workers"][0].text);
    EXPECT_EQ("Beta", root["init_set"]["workers"][1].text);
    // Nothing spoke on the debugger output but the readers: no plug-in code ran.
    EXPECT_EQ(0u, root["other_messages"].Size()) << lastJson;

    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ("ready", alpha["verdict"].text);
    EXPECT_EQ(0, alpha["record"].number);
    EXPECT_EQ(MenuPath(L"Alpha"), alpha["menu"]["path"].text);
    EXPECT_EQ("Main", alpha["menu"]["section"].text);
    EXPECT_EQ("taken", alpha["menu"]["candidates"][0]["outcome"].text);
    EXPECT_EQ(2, alpha["invoker"]["kind"].number);
    EXPECT_EQ("Alpha.dll", alpha["invoker"]["dll_name"].text);
    EXPECT_EQ(Narrow(suite.ComponentDir(L"Alpha") + L"\\Alpha.dll"), alpha["dll"]["path"].text);
    EXPECT_TRUE(alpha["dll"]["exists"].boolean);
    for (const char* ordinal : {"5", "6", "7", "15"})
        EXPECT_TRUE(alpha["dll"]["exports"][ordinal].boolean) << ordinal;
    EXPECT_TRUE(alpha["dll"]["menu_exported"].boolean);
    EXPECT_TRUE(alpha["state"]["bit_set"].boolean);
    EXPECT_TRUE(alpha["state"]["worker"].boolean);
    EXPECT_EQ(0u, alpha["findings"].Size());

    const JsonValue& beta = Component(root, "Beta");
    EXPECT_EQ("ready", beta["verdict"].text);
    EXPECT_EQ(1, beta["invoker"]["kind"].number);
    EXPECT_EQ(Narrow(clsid), beta["com"]["clsid"].text);
    EXPECT_TRUE(beta["com"]["registered"].boolean);
    EXPECT_TRUE(beta["com"]["server_exists"].boolean);
    EXPECT_EQ("Both", beta["com"]["threading_model"].text);
    EXPECT_TRUE(beta["state"]["worker"].boolean);

    const JsonValue& gamma = Component(root, "Gamma");
    EXPECT_EQ("disabled", gamma["verdict"].text);
    EXPECT_FALSE(gamma["state"]["bit_set"].boolean);
    EXPECT_FALSE(gamma["state"]["enabled"].boolean);
    EXPECT_FALSE(gamma["state"]["worker"].boolean);
    EXPECT_EQ(20, gamma["dll"]["menu_ordinal"].number);
    EXPECT_TRUE(gamma["dll"]["menu_exported"].boolean);

    const RunResult text = RunPelcheck({});
    EXPECT_EQ(0u, text.exitCode);
    EXPECT_TRUE(Contains(text.out, "[3] Gamma -- sound, but disabled by the active-option mask"))
        << text.out;
    EXPECT_TRUE(Contains(text.out, "Workers InitSet would start: Alpha, Beta.")) << text.out;
    EXPECT_TRUE(Contains(text.out, "(exit status 0)")) << text.out;
    EXPECT_FALSE(Contains(text.out, "PROBLEM")) << text.out;
}

TEST_F(Pelcheck, RefusedSectionsBeforeTheTakenOneAreExplainedButDoNotFailTheCheck) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    suite.WriteDocument(L"Menu", L"Alpha.ini",
                        L"[Menu]\r\nMenuList=Missing,Guarded,Main\r\n"
                        L"[Guarded]\r\nusedobj=Guard\r\ninvoker=0,2,Alpha.dll,10\r\n"
                        L"[Main]\r\nusedobj=pEL\r\ninvoker=0,2,Alpha.dll,20\r\n");

    const JsonValue root = RunJson(0);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ("ready", alpha["verdict"].text);
    const JsonValue& candidates = alpha["menu"]["candidates"];
    ASSERT_EQ(3u, candidates.Size());
    EXPECT_EQ("absent", candidates[0]["outcome"].text);
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection Missing is NULL",
              candidates[0]["loader_text"].text);
    EXPECT_EQ("not_pel", candidates[1]["outcome"].text);
    EXPECT_TRUE(Contains(candidates[1]["detail"].text, "usedobj=Guard"))
        << candidates[1]["detail"].text;
    EXPECT_TRUE(candidates[1]["loader_text"].IsNull());
    EXPECT_EQ("taken", candidates[2]["outcome"].text);
    EXPECT_EQ(20, alpha["invoker"]["ordinal"].number);
    // The absent section is worth a note, not a problem.
    ASSERT_EQ(1u, alpha["findings"].Size());
    EXPECT_EQ("note", alpha["findings"][0]["severity"].text);
    EXPECT_EQ(0u, root["other_messages"].Size()) << lastJson;
}

TEST_F(Pelcheck, ComposeAlternativesShowWhichOneIsInstalled) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=First\r\n[First]\r\nloader=1\r\nid=0\r\n"
                        L"compose=Legacy,Alpha,Later\r\n");

    const JsonValue root = RunJson(0);
    const JsonValue& first = Component(root, "First");
    EXPECT_EQ("ready", first["verdict"].text);
    const JsonValue& alternatives = first["compose"]["alternatives"];
    ASSERT_EQ(3u, alternatives.Size());
    EXPECT_EQ("Legacy", alternatives[0]["name"].text);
    EXPECT_FALSE(alternatives[0]["installed"].boolean);
    EXPECT_EQ("Alpha", alternatives[1]["name"].text);
    EXPECT_TRUE(alternatives[1]["installed"].boolean);
    EXPECT_EQ("Alpha", first["compose"]["chosen"].text);
    EXPECT_TRUE(first["compose"]["installed"].boolean);
}

// ---- The component list ----

TEST_F(Pelcheck, MissingComponentListIsReportedWithTheReadersText) {
    suite.AddComponent(L"Options");
    const std::string path = Narrow(suite.ComponentDir(L"Options") + L"\\QXActive.config");

    const JsonValue root = RunJson(1);
    EXPECT_EQ(path, root["component_list"]["path"].text);
    EXPECT_FALSE(root["component_list"]["loaded"].boolean);
    EXPECT_EQ(0u, root["components"].Size());
    const JsonValue* f =
        FindingWithText(root["findings"], "CPelInit::ReadQXActive  LoadFromFile " + path + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("problem", (*f)["severity"].text);
    EXPECT_EQ("reader", (*f)["loader_text_source"].text);
    EXPECT_TRUE(Contains((*f)["message"].text, "does not exist")) << (*f)["message"].text;
}

TEST_F(Pelcheck, ComponentListLargerThanTheReaderTakesIsReportedWithItsSize) {
    suite.AddComponent(L"Options");
    const std::wstring file =
        suite.WriteDocument(L"Options", L"QXActive.config", L"[Active]\r\nActive=A\r\n");
    ASSERT_TRUE(peltest::SetFileSize(file, (32ull << 20) + 2));

    const JsonValue root = RunJson(1);
    EXPECT_FALSE(root["component_list"]["loaded"].boolean);
    const JsonValue* f = FindingWithText(
        root["findings"], "CPelInit::ReadQXActive  LoadFromFile " + Narrow(file) + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains((*f)["message"].text,
                         "is 33554434 bytes, larger than the 33554432 bytes the loader reads"))
        << (*f)["message"].text;
}

TEST_F(Pelcheck, ComponentListWithoutAnyPathIsReported) {
    const JsonValue root = RunJson(1);
    EXPECT_EQ("none", root["component_list"]["source"].text);
    ASSERT_NE(nullptr, FindingWithText(root["findings"],
                                       "CPelInit::ReadQXActive GetComposeInstallPath Fail"))
        << lastJson;
}

TEST_F(Pelcheck, EmptyComponentListIsReported) {
    suite.AddComponent(L"Options");
    suite.WriteDocument(L"Options", L"QXActive.config", L"[Active]\r\nActive=\r\n");

    const JsonValue root = RunJson(1);
    EXPECT_TRUE(root["component_list"]["loaded"].boolean);
    const JsonValue* f =
        FindingWithText(root["findings"], "CPelInit::ReadQXActive strComposeList Empty");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains((*f)["message"].text, "is empty")) << (*f)["message"].text;
}

TEST_F(Pelcheck, MissingSectionAndEmptyItemAreReportedBesideASoundComponent) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=Alpha,Ghost,,\r\n"
                        L"[Alpha]\r\nloader=1\r\nid=0\r\ncompose=Alpha\r\n");

    const JsonValue root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha")["verdict"].text);
    const JsonValue& ghost = Component(root, "Ghost");
    EXPECT_EQ("problems", ghost["verdict"].text);
    EXPECT_FALSE(ghost["section_found"].boolean);
    EXPECT_TRUE(ghost["record"].IsNull());
    ASSERT_NE(nullptr, FindingWithText(ghost["findings"],
                                       "CPelInit::FillPluginItem  FindSection Ghost is NULL"))
        << lastJson;
    const JsonValue* empty = FindingWithText(
        root["findings"], "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL");
    ASSERT_NE(nullptr, empty) << lastJson;
    EXPECT_TRUE(Contains((*empty)["message"].text, "Item 3")) << (*empty)["message"].text;

    const RunResult text = RunPelcheck({});
    EXPECT_EQ(1u, text.exitCode);
    EXPECT_TRUE(Contains(text.out, "[2] Ghost -- 1 PROBLEM")) << text.out;
    EXPECT_TRUE(Contains(
        text.out, "The loader says: \"CPelInit::FillPluginItem  FindSection Ghost is NULL\""))
        << text.out;
}

TEST_F(Pelcheck, LoaderValueOtherThanOneIsAProblemAndGetsNoWorker) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10).loader = 0;
    layout.Write({0});

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha["verdict"].text);
    EXPECT_EQ(0, alpha["record"].number);  // still entered in the table
    EXPECT_TRUE(alpha["menu"].IsNull());   // but its menu document is never read
    EXPECT_FALSE(alpha["state"]["worker"].boolean);
    ASSERT_NE(nullptr, FindingWithText(alpha["findings"],
                                       "CPelInit::FillPluginItem  Alpha Loader is not correct"))
        << lastJson;
}

TEST_F(Pelcheck, ComponentThatIsNotInstalledIsLeftOut) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10).installed = false;
    layout.AddDll(L"Beta", 1, L"plugfix_dll.dll", 10);
    layout.Write({0, 1});

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_FALSE(alpha["compose"]["installed"].boolean);
    EXPECT_TRUE(alpha["record"].IsNull());
    EXPECT_TRUE(alpha["state"]["bit_set"].boolean);
    EXPECT_FALSE(alpha["state"]["worker"].boolean);
    ASSERT_NE(nullptr,
              FindingWithText(alpha["findings"],
                              "CPelInit::FillPluginItem  chCompose Alpha is not installed"))
        << lastJson;
    const JsonValue& beta = Component(root, "Beta");
    EXPECT_EQ("ready", beta["verdict"].text);
    EXPECT_EQ(0, beta["record"].number);
}

// ---- Menu documents ----

TEST_F(Pelcheck, MissingMenuDocumentIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    ASSERT_TRUE(DeleteFileW((suite.ComponentDir(L"Menu") + L"\\Alpha.ini").c_str()));

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ(MenuPath(L"Alpha"), alpha["menu"]["path"].text);
    EXPECT_FALSE(alpha["menu"]["loaded"].boolean);
    EXPECT_FALSE(alpha["state"]["worker"].boolean);
    const JsonValue* f =
        FindingWithText(alpha["findings"], "CPelInit::GetModuleMenuInfo  LoadFromFile " +
                                               MenuPath(L"Alpha") + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains((*f)["message"].text, "does not exist")) << (*f)["message"].text;
}

TEST_F(Pelcheck, SectionForAnotherProgramLeavesTheRecordWithoutPlugin) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10).usedobj = L"Other";
    layout.Write({0});

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha["verdict"].text);
    EXPECT_EQ("not_pel", alpha["menu"]["candidates"][0]["outcome"].text);
    EXPECT_TRUE(alpha["menu"]["section"].IsNull());
    EXPECT_TRUE(alpha["invoker"].IsNull());
    // Enabled with no plug-in: its worker starts and gives up at once.
    const JsonValue* f =
        FindingWithText(alpha["findings"], "CWorkPart::Init plugin is not a DLL or com, MenuTag ");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", (*f)["loader_text_source"].text);
}

TEST_F(Pelcheck, SecondRecordOfAComponentFindsItsOnlySectionTaken) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    peltest::ComponentSpec second = layout.Components()[0];
    second.section = L"AlphaAgain";
    second.id = 1;
    layout.Add(second);
    layout.Write({0, 1});
    suite.WriteDocument(
        L"Menu", L"Alpha.ini",
        L"[Menu]\r\nMenuList=Main\r\n[Main]\r\nusedobj=Pel\r\ninvoker=0,2,Alpha.dll,10\r\n");

    const JsonValue root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha")["verdict"].text);
    const JsonValue& again = Component(root, "AlphaAgain");
    EXPECT_EQ("problems", again["verdict"].text);
    EXPECT_EQ(1, again["record"].number);
    const JsonValue& candidate = again["menu"]["candidates"][0];
    EXPECT_EQ("same", candidate["outcome"].text);
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection Main Same", candidate["loader_text"].text);
    EXPECT_TRUE(Contains(candidate["detail"].text, "list item 1")) << candidate["detail"].text;
    ASSERT_EQ(1u, again["findings"].Size());
    EXPECT_TRUE(Contains(again["findings"][0]["change"].text, "section of its own"));
}

// ---- DLL plug-ins ----

TEST_F(Pelcheck, MissingDllOfASwitchedOffComponentStillFailsTheCheck) {
    layout.AddDll(L"Alpha", 3, L"plugfix_dll.dll", 10);
    layout.Write({});
    ASSERT_TRUE(DeleteFileW((suite.ComponentDir(L"Alpha") + L"\\Alpha.dll").c_str()));

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha["verdict"].text);
    EXPECT_FALSE(alpha["state"]["enabled"].boolean);
    EXPECT_FALSE(alpha["dll"]["exists"].boolean);
    const JsonValue* f = FindingWithText(alpha["findings"], "CWorkPart::DllExit m_hModule is NULL");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", (*f)["loader_text_source"].text);
    EXPECT_EQ(0u, root["init_set"]["workers"].Size());
}

TEST_F(Pelcheck, DllWithoutStateQueryIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_nostate.dll", 10);
    layout.Write({0});

    const JsonValue root = RunJson(1);
    const JsonValue& alpha = Component(root, "Alpha");
    EXPECT_FALSE(alpha["dll"]["exports"]["7"].boolean);
    EXPECT_TRUE(alpha["dll"]["exports"]["5"].boolean);
    EXPECT_TRUE(alpha["dll"]["menu_exported"].boolean);
    ASSERT_EQ(1u, alpha["findings"].Size()) << lastJson;
    EXPECT_EQ("CWorkPart::DllMenuState DllState is NULL, MenuTag Main",
              alpha["findings"][0]["loader_text"].text);
    // Still loaded: a worker starts for it.
    EXPECT_TRUE(alpha["state"]["worker"].boolean);
}

TEST_F(Pelcheck, MenuHandlerOrdinalMissingOrZeroIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_nomenu.dll", 10);
    layout.AddDll(L"Beta", 1, L"plugfix_dll.dll", 30);
    layout.AddDll(L"Gamma", 2, L"plugfix_dll.dll", 0);
    layout.Write({0, 1, 2});

    const JsonValue root = RunJson(1);
    for (const char* name : {"Alpha", "Beta"}) {
        const JsonValue& c = Component(root, name);
        EXPECT_FALSE(c["dll"]["menu_exported"].boolean) << name;
        ASSERT_EQ(1u, c["findings"].Size()) << lastJson;
        EXPECT_EQ("CWorkPart::DllMenuHandle DllFun is NULL", c["findings"][0]["loader_text"].text)
            << name;
    }
    const JsonValue& gamma = Component(root, "Gamma");
    ASSERT_EQ(1u, gamma["findings"].Size()) << lastJson;
    EXPECT_EQ("CWorkPart::DllMenuHandle m_uOrdinal == 0", gamma["findings"][0]["loader_text"].text);
}

TEST_F(Pelcheck, LoaderItselfServesAsADllWithOrdinalTenButNotTwenty) {
    // PelLoader.dll exports 5, 6, 7, 8, 9, 10 and 15.
    layout.AddDll(L"Alpha", 0, L"PelLoader.dll", 10);
    layout.AddDll(L"Beta", 1, L"PelLoader.dll", 20);
    layout.Write({0, 1});

    const JsonValue root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha")["verdict"].text);
    const JsonValue& beta = Component(root, "Beta");
    EXPECT_EQ("problems", beta["verdict"].text);
    ASSERT_NE(nullptr, FindingWithText(beta["findings"], "CWorkPart::DllMenuHandle DllFun is NULL"))
        << lastJson;
    std::vector<double> ordinals;
    for (const JsonValue& o : beta["dll"]["exported_ordinals"].items) ordinals.push_back(o.number);
    EXPECT_EQ((std::vector<double>{5, 6, 7, 8, 9, 10, 15}), ordinals);
}

// ---- COM plug-ins ----

TEST_F(Pelcheck, UnregisteredClassIsReportedWithTheWorkersHresult) {
    peltest::ComponentSpec spec;
    spec.section = spec.compose = L"Beta";
    spec.id = 1;
    spec.invoker = L"0,1";
    spec.clsid = peltest::SuiteLayout::NewClsid();
    layout.Add(spec);
    layout.Write({1});

    const JsonValue root = RunJson(1);
    const JsonValue& beta = Component(root, "Beta");
    EXPECT_EQ(Narrow(spec.clsid), beta["com"]["clsid"].text);
    EXPECT_FALSE(beta["com"]["registered"].boolean);
    const JsonValue* f = FindingWithText(
        beta["findings"], "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80040154");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", (*f)["loader_text_source"].text);
}

TEST_F(Pelcheck, ApartmentOrMissingThreadingModelFailsFromTheWorkersApartment) {
    const std::wstring apartment = peltest::SuiteLayout::NewClsid();
    const std::wstring unmodelled = peltest::SuiteLayout::NewClsid();
    layout.AddCom(L"Beta", 1, L"plugfix_com.dll", apartment);
    layout.AddCom(L"Delta", 2, L"plugfix_com.dll", unmodelled);
    layout.Write({1, 2});
    {
        HKEY key = nullptr;
        ASSERT_EQ(
            ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          (L"Software\\Classes\\CLSID\\" + apartment + L"\\InprocServer32").c_str(),
                          0, KEY_SET_VALUE, &key));
        const wchar_t model[] = L"Apartment";
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model),
                       sizeof(model));
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(
                      HKEY_LOCAL_MACHINE,
                      (L"Software\\Classes\\CLSID\\" + unmodelled + L"\\InprocServer32").c_str(), 0,
                      KEY_SET_VALUE, &key));
        RegDeleteValueW(key, L"ThreadingModel");
        RegCloseKey(key);
    }

    const JsonValue root = RunJson(1);
    const JsonValue& beta = Component(root, "Beta");
    EXPECT_TRUE(beta["com"]["registered"].boolean);
    EXPECT_EQ("Apartment", beta["com"]["threading_model"].text);
    ASSERT_NE(nullptr, FindingWithText(
                           beta["findings"],
                           "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80004002"))
        << lastJson;
    const JsonValue& delta = Component(root, "Delta");
    EXPECT_TRUE(delta["com"]["threading_model"].IsNull());
    ASSERT_NE(nullptr, FindingWithText(
                           delta["findings"],
                           "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80004002"))
        << lastJson;
}

// ---- Options and output ----

TEST_F(Pelcheck, StoreRootOptionOverridesTheInheritedStore) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    const std::wstring own = L"HKCU\\" + suite.StoreKey();
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", (own + L"-elsewhere").c_str());

    const JsonValue root = RunJson(0, {L"--store-root", own});
    EXPECT_EQ(Narrow(own), root["store"]["root"].text);
    EXPECT_EQ("ready", Component(root, "Alpha")["verdict"].text);

    // The same child without the option reads the empty store it inherited.
    const JsonValue lost = RunJson(1);
    EXPECT_EQ(0u, lost["components"].Size());
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", own.c_str());
}

TEST_F(Pelcheck, BadUsageExitsWithTwo) {
    const RunResult unknown = RunPelcheck({L"--verbose"});
    EXPECT_EQ(2u, unknown.exitCode);
    EXPECT_TRUE(Contains(unknown.err, "unknown argument \"--verbose\"")) << unknown.err;
    EXPECT_TRUE(unknown.out.empty());

    EXPECT_EQ(2u, RunPelcheck({L"--store-root"}).exitCode);
    EXPECT_EQ(2u, RunPelcheck({L"--store-root", L"Software\\Staged"}).exitCode);
    EXPECT_EQ(2u, RunPelcheck({L"--store-root=HKCR\\Staged"}).exitCode);

    const RunResult help = RunPelcheck({L"--help"});
    EXPECT_EQ(0u, help.exitCode);
    EXPECT_TRUE(Contains(help.out, "--store-root")) << help.out;
}

TEST_F(Pelcheck, NamesAreEscapedAndConvertedToUtf8InJson) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    // The reader turns tabs into blanks; other control characters reach the name.
    const std::wstring odd = L"Gr\u00fc\u00dfe \"q\" back\\slash\x1b esc \u65e5";
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=Alpha," + odd +
                            L"\r\n"
                            L"[Alpha]\r\nloader=1\r\nid=0\r\ncompose=Alpha\r\n");

    const RunResult run = RunPelcheck({L"--json"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(Contains(run.out, "\\\"q\\\" back\\\\slash\\u001b esc")) << run.out;
    JsonValue root;
    std::string error;
    ASSERT_TRUE(peltest::ParseJson(run.out, &root, &error)) << error << "\n" << run.out;
    ASSERT_EQ(2u, root["components"].Size());
    EXPECT_EQ(Narrow(odd), root["components"][1]["name"].text);
    EXPECT_EQ(Narrow(L"Alpha," + odd), root["component_list"]["active"].text);
    // The reader's own text for it was captured and attached.
    ASSERT_EQ(1u, root["components"][1]["findings"].Size());
    EXPECT_EQ(0u, root["components"][1]["findings"][0]["loader_text"].text.find(
                      "CPelInit::FillPluginItem  FindSection Gr"));
    EXPECT_EQ(0u, root["other_messages"].Size()) << run.out;
}

// ---- The tests' own JSON check refuses what is not JSON ----

TEST(JsonCheck, RefusesMalformedDocuments) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(peltest::ParseJson("{\"a\":[1,-2.5e3,true,null,\"\\u00fc\\ud83d\\ude00\"]}", &value,
                                   &error))
        << error;
    EXPECT_EQ("\xc3\xbc\xf0\x9f\x98\x80", value["a"][4].text);
    for (const char* bad : {"{\"a\":1,}", "[1 2]", "{\"a\":\"tab\there\"}", "\"\\x\"", "01",
                            "{\"a\":1} x", "\"\xc3\"", "\"\\ud800\"", "{a:1}", ""}) {
        EXPECT_FALSE(peltest::ParseJson(bad, &value, &error)) << bad;
    }
}

}  // namespace
