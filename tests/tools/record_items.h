// A small record file for QmZip's tests over record files: ITEMS, numbered
// items with a name, and the writers that put items into it.
#pragma once

#include <string>

#include "platform/record_declaration.h"
#include "platform/record_file.h"

namespace qm::qmzip::testing {

platform::RecordDeclaration ItemsDeclaration(const std::string& disk_name);

// Adds items first..last to an open file: 0 or the driver's error.
int AddItems(platform::RecordFile& file, int first, int last);

// `disk_name`.dat holding items 1..count, committed and closed.
void MakeItems(const std::string& disk_name, int count);

// A writer in a process of its own commits items first..last to
// `disk_name`.dat; when `crash` it then dies in a transaction large enough
// to have spilled pages into the file, which leaves it torn with a hot
// journal beside it.
void WriteItemsElsewhere(const std::string& disk_name, int first, int last, bool crash);

}  // namespace qm::qmzip::testing
