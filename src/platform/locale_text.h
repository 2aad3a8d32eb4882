#pragma once
// The user's regional settings: locale-aware comparison and date and time texts.
//
// The user's locale is the one the environment selects (LC_ALL, LC_COLLATE, LC_TIME,
// LANG), read once on first use; "C" when the environment names no usable locale.
// All functions are safe from any thread.
#include <string>
#include <string_view>

// Compares a and b in the user's locale with letter case ignored: -1, 0 or 1. Strings
// are decoded in the locale's character set; a byte that does not decode compares by
// its value.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);

// The date in the user's short date format (e.g. "03/14/24" in the C locale).
std::string FormatShortDate(int year, int month, int day);
// The time of day in the user's long time format (e.g. "10:00:02" in the C locale).
std::string FormatLongTime(int hour, int minute, int second);

// Replaces the user's locale with the named one ("" reads the environment again), for
// tests. False (and nothing changes) when the system has no such locale. Not to be called while other threads
// format or compare.
bool SetUserLocaleForTesting(const char* localeName);
