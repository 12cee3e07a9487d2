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

    // Shutdown gave up on this worker: it calls its plug-in no more.
    bool Abandoned() const { return m_bAbandoned; }
    bool HoldsComObject() const { return m_pComInterface != nullptr; }

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
    // Runs one call into the plug-in unless shutdown has given up on this worker; false when
    // the call was not made.
    template <class Call>
    bool CallPlugin(Call&& call) {
        if (!BeginPluginCall()) return false;
        call();
        EndPluginCall();
        return true;
    }
    bool BeginPluginCall();
    void EndPluginCall();
    void ServeState(int state);
    void ServeCommands(int served);
    void MenuHandle(int state);
    int MenuState();
    void SetupChange();
    void ClosePlugin();
    void CloseEvents();
    // Under g_csLoader: this worker's own record, or null once the table no longer holds it.
    PluginItem* OwnRecord();

    pel::WorkerSlot* m_pSlot;
    bool m_bAbandoned = false;
};
