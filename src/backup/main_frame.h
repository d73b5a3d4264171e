// Main: the frame "Quillmoor Backup / Restore" with its menu and toolbar;
// each action opens its window on a new thread.
#pragma once

namespace qm::backup {

void Main();

}  // namespace qm::backup
