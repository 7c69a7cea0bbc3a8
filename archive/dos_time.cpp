#include "archive/dos_time.h"

namespace {

bool isLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian calendar.
int64_t daysSince1601(int64_t year, int month, int day) {
  int64_t y = year - 1601;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += daysInMonth(year, m);
  return days + (day - 1);
}

}  // namespace

bool dosDateTimeToFileTime(uint16_t date, uint16_t time, uint64_t* fileTime) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int64_t year = (date >> 9) + 1980;
  const int seconds = (time & 0x1F) * 2;
  const int minutes = (time >> 5) & 0x3F;
  const int hours = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
  if (hours > 23 || minutes > 59 || seconds > 59) return false;
  constexpr uint64_t kTicksPerSecond = 10000000;
  const int64_t totalSeconds =
      daysSince1601(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  *fileTime = static_cast<uint64_t>(totalSeconds) * kTicksPerSecond;
  return true;
}
