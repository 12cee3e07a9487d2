// InitSet's working object: reads the component list and the menu documents into the plug-in
// table; Exit's shutdown pass is its last operation.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

class CPluginArray;
class IniDocument;

// The component and menu tag of the records before the one whose menu document is read, so that
// the menu pass finds a section that an earlier record of the same component took without
// comparing every pair. What is hashed is the sort key of each text under the comparison
// lstrcmpiW makes, so texts it finds equal hash alike; a hash match is confirmed with lstrcmpiW.
class CTakenMenuSections {
public:
    void Clear();
    // Whether one of the first `before` records of `table` has this component and menu tag.
    bool Taken(const CPluginArray& table, int before, const wchar_t* compose, const wchar_t* tag);

private:
    static std::uint64_t Key(const wchar_t* compose, const wchar_t* tag);

    std::unordered_multimap<std::uint64_t, int> m_records;
    int m_nIndexed = 0;
};

class CPelInit {
public:
    // Reads into `arrayPlugin`: the loader's own table, or one that InitSet installs when it is
    // complete.
    CPelInit();
    explicit CPelInit(CPluginArray& arrayPlugin) : m_arrayPlugin(arrayPlugin) {}
    ~CPelInit();
    CPelInit(const CPelInit&) = delete;
    CPelInit& operator=(const CPelInit&) = delete;

    // Component list (QXActive.config): one record per listed, installed component.
    int ReadQXActive();
    int FillPluginItem(const wchar_t* tchSecName);

    // Menu documents: how each record's plug-in is loaded.
    int ReadMenuIni();
    int GetModuleMenuInfo(const wchar_t* path);
    int FillPluginMenuInfo(const wchar_t* tchSecName);
    void ParseInvoker(const wchar_t* invoker);

    // Shutdown pass of Exit (and of InitSet, before it reads): on the loader's own table.
    int ExitClear();

    CPluginArray& m_arrayPlugin;
    IniDocument* m_pObjQXAC = nullptr;
    DWORD m_dwActiveMask = 0;  // read once per component list, for each record it fills
    IniDocument* m_pObjMenu = nullptr;
    int m_nCurIndex = 0;
    CTakenMenuSections m_takenSections;
};

// The "compose" alternative to use: the first installed one before the last ",", else the
// last one (or the first non-empty one when the value ends with ",").
std::wstring GetInstalledCompose(const wchar_t* value);
