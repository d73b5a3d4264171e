#include "platform/record_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qm::platform {
namespace {

constexpr std::uint8_t kPositiveSign = 0x0C;
constexpr std::uint8_t kNegativeSign = 0x0D;

std::uint64_t ReadLittleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

void WriteLittleEndian(std::uint8_t* bytes, std::size_t width, std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

std::int64_t PowerOfTen(int exponent) {
  std::int64_t value = 1;
  for (int i = 0; i < exponent; ++i) value *= 10;
  return value;
}

// Integer range of an integer encoding.
void IntegerRange(FieldEncoding encoding, std::int64_t* lowest, std::int64_t* highest) {
  switch (encoding) {
    case FieldEncoding::kU8: *lowest = 0; *highest = 0xFF; return;
    case FieldEncoding::kU16: *lowest = 0; *highest = 0xFFFF; return;
    case FieldEncoding::kI32:
      *lowest = std::numeric_limits<std::int32_t>::min();
      *highest = std::numeric_limits<std::int32_t>::max();
      return;
    case FieldEncoding::kU32: *lowest = 0; *highest = 0xFFFFFFFF; return;
    default: *lowest = 0; *highest = 0; return;
  }
}

bool IsInteger(FieldEncoding encoding) {
  return encoding == FieldEncoding::kU8 || encoding == FieldEncoding::kU16 ||
         encoding == FieldEncoding::kI32 || encoding == FieldEncoding::kU32;
}

std::int64_t ReadInteger(const FieldDeclaration& field, const std::uint8_t* bytes) {
  const std::uint64_t raw = ReadLittleEndian(bytes, field.width);
  if (field.encoding == FieldEncoding::kI32) return static_cast<std::int32_t>(raw);
  return static_cast<std::int64_t>(raw);
}

void WriteInteger(const FieldDeclaration& field, std::uint8_t* bytes, std::int64_t value) {
  WriteLittleEndian(bytes, field.width, static_cast<std::uint64_t>(value));
}

double ReadFloat(const FieldDeclaration& field, const std::uint8_t* bytes) {
  if (field.encoding == FieldEncoding::kF32) {
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  double value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

void WriteFloat(const FieldDeclaration& field, std::uint8_t* bytes, double value) {
  if (field.encoding == FieldEncoding::kF32) {
    const float narrow = static_cast<float>(value);
    std::memcpy(bytes, &narrow, sizeof narrow);
  } else {
    std::memcpy(bytes, &value, sizeof value);
  }
}

std::string FloatText(const FieldDeclaration& field, double value) {
  char text[64];
  std::to_chars_result result =
      field.encoding == FieldEncoding::kF32
          ? std::to_chars(text, text + sizeof text, static_cast<float>(value))
          : std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string DecimalText(const FieldDeclaration& field, std::int64_t unscaled) {
  const bool negative = unscaled < 0;
  std::string digits = std::to_string(negative ? -unscaled : unscaled);
  if (field.decimals > 0) {
    if (digits.size() <= static_cast<std::size_t>(field.decimals)) {
      digits.insert(0, static_cast<std::size_t>(field.decimals) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(field.decimals), ".");
  }
  return negative ? "-" + digits : digits;
}

bool Fail(std::string* problem, const char* why) {
  if (problem) *problem = why;
  return false;
}

// Parses "[-]digits[.digits]" into a value scaled by `decimals` places.
bool ParseDecimal(std::string_view text, int decimals, int digits, std::int64_t* unscaled,
                  std::string* problem) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view{}
                                                              : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return Fail(problem, "not a number");
  for (char c : whole) if (c < '0' || c > '9') return Fail(problem, "not a number");
  for (char c : fraction) if (c < '0' || c > '9') return Fail(problem, "not a number");
  while (fraction.size() > static_cast<std::size_t>(decimals) && fraction.back() == '0') {
    fraction.remove_suffix(1);
  }
  if (fraction.size() > static_cast<std::size_t>(decimals)) return Fail(problem, "too many decimals");
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  if (whole == "0") whole = {};
  if (whole.size() > static_cast<std::size_t>(digits - decimals)) return Fail(problem, "out of range");
  std::int64_t value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  for (int i = 0; i < decimals; ++i) {
    value = value * 10 + (static_cast<std::size_t>(i) < fraction.size() ? fraction[i] - '0' : 0);
  }
  *unscaled = negative ? -value : value;
  return true;
}

}  // namespace

bool IsNumeric(FieldEncoding encoding) { return !IsText(encoding); }

bool IsText(FieldEncoding encoding) {
  return encoding == FieldEncoding::kText || encoding == FieldEncoding::kCString;
}

std::int64_t DecimalUnscaled(const FieldDeclaration& field, const std::uint8_t* record) {
  const std::uint8_t* bytes = record + field.offset;
  std::int64_t value = 0;
  const std::size_t nibbles = field.width * 2;
  for (std::size_t i = 0; i + 1 < nibbles; ++i) {
    const std::uint8_t nibble = (i % 2 == 0) ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
    value = value * 10 + nibble;
  }
  const std::uint8_t sign = bytes[field.width - 1] & 0x0F;
  return (sign == kNegativeSign || sign == 0x0B) ? -value : value;
}

bool SetDecimalUnscaled(const FieldDeclaration& field, std::uint8_t* record, std::int64_t value) {
  // The bytes hold one digit fewer than an even number of digits declares.
  const std::int64_t limit = PowerOfTen(std::min(field.digits, static_cast<int>(field.width * 2 - 1)));
  if (value <= -limit || value >= limit) return false;
  std::uint8_t* bytes = record + field.offset;
  std::memset(bytes, 0, field.width);
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
  bytes[field.width - 1] = negative ? kNegativeSign : kPositiveSign;
  for (std::size_t nibble = field.width * 2 - 1; nibble > 0 && magnitude > 0; --nibble) {
    const std::size_t i = nibble - 1;
    const std::uint8_t digit = static_cast<std::uint8_t>(magnitude % 10);
    magnitude /= 10;
    bytes[i / 2] |= (i % 2 == 0) ? static_cast<std::uint8_t>(digit << 4) : digit;
  }
  return true;
}

void ClearRecord(const RecordDeclaration& declaration, std::uint8_t* record) {
  std::memset(record, 0, declaration.record_size);
  for (const FieldDeclaration& field : declaration.fields) {
    if (field.encoding == FieldEncoding::kText) {
      std::memset(record + field.offset, ' ', field.width);
    } else if (field.encoding == FieldEncoding::kDecimal) {
      SetDecimalUnscaled(field, record, 0);
    }
  }
}

std::string FieldText(const FieldDeclaration& field, const std::uint8_t* record) {
  const std::uint8_t* bytes = record + field.offset;
  switch (field.encoding) {
    case FieldEncoding::kText: {
      std::size_t length = field.width;
      while (length > 0 && bytes[length - 1] == ' ') --length;
      return std::string(reinterpret_cast<const char*>(bytes), length);
    }
    case FieldEncoding::kCString: {
      const void* end = std::memchr(bytes, 0, field.width);
      const std::size_t length =
          end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - bytes) : field.width;
      return std::string(reinterpret_cast<const char*>(bytes), length);
    }
    case FieldEncoding::kF32:
    case FieldEncoding::kF64: return FloatText(field, ReadFloat(field, bytes));
    case FieldEncoding::kDecimal: return DecimalText(field, DecimalUnscaled(field, record));
    default: return std::to_string(ReadInteger(field, bytes));
  }
}

bool SetFieldText(const FieldDeclaration& field, std::uint8_t* record, std::string_view text,
                  TextFit fit, std::string* problem) {
  std::uint8_t* bytes = record + field.offset;
  switch (field.encoding) {
    case FieldEncoding::kText:
    case FieldEncoding::kCString: {
      const std::size_t room = field.encoding == FieldEncoding::kText ? field.width : field.width - 1;
      if (text.size() > room) {
        if (fit == TextFit::kRefuse) return Fail(problem, "too long");
        text = text.substr(0, room);
      }
      std::memset(bytes, field.encoding == FieldEncoding::kText ? ' ' : 0, field.width);
      std::memcpy(bytes, text.data(), text.size());
      return true;
    }
    case FieldEncoding::kF32:
    case FieldEncoding::kF64: {
      double value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size()) return Fail(problem, "not a number");
      if (field.encoding == FieldEncoding::kF32 && std::isfinite(value) &&
          std::fabs(value) > std::numeric_limits<float>::max()) {
        return Fail(problem, "out of range");
      }
      WriteFloat(field, bytes, value);
      return true;
    }
    case FieldEncoding::kDecimal: {
      std::int64_t unscaled = 0;
      if (!ParseDecimal(text, field.decimals, field.digits, &unscaled, problem)) return false;
      return SetDecimalUnscaled(field, record, unscaled) || Fail(problem, "out of range");
    }
    default: {
      std::int64_t value = 0;
      if (!text.empty() && text[0] == '+') text.remove_prefix(1);
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error == std::errc::result_out_of_range) return Fail(problem, "out of range");
      if (error != std::errc() || end != text.data() + text.size()) return Fail(problem, "not a whole number");
      std::int64_t lowest, highest;
      IntegerRange(field.encoding, &lowest, &highest);
      if (value < lowest || value > highest) return Fail(problem, "out of range");
      WriteInteger(field, bytes, value);
      return true;
    }
  }
}

double FieldNumber(const FieldDeclaration& field, const std::uint8_t* record) {
  const std::uint8_t* bytes = record + field.offset;
  if (IsText(field.encoding)) return 0;
  if (field.encoding == FieldEncoding::kF32 || field.encoding == FieldEncoding::kF64) {
    return ReadFloat(field, bytes);
  }
  if (field.encoding == FieldEncoding::kDecimal) {
    return static_cast<double>(DecimalUnscaled(field, record)) /
           static_cast<double>(PowerOfTen(field.decimals));
  }
  return static_cast<double>(ReadInteger(field, bytes));
}

bool SetFieldNumber(const FieldDeclaration& field, std::uint8_t* record, double value) {
  std::uint8_t* bytes = record + field.offset;
  if (IsText(field.encoding)) return false;
  if (field.encoding == FieldEncoding::kF32 || field.encoding == FieldEncoding::kF64) {
    WriteFloat(field, bytes, value);
    return true;
  }
  if (field.encoding == FieldEncoding::kDecimal) {
    const double scaled = std::round(value * static_cast<double>(PowerOfTen(field.decimals)));
    if (!(std::fabs(scaled) < 1e18)) return false;
    return SetDecimalUnscaled(field, record, static_cast<std::int64_t>(scaled));
  }
  const double rounded = std::round(value);
  std::int64_t lowest, highest;
  IntegerRange(field.encoding, &lowest, &highest);
  if (!(rounded >= static_cast<double>(lowest) && rounded <= static_cast<double>(highest))) return false;
  WriteInteger(field, bytes, static_cast<std::int64_t>(rounded));
  return true;
}

void SetFieldLowest(const FieldDeclaration& field, std::uint8_t* record) {
  std::uint8_t* bytes = record + field.offset;
  if (IsInteger(field.encoding)) {
    std::int64_t lowest, highest;
    IntegerRange(field.encoding, &lowest, &highest);
    WriteInteger(field, bytes, lowest);
  } else if (field.encoding == FieldEncoding::kDecimal) {
    SetDecimalUnscaled(field, record, 1 - PowerOfTen(field.digits));
  } else if (IsText(field.encoding)) {
    std::memset(bytes, 0, field.width);
  } else {
    WriteFloat(field, bytes, -std::numeric_limits<double>::infinity());
  }
}

void SetFieldHighest(const FieldDeclaration& field, std::uint8_t* record) {
  std::uint8_t* bytes = record + field.offset;
  if (IsInteger(field.encoding)) {
    std::int64_t lowest, highest;
    IntegerRange(field.encoding, &lowest, &highest);
    WriteInteger(field, bytes, highest);
  } else if (field.encoding == FieldEncoding::kDecimal) {
    SetDecimalUnscaled(field, record, PowerOfTen(field.digits) - 1);
  } else if (field.encoding == FieldEncoding::kText) {
    std::memset(bytes, 0xFF, field.width);
  } else if (field.encoding == FieldEncoding::kCString) {
    std::memset(bytes, 0xFF, field.width - 1);
    bytes[field.width - 1] = 0;
  } else {
    WriteFloat(field, bytes, std::numeric_limits<double>::infinity());
  }
}

}  // namespace qm::platform
