// Telling the suite's expert frame and monitor the loader's state after a settings change.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct LoaderStateMessage {
    std::int32_t nCode;      // always 1330
    std::int32_t nState;
    wchar_t szSender[260];   // "PelLoader_01", zero-filled after the text
};
#pragma pack(pop)
static_assert(sizeof(LoaderStateMessage) == 528, "the state message is 528 bytes");

// Sends nState to the expert frame and the monitor, starting the monitor program when its
// window is missing. 0 only when the monitor is missing and its program cannot be resolved.
int NotifyMonitorState(int nState);
