#pragma once
// The network-resource record that the engine, the settings, the search page and the
// options dialog pass around. Each of the four names may be absent (nil), which is
// different from an empty name, so they are optional strings. A record owns its strings;
// copying one is a deep copy.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

inline constexpr uint32_t RESOURCE_CONNECTED = 1;
inline constexpr uint32_t RESOURCE_GLOBALNET = 2;
inline constexpr uint32_t RESOURCE_REMEMBERED = 3;

inline constexpr uint32_t RESOURCETYPE_ANY = 0;
inline constexpr uint32_t RESOURCETYPE_DISK = 1;
inline constexpr uint32_t RESOURCETYPE_PRINT = 2;

inline constexpr uint32_t RESOURCEDISPLAYTYPE_GENERIC = 0;
inline constexpr uint32_t RESOURCEDISPLAYTYPE_DOMAIN = 1;
inline constexpr uint32_t RESOURCEDISPLAYTYPE_SERVER = 2;
inline constexpr uint32_t RESOURCEDISPLAYTYPE_SHARE = 3;
inline constexpr uint32_t RESOURCEDISPLAYTYPE_NETWORK = 6;

inline constexpr uint32_t RESOURCEUSAGE_CONNECTABLE = 1;
inline constexpr uint32_t RESOURCEUSAGE_CONTAINER = 2;

struct NETRESOURCEA {
  uint32_t dwScope = 0;
  uint32_t dwType = 0;
  uint32_t dwDisplayType = 0;
  uint32_t dwUsage = 0;
  std::optional<std::string> lpLocalName;
  std::optional<std::string> lpRemoteName;
  std::optional<std::string> lpComment;
  std::optional<std::string> lpProvider;

  bool operator==(const NETRESOURCEA&) const = default;
};

// An owned copy of a record, or nil.
using PNetResource = std::unique_ptr<NETRESOURCEA>;

// The entire network: scope 2, type 0, display type 1, usage 2, no names.
NETRESOURCEA EntireNetworkResource();

// destination := a fresh deep copy of source (any previous copy is released first).
void CopyNetResource(const NETRESOURCEA& source, PNetResource& destination);

// Releases the copy, if any, and leaves the reference nil.
void FreeNetResource(PNetResource& resource);
