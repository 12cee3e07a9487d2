#include "worker/work_part.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "core/diagnostics.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "worker/worker_slot.h"

namespace {

enum EventIndex { kEnable = 0, kDisable = 1, kExit = 2, kSetupChange = 3 };

// The worker's membership in the multithreaded apartment.
class CComApartment {
public:
    CComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComApartment() { CoUninitialize(); }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
};

void RunWorker(PluginItem* pItemPlug, pel::WorkerSlot* slot) {
    CComApartment apartment;
    CWorkPart part(slot);
    const BOOL loaded = part.Init(pItemPlug);
    delete pItemPlug;
    if (loaded) part.WorkLoop();
}

}  // namespace

unsigned __stdcall WorkThreadMain(void* arg) {
    auto* pItemPlug = static_cast<PluginItem*>(arg);
    pel::WorkerSlot* slot = pItemPlug->pWorker;
    const HMODULE loader = slot->hLoaderModule;
    RunWorker(pItemPlug, slot);
    // The plug-in is closed and unloaded: a later load of its component may start.
    slot->finished = true;
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

bool CWorkPart::LetGo() const { return m_pSlot->letGo.load(); }

template <class Change>
bool CWorkPart::ChangeOwnRecord(Change&& change) {
    // A worker let go may outlive the table it was started from: it never looks at it again.
    if (LetGo()) return false;
    CLoaderLockGuard lock;
    if (LetGo()) return false;
    PluginItem& item = g_ArrayPlugin.At(m_pSlot->index);
    if (item.pWorker != m_pSlot) return false;
    change(item);
    return true;
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
    if (loaded) {
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
    if (!LetGo()) m_nState = MenuState();
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
    for (;;) {
        const DWORD result = WaitForMultipleObjectsEx(4, m_hEvents, FALSE, INFINITE, FALSE);
        // Commands still pending when the record lets the worker go are not served: the exit
        // event is set in the same step.
        const bool exit =
            result == WAIT_OBJECT_0 + kExit || (result < WAIT_OBJECT_0 + 4 && LetGo());
        if (exit) {
            CloseEvents();
            m_bExit = TRUE;
            ClosePlugin();
            return 1;
        }
        switch (result) {
            case WAIT_OBJECT_0 + kEnable:
            case WAIT_OBJECT_0 + kDisable:
                ServeCommands(static_cast<int>(result - WAIT_OBJECT_0));
                break;
            case WAIT_OBJECT_0 + kSetupChange:
                ResetEvent(m_hEvents[kSetupChange]);
                m_bSetupChange = TRUE;
                break;
            default:
                // The events are this worker's own until it hands them back, so a failing
                // wait means they are unusable: give the record up rather than spin on them.
                ChangeOwnRecord([](PluginItem& item) { pel::ForgetWorkerHandles(item); });
                CloseEvents();
                ClosePlugin();
                return 1;
        }
        if (m_bSetupChange) {
            m_bSetupChange = FALSE;
            SetupChange();
        }
    }
}

BOOL CWorkPart::HandleLoadSuccess(PluginItem* pItemPlug) {
    if (!pItemPlug) {
        pel::Trace("CWorkPart::HandleLoadSuccess pItemPlug == NULL");
        return FALSE;
    }
    const bool published = ChangeOwnRecord([this](PluginItem& item) {
        if (item.nInvokerType == 2)
            item.hModule = m_hModule;
        else if (item.nInvokerType == 1)
            item.pComInterface = m_pComInterface;
    });
    if (published) pel::TraceF("CWorkPart::HandleLoadSuccess MenuTag %S", m_szMenuTag);
    return TRUE;
}

BOOL CWorkPart::HandleLoadFail(PluginItem* /*pItemPlug*/) {
    // Still the record's events: close them and clear the record under the lock, so that no
    // pass sets a closed handle. A worker let go owns them alone and closes them on its way out.
    ChangeOwnRecord([this](PluginItem& item) {
        CloseEvents();
        pel::ForgetEvents(item);
    });
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
    if (m_bDll)
        DllExit();
    else
        ComExit();
}
