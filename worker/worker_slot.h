// What a worker thread shares with the loader core for its whole life.
#pragma once

#include <windows.h>

#include <atomic>

namespace pel {

// Shared by a table record and its worker; freed by whichever lets go last. The phase gates
// every call into the plug-in: once shutdown has given up on the worker, it starts no call.
struct WorkerSlot {
    enum Phase : long { kIdle, kInCall, kAbandoned };

    std::atomic<long> refs{2};         // the record and the worker
    std::atomic<long> phase{kIdle};
    std::atomic<long> desired{0};      // state of the last enable or disable command
    HMODULE hLoaderModule = nullptr;   // the worker's reference on the module holding this code

    bool BeginCall() {
        long idle = kIdle;
        return phase.compare_exchange_strong(idle, kInCall);
    }
    // False when the worker was abandoned during the call.
    bool EndCall() {
        long busy = kInCall;
        return phase.compare_exchange_strong(busy, kIdle);
    }
    // Returns the phase the worker was in.
    long Abandon() { return phase.exchange(kAbandoned); }
    void Release() {
        if (refs.fetch_sub(1) == 1) delete this;
    }
};

}  // namespace pel
