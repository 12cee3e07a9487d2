// The worker thread of one plug-in: loads it, then turns the record's four events into calls
// of the plug-in's menu handler, state query, settings change and close operation.
#pragma once

#include <windows.h>

struct IPluginObject;
struct PluginItem;

namespace pel {
struct WorkerSlot;
}

// Thread routine; the argument is the heap copy of the record, which the worker owns.
unsigned __stdcall WorkThreadMain(void* pItemPlug);

class CWorkPart {
public:
    explicit CWorkPart(pel::WorkerSlot* slot);
    ~CWorkPart();
    CWorkPart(const CWorkPart&) = delete;
    CWorkPart& operator=(const CWorkPart&) = delete;

    BOOL Init(PluginItem* pItemPlug);
    int WorkLoop();
    BOOL HandleLoadSuccess(PluginItem* pItemPlug);
    BOOL HandleLoadFail(PluginItem* pItemPlug);

    // DLL plug-ins.
    BOOL LoadDll(PluginItem* pItemPlug);
    BOOL DllMenuHandle(int state);
    int DllMenuState();
    BOOL DllSetupChange();
    BOOL DllExit();

    // COM plug-ins.
    BOOL LoadCom(PluginItem* pItemPlug);
    BOOL ComMenuHandle(int state);
    int ComMenuState();
    void ComSetupChange();
    BOOL ComExit();

    wchar_t m_szMenuTag[32];
    int m_nState;
    BOOL m_bExit;
    BOOL m_bDll;
    UINT m_uOrdinal;
    BOOL m_bSetupChange;
    HMODULE m_hModule;
    IPluginObject* m_pComInterface;
    HANDLE m_hEvents[4];

private:
    bool ModuleAbsent() const;
    // The record has let this worker go: no call into the plug-in but the close.
    bool LetGo() const;
    void ServeState(int state);
    void ServeCommands(int served);
    void MenuHandle(int state);
    int MenuState();
    void SetupChange();
    void ClosePlugin();
    void CloseEvents();
    // Runs `change` on this worker's own record under g_csLoader, unless the record has let the
    // worker go; false when it did not run.
    template <class Change>
    bool ChangeOwnRecord(Change&& change);

    pel::WorkerSlot* m_pSlot;
};
