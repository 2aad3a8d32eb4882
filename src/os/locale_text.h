#pragma once
// The user's regional settings: locale-aware comparison and date and time texts.
//
// The user's locale is the one the environment selects (LC_ALL, LC_COLLATE, LC_TIME,
// LANG), read once on first use; "C" when the environment names no usable locale.
// All functions are safe from any thread.
#include <locale.h>

#include <string>
#include <string_view>

// Compares a and b in the user's locale with letter case ignored: -1, 0 or 1. Strings
// are decoded in the locale's character set and upper-cased character by character,
// then collated by the locale (wcscoll); where the locale collates in plain character
// order (C, POSIX, C.UTF-8) the characters are compared directly. A byte that does not
// decode stands for the private-use character U+F700 plus its value.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
// Compares aHead + aTail with bHead + bTail like CompareTextIgnoreCase, without joining
// the pieces first.
int CompareJoinedTextIgnoreCase(std::string_view aHead, std::string_view aTail,
                                std::string_view bHead, std::string_view bTail);

// Appends to key the sort key of head + tail. Two keys are compared with
// CompareSortKeys; where they differ, their order is the order of
// CompareJoinedTextIgnoreCase. Equal keys decide nothing: in a collating locale a key
// holds only the first collation level, so texts with equal keys may still differ and
// only CompareJoinedTextIgnoreCase orders them. Building a key costs about one
// comparison and comparing two is a memcmp, so a sort builds each key once. Keys are
// only meaningful between texts keyed under the same user locale.
void AppendSortKeyIgnoreCase(std::string_view head, std::string_view tail, std::string& key);
// The order of two keys made by AppendSortKeyIgnoreCase, byte by byte as unsigned
// characters (a key that is a prefix of the other comes first): -1, 0 or 1.
int CompareSortKeys(std::string_view a, std::string_view b);

// The date in the user's short date format (e.g. "03/14/24" in the C locale).
std::string FormatShortDate(int year, int month, int day);
// The time of day in the user's long time format (e.g. "10:00:02" in the C locale).
std::string FormatLongTime(int hour, int minute, int second);

// text, in the user's locale's character set, as UTF-8. What does not decode in that
// set becomes U+FFFD, one per byte.
std::string LocaleTextToUtf8(std::string_view text);

// Replaces the user's locale with the named one ("" reads the environment again), for
// tests. False (and nothing changes) when the system has no such locale. Not to be called while other threads
// format or compare.
bool SetUserLocaleForTesting(const char* localeName);

// Makes a locale the calling thread's own for the guard's lifetime (mbrtowc and the other
// conversions without an _l form read the thread's locale).
class TThreadLocaleGuard {
 public:
  explicit TThreadLocaleGuard(locale_t loc) : Previous(uselocale(loc)) {}
  ~TThreadLocaleGuard() { uselocale(Previous); }
  TThreadLocaleGuard(const TThreadLocaleGuard&) = delete;
  TThreadLocaleGuard& operator=(const TThreadLocaleGuard&) = delete;

 private:
  locale_t Previous;
};
