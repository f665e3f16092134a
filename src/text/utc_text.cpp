#include "text/utc_text.h"

#include <cstdio>

namespace sqv64 {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

// Reads `count` digits at `at`; false when they are not all digits.
bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
      return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string UtcText(std::chrono::system_clock::time_point moment) {
  auto seconds = std::chrono::floor<std::chrono::seconds>(moment);
  sys_days day = std::chrono::floor<days>(seconds);
  year_month_day date(day);
  std::chrono::hh_mm_ss time(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<std::chrono::system_clock::time_point> ParseUtcText(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() != 20 || !Digits(text, 0, 4, year) || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) || text[10] != 'T' ||
      !Digits(text, 11, 2, hour) || text[13] != ':' || !Digits(text, 14, 2, minute) ||
      text[16] != ':' || !Digits(text, 17, 2, second) || text[19] != 'Z')
    return std::nullopt;
  year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                      std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  return std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
      std::chrono::seconds(second));
}

}  // namespace sqv64
