#include "os/dos_time.h"

#include <cmath>

namespace {

constexpr int64_t kMsPerDay = 86'400'000;
// Days from 0000-03-01 (proleptic Gregorian) to 1899-12-30.
constexpr int64_t kEpochShift = 693'899;

// Days since 0000-03-01 of a civil date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const int64_t days = DaysFromCivil(year, month, day) - kEpochShift;
  const double time =
      ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the fraction still counts forward from the start of the day.
  return days >= 0 ? days + time : days - time;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  TDateTimeParts parts;
  if (!std::isfinite(value) || std::fabs(value) > 1e9) return parts;
  // Milliseconds away from the epoch; the day is the whole part, truncated toward zero.
  const int64_t total = std::llround(std::fabs(value) * kMsPerDay);
  int64_t days = total / kMsPerDay;
  const int64_t ms = total % kMsPerDay;
  if (value < 0) days = -days;
  CivilFromDays(days + kEpochShift, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int>(ms / 3'600'000);
  parts.Minute = static_cast<int>(ms / 60'000 % 60);
  parts.Second = static_cast<int>(ms / 1000 % 60);
  parts.Millisecond = static_cast<int>(ms % 1000);
  return parts;
}

uint32_t PackDosDateTime(const TDateTimeParts& parts) {
  if (parts.Year < 1980 || parts.Year > 2107) return 0;
  const uint32_t date = static_cast<uint32_t>(parts.Day + parts.Month * 32 + (parts.Year - 1980) * 512);
  const uint32_t time = static_cast<uint32_t>(parts.Second / 2 + parts.Minute * 32 + parts.Hour * 2048);
  return date << 16 | time;
}

uint32_t DateTimeToDosDateTime(TDateTime value) { return PackDosDateTime(DecodeDateTime(value)); }

TDateTime DosDateTimeToDateTime(uint32_t packed) {
  const int year = 1980 + static_cast<int>(packed >> 25);
  int month = static_cast<int>(packed >> 21 & 0x0F);
  month = month < 1 ? 1 : (month > 12 ? 12 : month);
  int day = static_cast<int>(packed >> 16 & 0x1F);
  day = day < 1 ? 1 : (day > DaysInMonth(year, month) ? DaysInMonth(year, month) : day);
  int hour = static_cast<int>(packed >> 11 & 0x1F);
  hour = hour > 23 ? 23 : hour;
  int minute = static_cast<int>(packed >> 5 & 0x3F);
  minute = minute > 59 ? 59 : minute;
  int second = static_cast<int>(packed & 0x1F) * 2;
  second = second > 59 ? 58 : second;
  return EncodeDateTime(year, month, day, hour, minute, second);
}

uint32_t UnixTimeToDosDateTime(std::time_t seconds) {
  std::tm local{};
  if (!localtime_r(&seconds, &local)) return 0;
  const int year = local.tm_year + 1900;
  if (year < 1980) return 0;
  if (year > 2107) return kDosDateTimeMax;
  TDateTimeParts parts;
  parts.Year = year;
  parts.Month = local.tm_mon + 1;
  parts.Day = local.tm_mday;
  parts.Hour = local.tm_hour;
  parts.Minute = local.tm_min;
  parts.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  return PackDosDateTime(parts);
}
