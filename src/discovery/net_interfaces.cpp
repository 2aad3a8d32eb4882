#include "discovery/net_interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>

#include <sstream>

namespace {

struct TPrefix {
  uint32_t Network = 0;  // host byte order
  uint32_t Mask = 0;
};

struct TRestriction {
  bool Any = true;
  std::vector<std::string> Names;
  std::vector<TPrefix> Prefixes;
};

TRestriction ParseRestriction(const std::string& text) {
  TRestriction restriction;
  std::string spaced = text;
  for (char& c : spaced)
    if (c == ',' || c == ';') c = ' ';
  std::istringstream words(spaced);
  std::string word;
  while (words >> word) {
    restriction.Any = false;
    const size_t slash = word.find('/');
    in_addr address{};
    if (inet_pton(AF_INET, word.substr(0, slash).c_str(), &address) == 1) {
      int bits = slash == std::string::npos ? 32 : std::atoi(word.c_str() + slash + 1);
      if (bits < 0 || bits > 32) continue;
      TPrefix prefix;
      prefix.Mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
      prefix.Network = ntohl(address.s_addr) & prefix.Mask;
      restriction.Prefixes.push_back(prefix);
    } else {
      restriction.Names.push_back(word);
    }
  }
  return restriction;
}

bool Allows(const TRestriction& restriction, const TDiscoveryInterface& interface) {
  if (restriction.Any) return true;
  for (const std::string& name : restriction.Names)
    if (name == interface.Name) return true;
  if (interface.Ipv4.s_addr == 0) return false;
  const uint32_t address = ntohl(interface.Ipv4.s_addr);
  for (const TPrefix& prefix : restriction.Prefixes)
    if ((address & prefix.Mask) == prefix.Network) return true;
  return false;
}

// A port of a bridge or bond carries traffic for its master, which has the addresses and
// is asked itself.
bool HasMaster(const std::string& name) {
  struct stat st{};
  return lstat(("/sys/class/net/" + name + "/master").c_str(), &st) == 0;
}

}  // namespace

std::vector<TDiscoveryInterface> DiscoveryInterfaces(const std::string& restrictionText) {
  std::vector<TDiscoveryInterface> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_name == nullptr) continue;
    const unsigned flags = a->ifa_flags;
    if (!(flags & IFF_UP) || !(flags & IFF_MULTICAST) || (flags & IFF_LOOPBACK)) continue;
    TDiscoveryInterface* entry = nullptr;
    for (TDiscoveryInterface& known : found)
      if (known.Name == a->ifa_name) entry = &known;
    if (entry == nullptr) {
      found.push_back({a->ifa_name, if_nametoindex(a->ifa_name), {}, false});
      entry = &found.back();
    }
    if (a->ifa_addr->sa_family == AF_INET && entry->Ipv4.s_addr == 0) {
      entry->Ipv4 = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
      if (IN6_IS_ADDR_LINKLOCAL(&address)) entry->HasIpv6 = true;
    }
  }
  freeifaddrs(list);
  const TRestriction restriction = ParseRestriction(restrictionText);
  std::vector<TDiscoveryInterface> allowed;
  for (const TDiscoveryInterface& interface : found)
    if (interface.Index != 0 && !HasMaster(interface.Name) && Allows(restriction, interface))
      allowed.push_back(interface);
  return allowed;
}
