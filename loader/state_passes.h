// The loader core's passes over the plug-in table between start-up and shutdown.
#pragma once

#include <windows.h>

struct PluginItem;

// The active-option mask from the configuration store; 0 when it cannot be read.
DWORD ActiveOptionMask();
// Every record's bActiveOpt and bEnable from the mask; g_nState 1 when any bit is set.
int RefreshPluginState();
// Every started record gets its setup-change event (code 18) and its enable or disable event.
int SignalPlugins(int code);
// Starts a worker for every enabled record with loader value 1 that has none yet.
int StartWorkers();

namespace pel {
// The host's code for "the settings have changed" (NotifySetChange, SignalPlugins).
constexpr int kSetupChangeCode = 18;
// Sets the record's enable or disable event according to its bEnable, when it has events.
// Call with g_csLoader held.
void SignalEnableState(PluginItem& item);
// Whether bit (nId mod 32) is set in mask.
inline bool MaskBit(DWORD mask, int nId) { return (mask >> (static_cast<unsigned>(nId) & 31u)) & 1u; }
}  // namespace pel
