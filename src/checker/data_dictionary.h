// The product's data dictionary: the seventeen data files and the alias
// TdI01A, declared once for the whole checker.
//
// Files() gives the static declarations, read-only: label, disk name,
// prefix, record layout (fields at their offsets, widths and encodings),
// keys with their attributes and registration names, structure version and
// the ordered relation list. Field and key numbers are 1-based in
// declaration order, as RecordDeclaration holds them.
//
// Every logical thread works on its own copy of each file with its own
// record buffer: File() makes the calling thread's copies on first use and
// ReleaseThread() drops them at the thread's end.
//
// The disk name of BvS01 is the process-wide GLO:SYSTEMFILENAME, empty until
// SetSystemFileName; a thread's BvS01 takes the current value whenever File()
// hands it out closed.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/record_declaration.h"
#include "platform/record_file.h"

namespace qm::checker {

// The files in the order of the dictionary's file table.
enum class DictionaryFile {
  TdV01,
  TdV02,
  TdV03,
  TdV04,
  TdV05,
  TdV06,
  TdV07,
  TdV08,
  TdV30,
  TdV301,
  TdV40,
  TdV50,
  TdV51,
  TdI01,
  TdI01A,
  TdI02,
  TdW01,
  BvS01,
};
inline constexpr int kDictionaryFileCount = 18;

// Referential-integrity actions of the relation manager, by its numbers.
enum class RelationAction { kNone = 0, kClear = 1, kRestrict = 2, kCascade = 3 };

enum class RelationKind {
  kOneToMany,  // this file is the parent; the related file holds the children
  kLookup,     // this file refers to the related one: no key, link or action
};

// One entry of a file's relation list. For a lookup only `related` is set.
struct RelationDeclaration {
  DictionaryFile related;
  RelationKind kind = RelationKind::kLookup;
  int field = 0;          // this file's linking field number
  int related_field = 0;  // the related file's linking field number
  int related_key = 0;    // the related file's key that finds the children
  RelationAction update = RelationAction::kNone;
  RelationAction remove = RelationAction::kNone;
};

struct FileDefinition {
  DictionaryFile id;
  // Label, disk name (empty for BvS01: see DiskName), driver, prefix,
  // record size, fields, keys, and the structure version (0 for the alias,
  // which is not registered). Declared per thread.
  platform::RecordDeclaration declaration;
  std::vector<RelationDeclaration> relations;
  // The file whose disk file this one opens a second time (TdI01A opens
  // TdI01's); the file itself otherwise.
  DictionaryFile aliased;
  std::string holds;  // what the file holds, in a few words

  bool IsAlias() const { return aliased != id; }
  bool IsRegistered() const { return declaration.version != 0; }
};

class DataDictionary {
 public:
  // All eighteen declarations, in DictionaryFile order. Built once, on
  // first use, and never changed.
  static std::span<const FileDefinition> Files();
  static const FileDefinition& Definition(DictionaryFile file);
  // By label, without regard to letter case; nullptr when there is none.
  static const FileDefinition* Find(std::string_view label);

  // The disk name a file is opened under now: for BvS01 the current
  // GLO:SYSTEMFILENAME, for the others their constant one.
  static std::string DiskName(DictionaryFile file);

  // The calling logical thread's copy of the file, with its record buffer.
  // The reference stays valid until this thread calls ReleaseThread.
  static platform::RecordFile& File(DictionaryFile file);
  // Drops the calling thread's copies, closing any still open.
  static void ReleaseThread();

  // GLO:SYSTEMFILENAME: process-wide, cut to 128 characters.
  static void SetSystemFileName(std::string_view name);
  static std::string SystemFileName();
};

}  // namespace qm::checker
