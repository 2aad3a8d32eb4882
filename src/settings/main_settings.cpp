#include "settings/main_settings.h"

#include <algorithm>

#include "settings/settings_layout.h"

namespace {
std::string HistoryValueName(int32_t index) { return "Line " + std::to_string(index); }
}  // namespace

std::vector<std::string> LoadInputHistory(TRegistryHive& hive) {
  std::vector<std::string> history;
  std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kInputHistoryKey));
  if (!key) return history;
  for (int32_t i = 0; i < TProgramOptions::InputHistoryLimit; ++i) {
    std::optional<TRegValue> value = key->ReadValue(HistoryValueName(i));
    if (value && value->Type == REG_SZ) history.push_back(value->Data);
  }
  return history;
}

std::vector<std::string> LoadFileMasks(TRegistryHive& hive) {
  std::vector<std::string> groups;
  std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kFileMasksKey));
  if (!key || !key->ValueExists("FileMasksCount")) return groups;
  int32_t count = 0;
  try {
    count = key->ReadInteger("FileMasksCount");
  } catch (const TRegistryError&) {
    return groups;  // a count that is not an integer: no groups rather than no window
  }
  count = std::clamp(count, 0, kFileMasksLoadLimit);
  groups.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::optional<TRegValue> value = key->ReadValue(std::to_string(i));
    groups.push_back(value && value->Type == REG_SZ ? value->Data : std::string());
  }
  return groups;
}

TMainSettings LoadMainSettings(TProgramOptions& options, TRegistryHive& hive) {
  TMainSettings found;
  try {
    if (std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kMainWindowKey))) {
      found.PlacementFound = true;
      found.Left = key->ReadInteger("Left");
      found.Top = key->ReadInteger("Top");
      found.Width = key->ReadInteger("Width");
      found.Height = key->ReadInteger("Height");
      found.Maximised = key->ReadInteger("WindowState") == kWindowStateMaximised;
      found.LogHeight = key->ReadInteger("LogHeight");
      if (key->ValueExists("ShowTipAtStartup")) found.ShowTipAtStartup = key->ReadBool("ShowTipAtStartup");
    }
    if (std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(kOptionsKey))) {
      if (key->ValueExists("MaxThreads")) options.MaxThreads = ClampMaxThreads(key->ReadInteger("MaxThreads"));
      if (key->ValueExists("MinimazeToTray")) options.MinimazeToTray = key->ReadBool("MinimazeToTray");
      if (key->ValueExists("MessageWhenComplete"))
        options.MessageWhenComplete = key->ReadBool("MessageWhenComplete");
    }
    found.Complete = true;
  } catch (const TRegistryError&) {
    // The first unreadable value ends the load; the window keeps what was read so far and
    // defaults for the rest, without a message.
  }
  return found;
}

void SaveMainSettings(const TMainWindowState& state, const TProgramOptions& options, TRegistryHive& hive) {
  THiveUpdate update(hive);
  TRegKey window = hive.CreateKey(SettingsKey(kMainWindowKey));
  window.WriteInteger("WindowState", state.WindowState);
  window.WriteInteger("Left", state.Left);
  window.WriteInteger("Top", state.Top);
  window.WriteInteger("Width", state.Width);
  window.WriteInteger("Height", state.Height);
  window.WriteInteger("LogHeight", state.LogHeight);

  TRegKey history = hive.CreateKey(SettingsKey(kInputHistoryKey));
  for (size_t i = 0; i < state.InputHistory.size(); ++i)
    history.WriteString(HistoryValueName(static_cast<int32_t>(i)), state.InputHistory[i]);

  hive.DeleteKey(SettingsKey(kFileMasksKey));
  TRegKey masks = hive.CreateKey(SettingsKey(kFileMasksKey));
  masks.WriteInteger("FileMasksCount", static_cast<int32_t>(state.FileMaskGroups.size()));
  for (size_t i = 0; i < state.FileMaskGroups.size(); ++i)
    masks.WriteString(std::to_string(i), state.FileMaskGroups[i]);

  TRegKey optionsKey = hive.CreateKey(SettingsKey(kOptionsKey));
  optionsKey.WriteInteger("MaxThreads", options.MaxThreads);
  optionsKey.WriteBool("MinimazeToTray", options.MinimazeToTray);
  optionsKey.WriteBool("MessageWhenComplete", options.MessageWhenComplete);
  update.Commit();
}
