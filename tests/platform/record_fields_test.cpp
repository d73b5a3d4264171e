#include "platform/record_fields.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm::platform {
namespace {

struct FieldCase {
  const char* name;
  FieldEncoding encoding;
  std::size_t width;
  int digits;
  int decimals;
  const char* text;      // written
  const char* read_back;  // nullptr: refused
};

class FieldTextTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldTextTest, WritesAndReadsBackOrRefuses) {
  const FieldCase& c = GetParam();
  RecordDeclaration declaration;
  declaration.AddField("T:FILLER", FieldEncoding::kU8);
  declaration.AddField("T:VALUE", c.encoding, c.width, c.digits, c.decimals);
  std::vector<std::uint8_t> record(declaration.record_size);
  ClearRecord(declaration, record.data());
  const FieldDeclaration& field = declaration.fields[1];
  const std::vector<std::uint8_t> before = record;
  std::string problem;
  const bool stored = SetFieldText(field, record.data(), c.text, TextFit::kRefuse, &problem);
  if (c.read_back == nullptr) {
    EXPECT_FALSE(stored);
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(record, before) << "a refused value must leave the field alone";
  } else {
    ASSERT_TRUE(stored) << problem;
    EXPECT_EQ(FieldText(field, record.data()), c.read_back);
    EXPECT_EQ(record[0], 0) << "the neighbouring field was touched";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, FieldTextTest,
    ::testing::Values(
        FieldCase{"U8", FieldEncoding::kU8, 0, 0, 0, "255", "255"},
        FieldCase{"U8TooBig", FieldEncoding::kU8, 0, 0, 0, "256", nullptr},
        FieldCase{"U16Negative", FieldEncoding::kU16, 0, 0, 0, "-1", nullptr},
        FieldCase{"I32Lowest", FieldEncoding::kI32, 0, 0, 0, "-2147483648", "-2147483648"},
        FieldCase{"I32TooLow", FieldEncoding::kI32, 0, 0, 0, "-2147483649", nullptr},
        FieldCase{"U32Highest", FieldEncoding::kU32, 0, 0, 0, "4294967295", "4294967295"},
        FieldCase{"IntegerWithPoint", FieldEncoding::kU32, 0, 0, 0, "1.5", nullptr},
        FieldCase{"NotANumber", FieldEncoding::kI32, 0, 0, 0, "12a", nullptr},
        FieldCase{"F64Shortest", FieldEncoding::kF64, 0, 0, 0, "0.1", "0.1"},
        FieldCase{"F32Shortest", FieldEncoding::kF32, 0, 0, 0, "-1.25", "-1.25"},
        FieldCase{"F32TooBig", FieldEncoding::kF32, 0, 0, 0, "1e300", nullptr},
        FieldCase{"TextPadded", FieldEncoding::kText, 6, 0, 0, "ab", "ab"},
        FieldCase{"TextTooLong", FieldEncoding::kText, 3, 0, 0, "abcd", nullptr},
        FieldCase{"CStringRoomForZero", FieldEncoding::kCString, 4, 0, 0, "abcd", nullptr},
        FieldCase{"CString", FieldEncoding::kCString, 4, 0, 0, "abc", "abc"},
        FieldCase{"DecimalFraction", FieldEncoding::kDecimal, 0, 11, 3, "-12.5", "-12.500"},
        FieldCase{"DecimalSmall", FieldEncoding::kDecimal, 0, 9, 2, ".05", "0.05"},
        FieldCase{"DecimalTrailingZeros", FieldEncoding::kDecimal, 0, 9, 2, "1.2300", "1.23"},
        FieldCase{"DecimalTooManyDecimals", FieldEncoding::kDecimal, 0, 9, 2, "1.234", nullptr},
        FieldCase{"DecimalTooManyDigits", FieldEncoding::kDecimal, 0, 9, 2, "12345678.5", nullptr},
        FieldCase{"DecimalLargest", FieldEncoding::kDecimal, 0, 13, 3, "9999999999.999", "9999999999.999"},
        // An even number of digits leaves room for one fewer in its bytes.
        FieldCase{"DecimalEvenDigitsLargest", FieldEncoding::kDecimal, 0, 18, 2, "999999999999999.99",
                  "999999999999999.99"},
        FieldCase{"DecimalEvenDigitsTooMany", FieldEncoding::kDecimal, 0, 18, 2, "1234567890123456.78", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFieldsTest, PackedDecimalHasDigitsHighFirstAndTheSignLast) {
  RecordDeclaration declaration;
  declaration.AddField("T:AMOUNT", FieldEncoding::kDecimal, 0, 11, 3);
  ASSERT_EQ(declaration.record_size, 6u);
  std::vector<std::uint8_t> record(6);
  ASSERT_TRUE(SetFieldText(declaration.fields[0], record.data(), "-12.345"));
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x12, 0x34, 0x5D}));
  EXPECT_DOUBLE_EQ(FieldNumber(declaration.fields[0], record.data()), -12.345);
}

TEST(RecordFieldsTest, ClearingSetsNumbersToZeroAndTextsToBlanks) {
  RecordDeclaration declaration;
  declaration.AddField("T:CODE", FieldEncoding::kText, 3);
  declaration.AddField("T:NOTE", FieldEncoding::kCString, 3);
  declaration.AddField("T:N", FieldEncoding::kU16);
  declaration.AddField("T:D", FieldEncoding::kDecimal, 0, 3, 1);
  std::vector<std::uint8_t> record(declaration.record_size, 0xAA);
  ClearRecord(declaration, record.data());
  EXPECT_EQ(record, (std::vector<std::uint8_t>{' ', ' ', ' ', 0, 0, 0, 0, 0, 0x00, 0x0C}));
  EXPECT_EQ(FieldText(declaration.fields[3], record.data()), "0.0");
}

TEST(RecordFieldsTest, AnAssignmentCutsALongTextAndKeepsTheTerminator) {
  RecordDeclaration declaration;
  declaration.AddField("V30:WORKDONEDESCRIPTION", FieldEncoding::kCString, 256);
  std::vector<std::uint8_t> record(256, 'x');
  ASSERT_TRUE(SetFieldText(declaration.fields[0], record.data(), std::string(300, 'w'), TextFit::kCut));
  EXPECT_EQ(FieldText(declaration.fields[0], record.data()), std::string(255, 'w'));
  EXPECT_EQ(record[255], 0);
}

TEST(RecordDeclarationTest, ProblemsOfADeclaration) {
  auto valid = [] {
    RecordDeclaration declaration;
    declaration.AddField("T:A", FieldEncoding::kU16);
    declaration.AddField("T:B", FieldEncoding::kText, 4);
    declaration.keys.push_back(KeyDeclaration{"T:AKey", {1}, true, false, true});
    return declaration;
  };
  EXPECT_EQ(valid().Problem(), "");
  struct Case {
    const char* why;
    void (*spoil)(RecordDeclaration&);
  } cases[] = {
      {"overlap", [](RecordDeclaration& d) { d.fields[1].offset = 1; }},
      {"outside", [](RecordDeclaration& d) { d.fields[1].width = 9; }},
      {"wrong width", [](RecordDeclaration& d) { d.fields[0].width = 4; d.record_size = 8; }},
      {"twice", [](RecordDeclaration& d) { d.fields[1].name = "t:a"; }},
      {"unknown field", [](RecordDeclaration& d) { d.keys[0].components = {3}; }},
      {"no components", [](RecordDeclaration& d) { d.keys[0].components.clear(); }},
      {"two primaries", [](RecordDeclaration& d) { d.keys.push_back(KeyDeclaration{"T:BKey", {2}, false, false, true}); }},
  };
  for (const Case& c : cases) {
    RecordDeclaration declaration = valid();
    c.spoil(declaration);
    EXPECT_NE(declaration.Problem(), "") << c.why;
  }
}

}  // namespace
}  // namespace qm::platform
