// Runs the loader's own readers over the suite and then walks the same documents again, with
// the same reader and install-library client, to say why each record came out as it did.
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "com_registration.h"
#include "config/ini_document.h"
#include "config/list_items.h"
#include "config/pel_init.h"
#include "core/diagnostics.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "debug_output.h"
#include "platform/active_mask.h"
#include "platform/install_module.h"
#include "platform/vemm_key.h"
#include "report.h"

namespace pelcheck {
namespace {

constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);
constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007E);
constexpr HRESULT kBadImage = static_cast<HRESULT>(0x800700C1);
constexpr HRESULT kErrorInDll = static_cast<HRESULT>(0x800401F9);

// ---- The loader's texts, formatted the way its diagnostics are. ----

using pel::FormatTrace;

std::string CoCreateText(const wchar_t* menuTag, HRESULT hr) {
    return FormatTrace("CWorkPart::LoadCom CoCreateInstance Fail, MenuTag %S, HR %x", menuTag,
                       static_cast<unsigned>(hr));
}

const char kModuleIsNull[] = "CWorkPart::DllExit m_hModule is NULL";

// ---- Findings. ----

std::wstring Q(const std::wstring& text) { return L"\"" + text + L"\""; }

Finding Make(Severity severity, const std::wstring& what, const std::wstring& change,
             TextSource source = TextSource::kNone, const std::string& text = std::string()) {
    Finding finding;
    finding.severity = severity;
    finding.what = what;
    finding.change = change;
    finding.source = source;
    if (source == TextSource::kReader)
        finding.expected = text;
    else
        finding.loaderText = text;
    return finding;
}

Finding Problem(const std::wstring& what, const std::wstring& change,
                TextSource source = TextSource::kNone, const std::string& text = std::string()) {
    return Make(Severity::kProblem, what, change, source, text);
}

Finding Note(const std::wstring& what, const std::wstring& change,
             TextSource source = TextSource::kNone, const std::string& text = std::string()) {
    return Make(Severity::kNote, what, change, source, text);
}

int CountProblems(const std::vector<Finding>& findings) {
    int count = 0;
    for (const Finding& f : findings) count += f.severity == Severity::kProblem ? 1 : 0;
    return count;
}

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%lx", static_cast<unsigned long>(value));
    return text;
}

bool HasOuterBlank(const std::wstring& name) {
    return !name.empty() && (std::iswspace(name.front()) || std::iswspace(name.back()));
}

// Why a document could not be read; LoadFromFile only says that it could not.
std::wstring UnreadableReason(const std::wstring& path) {
    if (path.size() >= 260)
        return L"has a path of " + std::to_wstring(path.size()) +
               L" characters; the loader reads paths of at most 259";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return L"does not exist";
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return L"is a folder, not a file";
    if (data.nFileSizeLow == 0 && data.nFileSizeHigh == 0) return L"is empty (0 bytes)";
    const unsigned long long size =
        static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (size > IniDocument::kMaxFileSize)
        return L"is " + std::to_wstring(size) + L" bytes, larger than the " +
               std::to_wstring(IniDocument::kMaxFileSize) + L" bytes the loader reads";
    return L"cannot be opened for reading";
}

// Why a list value came out empty.
std::wstring EmptyListReason(const IniDocument& doc, const wchar_t* section, const wchar_t* key) {
    if (doc.Sections().empty())
        return L"no section could be read from the document; it must be UTF-16 text";
    const IniSection* found = doc.FindSection(section);
    if (!found) return std::wstring(L"it has no [") + section + L"] section";
    if (!found->FindEntry(key))
        return std::wstring(L"section [") + section + L"] has no " + key + L" line";
    return std::wstring(L"the ") + key + L" line of [" + section + L"] is empty";
}

// Why the system will not load a module the loader needs, or empty when it will.
std::wstring UnloadableReason(const ModuleImage& image) {
    if (image.mapped && image.machine == LoaderMachine()) return std::wstring();
    if (image.machine != 0 && image.machine != LoaderMachine())
        return L"it is built for " + std::wstring(MachineName(image.machine)) +
               L", the loader for " + MachineName(LoaderMachine()) + L".";
    return L"it is not a valid module (error " + std::to_wstring(image.mapError) + L").";
}

std::wstring OrdinalList(const ModuleImage& image) {
    std::wstring list;
    for (WORD ordinal : image.ordinals)
        list += (list.empty() ? L"" : L", ") + std::to_wstring(ordinal);
    return list.empty() ? L"none" : list;
}

// The loader kind of an invoker text, as the menu reader decides whether "clsid" is read.
int InvokerKind(const wchar_t* invoker) {
    const wchar_t* comma = std::wcschr(invoker, L',');
    return comma ? pel::ParseDecimal(comma + 1) : 0;
}

std::wstring Env(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? value : L"";
}

class Checker {
public:
    explicit Checker(Report& report) : m_report(report) {}

    void RunReaders();
    void ExamineStore();
    void ExamineInstallLibrary();
    void ExamineList();
    void CompareTable(int expectedRecords);
    void ExamineMenu(Component& c);
    void ExamineInvoker(Component& c, const PluginItem& item);
    void ExamineDll(Component& c, const PluginItem& item);
    void ExamineCom(Component& c, const PluginItem& item);
    void ExamineState(Component& c);
    void Attribute(const std::vector<std::string>& captured);

private:
    void ExamineSection(const IniDocument& doc, Component& c, int* nextRecord);
    Candidate ExamineCandidate(const IniDocument& doc, Component& c, const PluginItem& item,
                               const std::wstring& name);
    const Component* ComponentOfRecord(int record) const;

    Report& m_report;
};

void Checker::RunReaders() {
    g_ArrayPlugin.RemoveAll();
    g_nProjectState = 0;
    CPelInit init;
    m_report.readQXActive = init.ReadQXActive();
    if (m_report.readQXActive) m_report.readMenuIni = init.ReadMenuIni();
    // The refresh at the end of start-up, by the loader's own rule.
    if (m_report.readMenuIni) {
        pel::ApplyActiveMask(g_ArrayPlugin, ActiveOptionMask());
        m_report.refreshed = true;
    }
    m_report.projectState = g_nProjectState;
}

void Checker::ExamineStore() {
    m_report.storeRoot = Env(L"VEMM_STORE_ROOT");
    VemmKey key;
    const LONG open = key.OpenKey(HKEY_LOCAL_MACHINE, L"OPTIONS\\Active");
    m_report.storeAvailable = open != ERROR_MOD_NOT_FOUND;
    const std::wstring change =
        L"Store the 32-bit number ActiveOpt under OPTIONS\\Active, with bit n set for each "
        L"component whose id is n.";
    if (open == ERROR_MOD_NOT_FOUND) {
        m_report.findings.push_back(Problem(
            L"The configuration store library VemmBase.dll could not be loaded, or it gave no "
            L"store object. Without it the loader finds neither the install library nor the "
            L"active-option mask, and every component counts as disabled.",
            L"Put VemmBase.dll where the host program loads it from, and run pelcheck.exe from "
            L"the host program's folder."));
    } else if (open != ERROR_SUCCESS) {
        m_report.findings.push_back(Note(
            L"The store has no key OPTIONS\\Active (error " + std::to_wstring(open) +
                L"): the active-option mask reads as 0 and every component counts as disabled.",
            change));
    } else {
        DWORD value = 0;
        const LONG query = key.QueryDWORDValue(L"ActiveOpt", &value);
        m_report.maskRead = query == ERROR_SUCCESS;
        if (query == ERROR_INVALID_DATA) {
            m_report.findings.push_back(Problem(
                L"The store value OPTIONS\\Active ActiveOpt is not a 32-bit number; the loader "
                L"uses whatever the store hands back as the mask.",
                change));
        } else if (query != ERROR_SUCCESS) {
            m_report.findings.push_back(
                Note(L"The store has no value ActiveOpt under OPTIONS\\Active (error " +
                         std::to_wstring(query) +
                         L"): the active-option mask reads as 0 and every component counts as "
                         L"disabled.",
                     change));
        }
    }
    m_report.mask = ActiveOptionMask();
}

void Checker::ExamineInstallLibrary() {
    if (!g_pInstallModule) return;
    m_report.installLibrary = g_pInstallModule->m_szLibraryPath;
    m_report.installLoaded = g_pInstallModule->IsLoaded() != FALSE;
    const std::wstring change =
        L"Set the store value \"QXInstall.dll\" under FileMap\\Common to the install library's "
        L"full path.";
    if (!m_report.installLoaded) {
        m_report.findings.push_back(Problem(
            L"The install library could not be loaded from " + Q(m_report.installLibrary) +
                L". The loader then finds no component list, no menu document and no plug-in, "
                L"and says nothing about the library itself.",
            change));
        return;
    }
    static const struct {
        int ordinal;
        const wchar_t* name;
    } kEntries[] = {
        {5, L"GetWorkPathFile"}, {6, L"GetComposeInstallPath"}, {9, L"IsComposeInstalled"}};
    for (const auto& entry : kEntries) {
        if (g_pInstallModule->Entry(entry.ordinal)) continue;
        m_report.findings.push_back(Problem(
            L"The install library " + Q(m_report.installLibrary) + L" does not export ordinal " +
                std::to_wstring(entry.ordinal) + L" (" + entry.name +
                L"), so the loader's questions through that entry go unanswered.",
            change));
    }
}

void Checker::ExamineList() {
    wchar_t found[260] = {};
    GetWorkPathFile(found, L"Options", L"QXActive.config");
    std::wstring path = found;
    if (!path.empty()) {
        m_report.listSource = ListSource::kWorkPath;
    } else {
        GetComposeInstallPath(found);
        if (found[0] == L'\0') {
            m_report.findings.push_back(Problem(
                L"The install library gives no path for the component list: no work path for "
                L"\"Options\"/\"QXActive.config\" and no install folder for \"Options\". InitSet "
                L"stops here and starts nothing.",
                L"Map the component \"Options\" in the install library to the folder that holds "
                L"QXActive.config.",
                TextSource::kReader, "CPelInit::ReadQXActive GetComposeInstallPath Fail"));
            return;
        }
        path = found;
        if (path.back() != L'\\') path += L'\\';
        path += L"QXActive.config";
        m_report.listSource = ListSource::kInstallPath;
    }
    m_report.listPath = path;

    IniDocument doc;
    if (!doc.LoadFromFile(path.c_str())) {
        m_report.findings.push_back(
            Problem(L"The component list " + Q(path) + L" " + UnreadableReason(path) +
                        L". InitSet stops here and starts nothing.",
                    L"Install QXActive.config, a UTF-16 document whose section [Active] holds "
                    L"Active=<section>,<section>,..., in the folder of component \"Options\".",
                    TextSource::kReader,
                    FormatTrace("CPelInit::ReadQXActive  LoadFromFile %S Fail", path.c_str())));
        return;
    }
    m_report.listLoaded = true;
    m_report.activeList = doc.GetValue(L"Active", L"Active");
    if (m_report.activeList.empty()) {
        m_report.findings.push_back(
            Problem(L"The component list names no components: " +
                        EmptyListReason(doc, L"Active", L"Active") +
                        L". InitSet stops here and starts nothing.",
                    L"Add to QXActive.config a section [Active] with the line "
                    L"Active=<section>,<section>,... naming the component sections.",
                    TextSource::kReader, "CPelInit::ReadQXActive strComposeList Empty"));
        return;
    }

    int position = 0;
    int nextRecord = 0;
    pel::ForEachListItem(m_report.activeList, [&](const std::wstring& item) {
        ++position;
        if (item.empty()) {
            m_report.findings.push_back(Problem(
                L"Item " + std::to_wstring(position) +
                    L" of the component list is empty (a leading comma or two commas in a row).",
                L"Remove the extra comma from the Active line of QXActive.config.",
                TextSource::kReader,
                "CPelInit::FillPluginItem  tchSecName[0] or tchSecName is NULL"));
            return false;
        }
        Component c;
        c.position = position;
        c.name = item;
        ExamineSection(doc, c, &nextRecord);
        m_report.components.push_back(c);
        return false;
    });
    CompareTable(nextRecord);
}

void Checker::ExamineSection(const IniDocument& doc, Component& c, int* nextRecord) {
    const IniSection* section = doc.FindSection(c.name.c_str());
    if (!section) {
        std::wstring what = L"The component list names section " + Q(c.name) +
                            L", but QXActive.config has no such section.";
        if (HasOuterBlank(c.name))
            what +=
                L" The name has a blank at its start or end, which is part of the name "
                L"(list items are not trimmed).";
        c.findings.push_back(Problem(
            what,
            L"Add a section [" + c.name +
                L"] with loader=1, id=<bit> and compose=<component>, "
                L"or correct the name in the Active line.",
            TextSource::kReader,
            FormatTrace("CPelInit::FillPluginItem  FindSection %S is NULL", c.name.c_str())));
        return;
    }
    c.sectionFound = true;

    wchar_t loader[260];
    pel::CopyText(loader, section->GetValue(L"loader"));
    wchar_t id[260];
    pel::CopyText(id, section->GetValue(L"id"));
    c.loaderText = loader;
    c.loader = pel::ParseDecimal(loader);
    c.idText = id;
    c.id = pel::ParseDecimal(id);
    c.composeText = section->GetValue(L"compose");

    if (c.composeText.find(L',') == std::wstring::npos) {
        c.alternatives.push_back({c.composeText, IsComposeInstalled(c.composeText.c_str()) != 0});
    } else {
        pel::ForEachListItem(c.composeText, [&](const std::wstring& name) {
            if (!name.empty())
                c.alternatives.push_back({name, IsComposeInstalled(name.c_str()) != 0});
            return false;
        });
    }
    c.chosen = GetInstalledCompose(c.composeText.c_str());

    if (c.loader != 1) {
        c.findings.push_back(Problem(
            L"Section [" + c.name + L"] has " +
                (c.loaderText.empty() ? std::wstring(L"no loader line")
                                      : L"loader=" + c.loaderText) +
                L": this loader serves only components with loader=1, so it reads no menu "
                L"document for this one and never starts it.",
            L"Set loader=1 in section [" + c.name +
                L"] if PelLoader should run this component; otherwise remove it from the Active "
                L"line.",
            TextSource::kReader,
            FormatTrace("CPelInit::FillPluginItem  %S Loader is not correct", c.name.c_str())));
    }

    wchar_t compose[260];
    if (!pel::CopyText(compose, c.chosen.c_str())) {
        c.findings.push_back(Problem(
            L"The component name chosen from compose has " + std::to_wstring(c.chosen.size()) +
                L" characters; at most 259 fit, so the component is left out.",
            L"Correct compose in section [" + c.name + L"].", TextSource::kReader,
            FormatTrace("CPelInit::FillPluginItem  chCompose %S is too long", c.chosen.c_str())));
        return;
    }
    c.installed = IsComposeInstalled(compose) != 0;
    if (!c.installed) {
        std::wstring what;
        if (c.composeText.empty())
            what = L"Section [" + c.name + L"] has no compose line, so it names no component.";
        else if (c.alternatives.size() > 1)
            what = L"None of the components in compose=" + c.composeText +
                   L" is installed; the loader checks " + Q(c.chosen) +
                   L" and leaves the entry out.";
        else
            what = L"The component " + Q(c.chosen) +
                   L" is not installed according to the install library; the entry is left out.";
        c.findings.push_back(Problem(
            what,
            L"Install the component, or correct compose in section [" + c.name +
                L"] to the name the install library knows it by.",
            TextSource::kReader,
            FormatTrace("CPelInit::FillPluginItem  chCompose %S is not installed", compose)));
        return;
    }
    c.record = (*nextRecord)++;
}

void Checker::CompareTable(int expectedRecords) {
    bool same = g_ArrayPlugin.Count() == expectedRecords;
    for (const Component& c : m_report.components) {
        if (!same) break;
        if (c.record >= 0 && c.chosen != g_ArrayPlugin.At(c.record).chCompose) same = false;
    }
    if (same) return;
    m_report.findings.push_back(Note(
        L"The loader's table holds " + std::to_wstring(g_ArrayPlugin.Count()) +
            L" records, but this check expected " + std::to_wstring(expectedRecords) +
            L"; the suite changed while it was read, or the check is out of step with the loader.",
        L"Run the check again."));
    // Without a record to look at, a component cannot be followed further.
    for (Component& c : m_report.components) {
        if (c.record >= g_ArrayPlugin.Count()) c.record = -1;
    }
}

const Component* Checker::ComponentOfRecord(int record) const {
    for (const Component& c : m_report.components) {
        if (c.record == record) return &c;
    }
    return nullptr;
}

void Checker::ExamineMenu(Component& c) {
    if (c.record < 0 || c.loader != 1) return;
    c.menuRead = true;
    const PluginItem& item = g_ArrayPlugin.At(c.record);
    wchar_t fileName[256];
    const bool fits = pel::CopyText(fileName, item.chCompose) && pel::AppendText(fileName, L".ini");
    c.menu.file = fileName;
    wchar_t path[260] = {};
    if (fits) GetWorkPathFile(path, L"Menu", fileName);
    const std::string noPath =
        FormatTrace("CPelInit::ReadMenuIni menu %S GetWorkPathFile fail", fileName);
    if (path[0] == L'\0') {
        c.findings.push_back(
            fits ? Problem(L"The install library gives no path for the menu document " +
                               Q(c.menu.file) + L" of component \"Menu\".",
                           L"Map the component \"Menu\" in the install library to the folder "
                           L"that holds the menu documents.",
                           TextSource::kReader, noPath)
                 : Problem(L"The component name is too long to form its menu document's name "
                           L"(at most 251 characters before \".ini\").",
                           L"Use a shorter compose name.", TextSource::kReader, noPath));
        return;
    }
    c.menu.path = path;

    IniDocument doc;
    if (!doc.LoadFromFile(path)) {
        c.findings.push_back(
            Problem(L"The menu document " + Q(c.menu.path) + L" " + UnreadableReason(c.menu.path) +
                        L"; the record gets no plug-in.",
                    L"Install " + c.menu.file +
                        L": a UTF-16 document with [Menu] MenuList=<section> and that section with "
                        L"usedobj=Pel and an invoker line.",
                    TextSource::kReader,
                    FormatTrace("CPelInit::GetModuleMenuInfo  LoadFromFile %S Fail", path)));
        return;
    }
    c.menu.loaded = true;
    c.menu.menuList = doc.GetValue(L"Menu", L"MenuList");
    if (c.menu.menuList.empty()) {
        c.findings.push_back(Problem(
            L"The menu document " + Q(c.menu.path) + L" lists no sections: " +
                EmptyListReason(doc, L"Menu", L"MenuList") + L"; the record gets no plug-in.",
            L"Add to " + c.menu.file +
                L" a section [Menu] with MenuList=<section>,... naming "
                L"the sections this loader may use.",
            TextSource::kReader, "CPelInit::GetModuleMenuInfo strMenuList Empty"));
        return;
    }

    bool taken = false;
    pel::ForEachListItem(c.menu.menuList, [&](const std::wstring& name) {
        Candidate candidate;
        if (taken) {
            candidate.name = name;
            candidate.outcome = CandidateOutcome::kNotTried;
            candidate.detail = L"not looked at: an earlier section was taken";
        } else {
            candidate = ExamineCandidate(doc, c, item, name);
            taken = candidate.outcome == CandidateOutcome::kTaken;
        }
        c.menu.candidates.push_back(candidate);
        return false;
    });

    if (!taken) {
        bool same = false;
        for (const Candidate& k : c.menu.candidates)
            same = same || k.outcome == CandidateOutcome::kSame;
        c.findings.push_back(Problem(
            L"No section listed in MenuList of " + c.menu.file +
                L" can be used by this loader (each is refused as shown); the record gets no "
                L"plug-in, and a worker started for it gives up at once.",
            same ? L"Every record of component " + Q(item.chCompose) +
                       L" needs a section of its own: add another section with usedobj=Pel to "
                       L"MenuList, or list the component only once in QXActive.config."
                 : L"List in MenuList a section with usedobj=Pel and an invoker line.",
            TextSource::kWorker,
            FormatTrace("CWorkPart::Init plugin is not a DLL or com, MenuTag %S", item.MenuTag)));
        return;
    }
    for (const Candidate& k : c.menu.candidates) {
        if (k.outcome != CandidateOutcome::kAbsent && k.outcome != CandidateOutcome::kEmpty &&
            k.outcome != CandidateOutcome::kTooLong)
            continue;
        c.findings.push_back(
            Note(L"MenuList item " + Q(k.name) + L" is refused at every start (" + k.detail +
                     L"); the loader goes on to " + Q(c.menu.section) + L".",
                 L"Remove the item from MenuList of " + c.menu.file + L", or correct it."));
    }
    if (c.menu.section != item.MenuTag) {
        m_report.findings.push_back(
            Note(L"The loader gave record " + std::to_wstring(c.record) + L" the section " +
                     Q(item.MenuTag) + L", but this check expected " + Q(c.menu.section) + L".",
                 L"Run the check again."));
    }
    ExamineInvoker(c, item);
}

Candidate Checker::ExamineCandidate(const IniDocument& doc, Component& c, const PluginItem& item,
                                    const std::wstring& name) {
    Candidate k;
    k.name = name;
    if (name.empty()) {
        k.outcome = CandidateOutcome::kEmpty;
        k.detail = L"an empty item: a leading comma or two commas in a row";
        k.expected = "CPelInit::FillPluginMenuInfo  tchSecName[0] or tchSecName is NULL";
        return k;
    }
    const IniSection* section = doc.FindSection(name.c_str());
    if (!section) {
        k.outcome = CandidateOutcome::kAbsent;
        k.detail = HasOuterBlank(name)
                       ? L"no such section: the blank at the start or end is part of the name"
                       : L"no such section";
        k.expected =
            FormatTrace("CPelInit::FillPluginMenuInfo  FindSection %S is NULL", name.c_str());
        return k;
    }
    wchar_t usedobj[64];
    pel::CopyText(usedobj, section->GetValue(L"usedobj"));
    if (lstrcmpiW(usedobj, L"Pel") != 0) {
        k.outcome = CandidateOutcome::kNotPel;
        k.detail = usedobj[0] == L'\0'
                       ? std::wstring(L"it has no usedobj line, so it is not meant for this loader")
                       : L"usedobj=" + std::wstring(usedobj) +
                             L", not \"Pel\": the section belongs to another program";
        return k;
    }
    for (int j = 0; j < c.record && j < g_ArrayPlugin.Count(); ++j) {
        const PluginItem& earlier = g_ArrayPlugin.At(j);
        if (lstrcmpiW(earlier.chCompose, item.chCompose) != 0 ||
            lstrcmpiW(earlier.MenuTag, name.c_str()) != 0)
            continue;
        const Component* owner = ComponentOfRecord(j);
        k.outcome = CandidateOutcome::kSame;
        k.detail = L"already taken by the earlier record of the same component" +
                   (owner ? L" (list item " + std::to_wstring(owner->position) + L", [" +
                                owner->name + L"])"
                          : std::wstring());
        k.expected = FormatTrace("CPelInit::FillPluginMenuInfo  FindSection %S Same", name.c_str());
        return k;
    }
    const std::wstring invoker = section->GetValue(L"invoker");
    const std::wstring clsid = section->GetValue(L"clsid");
    std::wstring tooLong;
    if (name.size() > 31)
        tooLong = L"the section name has " + std::to_wstring(name.size()) +
                  L" characters; at most 31 fit";
    else if (invoker.size() > 63)
        tooLong =
            L"its invoker has " + std::to_wstring(invoker.size()) + L" characters; at most 63 fit";
    else if (InvokerKind(invoker.c_str()) == 1 && clsid.size() > 63)
        tooLong =
            L"its clsid has " + std::to_wstring(clsid.size()) + L" characters; at most 63 fit";
    if (!tooLong.empty()) {
        k.outcome = CandidateOutcome::kTooLong;
        k.detail = tooLong;
        k.expected =
            FormatTrace("CPelInit::FillPluginMenuInfo  FindSection %S text too long", name.c_str());
        return k;
    }
    k.outcome = CandidateOutcome::kTaken;
    k.detail = L"taken: usedobj=Pel";
    c.menu.section = name;
    c.menu.invoker = invoker;
    if (InvokerKind(invoker.c_str()) == 1) c.menu.clsidText = clsid;
    return k;
}

void Checker::ExamineInvoker(Component& c, const PluginItem& item) {
    c.kind = item.nInvokerType;
    c.dllName = item.tchDllName;
    c.ordinal = item.m_uOrdinal;
    if (c.kind == 2) {
        ExamineDll(c, item);
    } else if (c.kind == 1) {
        ExamineCom(c, item);
    } else {
        c.findings.push_back(Problem(
            c.menu.invoker.empty()
                ? L"Section [" + c.menu.section + L"] of " + c.menu.file +
                      L" has no invoker line, so the loader does not know how to load the plug-in."
                : L"The invoker " + Q(c.menu.invoker) + L" of section [" + c.menu.section +
                      L"] gives the loader kind " + std::to_wstring(c.kind) +
                      L" in its second field; only 1 (COM object) and 2 (DLL) are known.",
            L"Write invoker=0,2,<file>.dll,<menu ordinal> for a DLL plug-in, or invoker=0,1 "
            L"with clsid={...} for a COM plug-in.",
            TextSource::kWorker,
            FormatTrace("CWorkPart::Init plugin is not a DLL or com, MenuTag %S", item.MenuTag)));
    }
}

void Checker::ExamineDll(Component& c, const PluginItem& item) {
    c.hasDll = true;
    const std::wstring where = L" of section [" + c.menu.section + L"] in " + c.menu.file;
    if (c.dllName.empty()) {
        c.findings.push_back(Problem(
            L"The invoker" + where + L" names no DLL (its third field is empty).",
            L"Write invoker=0,2,<file>.dll,<menu ordinal>.", TextSource::kWorker, kModuleIsNull));
        return;
    }
    wchar_t path[260] = {};
    GetWorkPathFile(path, item.chCompose, item.tchDllName);
    if (path[0] == L'\0') {
        c.findings.push_back(Problem(L"The install library gives no path for " + Q(c.dllName) +
                                         L" of component " + Q(item.chCompose) +
                                         L", so the plug-in cannot be loaded.",
                                     L"Map the component " + Q(item.chCompose) +
                                         L" in the install library to the folder "
                                         L"that holds the plug-in.",
                                     TextSource::kWorker, kModuleIsNull));
        return;
    }
    c.dll.path = path;
    c.dll.image = InspectModule(c.dll.path);
    const ModuleImage& image = c.dll.image;
    const std::wstring change = L"Install the plug-in DLL as " + c.dll.path +
                                L", or correct the third field of the invoker" + where + L".";
    if (!image.exists) {
        c.findings.push_back(Problem(L"The plug-in DLL " + Q(c.dll.path) + L" does not exist.",
                                     change, TextSource::kWorker, kModuleIsNull));
        return;
    }
    const std::wstring unloadable = UnloadableReason(image);
    if (!unloadable.empty()) {
        c.findings.push_back(
            Problem(L"The plug-in DLL " + Q(c.dll.path) + L" cannot be loaded: " + unloadable,
                    L"Install a build of the plug-in for " +
                        std::wstring(MachineName(LoaderMachine())) + L".",
                    TextSource::kWorker, kModuleIsNull));
        return;
    }
    const std::wstring dll = Q(c.dllName);
    const std::wstring exported = L" (it exports ordinals " + OrdinalList(image) + L")";
    if (!image.Exports(5)) {
        c.findings.push_back(Problem(
            dll +
                L" does not export ordinal 5 (DllInit): its worker gives up on it without a "
                L"message, calls its close entry and unloads it" +
                exported + L".",
            L"Export int __stdcall DllInit(int, int, int) at ordinal 5."));
    }
    if (!image.Exports(6)) {
        c.findings.push_back(Problem(dll +
                                         L" does not export ordinal 6 (DllClose): it is unloaded "
                                         L"without being told to close" +
                                         exported + L".",
                                     L"Export int __stdcall DllClose(void) at ordinal 6.",
                                     TextSource::kWorker, "CPelInit::ExitClear DllClose is NULL"));
    }
    if (!image.Exports(7)) {
        c.findings.push_back(Problem(
            dll + L" does not export ordinal 7 (DllState): every state query gives 0" + exported +
                L".",
            L"Export int __stdcall DllState(int*) at ordinal 7.", TextSource::kWorker,
            FormatTrace("CWorkPart::DllMenuState DllState is NULL, MenuTag %S", item.MenuTag)));
    }
    if (!image.Exports(15)) {
        c.findings.push_back(Problem(
            dll + L" does not export ordinal 15 (KIChange): it is never told of settings changes" +
                exported + L".",
            L"Export int __stdcall KIChange(int, int) at ordinal 15.", TextSource::kWorker,
            FormatTrace("CWorkPart::DllSetupChange KIChange is NULL, MenuTag %S", item.MenuTag)));
    }
    if (c.ordinal == 0) {
        c.findings.push_back(
            Problem(L"The invoker" + where +
                        L" gives no menu handler ordinal (its fourth field is "
                        L"missing or 0), so the plug-in is never switched on or off.",
                    L"Write the ordinal of the DLL's menu handler as the invoker's fourth field: "
                    L"invoker=0,2," +
                        c.dllName + L",<ordinal>" + exported + L".",
                    TextSource::kWorker, "CWorkPart::DllMenuHandle m_uOrdinal == 0"));
    } else if (!image.Exports(static_cast<WORD>(c.ordinal & 0xFFFF))) {
        c.findings.push_back(Problem(
            dll + L" does not export ordinal " + std::to_wstring(c.ordinal & 0xFFFF) +
                L", the menu handler named by the invoker" + where +
                L", so the plug-in is never switched on or off" + exported + L".",
            L"Export the menu handler (VARIANT __stdcall DllFun(VARIANT, VARIANT, VARIANT)) at "
            L"that ordinal, or correct the invoker's fourth field.",
            TextSource::kWorker, "CWorkPart::DllMenuHandle DllFun is NULL"));
    }
}

void Checker::ExamineCom(Component& c, const PluginItem& item) {
    c.hasCom = true;
    wchar_t clsid[64] = {};
    StringFromGUID2(item.clsid, clsid, 64);
    c.com.clsid = clsid;
    const std::wstring where = L"section [" + c.menu.section + L"] of " + c.menu.file;
    if (c.menu.clsidText.empty()) {
        c.findings.push_back(Problem(
            L"The COM plug-in's " + where +
                L" has no clsid line, so the loader has no class to create.",
            L"Add clsid={........-....-....-....-............} with the plug-in's class to " +
                where + L".",
            TextSource::kWorker, CoCreateText(item.MenuTag, kClassNotRegistered)));
        return;
    }
    CLSID parsed;
    if (FAILED(CLSIDFromString(c.menu.clsidText.c_str(), &parsed))) {
        c.findings.push_back(
            Problem(L"The clsid " + Q(c.menu.clsidText) + L" of " + where +
                        L" is not a class identifier in braced form.",
                    L"Write clsid={........-....-....-....-............} with the plug-in's class.",
                    TextSource::kWorker, CoCreateText(item.MenuTag, kClassNotRegistered)));
        return;
    }

    const ComRegistration reg = ReadComRegistration(c.com.clsid);
    const std::wstring key =
        L"HKLM\\Software\\Classes\\CLSID\\" + c.com.clsid + L"\\InprocServer32";
    if (!reg.inproc) {
        c.findings.push_back(Problem(
            reg.localServer
                ? L"The class " + c.com.clsid +
                      L" is registered only as an out-of-process server "
                      L"(LocalServer32); the loader needs an in-process server (" +
                      key + L")."
                : L"The class " + c.com.clsid + L" is not registered (no " + key + L").",
            L"Register the plug-in's COM server under " + key +
                L" (default value: the server DLL's path; ThreadingModel: Both).",
            reg.localServer ? TextSource::kNone : TextSource::kWorker,
            reg.localServer ? std::string() : CoCreateText(item.MenuTag, kClassNotRegistered)));
        return;
    }
    c.com.registered = true;
    c.com.server = reg.server;
    c.com.serverPath = reg.serverPath;
    c.com.hasModel = reg.hasModel;
    c.com.model = reg.model;
    c.com.serverExists = !reg.serverPath.empty();
    if (!c.com.serverExists) {
        c.findings.push_back(Problem(
            reg.server.empty()
                ? L"The registration " + key + L" names no server file (empty default value)."
                : L"The COM server " + Q(reg.server) + L" registered for " + c.com.clsid +
                      L" does not exist.",
            L"Install the server DLL and register its full path as the default value of " + key +
                L".",
            TextSource::kWorker, CoCreateText(item.MenuTag, kModuleNotFound)));
        return;
    }
    c.com.image = InspectModule(reg.serverPath);
    const ModuleImage& image = c.com.image;
    const std::wstring unloadable = UnloadableReason(image);
    if (!unloadable.empty()) {
        c.findings.push_back(
            Problem(L"The COM server " + Q(reg.serverPath) + L" cannot be loaded: " + unloadable,
                    L"Register a build of the server for " +
                        std::wstring(MachineName(LoaderMachine())) + L".",
                    TextSource::kWorker, CoCreateText(item.MenuTag, kBadImage)));
        return;
    }
    if (!image.Exports("DllGetClassObject")) {
        c.findings.push_back(Problem(L"The COM server " + Q(reg.serverPath) +
                                         L" does not export DllGetClassObject, so "
                                         L"no object can be created from it.",
                                     L"Register the right server DLL for " + c.com.clsid + L".",
                                     TextSource::kWorker, CoCreateText(item.MenuTag, kErrorInDll)));
    }
    if (!reg.ModelFitsWorker()) {
        c.findings.push_back(Problem(
            (reg.hasModel ? L"The class is registered with ThreadingModel=" + reg.model
                          : std::wstring(L"The class is registered without a ThreadingModel")) +
                L". The loader creates the plug-in on a worker thread in the multithreaded "
                L"apartment; such a class is created in another apartment, and IPluginObject, "
                L"having no proxy, cannot be handed across.",
            L"Set ThreadingModel=Both (or Free) under " + key +
                L", with a server that may be called from any thread.",
            TextSource::kWorker, CoCreateText(item.MenuTag, kNoInterface)));
    }
}

void Checker::ExamineState(Component& c) {
    if (c.record >= 0) {
        const PluginItem& item = g_ArrayPlugin.At(c.record);
        c.bitSet = item.bActiveOpt != 0;
        c.enabled = m_report.refreshed && item.bEnable != 0;
    } else {
        c.bitSet = pel::MaskBit(m_report.mask, c.id);
    }
    c.worker = c.record >= 0 && c.loader == 1 && c.enabled && (c.kind == 1 || c.kind == 2);
    if (c.ProblemCount() > 0)
        c.verdict = Verdict::kProblems;
    else
        c.verdict = c.enabled ? Verdict::kReady : Verdict::kDisabled;
}

// Hands each captured text to the finding or candidate that expected it; what is left over
// is reported as it stands.
void Checker::Attribute(const std::vector<std::string>& captured) {
    std::vector<bool> used(captured.size(), false);
    const auto claim = [&](const std::string& expected, std::string* text) {
        if (expected.empty()) return;
        for (size_t i = 0; i < captured.size(); ++i) {
            if (used[i] || captured[i] != expected) continue;
            used[i] = true;
            *text = captured[i];
            return;
        }
    };
    for (Finding& f : m_report.findings) claim(f.expected, &f.loaderText);
    for (Component& c : m_report.components) {
        for (Finding& f : c.findings) claim(f.expected, &f.loaderText);
        for (Candidate& k : c.menu.candidates) claim(k.expected, &k.loaderText);
    }
    for (size_t i = 0; i < captured.size(); ++i) {
        if (!used[i]) m_report.otherMessages.push_back(captured[i]);
    }
}

}  // namespace

int Component::ProblemCount() const { return CountProblems(findings); }

int Report::ProblemCount() const {
    int count = CountProblems(findings);
    for (const Component& c : components) count += c.ProblemCount();
    return count;
}

Report Check() {
    Report report;
    Checker checker(report);
    // Kept on for the whole check: anything else that speaks on the debugger output meanwhile
    // (a plug-in's code, say) shows up among the other messages.
    peltools::DebugCapture capture;
    try {
        checker.RunReaders();
    } catch (const CHResultError& error) {
        report.findings.push_back(
            Problem(L"The loader's plug-in table failed while the suite was read (HRESULT " +
                        Hex(static_cast<DWORD>(error.Code())) +
                        L"); InitSet would end here with the table as far as it got.",
                    L"Shorten the component list."));
    }
    checker.ExamineStore();
    checker.ExamineInstallLibrary();
    checker.ExamineList();
    if (report.readQXActive && !report.readMenuIni) {
        report.findings.push_back(Problem(
            L"No component entered the loader's table, so InitSet stops after the component "
            L"list and starts nothing.",
            L"Fix the components listed below.", TextSource::kReader,
            "CPelInit::ReadMenuIni g_ArrayPlugin is Empty"));
    }
    for (Component& c : report.components) {
        checker.ExamineMenu(c);
        checker.ExamineState(c);
    }
    checker.Attribute(capture.Texts());
    return report;
}

}  // namespace pelcheck
