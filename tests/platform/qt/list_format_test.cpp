#include "platform/qt/list_format.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

TEST(ListFormatTest, RestoreListHasGroupAndFiveColumns) {
  const auto format = ParseListFormat(
      "[18R(2)|M~#~@n3@62L(2)|M~Backup File~@s13@48R(2)|M~Date~@d17b@32R(2)|M~Time~@T1b@"
      "56R(1)|M~Size~R(2)@n-14b@]|M~Select which file to restore from please~");
  ASSERT_TRUE(format);
  EXPECT_EQ(format->group_header, "Select which file to restore from please");
  struct Expected {
    int width;
    char alignment;
    int indent;
    const char* header;
    char header_alignment;
    int header_indent;
    const char* picture;
  };
  const Expected expected[] = {
      {18, 'R', 2, "#", 'R', 2, "@n3"},
      {62, 'L', 2, "Backup File", 'L', 2, "@s13"},
      {48, 'R', 2, "Date", 'R', 2, "@d17b"},
      {32, 'R', 2, "Time", 'R', 2, "@T1b"},
      {56, 'R', 1, "Size", 'R', 2, "@n-14b"},  // the header has an indent of its own
  };
  ASSERT_EQ(format->columns.size(), std::size(expected));
  for (std::size_t index = 0; index < std::size(expected); ++index) {
    SCOPED_TRACE(index);
    const ListColumn& column = format->columns[index];
    EXPECT_EQ(column.width, expected[index].width);
    EXPECT_EQ(column.alignment, expected[index].alignment);
    EXPECT_EQ(column.indent, expected[index].indent);
    EXPECT_EQ(column.header, expected[index].header);
    EXPECT_EQ(column.header_alignment, expected[index].header_alignment);
    EXPECT_EQ(column.header_indent, expected[index].header_indent);
    EXPECT_EQ(column.picture, expected[index].picture);
    EXPECT_TRUE(column.resizable);
    EXPECT_TRUE(column.right_line);
  }
}

TEST(ListFormatTest, ColumnsWithoutGroupOrModifiers) {
  const auto format = ParseListFormat("40L~Name~20C");
  ASSERT_TRUE(format);
  EXPECT_EQ(format->group_header, "");
  ASSERT_EQ(format->columns.size(), 2u);
  EXPECT_EQ(format->columns[0].header, "Name");
  EXPECT_FALSE(format->columns[0].resizable);
  EXPECT_EQ(format->columns[1].alignment, 'C');
  EXPECT_EQ(format->columns[1].header, "");
}

TEST(ListFormatTest, TextThatIsNoListFormatIsRefused) {
  for (const char* text : {"", "TXT|CATEGORY", "[18R(2)", "18R(2~#~", "18R(x)", "18@n3", "]18L",
                           "[18L]~Group~30L", "[[18L]]"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseListFormat(text));
  }
}

}  // namespace
}  // namespace qm::platform
