#include "settings/index_settings.h"

#include <algorithm>

#include "settings/settings_layout.h"

int32_t ClampRefreshMinutes(int32_t value) { return std::clamp(value, 1, kMaxRefreshMinutes); }

TIndexSettings LoadIndexSettings(TRegistryHive& hive) {
  TIndexSettings settings;
  std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kIndexKey));
  if (!key) return settings;
  try {
    if (key->ValueExists("RefreshMinutes"))
      settings.RefreshMinutes = ClampRefreshMinutes(key->ReadInteger("RefreshMinutes"));
  } catch (const TRegistryError&) {
    // Not an integer: the default interval.
  }
  int32_t count = 0;
  try {
    if (key->ValueExists("LocationCount")) count = key->ReadInteger("LocationCount");
  } catch (const TRegistryError&) {
    return settings;
  }
  count = std::clamp(count, 0, kIndexLocationsLoadLimit);
  for (int32_t i = 0; i < count; ++i) {
    std::optional<TRegValue> value = key->ReadValue(std::to_string(i));
    if (!value || value->Type != REG_SZ || value->Data.empty()) continue;
    if (std::find(settings.Locations.begin(), settings.Locations.end(), value->Data) == settings.Locations.end())
      settings.Locations.push_back(value->Data);
  }
  return settings;
}

void SaveIndexSettings(const TIndexSettings& settings, TRegistryHive& hive) {
  THiveUpdate update(hive);
  hive.DeleteKey(SettingsKey(kIndexKey));
  TRegKey key = hive.CreateKey(SettingsKey(kIndexKey));
  key.WriteInteger("LocationCount", static_cast<int32_t>(settings.Locations.size()));
  for (size_t i = 0; i < settings.Locations.size(); ++i) key.WriteString(std::to_string(i), settings.Locations[i]);
  key.WriteInteger("RefreshMinutes", ClampRefreshMinutes(settings.RefreshMinutes));
  update.Commit();
}
