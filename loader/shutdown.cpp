// Exit's shutdown pass, and the hand-over from one table to the next at InitSet. Each worker
// closes its own plug-in on its own thread: the table lets every worker go (its exit event is
// set), waits for them within a bound while answering messages sent to the calling thread, and
// gives up waiting for those still inside a plug-in call. Those close their plug-in once the
// call returns; until then their component is not started again.
#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "config/pel_init.h"
#include "core/diagnostics.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "core/text.h"
#include "loader/ending_workers.h"
#include "loader/host_wait.h"
#include "loader/state_passes.h"
#include "worker/worker_slot.h"

namespace {

// How long the table waits for all its workers together.
constexpr DWORD kShutdownBoundMs = 5000;

struct StoppingWorker {
    HANDLE hThread;
    wchar_t menuTag[32];
};

// What letting go of a table's workers leaves to do once the lock is released.
struct LetGoWorkers {
    std::vector<StoppingWorker> stopping;
    int unpublishedCom = 0;  // COM records whose worker had published no interface
};

// Under g_csLoader: lets go of the worker of every started record. Its exit event is set, its
// events and thread become the worker's and the caller's, and the record's reference on the
// slot keeps the worker among those still ending until it has closed its plug-in.
LetGoWorkers LetGoOfWorkers() {
    LetGoWorkers result;
    const int count = g_ArrayPlugin.Count();
    result.stopping.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        if (item.bThreadStarted == 0) continue;
        item.bThreadStarted = 0;
        if (item.nInvokerType == 1 && !item.pComInterface) ++result.unpublishedCom;
        if (pel::WorkerSlot* slot = item.pWorker) {
            slot->letGo = true;
            if (item.hEventExit) SetEvent(item.hEventExit);
            pel::KeepEnding(slot);
            StoppingWorker worker{item.hThread, {}};
            pel::CopyText(worker.menuTag, item.MenuTag);
            result.stopping.push_back(worker);
        }
        pel::ForgetWorkerHandles(item);
        item.hThread = nullptr;
        item.pWorker = nullptr;
    }
    return result;
}

// Waits until every thread has ended or `boundMs` has passed. Threads are waited for in groups
// of what one wait takes; workers mostly end together, so once one of a group has ended the
// whole group is looked at.
void WaitForThreads(std::vector<HANDLE> threads, DWORD boundMs) {
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    while (!threads.empty()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        const DWORD n =
            static_cast<DWORD>(std::min<size_t>(threads.size(), MAXIMUM_WAIT_OBJECTS - 1));
        HANDLE* group = threads.data() + threads.size() - n;
        const DWORD result = pel::WaitAnswering(n, group, static_cast<DWORD>(deadline - now));
        if (result >= WAIT_OBJECT_0 + n) return;
        if (WaitForMultipleObjects(n, group, TRUE, 0) == WAIT_OBJECT_0) {
            threads.resize(threads.size() - n);
        } else {
            group[result - WAIT_OBJECT_0] = threads.back();
            threads.pop_back();
        }
    }
}

// Outside the lock: reports, then waits for the workers let go.
void FinishLetGo(const LetGoWorkers& workers) {
    for (int i = 0; i < workers.unpublishedCom; ++i)
        pel::Trace("CPelInit::ExitClear pComInterface is NULL");
    if (workers.stopping.empty()) return;

    std::vector<HANDLE> threads;
    threads.reserve(workers.stopping.size());
    for (const StoppingWorker& worker : workers.stopping) threads.push_back(worker.hThread);
    WaitForThreads(std::move(threads), kShutdownBoundMs);
    for (const StoppingWorker& worker : workers.stopping) {
        if (WaitForSingleObject(worker.hThread, 0) != WAIT_OBJECT_0) {
            pel::TraceF(
                "CPelInit::ExitClear MenuTag %S did not end in time, closed when its "
                "call returns",
                worker.menuTag);
        }
        CloseHandle(worker.hThread);
    }
    CLoaderLockGuard lock;
    pel::ForgetEnded();
}

}  // namespace

int CPelInit::ExitClear() {
    LetGoWorkers workers;
    {
        CLoaderLockGuard lock;
        pel::g_bRunning = false;
        ++pel::g_nGeneration;
        workers = LetGoOfWorkers();
    }
    FinishLetGo(workers);
    return 1;
}

namespace pel {

void InstallTable(CPluginArray& records) {
    LetGoWorkers workers;
    {
        CLoaderLockGuard lock;
        // Normally nothing runs here any more; another thread's InitSet may have come between.
        workers = LetGoOfWorkers();
        g_ArrayPlugin.Swap(records);
        g_bRunning = true;
        ++g_nGeneration;
    }
    FinishLetGo(workers);
}

}  // namespace pel
