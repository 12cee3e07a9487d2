#include "loader/state_passes.h"

#include <process.h>

#include <initializer_list>

#include <cstring>

#include "loader/loader_state.h"
#include "loader/plugin_table.h"
#include "platform/vemm_key.h"
#include "worker/work_part.h"
#include "worker/worker_slot.h"

namespace {

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

void CloseRecordEvents(PluginItem& item) {
    for (HANDLE event : {item.hEventEnable, item.hEventDisable, item.hEventExit,
                         item.hEventSetupChange}) {
        if (event) CloseHandle(event);
    }
    pel::ForgetEvents(item);
}

// Hands a heap copy of the record to a new worker thread. The worker holds a reference on the
// module that contains its code, so that the host may unload the loader while it finishes.
void StartWorker(PluginItem& item) {
    auto* slot = new pel::WorkerSlot;
    slot->desired = item.bEnable != 0 ? 1 : 0;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&WorkThreadMain), &slot->hLoaderModule)) {
        slot->hLoaderModule = nullptr;
    }
    item.pWorker = slot;
    auto* copy = new PluginItem;
    std::memcpy(copy, &item, sizeof(PluginItem));

    const uintptr_t thread = _beginthreadex(nullptr, 0, WorkThreadMain, copy, 0, nullptr);
    if (thread != 0) {
        item.hThread = reinterpret_cast<HANDLE>(thread);
        return;
    }
    // No thread: nothing else will free the copy, the slot or the module reference, and the
    // record is treated like a plug-in that failed to load.
    delete copy;
    if (slot->hLoaderModule) FreeLibrary(slot->hLoaderModule);
    delete slot;
    item.pWorker = nullptr;
    item.hThread = nullptr;
    CloseRecordEvents(item);
}

}  // namespace

DWORD ActiveOptionMask() {
    VemmKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, L"OPTIONS\\Active") != 0) return 0;
    DWORD mask = 0;
    key.QueryDWORDValue(L"ActiveOpt", &mask);
    key.CloseKey();
    return mask;
}

int RefreshPluginState() {
    g_nState = 0;
    // One reading for the whole pass, taken before the lock: every record sees the same mask,
    // and no store call holds up the workers.
    const DWORD mask = ActiveOptionMask();
    CLoaderLockGuard lock;
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        item.bActiveOpt = pel::MaskBit(mask, item.nId) ? 1 : 0;
        item.bEnable = item.bActiveOpt;
        g_nState = (g_nState != 0 || item.bEnable != 0) ? 1 : 0;
    }
    return 1;
}

int SignalPlugins(int code) {
    CLoaderLockGuard lock;
    if (!pel::g_bRunning) return 1;
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        if (item.nLoader != 1) continue;
        if (code == pel::kSetupChangeCode && item.hEventSetupChange) SetEvent(item.hEventSetupChange);
        pel::SignalEnableState(item);
    }
    return 1;
}

int StartWorkers() {
    CLoaderLockGuard lock;
    if (!pel::g_bRunning) return 1;
    const int count = g_ArrayPlugin.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = g_ArrayPlugin.At(i);
        if (item.nLoader != 1 || item.bEnable == 0 || item.bThreadStarted != 0) continue;
        item.bThreadStarted = 1;
        item.hEventEnable = NewEvent();
        item.hEventDisable = NewEvent();
        item.hEventExit = NewEvent();
        item.hEventSetupChange = NewEvent();
        StartWorker(item);
    }
    return 1;
}

namespace pel {

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
