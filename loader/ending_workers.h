// Workers that their table has let go of (at Exit, or for a new table) and that have not yet
// closed their plug-in. Their component is not started again before they have: a second load
// would be called while the first is still inside a call.
#pragma once

struct PluginItem;

namespace pel {

struct WorkerSlot;

// Under g_csLoader: keeps the let-go worker of `slot` until it has finished, with the reference
// its record held.
void KeepEnding(WorkerSlot* slot);
// Under g_csLoader: forgets the workers that have finished.
void ForgetEnded();
// Under g_csLoader: true when a worker of the record's component (the same chCompose and
// MenuTag) is still ending. `firstTime` tells whether this is the first time it was asked for
// that worker.
bool StillEnding(const PluginItem& item, bool* firstTime);

}  // namespace pel
