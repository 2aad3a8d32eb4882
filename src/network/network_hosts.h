#pragma once
// The servers of the SMB network as the provider's listing shows them: NetBIOS browsing
// (workgroups and their servers), servers connected by hand, host discovery and address
// ranges, merged so that each machine is listed once (host_discovery.h).
//
// Any thread. Browsing holds the browse lock of smb_client.h for its calls only.
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/host_discovery.h"
#include "discovery/range_probe.h"

struct TBrowsedName {
  std::string Name;
  std::string Comment;
};

struct TNetworkView {
  uint32_t BrowseCode = 0;                // outcome of browsing the network (or the workgroup)
  std::vector<TBrowsedName> Workgroups;   // as browsing lists them
  std::vector<TBrowsedName> Servers;      // of the one workgroup asked for, as browsed
  std::vector<TNetworkHost> Hosts;        // every machine, merged
  std::vector<std::string> Notes;         // for the error log
  std::vector<std::string> Unreachable;   // discovered machines dropped as unreachable
};

// Gathers the network: browsing of every workgroup (workgroup empty) or of that one
// workgroup, connected servers, host discovery (in parallel with browsing) and a probe of
// each range's addresses on the SMB port. Hosts found only by a range carry their address.
// A workgroup that only discovery named at the last gathering of every workgroup is not
// browsed (its NetBIOS name query would go unanswered for seconds).
TNetworkView GatherNetwork(const std::string& workgroup, const std::vector<TIpv4Range>& ranges = {});

// The name that host is listed by ("\\" + it is its remote name): the name it was
// connected by; else its NetBIOS name; else its discovered name, which then leads to its
// address (SetSmbHostAddress) unless another machine of hosts already uses that name;
// else its address.
std::string ListedServerName(const TNetworkHost& host, const std::vector<TNetworkHost>& hosts);

// Servers browsed in url (SMBC_SERVER) or workgroups (SMBC_WORKGROUP); the failure, if any.
uint32_t ListBrowsedNames(const std::string& url, unsigned smbcType, std::vector<TBrowsedName>* names);
