#include "framework/files/buffered_pairs.h"

#include <cctype>
#include <cstring>

#include "platform/record_fields.h"

namespace qm {
namespace {

using platform::FieldDeclaration;
using platform::FieldEncoding;

bool SameShape(const FieldDeclaration& a, const FieldDeclaration& b) {
  return a.encoding == b.encoding && a.width == b.width && a.digits == b.digits &&
         a.decimals == b.decimals;
}

// A zero-terminated text may hold anything after its terminator, so only
// its text form says what it holds.
bool ComparesAsBytes(const FieldDeclaration& a, const FieldDeclaration& b) {
  return SameShape(a, b) && a.encoding != FieldEncoding::kCString;
}

void ClearValue(const FieldDeclaration& field, std::uint8_t* address) {
  switch (field.encoding) {
    case FieldEncoding::kText:
      std::memset(address, ' ', field.width);
      break;
    case FieldEncoding::kDecimal:
      std::memset(address, 0, field.width);
      platform::SetDecimalUnscaled(field, address, 0);
      break;
    default:
      std::memset(address, 0, field.width);
      break;
  }
}

void CopyValue(const FieldDeclaration& from, const std::uint8_t* source, const FieldDeclaration& to,
               std::uint8_t* target) {
  if (SameShape(from, to)) {
    std::memmove(target, source, to.width);
    return;
  }
  platform::SetFieldText(to, target, platform::FieldText(from, source), platform::TextFit::kCut);
}

std::string Folded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool EqualValues(const FieldDeclaration& a, const std::uint8_t* first, const FieldDeclaration& b,
                 const std::uint8_t* second, bool ignore_case) {
  const bool fold = ignore_case && platform::IsText(a.encoding) && platform::IsText(b.encoding);
  if (ComparesAsBytes(a, b)) {
    if (!fold) return std::memcmp(first, second, a.width) == 0;
    for (std::size_t i = 0; i < a.width; ++i) {
      if (std::toupper(first[i]) != std::toupper(second[i])) return false;
    }
    return true;
  }
  const std::string left = platform::FieldText(a, first);
  const std::string right = platform::FieldText(b, second);
  return fold ? Folded(left) == Folded(right) : left == right;
}

std::uint8_t* BufferBytes(PairEntry& pair) { return reinterpret_cast<std::uint8_t*>(pair.BUFFER.data()); }

const std::uint8_t* BufferBytes(const PairEntry& pair) {
  return reinterpret_cast<const std::uint8_t*>(pair.BUFFER.data());
}

bool Usable(const PairEntry& pair) { return pair.LEFT.ADDRESS && pair.RIGHT.ADDRESS; }

}  // namespace

FieldReference::FieldReference(platform::RecordFile& file, int number) {
  const std::vector<FieldDeclaration>& fields = file.Declaration().fields;
  if (number < 1 || number > static_cast<int>(fields.size())) return;
  FIELD = fields[static_cast<std::size_t>(number - 1)];
  ADDRESS = file.Record() + FIELD.offset;
  FIELD.offset = 0;
}

FieldReference::FieldReference(std::uint8_t* address, FieldEncoding encoding, std::size_t width)
    : ADDRESS(address) {
  FIELD.encoding = encoding;
  const std::size_t fixed = platform::FixedWidth(encoding);
  FIELD.width = fixed != 0 ? fixed : width;
  if (encoding == FieldEncoding::kDecimal) FIELD.digits = static_cast<int>(FIELD.width * 2) - 1;
}

void BufferedPairs::AddPair(const FieldReference& left, const FieldReference& right) {
  PairEntry pair{left, right, std::string(left.FIELD.width, '\0')};
  ClearValue(left.FIELD, BufferBytes(pair));
  LIST.push_back(std::move(pair));
}

void BufferedPairs::AssignLeftToBuffer() {
  for (PairEntry& pair : LIST) {
    if (pair.LEFT.ADDRESS) std::memcpy(BufferBytes(pair), pair.LEFT.ADDRESS, pair.BUFFER.size());
  }
}

void BufferedPairs::AssignBufferToLeft() {
  for (PairEntry& pair : LIST) {
    if (pair.LEFT.ADDRESS) std::memcpy(pair.LEFT.ADDRESS, BufferBytes(pair), pair.BUFFER.size());
  }
}

void BufferedPairs::AssignLeftToRight() {
  for (PairEntry& pair : LIST) {
    if (Usable(pair)) CopyValue(pair.LEFT.FIELD, pair.LEFT.ADDRESS, pair.RIGHT.FIELD, pair.RIGHT.ADDRESS);
  }
}

void BufferedPairs::AssignBufferToRight() {
  for (PairEntry& pair : LIST) {
    if (Usable(pair)) CopyValue(pair.LEFT.FIELD, BufferBytes(pair), pair.RIGHT.FIELD, pair.RIGHT.ADDRESS);
  }
}

void BufferedPairs::AssignRightToLeft() {
  for (PairEntry& pair : LIST) {
    if (Usable(pair)) CopyValue(pair.RIGHT.FIELD, pair.RIGHT.ADDRESS, pair.LEFT.FIELD, pair.LEFT.ADDRESS);
  }
}

void BufferedPairs::ClearRight() {
  for (PairEntry& pair : LIST) {
    if (pair.RIGHT.ADDRESS) ClearValue(pair.RIGHT.FIELD, pair.RIGHT.ADDRESS);
  }
}

bool BufferedPairs::EqualLeftBuffer() const {
  for (const PairEntry& pair : LIST) {
    if (!pair.LEFT.ADDRESS) continue;
    if (!EqualValues(pair.LEFT.FIELD, pair.LEFT.ADDRESS, pair.LEFT.FIELD, BufferBytes(pair), true)) return false;
  }
  return true;
}

bool BufferedPairs::EqualRightBuffer() const {
  for (const PairEntry& pair : LIST) {
    if (!Usable(pair)) continue;
    if (!EqualValues(pair.RIGHT.FIELD, pair.RIGHT.ADDRESS, pair.LEFT.FIELD, BufferBytes(pair), true)) return false;
  }
  return true;
}

bool BufferedPairs::EqualLeftRight() const {
  for (const PairEntry& pair : LIST) {
    if (!Usable(pair)) continue;
    if (!EqualValues(pair.LEFT.FIELD, pair.LEFT.ADDRESS, pair.RIGHT.FIELD, pair.RIGHT.ADDRESS, false)) return false;
  }
  return true;
}

}  // namespace qm
