#pragma once
// The text forms of a result's size, attributes, date and time, as the result list, the
// sort and the exports show them.
#include <cstdint>
#include <string>

// "n B" below 1024, then whole "KB", "MB" and "GB" (truncated; no decimals, no
// grouping). Sizes of 2 GiB and more stay in GB ("5 GB"); a negative size shows in B.
std::string SizeToText(int64_t n);
// "R", "H", "S", "A" for 0x01, 0x02, 0x04, 0x20, in that order; other bits add nothing.
std::string AttrToText(uint32_t a);
// The date of dateTime in the user's short date format.
std::string DateToText(double dateTime);
// The time of day of dateTime in the user's long time format.
std::string TimeToText(double dateTime);

// 0 when a and b lie on the same day (whole-day parts truncated toward zero), else 1
// when a >= b and -1 otherwise.
int CompareDateOnly(double a, double b);
// 0 when the times of day of a and b lie less than one millisecond apart (the day is
// ignored), else 1 when a's is >= b's and -1 otherwise.
int CompareTimeOnly(double a, double b);
