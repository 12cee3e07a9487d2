// InitSet's working object: reads the component list and the menu documents into the plug-in
// table; Exit's shutdown pass is its last operation.
#pragma once

#include <windows.h>

#include <string>

class CPluginArray;
class IniDocument;

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
};

// The "compose" alternative to use: the first installed one before the last ",", else the
// last one (or the first non-empty one when the value ends with ",").
std::wstring GetInstalledCompose(const wchar_t* value);
