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

using peltest::Json;

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
    Json RunJson(DWORD status, std::vector<std::wstring> args = {}) {
        args.push_back(L"--json");
        const RunResult run = RunPelcheck(args);
        EXPECT_EQ(status, run.exitCode) << run.out << run.err;
        lastJson = run.out;
        Json root;
        std::string error;
        if (!peltest::ParseJson(run.out, &root, &error)) {
            ADD_FAILURE() << error << "\n" << run.out;
            return root;
        }
        // One line without blanks, members in the order written (docs/pelcheck.md).
        EXPECT_EQ(root.dump() + "\n", run.out);
        EXPECT_EQ(status, root.at("exit_status"));
        return root;
    }

    static const Json& Component(const Json& root, const std::string& name) {
        const Json& components = root.at("components");
        for (const Json& c : components) {
            if (c.at("name") == name) return c;
        }
        ADD_FAILURE() << "no component " << name;
        static const Json none;
        return none;
    }

    // The finding that carries exactly this loader text; null when none does.
    static const Json* FindingWithText(const Json& findings, const std::string& text) {
        for (const Json& f : findings) {
            if (f.at("loader_text") == text) return &f;
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

    const Json root = RunJson(0);
    std::vector<std::string> members;
    for (const auto& member : root.items()) members.push_back(member.key());
    EXPECT_EQ((std::vector<std::string>{"tool", "exit_status", "problems", "store",
                                        "install_library", "component_list", "init_set", "findings",
                                        "components", "other_messages"}),
              members);
    EXPECT_EQ(0, root.at("problems"));
    EXPECT_EQ(3, root.at("store").at("mask"));
    EXPECT_EQ(true, root.at("install_library").at("loaded"));
    EXPECT_EQ("work_path", root.at("component_list").at("source"));
    EXPECT_EQ(Narrow(suite.ComponentDir(L"Options") + L"\\QXActive.config"),
              root.at("component_list").at("path"));
    EXPECT_EQ("Alpha,Beta,Gamma", root.at("component_list").at("active"));
    EXPECT_EQ(1, root.at("init_set").at("configured_state"));
    ASSERT_EQ(2u, root.at("init_set").at("workers").size());
    EXPECT_EQ("Alpha", root.at("init_set").at("workers").at(0));
    EXPECT_EQ("Beta", root.at("init_set").at("workers").at(1));
    // Nothing spoke on the debugger output but the readers: no plug-in code ran.
    EXPECT_EQ(0u, root.at("other_messages").size()) << lastJson;

    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ("ready", alpha.at("verdict"));
    EXPECT_EQ(0, alpha.at("record"));
    EXPECT_EQ(MenuPath(L"Alpha"), alpha.at("menu").at("path"));
    EXPECT_EQ("Main", alpha.at("menu").at("section"));
    EXPECT_EQ("taken", alpha.at("menu").at("candidates").at(0).at("outcome"));
    EXPECT_EQ(2, alpha.at("invoker").at("kind"));
    EXPECT_EQ("Alpha.dll", alpha.at("invoker").at("dll_name"));
    EXPECT_EQ(Narrow(suite.ComponentDir(L"Alpha") + L"\\Alpha.dll"), alpha.at("dll").at("path"));
    EXPECT_EQ(true, alpha.at("dll").at("exists"));
    for (const char* ordinal : {"5", "6", "7", "15"})
        EXPECT_EQ(true, alpha.at("dll").at("exports").at(ordinal)) << ordinal;
    EXPECT_EQ(true, alpha.at("dll").at("menu_exported"));
    EXPECT_EQ(true, alpha.at("state").at("bit_set"));
    EXPECT_EQ(true, alpha.at("state").at("worker"));
    EXPECT_EQ(0u, alpha.at("findings").size());

    const Json& beta = Component(root, "Beta");
    EXPECT_EQ("ready", beta.at("verdict"));
    EXPECT_EQ(1, beta.at("invoker").at("kind"));
    EXPECT_EQ(Narrow(clsid), beta.at("com").at("clsid"));
    EXPECT_EQ(true, beta.at("com").at("registered"));
    EXPECT_EQ(true, beta.at("com").at("server_exists"));
    EXPECT_EQ("Both", beta.at("com").at("threading_model"));
    EXPECT_EQ(true, beta.at("state").at("worker"));

    const Json& gamma = Component(root, "Gamma");
    EXPECT_EQ("disabled", gamma.at("verdict"));
    EXPECT_EQ(false, gamma.at("state").at("bit_set"));
    EXPECT_EQ(false, gamma.at("state").at("enabled"));
    EXPECT_EQ(false, gamma.at("state").at("worker"));
    EXPECT_EQ(20, gamma.at("dll").at("menu_ordinal"));
    EXPECT_EQ(true, gamma.at("dll").at("menu_exported"));

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

    const Json root = RunJson(0);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ("ready", alpha.at("verdict"));
    const Json& candidates = alpha.at("menu").at("candidates");
    ASSERT_EQ(3u, candidates.size());
    EXPECT_EQ("absent", candidates.at(0).at("outcome"));
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection Missing is NULL",
              candidates.at(0).at("loader_text"));
    EXPECT_EQ("not_pel", candidates.at(1).at("outcome"));
    EXPECT_TRUE(Contains(candidates.at(1).at("detail").get<std::string>(), "usedobj=Guard"))
        << candidates.at(1).at("detail");
    EXPECT_TRUE(candidates.at(1).at("loader_text").is_null());
    EXPECT_EQ("taken", candidates.at(2).at("outcome"));
    EXPECT_EQ(20, alpha.at("invoker").at("ordinal"));
    // The absent section is worth a note, not a problem.
    ASSERT_EQ(1u, alpha.at("findings").size());
    EXPECT_EQ("note", alpha.at("findings").at(0).at("severity"));
    EXPECT_EQ(0u, root.at("other_messages").size()) << lastJson;
}

TEST_F(Pelcheck, ComposeAlternativesShowWhichOneIsInstalled) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=First\r\n[First]\r\nloader=1\r\nid=0\r\n"
                        L"compose=Legacy,Alpha,Later\r\n");

    const Json root = RunJson(0);
    const Json& first = Component(root, "First");
    EXPECT_EQ("ready", first.at("verdict"));
    const Json& alternatives = first.at("compose").at("alternatives");
    ASSERT_EQ(3u, alternatives.size());
    EXPECT_EQ("Legacy", alternatives.at(0).at("name"));
    EXPECT_EQ(false, alternatives.at(0).at("installed"));
    EXPECT_EQ("Alpha", alternatives.at(1).at("name"));
    EXPECT_EQ(true, alternatives.at(1).at("installed"));
    EXPECT_EQ("Alpha", first.at("compose").at("chosen"));
    EXPECT_EQ(true, first.at("compose").at("installed"));
}

// ---- The component list ----

TEST_F(Pelcheck, MissingComponentListIsReportedWithTheReadersText) {
    suite.AddComponent(L"Options");
    const std::string path = Narrow(suite.ComponentDir(L"Options") + L"\\QXActive.config");

    const Json root = RunJson(1);
    EXPECT_EQ(path, root.at("component_list").at("path"));
    EXPECT_EQ(false, root.at("component_list").at("loaded"));
    EXPECT_EQ(0u, root.at("components").size());
    const Json* f = FindingWithText(root.at("findings"),
                                    "CPelInit::ReadQXActive  LoadFromFile " + path + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("problem", f->at("severity"));
    EXPECT_EQ("reader", f->at("loader_text_source"));
    EXPECT_TRUE(Contains(f->at("message").get<std::string>(), "does not exist"))
        << f->at("message");
}

TEST_F(Pelcheck, ComponentListLargerThanTheReaderTakesIsReportedWithItsSize) {
    suite.AddComponent(L"Options");
    const std::wstring file =
        suite.WriteDocument(L"Options", L"QXActive.config", L"[Active]\r\nActive=A\r\n");
    ASSERT_TRUE(peltest::SetFileSize(file, (32ull << 20) + 2));

    const Json root = RunJson(1);
    EXPECT_EQ(false, root.at("component_list").at("loaded"));
    const Json* f = FindingWithText(root.at("findings"),
                                    "CPelInit::ReadQXActive  LoadFromFile " + Narrow(file) + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains(f->at("message").get<std::string>(),
                         "is 33554434 bytes, larger than the 33554432 bytes the loader reads"))
        << f->at("message");
}

TEST_F(Pelcheck, ComponentListWithoutAnyPathIsReported) {
    const Json root = RunJson(1);
    EXPECT_EQ("none", root.at("component_list").at("source"));
    ASSERT_NE(nullptr, FindingWithText(root.at("findings"),
                                       "CPelInit::ReadQXActive GetComposeInstallPath Fail"))
        << lastJson;
}

TEST_F(Pelcheck, EmptyComponentListIsReported) {
    suite.AddComponent(L"Options");
    suite.WriteDocument(L"Options", L"QXActive.config", L"[Active]\r\nActive=\r\n");

    const Json root = RunJson(1);
    EXPECT_EQ(true, root.at("component_list").at("loaded"));
    const Json* f =
        FindingWithText(root.at("findings"), "CPelInit::ReadQXActive strComposeList Empty");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains(f->at("message").get<std::string>(), "is empty")) << f->at("message");
}

TEST_F(Pelcheck, MissingSectionAndEmptyItemAreReportedBesideASoundComponent) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=Alpha,Ghost,,\r\n"
                        L"[Alpha]\r\nloader=1\r\nid=0\r\ncompose=Alpha\r\n");

    const Json root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha").at("verdict"));
    const Json& ghost = Component(root, "Ghost");
    EXPECT_EQ("problems", ghost.at("verdict"));
    EXPECT_EQ(false, ghost.at("section_found"));
    EXPECT_TRUE(ghost.at("record").is_null());
    ASSERT_NE(nullptr, FindingWithText(ghost.at("findings"),
                                       "CPelInit::FillPluginItem  FindSection Ghost is NULL"))
        << lastJson;
    const Json* empty = FindingWithText(
        root.at("findings"), "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL");
    ASSERT_NE(nullptr, empty) << lastJson;
    EXPECT_TRUE(Contains(empty->at("message").get<std::string>(), "Item 3"))
        << empty->at("message");

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

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha.at("verdict"));
    EXPECT_EQ(0, alpha.at("record"));         // still entered in the table
    EXPECT_TRUE(alpha.at("menu").is_null());  // but its menu document is never read
    EXPECT_EQ(false, alpha.at("state").at("worker"));
    ASSERT_NE(nullptr, FindingWithText(alpha.at("findings"),
                                       "CPelInit::FillPluginItem  Alpha Loader is not correct"))
        << lastJson;
}

TEST_F(Pelcheck, ComponentThatIsNotInstalledIsLeftOut) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10).installed = false;
    layout.AddDll(L"Beta", 1, L"plugfix_dll.dll", 10);
    layout.Write({0, 1});

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ(false, alpha.at("compose").at("installed"));
    EXPECT_TRUE(alpha.at("record").is_null());
    EXPECT_EQ(true, alpha.at("state").at("bit_set"));
    EXPECT_EQ(false, alpha.at("state").at("worker"));
    ASSERT_NE(nullptr,
              FindingWithText(alpha.at("findings"),
                              "CPelInit::FillPluginItem  chCompose Alpha is not installed"))
        << lastJson;
    const Json& beta = Component(root, "Beta");
    EXPECT_EQ("ready", beta.at("verdict"));
    EXPECT_EQ(0, beta.at("record"));
}

// ---- Menu documents ----

TEST_F(Pelcheck, MissingMenuDocumentIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    ASSERT_TRUE(DeleteFileW((suite.ComponentDir(L"Menu") + L"\\Alpha.ini").c_str()));

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ(MenuPath(L"Alpha"), alpha.at("menu").at("path"));
    EXPECT_EQ(false, alpha.at("menu").at("loaded"));
    EXPECT_EQ(false, alpha.at("state").at("worker"));
    const Json* f =
        FindingWithText(alpha.at("findings"), "CPelInit::GetModuleMenuInfo  LoadFromFile " +
                                                  MenuPath(L"Alpha") + " Fail");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_TRUE(Contains(f->at("message").get<std::string>(), "does not exist"))
        << f->at("message");
}

TEST_F(Pelcheck, SectionForAnotherProgramLeavesTheRecordWithoutPlugin) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10).usedobj = L"Other";
    layout.Write({0});

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha.at("verdict"));
    EXPECT_EQ("not_pel", alpha.at("menu").at("candidates").at(0).at("outcome"));
    EXPECT_TRUE(alpha.at("menu").at("section").is_null());
    EXPECT_TRUE(alpha.at("invoker").is_null());
    // Enabled with no plug-in: its worker starts and gives up at once.
    const Json* f = FindingWithText(alpha.at("findings"),
                                    "CWorkPart::Init plugin is not a DLL or com, MenuTag ");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", f->at("loader_text_source"));
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

    const Json root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha").at("verdict"));
    const Json& again = Component(root, "AlphaAgain");
    EXPECT_EQ("problems", again.at("verdict"));
    EXPECT_EQ(1, again.at("record"));
    const Json& candidate = again.at("menu").at("candidates").at(0);
    EXPECT_EQ("same", candidate.at("outcome"));
    EXPECT_EQ("CPelInit::FillPluginMenuInfo  FindSection Main Same", candidate.at("loader_text"));
    EXPECT_TRUE(Contains(candidate.at("detail").get<std::string>(), "list item 1"))
        << candidate.at("detail");
    ASSERT_EQ(1u, again.at("findings").size());
    EXPECT_TRUE(
        Contains(again.at("findings").at(0).at("change").get<std::string>(), "section of its own"));
}

// ---- DLL plug-ins ----

TEST_F(Pelcheck, MissingDllOfASwitchedOffComponentStillFailsTheCheck) {
    layout.AddDll(L"Alpha", 3, L"plugfix_dll.dll", 10);
    layout.Write({});
    ASSERT_TRUE(DeleteFileW((suite.ComponentDir(L"Alpha") + L"\\Alpha.dll").c_str()));

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ("problems", alpha.at("verdict"));
    EXPECT_EQ(false, alpha.at("state").at("enabled"));
    EXPECT_EQ(false, alpha.at("dll").at("exists"));
    const Json* f = FindingWithText(alpha.at("findings"), "CWorkPart::DllExit m_hModule is NULL");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", f->at("loader_text_source"));
    EXPECT_EQ(0u, root.at("init_set").at("workers").size());
}

TEST_F(Pelcheck, DllWithoutStateQueryIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_nostate.dll", 10);
    layout.Write({0});

    const Json root = RunJson(1);
    const Json& alpha = Component(root, "Alpha");
    EXPECT_EQ(false, alpha.at("dll").at("exports").at("7"));
    EXPECT_EQ(true, alpha.at("dll").at("exports").at("5"));
    EXPECT_EQ(true, alpha.at("dll").at("menu_exported"));
    ASSERT_EQ(1u, alpha.at("findings").size()) << lastJson;
    EXPECT_EQ("CWorkPart::DllMenuState DllState is NULL, MenuTag Main",
              alpha.at("findings").at(0).at("loader_text"));
    // Still loaded: a worker starts for it.
    EXPECT_EQ(true, alpha.at("state").at("worker"));
}

TEST_F(Pelcheck, MenuHandlerOrdinalMissingOrZeroIsReported) {
    layout.AddDll(L"Alpha", 0, L"plugfix_nomenu.dll", 10);
    layout.AddDll(L"Beta", 1, L"plugfix_dll.dll", 30);
    layout.AddDll(L"Gamma", 2, L"plugfix_dll.dll", 0);
    layout.Write({0, 1, 2});

    const Json root = RunJson(1);
    for (const char* name : {"Alpha", "Beta"}) {
        const Json& c = Component(root, name);
        EXPECT_EQ(false, c.at("dll").at("menu_exported")) << name;
        ASSERT_EQ(1u, c.at("findings").size()) << lastJson;
        EXPECT_EQ("CWorkPart::DllMenuHandle DllFun is NULL",
                  c.at("findings").at(0).at("loader_text"))
            << name;
    }
    const Json& gamma = Component(root, "Gamma");
    ASSERT_EQ(1u, gamma.at("findings").size()) << lastJson;
    EXPECT_EQ("CWorkPart::DllMenuHandle m_uOrdinal == 0",
              gamma.at("findings").at(0).at("loader_text"));
}

TEST_F(Pelcheck, LoaderItselfServesAsADllWithOrdinalTenButNotTwenty) {
    // PelLoader.dll exports 5, 6, 7, 8, 9, 10 and 15.
    layout.AddDll(L"Alpha", 0, L"PelLoader.dll", 10);
    layout.AddDll(L"Beta", 1, L"PelLoader.dll", 20);
    layout.Write({0, 1});

    const Json root = RunJson(1);
    EXPECT_EQ("ready", Component(root, "Alpha").at("verdict"));
    const Json& beta = Component(root, "Beta");
    EXPECT_EQ("problems", beta.at("verdict"));
    ASSERT_NE(nullptr,
              FindingWithText(beta.at("findings"), "CWorkPart::DllMenuHandle DllFun is NULL"))
        << lastJson;
    EXPECT_EQ(Json({5, 6, 7, 8, 9, 10, 15}), beta.at("dll").at("exported_ordinals"));
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

    const Json root = RunJson(1);
    const Json& beta = Component(root, "Beta");
    EXPECT_EQ(Narrow(spec.clsid), beta.at("com").at("clsid"));
    EXPECT_EQ(false, beta.at("com").at("registered"));
    const Json* f = FindingWithText(
        beta.at("findings"), "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80040154");
    ASSERT_NE(nullptr, f) << lastJson;
    EXPECT_EQ("worker", f->at("loader_text_source"));
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

    const Json root = RunJson(1);
    const Json& beta = Component(root, "Beta");
    EXPECT_EQ(true, beta.at("com").at("registered"));
    EXPECT_EQ("Apartment", beta.at("com").at("threading_model"));
    ASSERT_NE(nullptr, FindingWithText(
                           beta.at("findings"),
                           "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80004002"))
        << lastJson;
    const Json& delta = Component(root, "Delta");
    EXPECT_TRUE(delta.at("com").at("threading_model").is_null());
    ASSERT_NE(nullptr, FindingWithText(
                           delta.at("findings"),
                           "CWorkPart::LoadCom CoCreateInstance Fail, MenuTag Main, HR 80004002"))
        << lastJson;
}

// ---- Options and output ----

TEST_F(Pelcheck, StoreRootOptionOverridesTheInheritedStore) {
    layout.AddDll(L"Alpha", 0, L"plugfix_dll.dll", 10);
    layout.Write({0});
    const std::wstring own = L"HKCU\\" + suite.StoreKey();
    SetEnvironmentVariableW(L"VEMM_STORE_ROOT", (own + L"-elsewhere").c_str());

    const Json root = RunJson(0, {L"--store-root", own});
    EXPECT_EQ(Narrow(own), root.at("store").at("root"));
    EXPECT_EQ("ready", Component(root, "Alpha").at("verdict"));

    // The same child without the option reads the empty store it inherited.
    const Json lost = RunJson(1);
    EXPECT_EQ(0u, lost.at("components").size());
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
    // The reader turns tabs into blanks; other control characters reach the name, and so does
    // a lone surrogate.
    const std::wstring odd = L"Gr\u00fc\u00dfe \"q\" back\\slash\x1b esc \u65e5 \xd800 lone";
    suite.WriteDocument(L"Options", L"QXActive.config",
                        L"[Active]\r\nActive=Alpha," + odd +
                            L"\r\n"
                            L"[Alpha]\r\nloader=1\r\nid=0\r\ncompose=Alpha\r\n");

    const RunResult run = RunPelcheck({L"--json"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(
        Contains(run.out, "\\\"q\\\" back\\\\slash\\u001b esc \xe6\x97\xa5 \xef\xbf\xbd lone"))
        << run.out;
    Json root;
    std::string error;
    ASSERT_TRUE(peltest::ParseJson(run.out, &root, &error)) << error << "\n" << run.out;
    ASSERT_EQ(2u, root.at("components").size());
    EXPECT_EQ(Narrow(odd), root.at("components").at(1).at("name"));
    EXPECT_EQ(Narrow(L"Alpha," + odd), root.at("component_list").at("active"));
    // The reader's own text for it was captured and attached.
    ASSERT_EQ(1u, root.at("components").at(1).at("findings").size());
    const std::string text =
        root.at("components").at(1).at("findings").at(0).at("loader_text").get<std::string>();
    EXPECT_EQ(0u, text.find("CPelInit::FillPluginItem  FindSection Gr")) << text;
    EXPECT_EQ(0u, root.at("other_messages").size()) << run.out;
}

// ---- The tests' own JSON check refuses what is not JSON ----

TEST(JsonCheck, RefusesMalformedDocuments) {
    Json value;
    std::string error;
    EXPECT_TRUE(peltest::ParseJson("{\"a\":[1,-2.5e3,true,null,\"\\u00fc\\ud83d\\ude00\"]}", &value,
                                   &error))
        << error;
    EXPECT_EQ("\xc3\xbc\xf0\x9f\x98\x80", value.at("a").at(4));
    const std::string deepest = std::string(65, '[') + std::string(65, ']');
    EXPECT_TRUE(peltest::ParseJson(deepest, &value, &error)) << error;
    for (const std::string& bad :
         std::vector<std::string>{"{\"a\":1,}", "[1 2]", "{\"a\":\"tab\there\"}", "\"\\x\"", "01",
                                  "{\"a\":1} x", "\"\xc3\"", "\"\\ud800\"", "{a:1}", "",
                                  "{\"a\":1,\"b\":{\"a\":2,\"a\":3}}", "[" + deepest + "]"}) {
        EXPECT_FALSE(peltest::ParseJson(bad, &value, &error)) << bad;
        EXPECT_TRUE(value.is_null()) << bad;
    }
}

}  // namespace
