#include "results/result_text.h"

#include <cmath>

#include "platform/dos_time.h"
#include "platform/locale_text.h"

std::string SizeToText(int64_t n) {
  constexpr int64_t kKB = 1024;
  constexpr int64_t kMB = kKB * 1024;
  constexpr int64_t kGB = kMB * 1024;
  if (n < kKB) return std::to_string(n) + " B";
  if (n < kMB) return std::to_string(n / kKB) + " KB";
  if (n < kGB) return std::to_string(n / kMB) + " MB";
  return std::to_string(n / kGB) + " GB";
}

std::string AttrToText(uint32_t a) {
  std::string text;
  if (a & 0x01) text += 'R';
  if (a & 0x02) text += 'H';
  if (a & 0x04) text += 'S';
  if (a & 0x20) text += 'A';
  return text;
}

std::string DateToText(double dateTime) {
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return FormatShortDate(parts.Year, parts.Month, parts.Day);
}

std::string TimeToText(double dateTime) {
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return FormatLongTime(parts.Hour, parts.Minute, parts.Second);
}

int CompareDateOnly(double a, double b) {
  if (std::trunc(a) == std::trunc(b)) return 0;
  return a >= b ? 1 : -1;
}

int CompareTimeOnly(double a, double b) {
  const double fa = a - std::trunc(a);
  const double fb = b - std::trunc(b);
  if (std::fabs(fa - fb) < 1.0 / 86'400'000.0) return 0;
  return fa >= fb ? 1 : -1;
}
