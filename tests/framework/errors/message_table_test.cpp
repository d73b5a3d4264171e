#include "framework/errors/message_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(MessageTable, BuiltInBlockStartsWithCountAndFirstEntryPacked) {
  const auto table = BuiltInMessageTable();
  const std::string first_title = "Invalid Key";
  const std::string first_message = "%File key file is invalid. Key must be rebuilt.";
  std::vector<std::uint8_t> expected = {54, 0, 33, 0, 5, static_cast<std::uint8_t>(first_title.size())};
  expected.insert(expected.end(), first_title.begin(), first_title.end());
  expected.push_back(static_cast<std::uint8_t>(first_message.size()));
  expected.insert(expected.end(), first_message.begin(), first_message.end());

  ASSERT_GE(table.size(), expected.size());
  EXPECT_EQ(std::vector<std::uint8_t>(table.begin(), table.begin() + expected.size()), expected);
}

TEST(MessageTable, BuiltInTextsKeepTheirBlanksAndQuotes) {
  const auto entries = ReadMessageTable(BuiltInMessageTable());
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 54u);
  EXPECT_EQ(entries->back().ID, 16u);

  auto message_of = [&](std::uint32_t id) {
    for (const auto& entry : *entries) {
      if (entry.ID == id) return entry.MESSAGE;
    }
    return std::string("<missing>");
  };
  EXPECT_EQ(message_of(23), "%File File Load Error.  Error: %ErrorText.");
  EXPECT_EQ(message_of(48), "The following SMTP Error occurred: %Message ");
  EXPECT_EQ(message_of(55), "Poorly Formed Comment String \"%Message\" at Position %Field.");
  EXPECT_EQ(message_of(26),
            "%File has an invalid File structure.|Error: %ErrorCode - %Error|FileError: %FileErrorCode - "
            "%FileError|");
  for (const auto& entry : *entries) EXPECT_TRUE(entry.CATEGORY.empty()) << entry.ID;
}

TEST(MessageTable, ReadsTableOfItsOwn) {
  // Ids above 255 need both bytes of the little-endian id.
  const auto entries = ReadMessageTable(Bytes(std::string("\x02\x00", 2) + std::string("\x2C\x01\x05", 3) +
                                              "\x02Hi\x05there" + std::string("\x00\x00\x01", 3) +
                                              std::string("\x00\x00", 2)));
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].ID, 300u);
  EXPECT_EQ((*entries)[0].FATALITY, 5u);
  EXPECT_EQ((*entries)[0].TITLE, "Hi");
  EXPECT_EQ((*entries)[0].MESSAGE, "there");
  EXPECT_EQ((*entries)[1].ID, 0u);
  EXPECT_EQ((*entries)[1].FATALITY, 1u);
  EXPECT_EQ((*entries)[1].TITLE, "");
  EXPECT_EQ((*entries)[1].MESSAGE, "");
}

TEST(MessageTable, DamagedTableIsRejectedWhole) {
  const std::string good = std::string("\x01\x00", 2) + std::string("\x07\x00\x05", 3) + "\x02Hi\x05there";
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"half a count", std::string("\x01", 1)},
      {"count without entries", std::string("\x01\x00", 2)},
      {"cut in the id", good.substr(0, 3)},
      {"cut before the level", good.substr(0, 4)},
      {"cut in the title", good.substr(0, 7)},
      {"no message length", good.substr(0, 8)},
      {"cut in the message", good.substr(0, good.size() - 1)},
      {"second entry missing", std::string("\x02", 1) + good.substr(1)},
  };
  for (const auto& c : cases) EXPECT_FALSE(ReadMessageTable(Bytes(c.bytes))) << c.what;
  EXPECT_TRUE(ReadMessageTable(Bytes(good)));
}

}  // namespace
}  // namespace qm
