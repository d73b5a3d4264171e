// MakeBackups: the "Make a Backup" window. Rotates the three local archive
// generations with safety copies, writes and tests a new generation 1 and an
// archive on the chosen target, and puts everything back on any failure.
//
// A journal in the data directory (kJournalName) records an attempt while it
// runs, so that one killed half-way is undone by the next attempt or the
// next start of TdxBack (RecoverUnfinishedBackup).
#pragma once

#include <string>

namespace qm::backup {

inline constexpr const char* kJournalName = ".TdxBack.journal";
// The journal of an attempt that succeeded, until its leftovers are removed.
inline constexpr const char* kFinishedJournalName = ".TdxBack.finished";

void MakeBackups();

// Undoes what a killed attempt left in the settings' data directory, once,
// and says so; removes the leftovers of one that had succeeded without a
// word. Returns true when it said something.
bool RecoverUnfinishedBackup();

}  // namespace qm::backup
