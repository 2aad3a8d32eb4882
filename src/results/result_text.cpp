#include "results/result_text.h"

#include <cmath>

#include "os/dos_time.h"
#include "os/file_attr.h"
#include "os/locale_text.h"

std::string SizeToText(int64_t n) {
  constexpr int64_t kKB = 1024;
  constexpr int64_t kMB = kKB * 1024;
  constexpr int64_t kGB = kMB * 1024;
  if (n < 0) return {};  // not known
  if (n < kKB) return std::to_string(n) + " B";
  if (n < kMB) return std::to_string(n / kKB) + " KB";
  if (n < kGB) return std::to_string(n / kMB) + " MB";
  return std::to_string(n / kGB) + " GB";
}

std::string AttrToText(uint32_t a) {
  std::string text;
  if (a & kAttrReadOnly) text += 'R';
  if (a & kAttrHidden) text += 'H';
  if (a & kAttrSystem) text += 'S';
  if (a & kAttrArchive) text += 'A';
  return text;
}

std::string DateToText(double dateTime) {
  if (!std::isfinite(dateTime)) return {};
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return FormatShortDate(parts.Year, parts.Month, parts.Day);
}

std::string TimeToText(double dateTime) {
  if (!std::isfinite(dateTime)) return {};
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return FormatLongTime(parts.Hour, parts.Minute, parts.Second);
}

namespace {

// Orders a non-finite date-time (any 8 bytes of a result file load as one) before every
// finite one, all non-finite ones alike. 2 when both are finite and the caller decides.
int CompareFiniteness(double a, double b) {
  const bool finiteA = std::isfinite(a);
  const bool finiteB = std::isfinite(b);
  if (finiteA && finiteB) return 2;
  if (finiteA == finiteB) return 0;
  return finiteA ? 1 : -1;
}

}  // namespace

int CompareDateOnly(double a, double b) {
  if (const int c = CompareFiniteness(a, b); c != 2) return c;
  const double dayA = std::trunc(a);
  const double dayB = std::trunc(b);
  return dayA == dayB ? 0 : (dayA > dayB ? 1 : -1);
}

int CompareTimeOnly(double a, double b) {
  if (const int c = CompareFiniteness(a, b); c != 2) return c;
  // Whole milliseconds of the day: equal counts are the same time, and unlike a
  // "closer than a millisecond" test this equality is transitive.
  const auto msA = std::llround((a - std::trunc(a)) * 86'400'000.0);
  const auto msB = std::llround((b - std::trunc(b)) * 86'400'000.0);
  return msA == msB ? 0 : (msA > msB ? 1 : -1);
}
