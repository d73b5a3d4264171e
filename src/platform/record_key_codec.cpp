#include "platform/record_key_codec.h"

#include <cstring>

#include "platform/record_fields.h"

namespace qm::platform {
namespace {

// Text tokens. A character below the blank, a run of blanks followed by a
// character below the blank, the end of the text, a run of blanks followed
// by a character above the blank, a character above the blank: in this
// order, which is the order of the texts padded with blanks. The length of
// a run decides between two runs: a longer run before a low character sorts
// higher, a longer run before a high character lower.
constexpr std::uint8_t kLowCharacterBase = 0x01;  // 0x00..0x1F -> 0x01..0x20
constexpr std::uint8_t kBlanksThenLow = 0x21;
constexpr std::uint8_t kTextEnd = 0x22;
constexpr std::uint8_t kBlanksThenHigh = 0x23;
constexpr std::uint8_t kHighCharacterShift = 3;  // 0x21..0xFB -> 0x24..0xFE
constexpr std::uint8_t kHighestCharactersEscape = 0xFF;  // 0xFC..0xFF -> 0xFF, c

void AppendBigEndian(std::string& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = width; i > 0; --i) {
    out.push_back(static_cast<char>((value >> (8 * (i - 1))) & 0xFF));
  }
}

void AppendCharacter(std::string& out, std::uint8_t c) {
  if (c < 0x20) {
    out.push_back(static_cast<char>(c + kLowCharacterBase));
  } else if (c <= 0xFB) {
    out.push_back(static_cast<char>(c + kHighCharacterShift));
  } else {
    out.push_back(static_cast<char>(kHighestCharactersEscape));
    out.push_back(static_cast<char>(c));
  }
}

void AppendText(std::string& out, const std::uint8_t* bytes, std::size_t length, bool no_case) {
  while (length > 0 && bytes[length - 1] == ' ') --length;
  std::size_t i = 0;
  while (i < length) {
    std::size_t blanks = 0;
    while (i + blanks < length && bytes[i + blanks] == ' ') ++blanks;
    std::uint8_t c = bytes[i + blanks];  // never past the end: trailing blanks are gone
    if (no_case && c >= 'a' && c <= 'z') c = static_cast<std::uint8_t>(c - 'a' + 'A');
    if (blanks > 0) {
      if (c < 0x20) {
        out.push_back(static_cast<char>(kBlanksThenLow));
        AppendBigEndian(out, blanks, 2);
      } else {
        out.push_back(static_cast<char>(kBlanksThenHigh));
        AppendBigEndian(out, 0xFFFF - blanks, 2);
      }
    }
    AppendCharacter(out, c);
    i += blanks + 1;
  }
  out.push_back(static_cast<char>(kTextEnd));
}

std::uint64_t OrderedFloatBits(std::uint64_t bits, int width_bits) {
  const std::uint64_t sign = std::uint64_t{1} << (width_bits - 1);
  const std::uint64_t mask = width_bits == 64 ? ~std::uint64_t{0} : (sign << 1) - 1;
  return (bits & sign) ? (~bits & mask) : (bits | sign);
}

void AppendComponent(std::string& out, const FieldDeclaration& field, const std::uint8_t* record,
                     bool no_case) {
  const std::uint8_t* bytes = record + field.offset;
  switch (field.encoding) {
    case FieldEncoding::kU8:
    case FieldEncoding::kU16:
    case FieldEncoding::kU32: {
      std::uint64_t value = 0;
      for (std::size_t i = field.width; i > 0; --i) value = (value << 8) | bytes[i - 1];
      AppendBigEndian(out, value, field.width);
      return;
    }
    case FieldEncoding::kI32: {
      std::uint32_t value;
      std::memcpy(&value, bytes, 4);
      AppendBigEndian(out, value ^ 0x80000000u, 4);
      return;
    }
    case FieldEncoding::kF32: {
      float value;
      std::memcpy(&value, bytes, 4);
      if (value == 0) value = 0;  // -0 equals +0
      std::uint32_t bits;
      std::memcpy(&bits, &value, 4);
      AppendBigEndian(out, OrderedFloatBits(bits, 32), 4);
      return;
    }
    case FieldEncoding::kF64: {
      double value;
      std::memcpy(&value, bytes, 8);
      if (value == 0) value = 0;
      std::uint64_t bits;
      std::memcpy(&bits, &value, 8);
      AppendBigEndian(out, OrderedFloatBits(bits, 64), 8);
      return;
    }
    case FieldEncoding::kDecimal: {
      const std::int64_t value = DecimalUnscaled(field, record);
      AppendBigEndian(out, static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63), 8);
      return;
    }
    case FieldEncoding::kText:
      AppendText(out, bytes, field.width, no_case);
      return;
    case FieldEncoding::kCString: {
      const void* end = std::memchr(bytes, 0, field.width);
      const std::size_t length =
          end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - bytes) : field.width;
      AppendText(out, bytes, length, no_case);
      return;
    }
  }
}

}  // namespace

std::string RecordKeyCodec::Encode(const RecordDeclaration& declaration, const KeyDeclaration& key,
                                   const std::uint8_t* record) {
  std::string value;
  for (int component : key.components) {
    AppendComponent(value, declaration.fields[static_cast<std::size_t>(component - 1)], record,
                    key.no_case);
  }
  return value;
}

void RecordKeyCodec::DigitLedRange(const RecordDeclaration& declaration, const KeyDeclaration& key,
                                   const std::uint8_t* record, std::string* low, std::string* high) {
  KeyDeclaration leading = key;
  if (!leading.components.empty()) leading.components.pop_back();
  *low = Encode(declaration, leading, record);
  *high = *low;
  AppendCharacter(*low, '0');
  AppendCharacter(*high, '9' + 1);
}

}  // namespace qm::platform
