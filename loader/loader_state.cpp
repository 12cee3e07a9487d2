#include "loader/loader_state.h"

std::atomic<int> g_nState{0};
std::atomic<int> g_nProjectState{0};
std::atomic<int> g_HostValue{0};
CLoaderLock g_csLoader;

namespace pel {

bool g_bRunning = false;

namespace {
SRWLOCK g_srwHostCalls = SRWLOCK_INIT;
}

CHostCallGuard::CHostCallGuard(Mode mode) : m_mode(mode) {
    if (m_mode == kExclusive)
        AcquireSRWLockExclusive(&g_srwHostCalls);
    else
        AcquireSRWLockShared(&g_srwHostCalls);
}

CHostCallGuard::~CHostCallGuard() {
    if (m_mode == kExclusive)
        ReleaseSRWLockExclusive(&g_srwHostCalls);
    else
        ReleaseSRWLockShared(&g_srwHostCalls);
}

}  // namespace pel
