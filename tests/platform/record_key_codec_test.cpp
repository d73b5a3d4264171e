#include "platform/record_key_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/record_fields.h"

namespace qm::platform {
namespace {

// One field of `encoding` keyed on its own, case-sensitive or not.
RecordDeclaration OneFieldFile(FieldEncoding encoding, std::size_t width = 0, int digits = 0,
                               int decimals = 0, bool no_case = false) {
  RecordDeclaration declaration;
  declaration.AddField("T:VALUE", encoding, width, digits, decimals);
  declaration.keys.push_back(KeyDeclaration{"T:ValueKey", {1}, false, no_case});
  return declaration;
}

std::string KeyOf(const RecordDeclaration& declaration, const std::string& text) {
  std::vector<std::uint8_t> record(declaration.record_size);
  ClearRecord(declaration, record.data());
  EXPECT_TRUE(SetFieldText(declaration.fields[0], record.data(), text)) << text;
  return RecordKeyCodec::Encode(declaration, declaration.keys[0], record.data());
}

int Sign(int value) { return (value > 0) - (value < 0); }

int CompareKeys(const std::string& a, const std::string& b) { return Sign(a.compare(b)); }

struct OrderCase {
  const char* name;
  FieldEncoding encoding;
  std::size_t width;
  int digits;
  int decimals;
  bool no_case;
  const char* lower;
  const char* higher;  // equal to `lower` when `equal`
  bool equal;
};

class KeyOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(KeyOrderTest, ComparesByValue) {
  const OrderCase& c = GetParam();
  const RecordDeclaration declaration = OneFieldFile(c.encoding, c.width, c.digits, c.decimals, c.no_case);
  const std::string lower = KeyOf(declaration, c.lower);
  const std::string higher = KeyOf(declaration, c.higher);
  if (c.equal) {
    EXPECT_EQ(lower, higher);
  } else {
    EXPECT_LT(lower, higher);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, KeyOrderTest,
    ::testing::Values(
        OrderCase{"TrailingBlanksIgnored", FieldEncoding::kText, 8, 0, 0, false, "ab", "ab    ", true},
        OrderCase{"ShorterIsPaddedWithBlanks", FieldEncoding::kText, 8, 0, 0, false, "ab\x10", "ab", false},
        OrderCase{"BlankBeforeLetter", FieldEncoding::kText, 8, 0, 0, false, "ab", "ab c", false},
        OrderCase{"BlanksBeforeControl", FieldEncoding::kText, 8, 0, 0, false, "ab \x10", "ab", false},
        OrderCase{"CaseSensitiveUpperFirst", FieldEncoding::kText, 8, 0, 0, false, "ABC", "abc", false},
        OrderCase{"CaseInsensitiveEqual", FieldEncoding::kText, 8, 0, 0, true, "abc", "ABC", true},
        OrderCase{"CaseInsensitiveOrder", FieldEncoding::kText, 8, 0, 0, true, "abc", "ABD", false},
        OrderCase{"HighBytes", FieldEncoding::kText, 4, 0, 0, false, "\xFB", "\xFC", false},
        OrderCase{"ZeroTerminatedStopsAtZero", FieldEncoding::kCString, 8, 0, 0, false, "ab", "ab ", true},
        OrderCase{"SignedNegativeFirst", FieldEncoding::kI32, 0, 0, 0, false, "-2", "1", false},
        OrderCase{"SignedNegatives", FieldEncoding::kI32, 0, 0, 0, false, "-300", "-2", false},
        OrderCase{"UnsignedByValueNotBytes", FieldEncoding::kU16, 0, 0, 0, false, "255", "256", false},
        OrderCase{"UnsignedHigh", FieldEncoding::kU32, 0, 0, 0, false, "2147483647", "4294967295", false},
        OrderCase{"FloatNegatives", FieldEncoding::kF64, 0, 0, 0, false, "-10.5", "-2.25", false},
        OrderCase{"FloatZeroes", FieldEncoding::kF64, 0, 0, 0, false, "-0", "0", true},
        OrderCase{"SingleAcrossZero", FieldEncoding::kF32, 0, 0, 0, false, "-0.5", "0.25", false},
        OrderCase{"DecimalNegatives", FieldEncoding::kDecimal, 0, 11, 3, false, "-12.5", "-3.25", false},
        OrderCase{"DecimalAcrossZero", FieldEncoding::kDecimal, 0, 9, 2, false, "-0.01", "0", false},
        OrderCase{"DecimalByValue", FieldEncoding::kDecimal, 0, 11, 3, false, "9.999", "10", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Texts as the runtime compares them: the shorter padded with blanks.
int PaddedCompare(std::string a, std::string b) {
  const std::size_t length = std::max(a.size(), b.size());
  a.resize(length, ' ');
  b.resize(length, ' ');
  return Sign(std::memcmp(a.data(), b.data(), length));
}

TEST(RecordKeyCodecTest, TextOrderMatchesPaddedComparisonForManyTexts) {
  const RecordDeclaration declaration = OneFieldFile(FieldEncoding::kText, 6);
  const char alphabet[] = {' ', '\x00', '\x1F', '!', 'a', '\xFC', '\xFF'};
  std::mt19937 random(7);
  auto text = [&] {
    std::string value(random() % 7, ' ');
    for (char& c : value) c = alphabet[random() % sizeof alphabet];
    return value;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = text();
    const std::string b = text();
    ASSERT_EQ(CompareKeys(KeyOf(declaration, a), KeyOf(declaration, b)), PaddedCompare(a, b))
        << "[" << a << "] vs [" << b << "]";
  }
}

TEST(RecordKeyCodecTest, ComponentsCompareInKeyOrderWithoutBleedingIntoEachOther) {
  RecordDeclaration declaration;
  declaration.AddField("T:A", FieldEncoding::kText, 4);
  declaration.AddField("T:B", FieldEncoding::kText, 4);
  declaration.AddField("T:N", FieldEncoding::kI32);
  declaration.keys.push_back(KeyDeclaration{"T:Key", {1, 2, 3}});
  auto key = [&](const char* a, const char* b, const char* n) {
    std::vector<std::uint8_t> record(declaration.record_size);
    ClearRecord(declaration, record.data());
    SetFieldText(declaration.fields[0], record.data(), a);
    SetFieldText(declaration.fields[1], record.data(), b);
    SetFieldText(declaration.fields[2], record.data(), n);
    return RecordKeyCodec::Encode(declaration, declaration.keys[0], record.data());
  };
  EXPECT_LT(key("a", "zz", "9"), key("ab", "a", "0"));
  EXPECT_LT(key("ab", "a", "-1"), key("ab", "a", "0"));
  EXPECT_LT(key("ab", "\x01", "5"), key("ab", "", "-5"));
}

}  // namespace
}  // namespace qm::platform
