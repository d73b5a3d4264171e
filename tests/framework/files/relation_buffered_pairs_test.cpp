// The linking pairs of a relation: how their values compare and copy across
// fields of different shapes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>

#include "framework/files/buffered_pairs.h"
#include "platform/record_fields.h"

namespace qm {
namespace {

using platform::FieldEncoding;

// One field's bytes, with room for any width used here.
struct Value {
  Value(FieldEncoding encoding, std::size_t width = 0) : reference(bytes.data(), encoding, width) {
    bytes.fill(0x5A);  // what was there before: never read as a value
  }
  void Set(const std::string& text) {
    ASSERT_TRUE(platform::SetFieldText(reference.FIELD, reference.ADDRESS, text)) << text;
  }
  std::string Text() const { return platform::FieldText(reference.FIELD, reference.ADDRESS); }

  std::array<std::uint8_t, 16> bytes{};
  FieldReference reference;
};

struct CompareCase {
  const char* name;
  FieldEncoding left_encoding;
  std::size_t left_width;
  FieldEncoding right_encoding;
  std::size_t right_width;
  const char* left;
  const char* right;
  bool exact;          // EqualLeftRight
  bool ignoring_case;  // EqualRightBuffer after the left value was kept
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << c.name; }

class BufferedPairsCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(BufferedPairsCompareTest, LinkingValuesCompareByTheirFields) {
  const CompareCase& c = GetParam();
  Value left(c.left_encoding, c.left_width);
  Value right(c.right_encoding, c.right_width);
  left.Set(c.left);
  right.Set(c.right);
  // Whatever follows a zero-terminated text's zero is not part of it.
  if (c.right_encoding == FieldEncoding::kCString) right.bytes[c.right_width - 1] ^= 0xFF;
  BufferedPairs pairs;
  pairs.AddPair(left.reference, right.reference);
  pairs.AssignLeftToBuffer();

  EXPECT_EQ(pairs.EqualLeftRight(), c.exact);
  EXPECT_EQ(pairs.EqualRightBuffer(), c.ignoring_case);
  EXPECT_TRUE(pairs.EqualLeftBuffer());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BufferedPairsCompareTest,
    ::testing::Values(
        CompareCase{"SameText", FieldEncoding::kText, 4, FieldEncoding::kText, 4, "Hill", "Hill", true, true},
        CompareCase{"TextInOtherCase", FieldEncoding::kText, 4, FieldEncoding::kText, 4, "Hill", "HILL", false,
                    true},
        CompareCase{"TextsOfOtherWidths", FieldEncoding::kText, 4, FieldEncoding::kText, 6, "Hill", "hill", false,
                    true},
        // 65 and 97 are 'A' and 'a': letter case is a matter of texts only.
        CompareCase{"NumbersAreNeverFolded", FieldEncoding::kU16, 0, FieldEncoding::kU16, 0, "65", "97", false,
                    false},
        CompareCase{"NumbersOfOtherWidths", FieldEncoding::kU16, 0, FieldEncoding::kU32, 0, "7", "7", true, true},
        CompareCase{"OtherNumbers", FieldEncoding::kU16, 0, FieldEncoding::kU32, 0, "7", "8", false, false},
        CompareCase{"ZeroTerminatedTextsEndAtTheirZero", FieldEncoding::kCString, 8, FieldEncoding::kCString, 8,
                    "ab", "ab", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BufferedPairsTest, AChangedLeftValueIsSeenAndCanBeTakenBack) {
  Value left(FieldEncoding::kText, 4);
  Value right(FieldEncoding::kText, 4);
  BufferedPairs pairs;
  pairs.AddPair(left.reference, right.reference);
  left.Set("");
  EXPECT_TRUE(pairs.EqualLeftBuffer()) << "the buffer starts as the cleared value";

  left.Set("Hill");
  EXPECT_FALSE(pairs.EqualLeftBuffer());
  pairs.AssignLeftToBuffer();
  left.Set("High");
  pairs.AssignBufferToRight();
  EXPECT_EQ(right.Text(), "Hill");
  pairs.AssignBufferToLeft();
  EXPECT_EQ(left.Text(), "Hill");
  right.Set("Vale");
  pairs.AssignRightToLeft();
  EXPECT_EQ(left.Text(), "Vale");
}

TEST(BufferedPairsTest, ValuesCopyAndClearAsTheirTargetFieldHoldsThem) {
  Value number(FieldEncoding::kU16);
  Value wide(FieldEncoding::kU32);
  Value text(FieldEncoding::kText, 6);
  Value narrow(FieldEncoding::kText, 3);
  Value decimal(FieldEncoding::kDecimal, 3);
  BufferedPairs pairs;
  pairs.AddPair(number.reference, wide.reference);
  pairs.AddPair(text.reference, narrow.reference);
  pairs.AddPair(number.reference, decimal.reference);
  number.Set("513");
  text.Set("Meadow");

  pairs.AssignLeftToRight();
  EXPECT_EQ(wide.Text(), "513");
  EXPECT_EQ(narrow.Text(), "Mea");
  EXPECT_EQ(decimal.Text(), "513");

  pairs.ClearRight();
  EXPECT_EQ(wide.Text(), "0");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(narrow.bytes.data()), 3), "   ");
  EXPECT_EQ(decimal.Text(), "0");
}

}  // namespace
}  // namespace qm
