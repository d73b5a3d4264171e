// The runtime's pictures: how numbers, dates and times are shown, and the
// calendar and clock in the runtime's own units.
#pragma once

#include <string>

namespace qm::platform {

// A date as the runtime's day number: day 4 is 1 January 1801, so day
// numbers count days since 28 December 1800. 0 means "no date".
long DayNumber(int year, int month, int day);
long Today();

// A time of day in hundredths of a second plus one: 1 is midnight. 0 means
// "no time".
long TimeOfDay(int hour, int minute, int second, int hundredths = 0);
long ClockNow();

// Formats a value through a picture: "@n3", "@n-14b", "@s13", "@d17b",
// "@T1b", and the bare pictures "D17" (short date, dd/mm/yyyy) and "T8"
// (long time, hh:mm:ss). A trailing "b" shows zero as blank. Text that is
// not a number is shown as it is by a number, date or time picture.
std::string FormatPicture(const std::string& picture, const std::string& value);

}  // namespace qm::platform
