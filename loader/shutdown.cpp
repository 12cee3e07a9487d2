// Exit's shutdown pass. Each worker closes its own plug-in on its own thread: the pass asks
// every worker to end, waits for them within a bound, and gives up on those still inside a
// plug-in call, which then never call their plug-in again.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "config/pel_init.h"
#include "loader/diagnostics.h"
#include "loader/loader_state.h"
#include "loader/plugin_table.h"
#include "loader/text.h"
#include "worker/worker_slot.h"

namespace {

// How long Exit waits for all workers together.
constexpr DWORD kShutdownBoundMs = 5000;

struct StoppingWorker {
    HANDLE hThread;
    pel::WorkerSlot* slot;
    wchar_t menuTag[32];
};

// Waits until every thread has ended or the deadline has passed; true for the ones that ended.
std::vector<bool> WaitForThreads(const std::vector<StoppingWorker>& workers, DWORD boundMs) {
    std::vector<bool> ended(workers.size(), false);
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    for (size_t first = 0; first < workers.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const size_t n = std::min<size_t>(MAXIMUM_WAIT_OBJECTS, workers.size() - first);
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        for (size_t i = 0; i < n; ++i) handles[i] = workers[first + i].hThread;
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        WaitForMultipleObjects(static_cast<DWORD>(n), handles, TRUE, left);
    }
    for (size_t i = 0; i < workers.size(); ++i)
        ended[i] = WaitForSingleObject(workers[i].hThread, 0) == WAIT_OBJECT_0;
    return ended;
}

}  // namespace

int CPelInit::ExitClear() {
    std::vector<StoppingWorker> stopping;
    {
        CLoaderLockGuard lock;
        pel::g_bRunning = false;
        const int count = g_ArrayPlugin.Count();
        for (int i = 0; i < count; ++i) {
            PluginItem& item = g_ArrayPlugin.At(i);
            if (item.bThreadStarted == 0) continue;
            item.bThreadStarted = 0;
            // From here the worker owns the events: it closes them on its way out.
            if (item.hEventExit) SetEvent(item.hEventExit);
            if (item.nInvokerType == 1 && !item.pComInterface)
                pel::Trace("CPelInit::ExitClear pComInterface is NULL");
            pel::ForgetWorkerHandles(item);
            if (item.hThread && item.pWorker) {
                StoppingWorker worker{item.hThread, item.pWorker, {}};
                pel::CopyText(worker.menuTag, item.MenuTag);
                stopping.push_back(worker);
            }
            item.hThread = nullptr;
            item.pWorker = nullptr;
        }
    }

    const std::vector<bool> ended = WaitForThreads(stopping, kShutdownBoundMs);
    for (size_t i = 0; i < stopping.size(); ++i) {
        if (!ended[i]) {
            stopping[i].slot->Abandon();
            pel::TraceF("CPelInit::ExitClear MenuTag %S did not end in time, plug-in left loaded",
                        stopping[i].menuTag);
        }
        CloseHandle(stopping[i].hThread);
        stopping[i].slot->Release();
    }
    return 1;
}
