#include "platform/locale_text.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

namespace {

// A locale_t that lives for the whole process once made: formatting and comparing
// threads may still use one after a test replaced it, so replaced ones are not freed.
std::atomic<locale_t> gUserLocale{nullptr};

locale_t UserLocale() {
  locale_t loc = gUserLocale.load(std::memory_order_acquire);
  if (loc) return loc;
  locale_t made = newlocale(LC_ALL_MASK, "", nullptr);
  if (!made) made = newlocale(LC_ALL_MASK, "C", nullptr);
  locale_t expected = nullptr;
  if (gUserLocale.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  freelocale(made);  // another thread made it first
  return expected;
}

// Makes loc the calling thread's locale for the guard's lifetime (mbrtowc has no _l form).
class TThreadLocaleGuard {
 public:
  explicit TThreadLocaleGuard(locale_t loc) : Previous(uselocale(loc)) {}
  ~TThreadLocaleGuard() { uselocale(Previous); }
  TThreadLocaleGuard(const TThreadLocaleGuard&) = delete;
  TThreadLocaleGuard& operator=(const TThreadLocaleGuard&) = delete;

 private:
  locale_t Previous;
};

// Decodes text in the thread's locale into upper-cased wide characters. A byte that does
// not decode becomes a private-use character that keeps the byte's order.
void DecodeUpper(std::string_view text, locale_t loc, std::wstring& out) {
  out.clear();
  std::mbstate_t state{};
  size_t i = 0;
  while (i < text.size()) {
    wchar_t wc = 0;
    const size_t used = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      wc = static_cast<wchar_t>(0xF700 + static_cast<unsigned char>(text[i]));
      state = std::mbstate_t{};
      i += 1;
    } else {
      i += used == 0 ? 1 : used;  // an embedded NUL byte
    }
    out.push_back(static_cast<wchar_t>(towupper_l(static_cast<wint_t>(wc), loc)));
  }
}

// The day of the week (0 Sunday) of a Gregorian date.
int WeekDay(int year, int month, int day) {
  static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  const int w = (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
  return w < 0 ? w + 7 : w;
}

std::string Format(nl_item format, const std::tm& when) {
  const locale_t loc = UserLocale();
  const char* pattern = nl_langinfo_l(format, loc);
  char buffer[256];
  const size_t length = strftime_l(buffer, sizeof buffer, pattern, &when, loc);
  return std::string(buffer, length);
}

}  // namespace

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  thread_local std::wstring wideA;
  thread_local std::wstring wideB;
  const locale_t loc = UserLocale();
  {
    TThreadLocaleGuard guard(loc);
    DecodeUpper(a, loc, wideA);
    DecodeUpper(b, loc, wideB);
  }
  const int c = wcscoll_l(wideA.c_str(), wideB.c_str(), loc);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string FormatShortDate(int year, int month, int day) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_wday = WeekDay(year, month, day);
  return Format(D_FMT, when);
}

std::string FormatLongTime(int hour, int minute, int second) {
  std::tm when{};
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_year = 70;
  when.tm_mday = 1;
  return Format(T_FMT, when);
}

bool SetUserLocaleForTesting(const char* localeName) {
  locale_t made = newlocale(LC_ALL_MASK, localeName, nullptr);
  if (!made) return false;
  UserLocale();  // settle the first one, so it is not made again over this one
  gUserLocale.store(made, std::memory_order_release);
  return true;
}
