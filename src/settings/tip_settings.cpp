#include "settings/tip_settings.h"

#include "settings/settings_layout.h"

TTipState LoadTipState(TRegistryHive& hive) {
  TTipState state;
  std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kMainWindowKey));
  if (!key) return state;
  // Each value on its own: a damaged one must not cost the other, nor the dialog.
  try {
    if (key->ValueExists("LastTip")) state.LastTip = key->ReadInteger("LastTip");
  } catch (const TRegistryError&) {
  }
  try {
    if (key->ValueExists("ShowTipAtStartup")) state.ShowTipAtStartup = key->ReadBool("ShowTipAtStartup");
  } catch (const TRegistryError&) {
  }
  return state;
}

void SaveTipState(bool showTipAtStartup, int32_t lastTip, TRegistryHive& hive) {
  THiveUpdate update(hive);
  TRegKey key = hive.CreateKey(SettingsKey(kMainWindowKey));
  key.WriteBool("ShowTipAtStartup", showTipAtStartup);
  key.WriteInteger("LastTip", lastTip);
  update.Commit();
}
