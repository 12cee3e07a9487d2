// The seven entry points the host calls by ordinal.
#include <windows.h>
#include <oleauto.h>

#include "config/pel_init.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "loader/monitor_notify.h"
#include "loader/state_passes.h"

namespace {

// No exception crosses an export: a table failure ends the call with the result it has.
template <class Body>
void Guarded(Body&& body) {
    try {
        body();
    } catch (const CHResultError&) {
    } catch (...) {
    }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

int __stdcall InitSet(int /*unused1*/, int hostValue, int /*unused3*/) {
    g_HostValue = hostValue;
    Guarded([] {
        // Plug-ins still running from an InitSet without Exit are shut down first, so that no
        // worker outlives the records it was started for.
        CPelInit().ExitClear();
        g_nProjectState = 0;
        // The configuration is read into a table of this call's own, with no lock held: it
        // calls the store and install libraries. The table is then installed whole.
        CPluginArray records;
        CPelInit init(records);
        const bool read = init.ReadQXActive() && init.ReadMenuIni();
        pel::InstallTable(records);
        if (!read) return;
        RefreshPluginState();
        StartWorkers();
    });
    g_nState = g_nProjectState.load();
    return g_nProjectState;
}

int __stdcall Exit(void) {
    g_nProjectState = 0;
    Guarded([] { CPelInit().ExitClear(); });
    return 1;
}

int __stdcall AskForState(int* hostValue) {
    *hostValue = g_HostValue;
    return g_nState;
}

int __stdcall GetStateEqualProject(int* hostValue) {
    *hostValue = g_HostValue;
    return g_nState.load() == g_nProjectState.load() ? 1 : 0;
}

int __stdcall SetStateAsProject(void) {
    Guarded([] {
        CLoaderLockGuard lock;
        g_nState = g_nProjectState.load();
        const int count = g_ArrayPlugin.Count();
        for (int i = 0; i < count; ++i) {
            PluginItem& item = g_ArrayPlugin.At(i);
            item.bEnable = item.bActiveOpt;
            pel::SignalEnableState(item);
        }
    });
    g_nProjectState = 0;
    Guarded([] { StartWorkers(); });
    return 1;
}

VARIANT __stdcall MenuHandle(VARIANT command, VARIANT, VARIANT) {
    int state = 0;
    Guarded([&] {
        // The state and the records change together, so that commands from several host
        // threads leave the records in the state that is reported.
        CLoaderLockGuard lock;
        if (command.vt == VT_BOOL) {
            const int requested = static_cast<SHORT>(command.boolVal);
            if (requested != g_nState) g_nState = requested;
        }
        state = g_nState;
        const bool on = state != 0;
        const int count = g_ArrayPlugin.Count();
        for (int i = 0; i < count; ++i) {
            PluginItem& item = g_ArrayPlugin.At(i);
            item.bEnable = on ? 1 : 0;
            pel::SignalEnableState(item);
        }
    });
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_BOOL;
    result.boolVal = static_cast<VARIANT_BOOL>(state & 0xFFFF);
    return result;
}

int __stdcall NotifySetChange(int code, int /*unused*/) {
    if (code != pel::kSetupChangeCode) return g_nProjectState;
    g_nProjectState = 0;
    // The state sent is the one this refresh computed, 0 or 1, whatever a concurrent
    // MenuHandle stores meanwhile.
    pel::RefreshResult refreshed{0, 0, false};
    Guarded([&refreshed] { refreshed = pel::Refresh(); });
    g_nProjectState = 0;
    Guarded([] { StartWorkers(); });
    // A loader that has been shut down has nobody to tell. The windows told may call the
    // loader again, even Exit: the plug-ins are signalled only if the table is still the one
    // refreshed.
    if (refreshed.running) {
        NotifyMonitorState(refreshed.state);
        Guarded(
            [&refreshed] { pel::SignalGeneration(pel::kSetupChangeCode, refreshed.generation); });
    }
    return g_nProjectState;
}

}  // extern "C"
