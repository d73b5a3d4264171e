#include "platform/pictures.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::platform {
namespace {

struct PictureCase {
  const char* picture;
  std::string value;
  const char* shown;
};

TEST(FormatPictureTest, ShowsValuesThroughPictures) {
  const PictureCase cases[] = {
      // The row number of a list: plain digits, and no cut number when too wide.
      {"@n3", "7", "7"},
      {"@n3", "123", "123"},
      {"@n3", "0", "0"},
      {"@n3", "1234", "###"},
      // Sizes: separators, a leading minus, blank for zero.
      {"@n-14b", "2431", "2,431"},
      {"@n-14b", "999", "999"},
      {"@n-14b", "1000", "1,000"},
      {"@n-14b", "-1234567", "-1,234,567"},
      {"@n-14b", "12345678901", "12,345,678,901"},
      {"@n-14b", "-12345678901", "##############"},
      {"@n-14b", "0", ""},
      {"@n-14b", "", ""},
      {"@n-14b", " 42 ", "42"},
      {"@n-14", "0", "0"},
      {"@n_9", "1234567", "1234567"},
      {"@n10.2", "1234.567", "1,234.57"},
      {"@n10.2", "-0.5", "-0.50"},
      {"@n6", "-0.4", "0"},
      {"@n-14b", "12 MB", "12 MB"},
      // Text cut to its width, counting characters, not bytes.
      {"@s13", "Ext drive", "Ext drive"},
      {"@s13", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLM"},
      {"@s3", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "\xC3\xA4\xC3\xB6\xC3\xBC"},
      // Dates and times; zero is "none".
      {"@d17b", std::to_string(DayNumber(2026, 12, 10)), "10/12/2026"},
      {"@d17b", "0", ""},
      {"@D17", "0", ""},
      {"D17", "4", "01/01/1801"},
      {"D17", "99999999", "99999999"},
      {"@d17b", "soon", "soon"},
      {"@T1b", std::to_string(TimeOfDay(10, 30, 15)), "10:30"},
      {"@T1b", std::to_string(TimeOfDay(9, 5, 59, 99)), "09:05"},
      {"@T1b", "0", ""},
      {"T8", "1", "00:00:00"},
      {"T8", std::to_string(TimeOfDay(23, 59, 59, 99)), "23:59:59"},
      {"T8", "8640001", "8640001"},
      // Pictures this runtime does not know.
      {"@k12", "abc", "abc"},
      {"@d5", "80000", "80000"},
      {"", "as it is", "as it is"},
  };
  for (const PictureCase& c : cases) {
    EXPECT_EQ(FormatPicture(c.picture, c.value), c.shown)
        << "picture " << c.picture << ", value \"" << c.value << "\"";
  }
}

struct KnownDate {
  int year, month, day;
  long number;
};

TEST(DayNumberTest, KnownDatesAndTheirWayBack) {
  const KnownDate dates[] = {
      {1800, 12, 28, 0},   // the epoch itself is "no date"
      {1800, 12, 29, 1},
      {1801, 1, 1, 4},
      {1801, 3, 1, 63},
      {1900, 3, 1, 36222},  // 1900 has no 29 February
      {2000, 1, 1, 72687},
      {9999, 12, 31, 2994626},
  };
  for (const KnownDate& d : dates) {
    EXPECT_EQ(DayNumber(d.year, d.month, d.day), d.number) << d.year << "-" << d.month << "-" << d.day;
    if (d.number == 0) continue;
    const auto date = DateOfDay(d.number);
    ASSERT_TRUE(date.has_value()) << d.number;
    EXPECT_EQ(date->year, d.year);
    EXPECT_EQ(date->month, d.month);
    EXPECT_EQ(date->day, d.day);
  }
  EXPECT_EQ(DayNumber(10000, 1, 1), 0);
  EXPECT_FALSE(DateOfDay(0).has_value());
  EXPECT_FALSE(DateOfDay(2994627).has_value());
}

TEST(DayNumberTest, OutOfRangeMonthsAndDaysRollOver) {
  EXPECT_EQ(DayNumber(2025, 13, 1), DayNumber(2026, 1, 1));
  EXPECT_EQ(DayNumber(2024, 3, 0), DayNumber(2024, 2, 29));
  EXPECT_EQ(DayNumber(1900, 2, 29), DayNumber(1900, 3, 1));
  EXPECT_EQ(DayNumber(2000, 2, 29) + 1, DayNumber(2000, 3, 1));
}

TEST(TimeOfDayTest, HundredthsPlusOneAndBack) {
  EXPECT_EQ(TimeOfDay(0, 0, 0), 1);
  EXPECT_EQ(TimeOfDay(23, 59, 59, 99), 8640000);
  const auto clock = TimeOfValue(TimeOfDay(13, 7, 42, 5));
  ASSERT_TRUE(clock.has_value());
  EXPECT_EQ(clock->hour, 13);
  EXPECT_EQ(clock->minute, 7);
  EXPECT_EQ(clock->second, 42);
  EXPECT_EQ(clock->hundredths, 5);
  EXPECT_FALSE(TimeOfValue(0).has_value());
  EXPECT_FALSE(TimeOfValue(8640001).has_value());
}

TEST(ClockTest, TodayAndNowAreInRange) {
  EXPECT_TRUE(DateOfDay(Today()).has_value());
  EXPECT_TRUE(TimeOfValue(ClockNow()).has_value());
}

}  // namespace
}  // namespace qm::platform
