#include "settings/settings_layout.h"

#include <algorithm>
#include <array>

#include "hive/registry.h"

namespace {

using K = TSettingKind;

constexpr std::array kLayout = {
    TLayoutEntry{kMainWindowKey, "Left", K::Integer, "none: all four bounds exist when the key does"},
    TLayoutEntry{kMainWindowKey, "Top", K::Integer, "none"},
    TLayoutEntry{kMainWindowKey, "Width", K::Integer, "none"},
    TLayoutEntry{kMainWindowKey, "Height", K::Integer, "none"},
    TLayoutEntry{kMainWindowKey, "WindowState", K::Integer, "none; only 2 (maximised) has an effect"},
    TLayoutEntry{kMainWindowKey, "LogHeight", K::Integer, "92"},
    TLayoutEntry{kMainWindowKey, "ShowTipAtStartup", K::Boolean, "true"},
    TLayoutEntry{kMainWindowKey, "LastTip", K::Integer, "no tip shown yet"},
    TLayoutEntry{kInputHistoryKey, "Line <n>", K::String, "entry skipped"},
    TLayoutEntry{kFileMasksKey, "FileMasksCount", K::Integer, "no groups"},
    TLayoutEntry{kFileMasksKey, "<n>", K::String, "empty entry"},
    TLayoutEntry{kOptionsKey, "MaxThreads", K::Integer, "12"},
    TLayoutEntry{kOptionsKey, "MinimazeToTray", K::Boolean, "true"},
    TLayoutEntry{kOptionsKey, "MessageWhenComplete", K::Boolean, "true"},
    TLayoutEntry{kOptionsKey, "FileAttr", K::Integer, "49 without the Options key, 63 with it"},
    TLayoutEntry{kOptionsKey, "FileSizeFrom", K::Integer, "-1 (no bound)"},
    TLayoutEntry{kOptionsKey, "FileSizeTo", K::Integer, "-1 (no bound)"},
    TLayoutEntry{kOptionsKey, "FileTimeType", K::Integer, "0 (files modified)"},
    TLayoutEntry{kOptionsKey, "FileTimeFrom", K::DateTime, "0.0 (no bound)"},
    TLayoutEntry{kOptionsKey, "FileTimeTo", K::DateTime, "0.0 (no bound)"},
    TLayoutEntry{kOptionsKey, "FileExclude", K::String, "empty (nothing left out)"},
    TLayoutEntry{kNetResourceKey, "NetResPath", K::String, "empty: the location is a network resource"},
    TLayoutEntry{kNetResourceKey, "NetResFullPath", K::String, "empty"},
    TLayoutEntry{kNetResourceKey, "dwScope", K::Integer, "2 (entire network)"},
    TLayoutEntry{kNetResourceKey, "dwType", K::Integer, "0"},
    TLayoutEntry{kNetResourceKey, "dwDisplayType", K::Integer, "1"},
    TLayoutEntry{kNetResourceKey, "dwUsage", K::Integer, "2"},
    TLayoutEntry{kNetResourceKey, "lpLocalName", K::String, "empty"},
    TLayoutEntry{kNetResourceKey, "lpRemoteName", K::String, "empty"},
    TLayoutEntry{kNetResourceKey, "lpComment", K::String, "empty"},
    TLayoutEntry{kNetResourceKey, "lpProvider", K::String, "empty"},
    TLayoutEntry{kIndexKey, "LocationCount", K::Integer, "0: nothing indexed"},
    TLayoutEntry{kIndexKey, "<n>", K::String, "location skipped"},
    TLayoutEntry{kIndexKey, "RefreshMinutes", K::Integer, "60"},
};

// A non-empty decimal number without sign or leading zero (other than "0" itself).
bool IsIndex(std::string_view text, int limit) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  return limit < 0 || std::stoll(std::string(text)) < limit;
}

}  // namespace

std::string SettingsKey(std::string_view subKey) {
  return std::string(SettingsRoot) + "\\" + std::string(subKey);
}

uint32_t RegistryTypeOf(TSettingKind kind) {
  switch (kind) {
    case TSettingKind::String:
      return REG_SZ;
    case TSettingKind::DateTime:
      return REG_BINARY;
    case TSettingKind::Integer:
    case TSettingKind::Boolean:
      break;
  }
  return REG_DWORD;
}

std::span<const TLayoutEntry> SettingsLayout() { return kLayout; }

const TLayoutEntry* FindLayoutEntry(std::string_view subKey, std::string_view valueName) {
  for (const TLayoutEntry& entry : kLayout) {
    if (entry.SubKey != subKey) continue;
    if (entry.Value == "Line <n>") {
      if (valueName.starts_with("Line ") && IsIndex(valueName.substr(5), 16)) return &entry;
    } else if (entry.Value == "<n>") {
      if (IsIndex(valueName, -1)) return &entry;
    } else if (entry.Value == valueName) {
      return &entry;
    }
  }
  return nullptr;
}
