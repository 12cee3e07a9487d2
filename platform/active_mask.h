// The active-option mask: which components the suite has switched on, one bit each, read from
// the configuration store.
#pragma once

#include <windows.h>

// The mask ("OPTIONS\Active", "ActiveOpt" under the local-machine root); 0 when it cannot be
// read. core/plugin_table.h applies it to the records.
DWORD ActiveOptionMask();
