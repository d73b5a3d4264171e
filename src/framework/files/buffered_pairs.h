// BufferedPairs: the linking fields of one relation. Each pair joins a field
// of this file's record (LEFT) to the matching field of the related file's
// record (RIGHT) and keeps in BUFFER a copy of the LEFT value as the record
// had it when it was read, so that a change of the linking values can be
// seen, applied to the related records and undone.
//
// The pairs point into record buffers that they do not own; the buffers
// must outlive them. Values of the same encoding and width are copied and
// compared as bytes; values of different shapes go through their text form
// (record_fields.h), a text too long for its field being cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/record_declaration.h"
#include "platform/record_file.h"

namespace qm {

// One field's bytes in a record buffer, with the encoding that says how its
// value is cleared, compared and copied.
struct FieldReference {
  FieldReference() = default;
  // Field `number` (1-based) of `file`'s record buffer.
  FieldReference(platform::RecordFile& file, int number);
  // A value of `encoding` at `address`; `width` is needed for texts only.
  FieldReference(std::uint8_t* address, platform::FieldEncoding encoding, std::size_t width = 0);

  std::uint8_t* ADDRESS = nullptr;
  platform::FieldDeclaration FIELD;  // at offset 0: the field as ADDRESS holds it
};

struct PairEntry {
  FieldReference LEFT;
  FieldReference RIGHT;
  std::string BUFFER;  // a copy of LEFT's bytes
};

class BufferedPairs {
 public:
  // Appends a pair; its BUFFER holds LEFT's cleared value.
  void AddPair(const FieldReference& left, const FieldReference& right);

  void AssignLeftToBuffer();   // BUFFER := LEFT
  void AssignBufferToLeft();   // LEFT := BUFFER
  void AssignLeftToRight();    // RIGHT := LEFT
  void AssignBufferToRight();  // RIGHT := BUFFER
  void AssignRightToLeft();    // LEFT := RIGHT
  void ClearRight();           // RIGHT := its cleared value

  // True when every pair is equal so; the tests against BUFFER ignore the
  // letter case of texts, EqualLeftRight compares exactly. True for no
  // pairs.
  bool EqualLeftBuffer() const;
  bool EqualRightBuffer() const;
  bool EqualLeftRight() const;

  std::size_t Count() const { return LIST.size(); }
  const std::vector<PairEntry>& Pairs() const { return LIST; }

 private:
  std::vector<PairEntry> LIST;
};

}  // namespace qm
