#pragma once
// Finding SMB servers announced by DNS-SD ("_smb._tcp" in ".local") through the desktop's
// avahi-daemon, over libavahi-client: browse for a fixed window, resolve each service to
// its host name, address and port. The daemon is found on the D-Bus system bus
// (DBUS_SYSTEM_BUS_ADDRESS, when set, says where). Any thread; each call has a client and
// a poll loop of its own.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/net_interfaces.h"

struct TMdnsService {
  std::string HostName;  // "filesrv.local"
  std::string Address;   // numeric; an IPv6 link-local one carries "%interface"
  uint16_t Port = 0;
};

struct TMdnsOutcome {
  bool DaemonAbsent = false;  // no avahi-daemon answered: this source is absent
  std::vector<TMdnsService> Services;
};

// Browses on the given interfaces (all of them when anyInterface) for window.
TMdnsOutcome DiscoverMdnsServices(const std::vector<TDiscoveryInterface>& interfaces, bool anyInterface,
                                  std::chrono::milliseconds window);
