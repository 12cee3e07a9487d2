#include "loader/state_passes.h"

#include <process.h>

#include <cstring>
#include <initializer_list>
#include <new>
#include <vector>

#include "core/diagnostics.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "loader/ending_workers.h"
#include "platform/active_mask.h"
#include "worker/work_part.h"
#include "worker/worker_slot.h"

namespace {

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

void CloseRecordEvents(PluginItem& item) {
    for (HANDLE event :
         {item.hEventEnable, item.hEventDisable, item.hEventExit, item.hEventSetupChange}) {
        if (event) CloseHandle(event);
    }
    pel::ForgetEvents(item);
}

bool Startable(const PluginItem& item) {
    return item.nLoader == 1 && item.bEnable != 0 && item.bThreadStarted == 0;
}

// Under g_csLoader: how many records the next start may start.
size_t CountStartable() {
    if (!pel::g_bRunning) return 0;
    size_t n = 0;
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i)
        if (Startable(g_ArrayPlugin.At(i))) ++n;
    return n;
}

// A reference on the module that holds the workers' code, for one worker: it lets the host
// unload the loader while the worker finishes. Null when it cannot be had.
HMODULE LoaderReference() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&WorkThreadMain), &module))
        return nullptr;
    return module;
}

// Under g_csLoader: gives the record its events, its slot (holding `loaderRef`) and the heap
// copy its worker will own, and returns the copy. Null when memory fails: the record is then
// treated like a plug-in that failed to load, and `loaderRef` stays the caller's.
PluginItem* PrepareWorker(PluginItem& item, int index, HMODULE loaderRef) {
    item.bThreadStarted = 1;
    item.hEventEnable = NewEvent();
    item.hEventDisable = NewEvent();
    item.hEventExit = NewEvent();
    item.hEventSetupChange = NewEvent();
    auto* slot = new (std::nothrow) pel::WorkerSlot;
    auto* copy = new (std::nothrow) PluginItem;
    if (!slot || !copy) {
        delete copy;
        delete slot;
        CloseRecordEvents(item);
        return nullptr;
    }
    slot->desired = item.bEnable != 0 ? 1 : 0;
    slot->index = index;
    slot->hLoaderModule = loaderRef;
    pel::CopyText(slot->chCompose, item.chCompose);
    pel::CopyText(slot->menuTag, item.MenuTag);
    item.pWorker = slot;
    std::memcpy(copy, &item, sizeof(PluginItem));
    return copy;
}

// Under g_csLoader: creates the worker's thread, suspended, and hands it the copy. When there
// is no thread, undoes PrepareWorker and returns the module reference for the caller to drop.
HMODULE CreateWorkerThread(PluginItem& item, PluginItem* copy) {
    const uintptr_t thread =
        _beginthreadex(nullptr, 0, WorkThreadMain, copy, CREATE_SUSPENDED, nullptr);
    if (thread != 0) {
        item.hThread = reinterpret_cast<HANDLE>(thread);
        return nullptr;
    }
    const HMODULE loaderRef = item.pWorker->hLoaderModule;
    delete copy;
    delete item.pWorker;
    item.pWorker = nullptr;
    CloseRecordEvents(item);
    return loaderRef;
}

// Adds the time since the last lap to a phase, when the caller asked for the phases.
class PhaseClock {
public:
    explicit PhaseClock(pel::StartPhases* phases) : m_phases(phases), m_last(Now()) {}
    void Lap(double pel::StartPhases::*phase) {
        if (!m_phases) return;
        const double now = Now();
        m_phases->*phase += now - m_last;
        m_last = now;
    }

private:
    double Now() const {
        if (!m_phases) return 0;
        LARGE_INTEGER count, frequency;
        QueryPerformanceCounter(&count);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

    pel::StartPhases* m_phases;
    double m_last;
};

// Under g_csLoader.
void SignalTable(int code) {
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        if (item.nLoader != 1) continue;
        if (code == pel::kSetupChangeCode && item.hEventSetupChange)
            SetEvent(item.hEventSetupChange);
        pel::SignalEnableState(item);
    }
}

}  // namespace

int RefreshPluginState() {
    pel::Refresh();
    return 1;
}

int SignalPlugins(int code) {
    CLoaderLockGuard lock;
    if (pel::g_bRunning) SignalTable(code);
    return 1;
}

int StartWorkers() { return pel::StartWorkers(nullptr); }

namespace pel {

int StartWorkers(StartPhases* phases) {
    PhaseClock clock(phases);
    size_t wanted = 0;
    {
        CLoaderLockGuard lock;
        wanted = CountStartable();
    }
    if (wanted == 0) return 1;

    // Taking a module reference waits for the process's loader lock, which any worker loading
    // its plug-in holds: all are taken here, before the loader lock and before any of the new
    // threads exists. Those not used are dropped at the end.
    std::vector<HMODULE> refs;
    refs.reserve(wanted);
    for (size_t i = 0; i < wanted; ++i) refs.push_back(LoaderReference());
    clock.Lap(&StartPhases::references);

    struct NewWorker {
        int index;
        PluginItem* copy;
        size_t ref;
    };
    std::vector<NewWorker> created;
    created.reserve(wanted);
    struct PutOff {
        wchar_t menuTag[32];
    };
    std::vector<PutOff> putOff;
    putOff.reserve(wanted);
    {
        CLoaderLockGuard lock;
        ForgetEnded();
        const int count = g_bRunning ? g_ArrayPlugin.Count() : 0;
        for (int i = 0; i < count && created.size() < wanted; ++i) {
            PluginItem& item = g_ArrayPlugin.At(i);
            if (!Startable(item)) continue;
            bool firstTime = false;
            if (StillEnding(item, &firstTime)) {
                if (firstTime && putOff.size() < wanted) {
                    putOff.push_back({});
                    CopyText(putOff.back().menuTag, item.MenuTag);
                }
                continue;
            }
            const size_t ref = created.size();
            if (PluginItem* copy = PrepareWorker(item, i, refs[ref])) {
                created.push_back({i, copy, ref});
                refs[ref] = nullptr;
            }
        }
        clock.Lap(&StartPhases::events);
        // The threads are created suspended and start together once all exist: creating one
        // does not queue behind the plug-in loads of the others.
        for (const NewWorker& worker : created)
            refs[worker.ref] = CreateWorkerThread(g_ArrayPlugin.At(worker.index), worker.copy);
        for (const NewWorker& worker : created) {
            const PluginItem& item = g_ArrayPlugin.At(worker.index);
            if (item.pWorker) ResumeThread(item.hThread);
        }
        clock.Lap(&StartPhases::threads);
    }
    for (HMODULE ref : refs)
        if (ref) FreeLibrary(ref);
    for (const PutOff& record : putOff) {
        TraceF(
            "CPelInit::StartWorkers MenuTag %S is still closing its earlier load, "
            "started at a later pass",
            record.menuTag);
    }
    return 1;
}

RefreshResult Refresh() {
    // One reading for the whole pass, taken before the lock: every record sees the same mask,
    // and no store call holds up the workers.
    const DWORD mask = ActiveOptionMask();
    CLoaderLockGuard lock;
    const int state = ApplyActiveMask(g_ArrayPlugin, mask);
    g_nState = state;
    return {state, g_nGeneration, g_bRunning};
}

void SignalGeneration(int code, unsigned generation) {
    CLoaderLockGuard lock;
    if (g_bRunning && g_nGeneration == generation) SignalTable(code);
}

void SignalEnableState(PluginItem& item) {
    // The worker reads the desired state when both events are pending, so that the last
    // command is served last.
    if (item.pWorker) item.pWorker->desired = item.bEnable != 0 ? 1 : 0;
    if (item.bEnable != 0) {
        if (item.hEventEnable) SetEvent(item.hEventEnable);
    } else {
        if (item.hEventDisable) SetEvent(item.hEventDisable);
    }
}

}  // namespace pel
