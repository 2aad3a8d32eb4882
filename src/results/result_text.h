#pragma once
// The text forms of a result's size, attributes, date and time, as the result list, the
// sort and the exports show them.
#include <cstdint>
#include <string>

// "n B" below 1024, then whole "KB", "MB" and "GB" (truncated; no decimals, no
// grouping). Sizes of 2 GiB and more stay in GB ("5 GB"); a negative size is one not
// known and shows as empty text.
std::string SizeToText(int64_t n);
// "R", "H", "S", "A" for 0x01, 0x02, 0x04, 0x20, in that order; other bits add nothing.
std::string AttrToText(uint32_t a);
// The date of dateTime in the user's short date format; empty when dateTime is not finite
// (an entry whose details could not be read, or a damaged record).
std::string DateToText(double dateTime);
// The time of day of dateTime in the user's long time format; empty when not finite.
std::string TimeToText(double dateTime);

// Both comparisons are strict weak orders over every double: non-finite values (NaN,
// infinities) are equal to each other and come before all finite ones.
// For finite values: 0 when a and b lie on the same day (whole-day parts truncated
// toward zero), else 1 when a's day is later and -1 otherwise.
int CompareDateOnly(double a, double b);
// For finite values: 0 when the times of day of a and b round to the same millisecond
// (the day is ignored), else 1 when a's is later and -1 otherwise.
int CompareTimeOnly(double a, double b);
