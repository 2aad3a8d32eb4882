#pragma once
// What the tip of the day remembers in the MainWindow key: the tip shown last and whether
// the tip appears by itself at start-up. UI thread only.
#include <cstdint>
#include <optional>

#include "hive/registry.h"

struct TTipState {
  std::optional<int32_t> LastTip;  // absent: no tip shown yet
  bool ShowTipAtStartup = true;
};

// Reads "LastTip" and "ShowTipAtStartup"; an absent or damaged value keeps its default,
// so the dialog always opens. Never throws.
TTipState LoadTipState(TRegistryHive& hive = CurrentUserHive());

// Writes "ShowTipAtStartup" then "LastTip", creating the MainWindow key if needed. Throws
// TRegistryError when the settings file cannot be written.
void SaveTipState(bool showTipAtStartup, int32_t lastTip, TRegistryHive& hive = CurrentUserHive());
