// The loader's process-wide state and its locks.
#pragma once

#include <windows.h>

#include <atomic>

// The loader's on/off state as reported to the host (0 off, anything else on).
extern std::atomic<int> g_nState;
// The configured state: 1 when a listed component's active-option bit was set at start-up.
extern std::atomic<int> g_nProjectState;
// InitSet's second argument, handed back by the state queries.
extern std::atomic<int> g_HostValue;

// The loader lock: guards the table (its records are replaced only as a whole, under it), the
// records' state words, events, module and interface, and the workers still ending. Held only
// for short steps that call nothing outside the loader: never across a window send, plug-in
// code, the store or install library, or a process start. Valid for the whole time the library
// is loaded, so that a call out of order never meets an uninitialised or deleted lock.
class CLoaderLock {
public:
    CLoaderLock() noexcept : m_cs{} { InitializeCriticalSection(&m_cs); }
    ~CLoaderLock() { DeleteCriticalSection(&m_cs); }
    CLoaderLock(const CLoaderLock&) = delete;
    CLoaderLock& operator=(const CLoaderLock&) = delete;
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};
extern CLoaderLock g_csLoader;

class CLoaderLockGuard {
public:
    CLoaderLockGuard() { g_csLoader.Enter(); }
    ~CLoaderLockGuard() { g_csLoader.Leave(); }
    CLoaderLockGuard(const CLoaderLockGuard&) = delete;
    CLoaderLockGuard& operator=(const CLoaderLockGuard&) = delete;
};

namespace pel {

// True between InitSet and Exit. Outside that span no event is set and no worker is started.
// Read and written under g_csLoader.
extern bool g_bRunning;
// Counts the tables: InitSet and Exit each start a new one. A call that lets go of g_csLoader
// in the middle (to tell the suite's windows, say) acts on the same table afterwards, or not at
// all. Read and written under g_csLoader.
extern unsigned g_nGeneration;

}  // namespace pel
