#include "output.h"

#include <cwchar>
#include <nlohmann/json.hpp>
#include <utility>

#include "text_utf.h"

namespace pelcheck {
namespace {

const char* OutcomeName(CandidateOutcome outcome) {
    switch (outcome) {
        case CandidateOutcome::kTaken:
            return "taken";
        case CandidateOutcome::kEmpty:
            return "empty";
        case CandidateOutcome::kAbsent:
            return "absent";
        case CandidateOutcome::kNotPel:
            return "not_pel";
        case CandidateOutcome::kSame:
            return "same";
        case CandidateOutcome::kTooLong:
            return "too_long";
        case CandidateOutcome::kNotTried:
            return "not_tried";
    }
    return "";
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::kReady:
            return "ready";
        case Verdict::kDisabled:
            return "disabled";
        case Verdict::kProblems:
            return "problems";
    }
    return "";
}

const char* SourceName(TextSource source) {
    switch (source) {
        case TextSource::kNone:
            return "none";
        case TextSource::kReader:
            return "reader";
        case TextSource::kWorker:
            return "worker";
    }
    return "";
}

const char* ListSourceName(ListSource source) {
    switch (source) {
        case ListSource::kNone:
            return "none";
        case ListSource::kWorkPath:
            return "work_path";
        case ListSource::kInstallPath:
            return "install_path";
    }
    return "";
}

// The plug-in's fixed entries: DllInit, DllClose, DllState, KIChange.
constexpr WORD kEntryOrdinals[] = {5, 6, 7, 15};

std::wstring MaskHex(DWORD mask) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(mask));
    return text;
}

std::wstring Q(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring YesNo(bool value) { return value ? L"yes" : L"no"; }

// ---- Text ----

class TextOut {
public:
    void Line(const std::wstring& text = std::wstring()) { m_text += text + L"\r\n"; }
    const std::wstring& Text() const { return m_text; }

private:
    std::wstring m_text;
};

void WriteFinding(TextOut& out, const Finding& f, const std::wstring& indent) {
    out.Line(indent + (f.severity == Severity::kProblem ? L"PROBLEM: " : L"Note: ") + f.what);
    if (!f.change.empty()) out.Line(indent + L"  Change: " + f.change);
    if (!f.loaderText.empty()) {
        out.Line(indent +
                 (f.source == TextSource::kWorker ? L"  The loader would send: "
                                                  : L"  The loader says: ") +
                 Q(peltools::FromAnsi(f.loaderText)));
    } else if (f.severity == Severity::kProblem && f.source == TextSource::kNone) {
        out.Line(indent + L"  The loader sends no message for this.");
    }
}

std::wstring VerdictLine(const Component& c) {
    switch (c.verdict) {
        case Verdict::kReady:
            return L"ready: enabled, a worker would load its plug-in";
        case Verdict::kDisabled:
            return L"sound, but disabled by the active-option mask: no worker now (counts as "
                   L"clean)";
        case Verdict::kProblems: {
            const int n = c.ProblemCount();
            return std::to_wstring(n) + (n == 1 ? L" PROBLEM" : L" PROBLEMS");
        }
    }
    return L"";
}

void WriteExports(TextOut& out, const ModuleImage& image, const std::wstring& indent,
                  UINT menuOrdinal, bool withMenu) {
    std::wstring line = indent + L"Exports:";
    for (WORD ordinal : kEntryOrdinals) {
        line += L" " + std::to_wstring(ordinal) + L" " + (image.Exports(ordinal) ? L"yes" : L"NO") +
                L",";
    }
    if (withMenu) {
        const WORD menu = static_cast<WORD>(menuOrdinal & 0xFFFF);
        line += L" menu " + std::to_wstring(menu) + L" " + (image.Exports(menu) ? L"yes" : L"NO");
    } else {
        line.pop_back();
    }
    out.Line(line);
}

void WriteComponent(TextOut& out, const Component& c) {
    out.Line(L"[" + std::to_wstring(c.position) + L"] " + c.name + L" -- " + VerdictLine(c));
    const std::wstring in = L"    ";
    if (!c.sectionFound) {
        out.Line(in + L"Section [" + c.name + L"]: not found in the component list");
    } else {
        out.Line(in + L"Section [" + c.name + L"]: loader=" + c.loaderText + L", id=" + c.idText +
                 L" (mask bit " + std::to_wstring(static_cast<unsigned>(c.id) & 31u) + L": " +
                 (c.bitSet ? L"set" : L"clear") + L")");
        std::wstring alternatives;
        if (c.alternatives.size() > 1) {
            for (const Alternative& a : c.alternatives)
                alternatives += (alternatives.empty() ? L"" : L", ") + Q(a.name) +
                                (a.installed ? L" installed" : L" not installed");
            alternatives = L" (alternatives: " + alternatives + L")";
        }
        out.Line(in + L"Compose: " + Q(c.composeText) + L" -> " + Q(c.chosen) +
                 (c.installed ? L", installed" : L", not installed") + alternatives);
        out.Line(in + L"Loader's table: " +
                 (c.record >= 0 ? L"record " + std::to_wstring(c.record)
                                : std::wstring(L"not entered")));
    }
    if (c.menuRead) {
        out.Line(in + L"Menu document: " +
                 (c.menu.path.empty() ? Q(c.menu.file) + L" (no path)" : c.menu.path));
        if (c.menu.loaded) out.Line(in + L"  MenuList: " + c.menu.menuList);
        for (const Candidate& k : c.menu.candidates) {
            const bool refused =
                k.outcome != CandidateOutcome::kTaken && k.outcome != CandidateOutcome::kNotTried;
            out.Line(in + L"  - " + Q(k.name) + L": " + (refused ? L"refused: " : L"") + k.detail);
            if (!k.loaderText.empty())
                out.Line(in + L"      The loader says: " + Q(peltools::FromAnsi(k.loaderText)));
        }
        if (!c.menu.section.empty()) {
            std::wstring kind = L"kind " + std::to_wstring(c.kind);
            if (c.kind == 2)
                kind = L"DLL " + Q(c.dllName) + L", menu handler ordinal " +
                       std::to_wstring(c.ordinal);
            else if (c.kind == 1)
                kind = L"COM object " + c.com.clsid;
            out.Line(in + L"Invoker: " + Q(c.menu.invoker) + L" -> " + kind);
        }
    }
    if (c.hasDll && !c.dll.path.empty()) {
        const ModuleImage& image = c.dll.image;
        std::wstring state = image.exists ? L"exists" : L"MISSING";
        if (image.machine != 0) state += std::wstring(L", ") + MachineName(image.machine);
        out.Line(in + L"DLL: " + c.dll.path + L" (" + state + L")");
        if (image.mapped) WriteExports(out, image, in + L"  ", c.ordinal, true);
    }
    if (c.hasCom && c.com.registered) {
        out.Line(in + L"COM server: " + Q(c.com.server) +
                 (c.com.serverExists ? L" (exists)" : L" (MISSING)") + L", ThreadingModel " +
                 (c.com.hasModel ? Q(c.com.model) : std::wstring(L"(none)")));
    }
    if (c.sectionFound) {
        std::wstring state = c.enabled ? L"enabled" : L"disabled";
        state += L" (mask bit " + std::to_wstring(static_cast<unsigned>(c.id) & 31u) +
                 (c.bitSet ? L" set)" : L" clear)");
        out.Line(in + L"State: " + state + L"; worker: " + YesNo(c.worker));
    }
    for (const Finding& f : c.findings) WriteFinding(out, f, in);
    out.Line();
}

// ---- JSON ----

// Members keep the order they are written in.
using Json = nlohmann::ordered_json;

Json Text(const std::wstring& text) { return peltools::Utf8(text); }
// null stands for an empty text.
Json TextOrNull(const std::wstring& text) { return text.empty() ? Json() : Text(text); }
// A loader message, sent in the ANSI code page.
Json Ansi(const std::string& text) { return Text(peltools::FromAnsi(text)); }
Json AnsiOrNull(const std::string& text) { return text.empty() ? Json() : Ansi(text); }

Json JsonFinding(const Finding& f) {
    Json j;
    j["severity"] = f.severity == Severity::kProblem ? "problem" : "note";
    j["message"] = Text(f.what);
    j["change"] = Text(f.change);
    j["loader_text"] = AnsiOrNull(f.loaderText);
    j["loader_text_source"] = f.loaderText.empty() ? "none" : SourceName(f.source);
    return j;
}

Json JsonFindings(const std::vector<Finding>& findings) {
    Json list = Json::array();
    for (const Finding& f : findings) list.push_back(JsonFinding(f));
    return list;
}

Json JsonMenu(const MenuInfo& menu) {
    Json j;
    j["file"] = Text(menu.file);
    j["path"] = Text(menu.path);
    j["loaded"] = menu.loaded;
    j["menu_list"] = Text(menu.menuList);
    Json candidates = Json::array();
    for (const Candidate& k : menu.candidates) {
        Json candidate;
        candidate["name"] = Text(k.name);
        candidate["outcome"] = OutcomeName(k.outcome);
        candidate["detail"] = Text(k.detail);
        candidate["loader_text"] = AnsiOrNull(k.loaderText);
        candidates.push_back(std::move(candidate));
    }
    j["candidates"] = std::move(candidates);
    j["section"] = TextOrNull(menu.section);
    return j;
}

Json JsonInvoker(const Component& c) {
    Json j;
    j["text"] = Text(c.menu.invoker);
    j["kind"] = c.kind;
    j["dll_name"] = Text(c.dllName);
    j["ordinal"] = c.ordinal;
    j["clsid_text"] = Text(c.menu.clsidText);
    return j;
}

Json JsonDll(const Component& c) {
    const ModuleImage& image = c.dll.image;
    Json j;
    j["path"] = Text(c.dll.path);
    j["exists"] = image.exists;
    j["loadable"] = image.mapped;
    j["machine"] = Text(image.machine ? MachineName(image.machine) : L"");
    j["exported_ordinals"] = image.ordinals;
    Json exports = Json::object();
    for (WORD ordinal : kEntryOrdinals) exports[std::to_string(ordinal)] = image.Exports(ordinal);
    j["exports"] = std::move(exports);
    j["menu_ordinal"] = c.ordinal;
    j["menu_exported"] = image.Exports(static_cast<WORD>(c.ordinal & 0xFFFF));
    return j;
}

Json JsonCom(const ComInfo& com) {
    Json j;
    j["clsid"] = Text(com.clsid);
    j["registered"] = com.registered;
    j["server"] = Text(com.server);
    j["server_path"] = Text(com.serverPath);
    j["server_exists"] = com.serverExists;
    j["threading_model"] = com.hasModel ? Text(com.model) : Json();
    return j;
}

Json JsonComponent(const Component& c) {
    Json j;
    j["position"] = c.position;
    j["name"] = Text(c.name);
    j["verdict"] = VerdictName(c.verdict);
    j["problems"] = c.ProblemCount();
    j["section_found"] = c.sectionFound;
    j["loader"] = {{"text", Text(c.loaderText)}, {"value", c.loader}};
    j["id"] = {{"text", Text(c.idText)}, {"value", c.id}};
    j["mask_bit"] = static_cast<unsigned>(c.id) & 31u;
    Json alternatives = Json::array();
    for (const Alternative& a : c.alternatives)
        alternatives.push_back({{"name", Text(a.name)}, {"installed", a.installed}});
    j["compose"] = {{"text", Text(c.composeText)},
                    {"alternatives", std::move(alternatives)},
                    {"chosen", Text(c.chosen)},
                    {"installed", c.installed}};
    j["record"] = c.record >= 0 ? Json(c.record) : Json();
    j["menu"] = c.menuRead ? JsonMenu(c.menu) : Json();
    j["invoker"] = c.menu.section.empty() ? Json() : JsonInvoker(c);
    j["dll"] = c.hasDll ? JsonDll(c) : Json();
    j["com"] = c.hasCom ? JsonCom(c.com) : Json();
    j["state"] = {{"bit_set", c.bitSet}, {"enabled", c.enabled}, {"worker", c.worker}};
    j["findings"] = JsonFindings(c.findings);
    return j;
}

}  // namespace

std::wstring FormatText(const Report& r) {
    TextOut out;
    out.Line(
        L"PelLoader suite check: a dry run of InitSet's reading. The loader's readers ran in "
        L"this process; no plug-in was loaded or started.");
    out.Line();
    out.Line(L"Store root:       " + (r.storeRoot.empty()
                                          ? std::wstring(L"the store library's default")
                                          : r.storeRoot + L" (VEMM_STORE_ROOT)"));
    out.Line(L"Active options:   " + MaskHex(r.mask) +
             (r.maskRead ? L" (OPTIONS\\Active, ActiveOpt)" : L" (not read from the store)"));
    out.Line(L"Install library:  " +
             (r.installLibrary.empty() ? std::wstring(L"(none)") : r.installLibrary) +
             (r.installLoaded ? L" (loaded)" : L" (NOT LOADED)"));
    if (r.listSource == ListSource::kNone) {
        out.Line(L"Component list:   (no path)");
    } else {
        out.Line(L"Component list:   " + r.listPath + (r.listLoaded ? L"" : L" (NOT READ)"));
        out.Line(r.listSource == ListSource::kWorkPath
                     ? L"                  the install library's work path for "
                       L"\"Options\"/\"QXActive.config\""
                     : L"                  fallback: the install folder of \"Options\" (no work "
                       L"path was given)");
    }
    if (r.listLoaded) out.Line(L"Active:           " + r.activeList);
    out.Line();

    if (!r.findings.empty()) {
        out.Line(L"Suite:");
        for (const Finding& f : r.findings) WriteFinding(out, f, L"    ");
        out.Line();
    }
    for (const Component& c : r.components) WriteComponent(out, c);

    if (!r.otherMessages.empty()) {
        out.Line(L"Other messages from the loader's readers:");
        for (const std::string& m : r.otherMessages) out.Line(L"    " + Q(peltools::FromAnsi(m)));
        out.Line();
    }

    int ready = 0, disabled = 0, broken = 0;
    std::wstring workers;
    for (const Component& c : r.components) {
        ready += c.verdict == Verdict::kReady;
        disabled += c.verdict == Verdict::kDisabled;
        broken += c.verdict == Verdict::kProblems;
        if (c.worker) workers += (workers.empty() ? L"" : L", ") + c.name;
    }
    out.Line(L"Summary: " + std::to_wstring(r.components.size()) + L" component(s) listed: " +
             std::to_wstring(ready) + L" ready, " + std::to_wstring(disabled) +
             L" disabled by the mask (sound), " + std::to_wstring(broken) + L" with problems; " +
             std::to_wstring(r.ProblemCount()) + L" problem(s) in all.");
    out.Line(L"Workers InitSet would start: " +
             (workers.empty() ? std::wstring(L"none") : workers) + L".");
    out.Line(L"InitSet would report the configured state " + std::to_wstring(r.projectState) +
             L".");
    out.Line(r.ExitStatus() == 0
                 ? L"Result: every listed component would start cleanly (exit status 0)."
                 : L"Result: problems found (exit status 1).");
    return out.Text();
}

std::string FormatJson(const Report& r) {
    Json j;
    j["tool"] = "pelcheck";
    j["exit_status"] = r.ExitStatus();
    j["problems"] = r.ProblemCount();
    j["store"] = {{"root", TextOrNull(r.storeRoot)},
                  {"available", r.storeAvailable},
                  {"mask", r.mask},
                  {"mask_hex", Text(MaskHex(r.mask))},
                  {"mask_read", r.maskRead}};
    j["install_library"] = {{"path", Text(r.installLibrary)}, {"loaded", r.installLoaded}};
    j["component_list"] = {{"path", Text(r.listPath)},
                           {"source", ListSourceName(r.listSource)},
                           {"loaded", r.listLoaded},
                           {"active", Text(r.activeList)}};
    Json workers = Json::array();
    for (const Component& c : r.components) {
        if (c.worker) workers.push_back(Text(c.name));
    }
    j["init_set"] = {{"read_component_list", r.readQXActive},
                     {"read_menus", r.readMenuIni},
                     {"refreshed", r.refreshed},
                     {"configured_state", r.projectState},
                     {"workers", std::move(workers)}};
    j["findings"] = JsonFindings(r.findings);
    Json components = Json::array();
    for (const Component& c : r.components) components.push_back(JsonComponent(c));
    j["components"] = std::move(components);
    Json others = Json::array();
    for (const std::string& m : r.otherMessages) others.push_back(Ansi(m));
    j["other_messages"] = std::move(others);
    // One line, no blanks, non-ASCII characters as they are: the form of earlier releases.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace pelcheck
