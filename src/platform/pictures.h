// The runtime's pictures: how numbers, dates and times are shown, and the
// calendar and clock in the runtime's own units.
#pragma once

#include <optional>
#include <string>

namespace qm::platform {

// A date as the runtime's day number: day 4 is 1 January 1801, so day
// numbers count days since 28 December 1800. 0 means "no date". A month or
// day out of range rolls over (month 13 is January of the next year, day 0
// the last day of the month before); a date before day 1 or after
// 31 December 9999 gives 0.
long DayNumber(int year, int month, int day);
long Today();  // local date

struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// The calendar date of a day number; nullopt for 0 or a day out of range.
std::optional<CalendarDate> DateOfDay(long day_number);

// A time of day in hundredths of a second plus one: 1 is midnight. 0 means
// "no time"; the last time of a day is 8640000.
long TimeOfDay(int hour, int minute, int second, int hundredths = 0);
long ClockNow();  // local time

struct ClockTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
};

// The clock time of a runtime time; nullopt for 0 or a value past the day.
std::optional<ClockTime> TimeOfValue(long time);

// Formats a value through a picture. The leading "@" may be left out and
// the picture letter may be in either case.
//   "@n[-][_]W[.D][b]"  a number in W characters: thousands separated by ","
//                        unless "_" is given, D decimals (rounded), a leading
//                        "-" when negative. A number that does not fit shows
//                        as W "#" characters, never as a cut number.
//   "@sW"               text cut to W characters (UTF-8 characters, not bytes).
//   "@d17", "D17"       a day number as dd/mm/yyyy.
//   "@T1", "T8"         a runtime time as hh:mm, and as hh:mm:ss.
// A trailing "b" shows zero as blank; a date or time of 0 means "none" and is
// blank with or without it. Blank text is zero for a number, date or time
// picture; other text that is not a number, a date or time out of range, and
// any unknown picture show the value as it is.
std::string FormatPicture(const std::string& picture, const std::string& value);

}  // namespace qm::platform
