#include "output.h"

#include <cwchar>

#include "json_writer.h"
#include "text_utf.h"

namespace pelcheck {
namespace {

const wchar_t* OutcomeName(CandidateOutcome outcome) {
    switch (outcome) {
        case CandidateOutcome::kTaken:
            return L"taken";
        case CandidateOutcome::kEmpty:
            return L"empty";
        case CandidateOutcome::kAbsent:
            return L"absent";
        case CandidateOutcome::kNotPel:
            return L"not_pel";
        case CandidateOutcome::kSame:
            return L"same";
        case CandidateOutcome::kTooLong:
            return L"too_long";
        case CandidateOutcome::kNotTried:
            return L"not_tried";
    }
    return L"";
}

const wchar_t* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::kReady:
            return L"ready";
        case Verdict::kDisabled:
            return L"disabled";
        case Verdict::kProblems:
            return L"problems";
    }
    return L"";
}

const wchar_t* SourceName(TextSource source) {
    switch (source) {
        case TextSource::kNone:
            return L"none";
        case TextSource::kReader:
            return L"reader";
        case TextSource::kWorker:
            return L"worker";
    }
    return L"";
}

const wchar_t* ListSourceName(ListSource source) {
    switch (source) {
        case ListSource::kNone:
            return L"none";
        case ListSource::kWorkPath:
            return L"work_path";
        case ListSource::kInstallPath:
            return L"install_path";
    }
    return L"";
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

void JsonFinding(JsonWriter& j, const Finding& f) {
    j.Object();
    j.Key("severity").String(f.severity == Severity::kProblem ? L"problem" : L"note");
    j.Key("message").String(f.what);
    j.Key("change").String(f.change);
    j.Key("loader_text").AnsiOrNull(f.loaderText);
    j.Key("loader_text_source").String(f.loaderText.empty() ? L"none" : SourceName(f.source));
    j.EndObject();
}

void JsonFindings(JsonWriter& j, const std::vector<Finding>& findings) {
    j.Array();
    for (const Finding& f : findings) JsonFinding(j, f);
    j.EndArray();
}

void JsonImage(JsonWriter& j, const ModuleImage& image) {
    j.Key("exists").Bool(image.exists);
    j.Key("loadable").Bool(image.mapped);
    j.Key("machine").String(image.machine ? MachineName(image.machine) : L"");
    j.Key("exported_ordinals").Array();
    for (WORD ordinal : image.ordinals) j.Number(ordinal);
    j.EndArray();
}

void JsonComponent(JsonWriter& j, const Component& c) {
    j.Object();
    j.Key("position").Number(c.position);
    j.Key("name").String(c.name);
    j.Key("verdict").String(VerdictName(c.verdict));
    j.Key("problems").Number(c.ProblemCount());
    j.Key("section_found").Bool(c.sectionFound);
    j.Key("loader")
        .Object()
        .Key("text")
        .String(c.loaderText)
        .Key("value")
        .Number(c.loader)
        .EndObject();
    j.Key("id").Object().Key("text").String(c.idText).Key("value").Number(c.id).EndObject();
    j.Key("mask_bit").Number(static_cast<unsigned>(c.id) & 31u);
    j.Key("compose").Object();
    j.Key("text").String(c.composeText);
    j.Key("alternatives").Array();
    for (const Alternative& a : c.alternatives)
        j.Object().Key("name").String(a.name).Key("installed").Bool(a.installed).EndObject();
    j.EndArray();
    j.Key("chosen").String(c.chosen);
    j.Key("installed").Bool(c.installed);
    j.EndObject();
    j.Key("record");
    if (c.record >= 0)
        j.Number(c.record);
    else
        j.Null();

    j.Key("menu");
    if (!c.menuRead) {
        j.Null();
    } else {
        j.Object();
        j.Key("file").String(c.menu.file);
        j.Key("path").String(c.menu.path);
        j.Key("loaded").Bool(c.menu.loaded);
        j.Key("menu_list").String(c.menu.menuList);
        j.Key("candidates").Array();
        for (const Candidate& k : c.menu.candidates) {
            j.Object();
            j.Key("name").String(k.name);
            j.Key("outcome").String(OutcomeName(k.outcome));
            j.Key("detail").String(k.detail);
            j.Key("loader_text").AnsiOrNull(k.loaderText);
            j.EndObject();
        }
        j.EndArray();
        j.Key("section").StringOrNull(c.menu.section);
        j.EndObject();
    }

    j.Key("invoker");
    if (c.menu.section.empty()) {
        j.Null();
    } else {
        j.Object();
        j.Key("text").String(c.menu.invoker);
        j.Key("kind").Number(c.kind);
        j.Key("dll_name").String(c.dllName);
        j.Key("ordinal").Number(c.ordinal);
        j.Key("clsid_text").String(c.menu.clsidText);
        j.EndObject();
    }

    j.Key("dll");
    if (!c.hasDll) {
        j.Null();
    } else {
        j.Object();
        j.Key("path").String(c.dll.path);
        JsonImage(j, c.dll.image);
        j.Key("exports").Object();
        for (WORD ordinal : kEntryOrdinals)
            j.Key(std::to_string(ordinal).c_str()).Bool(c.dll.image.Exports(ordinal));
        j.EndObject();
        j.Key("menu_ordinal").Number(c.ordinal);
        j.Key("menu_exported").Bool(c.dll.image.Exports(static_cast<WORD>(c.ordinal & 0xFFFF)));
        j.EndObject();
    }

    j.Key("com");
    if (!c.hasCom) {
        j.Null();
    } else {
        j.Object();
        j.Key("clsid").String(c.com.clsid);
        j.Key("registered").Bool(c.com.registered);
        j.Key("server").String(c.com.server);
        j.Key("server_path").String(c.com.serverPath);
        j.Key("server_exists").Bool(c.com.serverExists);
        j.Key("threading_model");
        if (c.com.hasModel)
            j.String(c.com.model);
        else
            j.Null();
        j.EndObject();
    }

    j.Key("state").Object();
    j.Key("bit_set").Bool(c.bitSet);
    j.Key("enabled").Bool(c.enabled);
    j.Key("worker").Bool(c.worker);
    j.EndObject();
    j.Key("findings");
    JsonFindings(j, c.findings);
    j.EndObject();
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
    JsonWriter j;
    j.Object();
    j.Key("tool").String(L"pelcheck");
    j.Key("exit_status").Number(r.ExitStatus());
    j.Key("problems").Number(r.ProblemCount());
    j.Key("store").Object();
    j.Key("root").StringOrNull(r.storeRoot);
    j.Key("available").Bool(r.storeAvailable);
    j.Key("mask").Number(r.mask);
    j.Key("mask_hex").String(MaskHex(r.mask));
    j.Key("mask_read").Bool(r.maskRead);
    j.EndObject();
    j.Key("install_library").Object();
    j.Key("path").String(r.installLibrary);
    j.Key("loaded").Bool(r.installLoaded);
    j.EndObject();
    j.Key("component_list").Object();
    j.Key("path").String(r.listPath);
    j.Key("source").String(ListSourceName(r.listSource));
    j.Key("loaded").Bool(r.listLoaded);
    j.Key("active").String(r.activeList);
    j.EndObject();
    j.Key("init_set").Object();
    j.Key("read_component_list").Number(r.readQXActive);
    j.Key("read_menus").Number(r.readMenuIni);
    j.Key("refreshed").Bool(r.refreshed);
    j.Key("configured_state").Number(r.projectState);
    j.Key("workers").Array();
    for (const Component& c : r.components) {
        if (c.worker) j.String(c.name);
    }
    j.EndArray();
    j.EndObject();
    j.Key("findings");
    JsonFindings(j, r.findings);
    j.Key("components").Array();
    for (const Component& c : r.components) JsonComponent(j, c);
    j.EndArray();
    j.Key("other_messages").Array();
    for (const std::string& m : r.otherMessages) j.Ansi(m);
    j.EndArray();
    j.EndObject();
    return j.Text() + "\n";
}

}  // namespace pelcheck
