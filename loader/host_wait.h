// Waiting on a thread that may own windows: the host's thread. Messages sent to the thread's
// windows (by plug-ins, other threads or other programs) are answered while it waits; posted
// messages stay queued for the host's own loop.
#pragma once

#include <windows.h>

namespace pel {

// Like WaitForMultipleObjects for any one of `count` handles (at most
// MAXIMUM_WAIT_OBJECTS - 1), answering sent messages meanwhile.
DWORD WaitAnswering(DWORD count, const HANDLE* handles, DWORD timeoutMs);

// Like Sleep, answering sent messages meanwhile.
inline void SleepAnswering(DWORD ms) { WaitAnswering(0, nullptr, ms); }

}  // namespace pel
