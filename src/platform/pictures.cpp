#include "platform/pictures.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string_view>

namespace qm::platform {
namespace {

// Days from 1 January 1970 of a proleptic Gregorian date; any month or day
// count is accepted and rolls over (H. Hinnant's days_from_civil).
long long DaysFromCivil(long long year, long long month, long long day) {
  year += (month - 1) / 12;
  month = (month - 1) % 12 + 1;
  if (month <= 0) {
    month += 12;
    year -= 1;
  }
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long year_of_era = year - era * 400;
  const long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

CalendarDate CivilFromDays(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long day_of_era = days - era * 146097;
  const long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long shifted_month = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  const long long year = year_of_era + era * 400 + (month <= 2);
  return {static_cast<int>(year), month, day};
}

const long long kEpoch = DaysFromCivil(1800, 12, 28);
const long long kLastDay = DaysFromCivil(9999, 12, 31) - kEpoch;
constexpr long kLastTime = 24L * 60 * 60 * 100;

std::tm LocalNow(long* hundredths) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  if (hundredths != nullptr) {
    const auto since_second = now - std::chrono::system_clock::from_time_t(seconds);
    *hundredths = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_second).count() / 10 % 100);
  }
  return local;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// Reads a whole decimal integer; blank text is 0.
std::optional<long long> ParseInteger(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0;
  if (text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Reads a plain decimal number ("-12", "3.75"); blank text is 0.
std::optional<long double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0.0L;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  long double value = 0;
  long double scale = 0;  // 0 until the decimal point
  bool any_digit = false;
  for (char c : text) {
    if (c == '.' && scale == 0) {
      scale = 1;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      any_digit = true;
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += (c - '0') * scale;
      }
    } else {
      return std::nullopt;
    }
  }
  if (!any_digit) return std::nullopt;
  return negative ? -value : value;
}

// Reads the digits at the front of `format` as a width; 0 when there are none.
int TakeNumber(std::string_view& format) {
  int number = 0;
  while (!format.empty() && std::isdigit(static_cast<unsigned char>(format.front()))) {
    number = number * 10 + (format.front() - '0');
    if (number > 10000) return -1;
    format.remove_prefix(1);
  }
  return number;
}

bool TakeBlankFlag(std::string_view& format) {
  if (!format.empty() && (format.front() == 'b' || format.front() == 'B')) {
    format.remove_prefix(1);
    return true;
  }
  return false;
}

std::string TwoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::optional<std::string> FormatNumber(std::string_view format, const std::string& value) {
  bool grouped = true;
  if (!format.empty() && format.front() == '-') format.remove_prefix(1);
  if (!format.empty() && format.front() == '_') {
    grouped = false;
    format.remove_prefix(1);
  }
  const int width = TakeNumber(format);
  int decimals = 0;
  if (!format.empty() && format.front() == '.') {
    format.remove_prefix(1);
    decimals = TakeNumber(format);
  }
  const bool blank_when_zero = TakeBlankFlag(format);
  if (!format.empty() || width < 0 || decimals < 0 || decimals > 18) return std::nullopt;

  const auto number = ParseNumber(value);
  if (!number) return value;
  const long double scaled = std::round(std::fabs(*number) * std::pow(10.0L, decimals));
  if (scaled >= 1e18L) return width > 0 ? std::string(width, '#') : value;
  const auto units = static_cast<unsigned long long>(scaled);
  if (units == 0 && blank_when_zero) return "";

  std::string digits = std::to_string(units);
  if (digits.size() <= static_cast<size_t>(decimals)) {
    digits.insert(0, decimals + 1 - digits.size(), '0');
  }
  const std::string whole = digits.substr(0, digits.size() - decimals);
  std::string text;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (grouped && i > 0 && (whole.size() - i) % 3 == 0) text += ',';
    text += whole[i];
  }
  if (decimals > 0) text += "." + digits.substr(digits.size() - decimals);
  if (units != 0 && *number < 0) text.insert(0, "-");
  if (width > 0 && text.size() > static_cast<size_t>(width)) return std::string(width, '#');
  return text;
}

std::optional<std::string> FormatText(std::string_view format, const std::string& value) {
  const int width = TakeNumber(format);
  if (!format.empty() || width <= 0) return std::nullopt;
  size_t characters = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(value[i]) & 0xC0) != 0x80;
    if (starts_character && characters++ == static_cast<size_t>(width)) return value.substr(0, i);
  }
  return value;
}

std::optional<std::string> FormatDate(std::string_view format, const std::string& value) {
  const int style = TakeNumber(format);
  TakeBlankFlag(format);
  if (!format.empty() || style != 17) return std::nullopt;
  const auto day_number = ParseInteger(value);
  if (!day_number) return value;
  if (*day_number == 0) return "";
  const auto date = DateOfDay(static_cast<long>(*day_number));
  if (!date) return value;
  return TwoDigits(date->day) + "/" + TwoDigits(date->month) + "/" + std::to_string(date->year);
}

std::optional<std::string> FormatTime(std::string_view format, const std::string& value) {
  const int style = TakeNumber(format);
  TakeBlankFlag(format);
  if (!format.empty() || (style != 1 && style != 8)) return std::nullopt;
  const auto time = ParseInteger(value);
  if (!time) return value;
  if (*time == 0) return "";
  if (*time < 0 || *time > kLastTime) return value;
  const auto clock = TimeOfValue(static_cast<long>(*time));
  std::string text = TwoDigits(clock->hour) + ":" + TwoDigits(clock->minute);
  if (style == 8) text += ":" + TwoDigits(clock->second);
  return text;
}

}  // namespace

long DayNumber(int year, int month, int day) {
  const long long number = DaysFromCivil(year, month, day) - kEpoch;
  return number < 1 || number > kLastDay ? 0 : static_cast<long>(number);
}

long Today() {
  const std::tm local = LocalNow(nullptr);
  return DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::optional<CalendarDate> DateOfDay(long day_number) {
  if (day_number < 1 || day_number > kLastDay) return std::nullopt;
  return CivilFromDays(day_number + kEpoch);
}

long TimeOfDay(int hour, int minute, int second, int hundredths) {
  return ((static_cast<long>(hour) * 60 + minute) * 60 + second) * 100 + hundredths + 1;
}

long ClockNow() {
  long hundredths = 0;
  const std::tm local = LocalNow(&hundredths);
  // A leap second shows as the last hundredth of the minute before it.
  if (local.tm_sec > 59) return TimeOfDay(local.tm_hour, local.tm_min, 59, 99);
  return TimeOfDay(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(hundredths));
}

std::optional<ClockTime> TimeOfValue(long time) {
  if (time < 1 || time > kLastTime) return std::nullopt;
  const long hundredths = time - 1;
  return ClockTime{static_cast<int>(hundredths / 360000), static_cast<int>(hundredths / 6000 % 60),
                   static_cast<int>(hundredths / 100 % 60), static_cast<int>(hundredths % 100)};
}

std::string FormatPicture(const std::string& picture, const std::string& value) {
  std::string_view format = picture;
  if (!format.empty() && format.front() == '@') format.remove_prefix(1);
  if (format.empty()) return value;
  const char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(format.front())));
  format.remove_prefix(1);
  std::optional<std::string> shown;
  switch (kind) {
    case 'n': shown = FormatNumber(format, value); break;
    case 's': shown = FormatText(format, value); break;
    case 'd': shown = FormatDate(format, value); break;
    case 't': shown = FormatTime(format, value); break;
    default: break;
  }
  return shown ? *shown : value;
}

}  // namespace qm::platform
