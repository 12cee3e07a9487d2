#include "core/loader_state.h"

std::atomic<int> g_nState{0};
std::atomic<int> g_nProjectState{0};
std::atomic<int> g_HostValue{0};
CLoaderLock g_csLoader;

namespace pel {

bool g_bRunning = false;
unsigned g_nGeneration = 0;

}  // namespace pel
