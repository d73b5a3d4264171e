// RestoreBackups: the "Restore a Backup" window. Lists the archives of the
// data directory and the external drive through the backup register, and
// restores the chosen one over the data directory: the archive is tested
// whole first, and its files replace the data files only once every one of
// them is complete, so a failed restore leaves the directory as it was.
#pragma once

namespace qm::backup {

void RestoreBackups();

}  // namespace qm::backup
