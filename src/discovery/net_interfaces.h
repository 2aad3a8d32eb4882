#pragma once
// The local interfaces that host discovery may send on: up, multicast-capable, not the
// loopback and not a port of a bridge or bond (its master is used). A restriction in smb.conf syntax (TSmbClientOptions::Interfaces: names
// and IPv4 prefixes such as "10.1.2.3/24") keeps only the interfaces it names or that
// hold an address inside one of its prefixes, so a process set up for one test network
// never sends anywhere else. Any thread.
#include <netinet/in.h>

#include <string>
#include <vector>

struct TDiscoveryInterface {
  std::string Name;
  unsigned Index = 0;
  in_addr Ipv4{};        // s_addr 0: none
  bool HasIpv6 = false;  // holds a link-local IPv6 address
};

// The interfaces allowed by restriction (empty: every interface that qualifies).
std::vector<TDiscoveryInterface> DiscoveryInterfaces(const std::string& restriction);
