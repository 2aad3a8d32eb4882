#pragma once
// Date-times and packed DOS date-times.
//
// A TDateTime counts days since 1899-12-30 00:00 in local time; its fraction is the
// time of day. A packed DOS date-time holds a local time in 32 bits, two-second steps:
// high 16 bits day + month * 32 + (year - 1980) * 512, low 16 bits seconds / 2 +
// minute * 32 + hour * 2048. Unsigned packed values order chronologically.
#include <cstdint>
#include <ctime>

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// The date-time of a calendar date and time of day (no range checks).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int millisecond = 0);
// The calendar date and time of day of value, rounded to the millisecond. The time of a
// negative value counts from the start of its (whole) day, as for positive ones.
TDateTimeParts DecodeDateTime(TDateTime value);

// Smallest and largest packed values of the years 1980 to 2107.
inline constexpr uint32_t kDosDateTimeMin = (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
inline constexpr uint32_t kDosDateTimeMax = 0xFF9FBF7Du;              // 2107-12-31 23:59:58

// Packs the local date-time parts; 0 when the year lies outside 1980 to 2107. Seconds
// are truncated to an even number.
uint32_t PackDosDateTime(const TDateTimeParts& parts);
// Packs value like PackDosDateTime (0 outside 1980 to 2107).
uint32_t DateTimeToDosDateTime(TDateTime value);
// The date-time of a packed value (an invalid field gives its nearest valid date).
TDateTime DosDateTimeToDateTime(uint32_t packed);

// A file time from the operating system (seconds since 1970 UTC) in local time, packed.
// Times before 1980 give 0 and times after 2107 give kDosDateTimeMax, so an entry always
// has a packed time that keeps its place in the order.
uint32_t UnixTimeToDosDateTime(std::time_t seconds);
