// What a worker thread shares with the loader core for its whole life.
#pragma once

#include <windows.h>

#include <atomic>

namespace pel {

// Shared by a table record and its worker; freed by whichever lets go last. Once the record
// has let the worker go (Exit, or a new table), the worker touches nothing shared but this slot.
struct WorkerSlot {
    std::atomic<long> refs{2};     // the record and the worker
    std::atomic<long> desired{0};  // state of the last enable or disable command
    // Set under g_csLoader together with the exit event. From then the worker makes no call into
    // its plug-in but the close, and never looks at the table again.
    std::atomic<bool> letGo{false};
    // Set by the worker once its plug-in is closed and unloaded, just before the thread ends.
    std::atomic<bool> finished{false};
    int index = -1;                   // the record's index in g_ArrayPlugin until let go
    HMODULE hLoaderModule = nullptr;  // the worker's reference on the module holding this code

    // The component served, for the list of workers still ending once let go (under g_csLoader).
    wchar_t chCompose[260] = {};
    wchar_t menuTag[32] = {};
    bool reported = false;  // a new start of the component was put off, and said so
    WorkerSlot* nextEnding = nullptr;

    void Release() {
        if (refs.fetch_sub(1) == 1) delete this;
    }
};

}  // namespace pel
