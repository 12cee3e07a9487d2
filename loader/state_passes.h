// The loader core's passes over the plug-in table between start-up and shutdown.
#pragma once

#include <windows.h>

class CPluginArray;
struct PluginItem;

// Every record's bActiveOpt and bEnable from the mask; g_nState 1 when any bit is set.
int RefreshPluginState();
// Every started record gets its setup-change event (code 18) and its enable or disable event.
int SignalPlugins(int code);
// Starts a worker for every enabled record with loader value 1 that has none yet.
int StartWorkers();

namespace pel {

// The host's code for "the settings have changed" (NotifySetChange, SignalPlugins).
constexpr int kSetupChangeCode = 18;

// What a refresh computed, read in the same step: the state (0 or 1), and which table it was.
struct RefreshResult {
    int state;
    unsigned generation;
    bool running;
};
// RefreshPluginState, returning what it computed.
RefreshResult Refresh();
// SignalPlugins on the table of `generation` only: nothing when the loader was shut down or
// another table took its place since.
void SignalGeneration(int code, unsigned generation);

// Where the start-up pass spends its time, in seconds, for the benchmark.
struct StartPhases {
    double references = 0;  // module references for the new workers
    double events = 0;      // their events, slots and record copies
    double threads = 0;     // creating their threads, suspended, and starting them together
};
// StartWorkers, adding the time of each of its steps to `phases` when it is not null.
int StartWorkers(StartPhases* phases);

// InitSet: `records` take the place of the table's records (and receive the old ones), and the
// loader runs. Workers of the records replaced are let go of as at Exit.
void InstallTable(CPluginArray& records);

// Sets the record's enable or disable event according to its bEnable, when it has events.
// Call with g_csLoader held.
void SignalEnableState(PluginItem& item);

}  // namespace pel
