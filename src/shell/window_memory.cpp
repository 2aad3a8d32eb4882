#include "shell/window_memory.h"

#include <sstream>

#include "settings/settings_layout.h"

namespace {

constexpr std::string_view kColumnWidthsValue = "ResultColumnWidths";
constexpr std::string_view kOptionsWidthValue = "OptionsWidth";
constexpr std::string_view kOptionsHeightValue = "OptionsHeight";
constexpr std::string_view kAddressRangesValue = "AddressRanges";

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string JoinList(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ",") + part;
  return text;
}

std::string ReadText(TRegistryHive& hive, std::string_view key, std::string_view name) {
  try {
    if (std::optional<TRegKey> opened = hive.OpenKeyReadOnly(SettingsKey(key))) return opened->ReadString(name);
  } catch (const TRegistryError&) {
    // A damaged value counts as none.
  }
  return {};
}

}  // namespace

std::vector<int> LoadResultColumnWidths(TRegistryHive& hive) {
  std::vector<int> widths;
  for (const std::string& part : SplitList(ReadText(hive, kMainWindowKey, kColumnWidthsValue))) {
    try {
      const int width = std::stoi(part);
      if (width <= 0 || width > 10000) return {};
      widths.push_back(width);
    } catch (const std::exception&) {
      return {};
    }
  }
  return widths;
}

void SaveResultColumnWidths(const std::vector<int>& widths, TRegistryHive& hive) {
  std::vector<std::string> parts;
  for (int width : widths) parts.push_back(std::to_string(width));
  hive.CreateKey(SettingsKey(kMainWindowKey)).WriteString(kColumnWidthsValue, JoinList(parts));
}

std::optional<QSize> LoadOptionsSize(TRegistryHive& hive) {
  try {
    std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kMainWindowKey));
    if (!key || !key->ValueExists(kOptionsWidthValue) || !key->ValueExists(kOptionsHeightValue)) return std::nullopt;
    const QSize size(key->ReadInteger(kOptionsWidthValue), key->ReadInteger(kOptionsHeightValue));
    if (size.width() > 0 && size.height() > 0 && size.width() < 20000 && size.height() < 20000) return size;
  } catch (const TRegistryError&) {
  }
  return std::nullopt;
}

void SaveOptionsSize(const QSize& size, TRegistryHive& hive) {
  TRegKey key = hive.CreateKey(SettingsKey(kMainWindowKey));
  key.WriteInteger(kOptionsWidthValue, size.width());
  key.WriteInteger(kOptionsHeightValue, size.height());
}

std::vector<std::string> LoadAddressRanges(TRegistryHive& hive) {
  return SplitList(ReadText(hive, kOptionsKey, kAddressRangesValue));
}

void SaveAddressRanges(const std::vector<std::string>& ranges, TRegistryHive& hive) {
  hive.CreateKey(SettingsKey(kOptionsKey)).WriteString(kAddressRangesValue, JoinList(ranges));
}
