#pragma once
// Which locations the program keeps an index of, and how often it refreshes them, moved
// between plain data and the hive. The key "Index" is absent until the user adds a
// location, so a settings file from before holds nothing indexed and loads unchanged.
//
// Layout of the Index key: "LocationCount" (integer), the locations as strings named
// "0", "1", ... (each as an index names it: a local folder, a UNC name, "network" or an
// address range) and "RefreshMinutes" (integer). UI thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "hive/registry.h"

inline constexpr int32_t kDefaultRefreshMinutes = 60;
inline constexpr int32_t kMaxRefreshMinutes = 7 * 24 * 60;
// More locations than this are not read back (a damaged count).
inline constexpr int32_t kIndexLocationsLoadLimit = 1024;

struct TIndexSettings {
  std::vector<std::string> Locations;  // in the order the user added them, no duplicates
  int32_t RefreshMinutes = kDefaultRefreshMinutes;  // 1 .. kMaxRefreshMinutes

  bool operator==(const TIndexSettings&) const = default;
};

// value brought into 1 .. kMaxRefreshMinutes.
int32_t ClampRefreshMinutes(int32_t value);

// Reads the Index key. A missing key gives no locations and the default interval; a
// damaged value costs only itself (a location that is not a string is skipped, an
// interval that is not an integer keeps the default). Never throws.
TIndexSettings LoadIndexSettings(TRegistryHive& hive = CurrentUserHive());

// Rewrites the Index key whole (so no surplus locations remain) and writes the file
// once. Throws TRegistryError when the settings file cannot be written; the values stay
// pending in the hive.
void SaveIndexSettings(const TIndexSettings& settings, TRegistryHive& hive = CurrentUserHive());
