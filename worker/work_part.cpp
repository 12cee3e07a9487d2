#include "worker/work_part.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "loader/diagnostics.h"
#include "loader/loader_state.h"
#include "loader/plugin_table.h"
#include "loader/text.h"
#include "worker/worker_slot.h"

namespace {

enum EventIndex { kEnable = 0, kDisable = 1, kExit = 2, kSetupChange = 3 };

// The worker's membership in the multithreaded apartment.
class CComApartment {
public:
    CComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComApartment() {
        if (m_bLeave) CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    // Stay in the apartment: an object that could not be released still lives in it.
    void Stay() { m_bLeave = false; }

private:
    bool m_bLeave = true;
};

void RunWorker(PluginItem* pItemPlug, pel::WorkerSlot* slot) {
    CComApartment apartment;
    CWorkPart part(slot);
    const BOOL loaded = part.Init(pItemPlug);
    delete pItemPlug;
    if (loaded) part.WorkLoop();
    if (part.Abandoned() && part.HoldsComObject()) apartment.Stay();
}

}  // namespace

unsigned __stdcall WorkThreadMain(void* arg) {
    auto* pItemPlug = static_cast<PluginItem*>(arg);
    pel::WorkerSlot* slot = pItemPlug->pWorker;
    const HMODULE loader = slot->hLoaderModule;
    RunWorker(pItemPlug, slot);
    slot->Release();
    // Leave without returning into the module whose reference this thread drops.
    if (loader && loader != GetModuleHandleW(nullptr)) FreeLibraryAndExitThread(loader, 0);
    return 0;
}

CWorkPart::CWorkPart(pel::WorkerSlot* slot)
    : m_szMenuTag{},
      m_nState(0),
      m_bExit(FALSE),
      m_bDll(TRUE),
      m_uOrdinal(0),
      m_bSetupChange(FALSE),
      m_hModule(nullptr),
      m_pComInterface(nullptr),
      m_hEvents{},
      m_pSlot(slot) {}

CWorkPart::~CWorkPart() { CloseEvents(); }

bool CWorkPart::BeginPluginCall() {
    if (m_bAbandoned || !m_pSlot->BeginCall()) {
        m_bAbandoned = true;
        return false;
    }
    return true;
}

void CWorkPart::EndPluginCall() {
    if (!m_pSlot->EndCall()) m_bAbandoned = true;
}

BOOL CWorkPart::Init(PluginItem* pItemPlug) {
    pel::CopyText(m_szMenuTag, pItemPlug->MenuTag);
    m_nState = pItemPlug->bEnable;
    m_hEvents[kEnable] = pItemPlug->hEventEnable;
    m_hEvents[kDisable] = pItemPlug->hEventDisable;
    m_hEvents[kExit] = pItemPlug->hEventExit;
    m_hEvents[kSetupChange] = pItemPlug->hEventSetupChange;
    switch (pItemPlug->nInvokerType) {
        case 1:
            m_bDll = FALSE;
            break;
        case 2:
            m_bDll = TRUE;
            m_uOrdinal = pItemPlug->m_uOrdinal;
            break;
        default:
            pel::TraceF("CWorkPart::Init plugin is not a DLL or com, MenuTag %S", m_szMenuTag);
            m_bDll = FALSE;
            HandleLoadFail(pItemPlug);
            return FALSE;
    }
    const BOOL loaded = m_bDll ? LoadDll(pItemPlug) : LoadCom(pItemPlug);
    if (loaded && !m_bAbandoned) {
        HandleLoadSuccess(pItemPlug);
        return TRUE;
    }
    ClosePlugin();
    HandleLoadFail(pItemPlug);
    return FALSE;
}

void CWorkPart::ServeState(int state) {
    m_nState = state;
    MenuHandle(m_nState);
    m_nState = MenuState();
}

// Serves an enable or disable wake-up so that the plug-in ends in the state of the last command
// issued, which the loader core records in the slot before it sets the event. A command that
// matches it is served; an older, opposite one is served only while the newer one is still
// pending (so "on, then off" gives 1 then 0); one that a newer command has already overtaken
// and that was served is dropped.
void CWorkPart::ServeCommands(int served) {
    ResetEvent(m_hEvents[served]);
    const int state = served == kEnable ? 1 : 0;
    const int last = m_pSlot->desired != 0 ? 1 : 0;
    if (state != last) {
        const int other = served == kEnable ? kDisable : kEnable;
        if (WaitForSingleObject(m_hEvents[other], 0) != WAIT_OBJECT_0) return;
    }
    ServeState(state);
}

int CWorkPart::WorkLoop() {
    while (!m_bAbandoned) {
        const DWORD result = WaitForMultipleObjectsEx(4, m_hEvents, FALSE, INFINITE, FALSE);
        switch (result) {
            case WAIT_OBJECT_0 + kEnable:
            case WAIT_OBJECT_0 + kDisable:
                ServeCommands(static_cast<int>(result - WAIT_OBJECT_0));
                break;
            case WAIT_OBJECT_0 + kExit:
                CloseEvents();
                m_bExit = TRUE;
                ClosePlugin();
                return 1;
            case WAIT_OBJECT_0 + kSetupChange:
                ResetEvent(m_hEvents[kSetupChange]);
                m_bSetupChange = TRUE;
                break;
            default: {
                // The events are this worker's own until it hands them back, so a failing
                // wait means they are unusable: give the record up rather than spin on them.
                {
                    CLoaderLockGuard lock;
                    if (PluginItem* item = OwnRecord()) pel::ForgetWorkerHandles(*item);
                }
                CloseEvents();
                ClosePlugin();
                return 1;
            }
        }
        if (m_bSetupChange) {
            m_bSetupChange = FALSE;
            SetupChange();
        }
    }
    return 1;
}

PluginItem* CWorkPart::OwnRecord() {
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        if (item.pWorker == m_pSlot) return &item;
    }
    return nullptr;
}

BOOL CWorkPart::HandleLoadSuccess(PluginItem* pItemPlug) {
    if (!pItemPlug) {
        pel::Trace("CWorkPart::HandleLoadSuccess pItemPlug == NULL");
        return FALSE;
    }
    CLoaderLockGuard lock;
    PluginItem* item = OwnRecord();
    if (!item) return TRUE;
    if (item->nInvokerType == 2)
        item->hModule = m_hModule;
    else if (item->nInvokerType == 1)
        item->pComInterface = m_pComInterface;
    pel::TraceF("CWorkPart::HandleLoadSuccess MenuTag %S", m_szMenuTag);
    return TRUE;
}

BOOL CWorkPart::HandleLoadFail(PluginItem* /*pItemPlug*/) {
    CLoaderLockGuard lock;
    if (PluginItem* item = OwnRecord()) {
        // Still the record's events: close them and clear the record under the lock, so that no
        // pass sets a closed handle.
        CloseEvents();
        pel::ForgetEvents(*item);
    }
    return TRUE;
}

void CWorkPart::CloseEvents() {
    for (HANDLE& event : m_hEvents) {
        if (event) CloseHandle(event);
        event = nullptr;
    }
}

void CWorkPart::MenuHandle(int state) {
    if (m_bDll)
        DllMenuHandle(state);
    else
        ComMenuHandle(state);
}

int CWorkPart::MenuState() { return m_bDll ? DllMenuState() : ComMenuState(); }

void CWorkPart::SetupChange() {
    if (m_bDll)
        DllSetupChange();
    else
        ComSetupChange();
}

void CWorkPart::ClosePlugin() {
    if (m_bAbandoned) return;  // the plug-in is still busy elsewhere: never touched again
    if (m_bDll)
        DllExit();
    else
        ComExit();
}
