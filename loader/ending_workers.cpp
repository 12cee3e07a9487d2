#include "loader/ending_workers.h"

#include <windows.h>

#include "core/plugin_table.h"
#include "worker/worker_slot.h"

namespace pel {
namespace {

// Linked through the slots, so that keeping a worker never allocates under the lock. Each
// slot in the list holds the reference its record gave up.
WorkerSlot* g_pEnding = nullptr;

// Releases what the list holds when the library unloads with workers still ending (each of
// them holds the library itself, so this happens only at process end).
struct EndingList {
    EndingList() = default;
    EndingList(const EndingList&) = delete;
    EndingList& operator=(const EndingList&) = delete;
    ~EndingList() {
        while (WorkerSlot* slot = g_pEnding) {
            g_pEnding = slot->nextEnding;
            slot->Release();
        }
    }
} g_endingList;

}  // namespace

void KeepEnding(WorkerSlot* slot) {
    slot->nextEnding = g_pEnding;
    g_pEnding = slot;
}

void ForgetEnded() {
    for (WorkerSlot** link = &g_pEnding; *link;) {
        WorkerSlot* slot = *link;
        if (slot->finished) {
            *link = slot->nextEnding;
            slot->Release();
        } else {
            link = &slot->nextEnding;
        }
    }
}

bool StillEnding(const PluginItem& item, bool* firstTime) {
    for (WorkerSlot* slot = g_pEnding; slot; slot = slot->nextEnding) {
        if (slot->finished || lstrcmpiW(slot->chCompose, item.chCompose) != 0 ||
            lstrcmpiW(slot->menuTag, item.MenuTag) != 0)
            continue;
        *firstTime = !slot->reported;
        slot->reported = true;
        return true;
    }
    return false;
}

}  // namespace pel
