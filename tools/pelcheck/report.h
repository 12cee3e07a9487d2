// What the check found: the suite as the loader's readers see it, and every problem with what
// to change. Filled by Check(), written by the text and JSON writers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "module_exports.h"

namespace pelcheck {

enum class Severity { kNote, kProblem };

// Where a finding's loader text comes from.
enum class TextSource {
    kNone,    // the loader says nothing about it
    kReader,  // sent by the readers during this check (captured)
    kWorker,  // what the plug-in's worker or the shutdown pass would send at run time
};

struct Finding {
    Severity severity = Severity::kProblem;
    std::wstring what;    // the problem in plain words
    std::wstring change;  // what to change
    TextSource source = TextSource::kNone;
    std::string loaderText;  // the loader's text, as it sends it (ANSI)
    std::string expected;    // the reader text to look for among the captured ones
};

struct Alternative {
    std::wstring name;
    bool installed = false;
};

enum class CandidateOutcome { kTaken, kEmpty, kAbsent, kNotPel, kSame, kTooLong, kNotTried };

struct Candidate {
    std::wstring name;
    CandidateOutcome outcome = CandidateOutcome::kNotTried;
    std::wstring detail;     // why, in plain words
    std::string loaderText;  // the reader's text for it, when it sent one
    std::string expected;
};

struct MenuInfo {
    std::wstring file;  // <compose>.ini
    std::wstring path;  // from the install library, empty when it gave none
    bool loaded = false;
    std::wstring menuList;
    std::vector<Candidate> candidates;
    std::wstring section;    // the section taken, empty when none
    std::wstring invoker;    // its "invoker" text
    std::wstring clsidText;  // its "clsid" text
};

struct DllInfo {
    std::wstring path;  // GetWorkPathFile(chCompose, tchDllName)
    ModuleImage image;
};

struct ComInfo {
    std::wstring clsid;       // the record's class, braced
    bool registered = false;  // class key with an in-process server
    std::wstring server;      // InprocServer32 default value
    std::wstring serverPath;  // where that leads
    bool hasModel = false;
    std::wstring model;
    bool serverExists = false;
    ModuleImage image;
};

enum class Verdict { kReady, kDisabled, kProblems };

struct Component {
    int position = 0;   // 1-based place in the "Active" list
    std::wstring name;  // the listed section name
    bool sectionFound = false;
    std::wstring loaderText;  // "loader" as written
    int loader = 0;
    std::wstring idText;  // "id" as written
    int id = 0;
    std::wstring composeText;  // "compose" as written
    std::vector<Alternative> alternatives;
    std::wstring chosen;
    bool installed = false;
    int record = -1;  // index in the loader's table, -1 when not entered

    bool menuRead = false;  // the loader reads a menu document for it
    MenuInfo menu;
    int kind = 0;  // nInvokerType
    std::wstring dllName;
    UINT ordinal = 0;
    bool hasDll = false;
    DllInfo dll;
    bool hasCom = false;
    ComInfo com;

    bool bitSet = false;   // bit (id mod 32) of the active-option mask
    bool enabled = false;  // bEnable after the refresh
    bool worker = false;   // StartWorkers would give it a worker that loads a plug-in

    std::vector<Finding> findings;
    Verdict verdict = Verdict::kProblems;
    int ProblemCount() const;
};

enum class ListSource { kNone, kWorkPath, kInstallPath };

struct Report {
    std::wstring storeRoot;  // VEMM_STORE_ROOT, empty for the store's default
    bool storeAvailable = false;
    bool maskRead = false;
    DWORD mask = 0;
    std::wstring installLibrary;
    bool installLoaded = false;

    ListSource listSource = ListSource::kNone;
    std::wstring listPath;
    bool listLoaded = false;
    std::wstring activeList;
    int readQXActive = 0;
    int readMenuIni = 0;
    bool refreshed = false;
    int projectState = 0;  // what InitSet would return

    std::vector<Finding> findings;  // about the suite as a whole
    std::vector<Component> components;
    std::vector<std::string> otherMessages;  // captured texts no finding accounts for

    int ProblemCount() const;
    int ExitStatus() const { return ProblemCount() > 0 ? 1 : 0; }
};

// Runs the loader's readers in this process and explains what InitSet would do.
Report Check();

}  // namespace pelcheck
