#pragma once
// Where the program keeps what it remembers between runs: one key under HKEY_CURRENT_USER
// (SettingsRoot) with five sub-keys (six once a location is indexed), and the names and kinds of every value in them.
// Nothing else is stored. The table below is the complete list; FindLayoutEntry says
// which entry a value belongs to.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kMakerName = "Orvantis";
inline constexpr std::string_view kProductName = "Lanternquest";
// "SOFTWARE\" + maker + "\" + product; no version part.
inline constexpr std::string_view SettingsRoot = "SOFTWARE\\Orvantis\\Lanternquest";

inline constexpr std::string_view kMainWindowKey = "MainWindow";
inline constexpr std::string_view kInputHistoryKey = "InputHistory";
inline constexpr std::string_view kFileMasksKey = "FileMasks";
inline constexpr std::string_view kOptionsKey = "Options";
inline constexpr std::string_view kNetResourceKey = "Options\\NetResource";
inline constexpr std::string_view kIndexKey = "Index";  // only once a location is indexed

// SettingsRoot + "\" + subKey: the full path of a sub-key below HKEY_CURRENT_USER.
std::string SettingsKey(std::string_view subKey);

// How a value is stored: Integer and Boolean as REG_DWORD (a Boolean written as 1 or 0,
// read as non-zero), String as REG_SZ, DateTime as an 8-byte REG_BINARY double.
enum class TSettingKind { Integer, Boolean, String, DateTime };

uint32_t RegistryTypeOf(TSettingKind kind);

struct TLayoutEntry {
  std::string_view SubKey;
  // The value name; "Line <n>" and "<n>" stand for the numbered values.
  std::string_view Value;
  TSettingKind Kind;
  std::string_view Default;  // what a reader uses when the value is absent
};

std::span<const TLayoutEntry> SettingsLayout();

// The entry that a value of subKey named valueName belongs to, or nullptr when the
// layout has no such value. "Line <n>" matches n from 0 to 15, "<n>" any decimal number.
const TLayoutEntry* FindLayoutEntry(std::string_view subKey, std::string_view valueName);
