#pragma once
// TSetting: where one search page searches and its filters. Every page owns one, loaded
// from the saved defaults right after construction (LoadPageDefaults); the options dialog
// edits it and may save either group back as the defaults for new pages
// (SavePageDefaults). The page copies it into the root search task when a search starts,
// so editing it never affects a running search.
//
// Invariant: when NetResource is set, NetResPath is empty and the location is the
// resource; when NetResource is nil, NetResPath is the location.
#include <cstdint>
#include <string>

#include "hive/registry.h"
#include "os/netresource.h"

struct TSetting {
  // The construction values: the entire network, attributes 0x31, no bounds.
  TSetting();
  // Copies are deep: each object owns its own NETRESOURCEA.
  TSetting(const TSetting& other);
  TSetting& operator=(const TSetting& other);
  TSetting(TSetting&&) noexcept = default;
  TSetting& operator=(TSetting&&) noexcept = default;
  ~TSetting() = default;

  std::string NetResPath;     // folder to search when NetResource is nil
  PNetResource NetResource;   // network container or share to search, or nil
  uint32_t FileAttr = 49;     // permitted attribute bits (read-only, directory, archive)
  int32_t FileSizeFrom = -1;  // lower size bound in bytes; -1 no bound
  int32_t FileSizeTo = -1;    // upper size bound in bytes; -1 no bound
  int32_t FileTimeType = 0;   // 0 files modified, 1 files created
  double FileTimeFrom = 0.0;  // lower time bound (days since 1899-12-30); 0.0 no bound
  double FileTimeTo = 0.0;    // upper time bound; 0.0 no bound
  std::string Exclude;        // masks of file and folder names left out; empty: none
  std::string NetResFullPath; // text shown for the location
};

// The attribute set a page gets when the Options key exists without "FileAttr": all six
// bits. Pages created before the first exit get the construction value 49 instead.
inline constexpr uint32_t kFileAttrWhenOptionsExist = 63;

// Fills setting from the saved defaults, in two groups: the location (Options\NetResource)
// and the filters (Options). A missing key leaves its group as it is. A damaged group (an
// integer missing or stored as another kind, a date-time that is not 8 bytes) is left as
// it is as a whole, so page creation never fails because of settings. Never throws.
void LoadPageDefaults(TSetting& setting, TRegistryHive& hive = CurrentUserHive());

// Writes the location group when saveLocation, then the filter group when saveFilters,
// creating the keys as needed. A folder location writes only "NetResPath" and
// "NetResFullPath" and leaves the stored resource values as they are. Throws
// TRegistryError when the settings file cannot be written (the values stay pending).
void SavePageDefaults(const TSetting& setting, bool saveFilters, bool saveLocation,
                      TRegistryHive& hive = CurrentUserHive());
