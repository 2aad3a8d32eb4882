#include "network/network_hosts.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "discovery/wsd_message.h"
#include "os/net_errors.h"
#include "smb/smb_client.h"
#include "smb/smb_credentials.h"
#include "smb/smb_library.h"
#include "smb/smb_path.h"

namespace {

constexpr uint16_t kSmbPort = 445;
// Browsing a workgroup's servers is quick where NetBIOS works; a network with more
// workgroups than this is listed without matching the rest by name.
constexpr size_t kMaxBrowsedWorkgroups = 16;

// Workgroups that only discovery named at the last listing of the network: browsing one
// of them would wait for a NetBIOS name query that nobody answers.
std::mutex DiscoveredGroupsLock;                 // leaf lock (lock order: ui_thread.h)
std::vector<std::string> DiscoveredOnlyGroups;   // lower case; guarded by DiscoveredGroupsLock

bool IsDiscoveredOnly(const std::string& workgroup) {
  std::lock_guard<std::mutex> guard(DiscoveredGroupsLock);
  return std::find(DiscoveredOnlyGroups.begin(), DiscoveredOnlyGroups.end(), AsciiLower(workgroup)) !=
         DiscoveredOnlyGroups.end();
}

void RememberDiscoveredOnly(const TNetworkView& view) {
  std::vector<std::string> groups;
  for (const TNetworkHost& host : view.Hosts) {
    if (host.Workgroup.empty()) continue;
    const std::string group = AsciiLower(host.Workgroup);
    const bool browsed = std::any_of(view.Workgroups.begin(), view.Workgroups.end(),
                                     [&](const TBrowsedName& w) { return AsciiLower(w.Name) == group; });
    if (!browsed && std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
  }
  std::lock_guard<std::mutex> guard(DiscoveredGroupsLock);
  DiscoveredOnlyGroups = std::move(groups);
}

bool IsNumericAddress(const std::string& text) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool SameText(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

}  // namespace

uint32_t ListBrowsedNames(const std::string& url, unsigned smbcType, std::vector<TBrowsedName>* names) {
  uint32_t code = NO_ERROR;
  WithSmbBrowseContext([&](SMBCCTX* ctx) {
    if (ctx == nullptr) {
      code = ERROR_NO_NETWORK;
      return;
    }
    SMBCFILE* dir = Smbc().smbc_getFunctionOpendir(ctx)(ctx, url.c_str());
    if (dir == nullptr) {
      code = NetErrorFromErrno(errno);
      return;
    }
    auto readdir = Smbc().smbc_getFunctionReaddir(ctx);
    while (const smbc_dirent* entry = readdir(ctx, dir))
      if (entry->smbc_type == smbcType) names->push_back({entry->name, entry->comment});
    Smbc().smbc_getFunctionClosedir(ctx)(ctx, dir);
  });
  return code;
}

TNetworkView GatherNetwork(const std::string& workgroup, const std::vector<TIpv4Range>& ranges) {
  std::shared_future<TDiscoveryResult> discovery = StartHostDiscovery();
  TNetworkView view;
  std::vector<THostAnswer> answers;
  // Browsed and connected names come first: they name the machine as the SMB side knows it.
  auto addBrowsedServers = [&](const std::string& group, const std::vector<TBrowsedName>& servers) {
    for (const TBrowsedName& server : servers) answers.push_back({kFoundByNetbios, server.Name, {}, group, {}});
  };
  if (workgroup.empty()) {
    view.BrowseCode = ListBrowsedNames("smb://", SMBC_WORKGROUP, &view.Workgroups);
    for (size_t i = 0; i < view.Workgroups.size() && i < kMaxBrowsedWorkgroups; ++i) {
      std::vector<TBrowsedName> servers;
      ListBrowsedNames("smb://" + view.Workgroups[i].Name + "/", SMBC_SERVER, &servers);
      addBrowsedServers(view.Workgroups[i].Name, servers);
    }
  } else if (!IsDiscoveredOnly(workgroup)) {
    view.BrowseCode = ListBrowsedNames("smb://" + workgroup + "/", SMBC_SERVER, &view.Servers);
    addBrowsedServers(workgroup, view.Servers);
  }
  for (const std::string& host : ConnectedSmbHosts()) {
    std::vector<std::string> addresses;
    if (IsNumericAddress(host)) addresses.push_back(host);
    answers.push_back({kFoundByConnection, host, {}, {}, addresses});
  }
  for (const TIpv4Range& range : ranges)
    for (const std::string& address : ProbeTcpAddresses(RangeAddresses(range), kSmbPort))
      answers.push_back({kFoundByRange, {}, {}, {}, {address}});

  const TDiscoveryResult& found = discovery.get();
  answers.insert(answers.end(), found.Answers.begin(), found.Answers.end());
  view.Notes = found.Notes;
  view.Unreachable = found.Unreachable;
  view.Hosts = MergeHostAnswers(answers);
  if (workgroup.empty()) RememberDiscoveredOnly(view);
  return view;
}

std::string ListedServerName(const TNetworkHost& host, const std::vector<TNetworkHost>& hosts) {
  if (!host.ConnectedName.empty()) {
    // A name connected by hand leads where name resolution says, never to a discovered address.
    SetSmbHostAddress(host.ConnectedName, {});
    return host.ConnectedName;
  }
  if (host.Sources & kFoundByNetbios) return host.ComputerName;
  std::string address;
  for (const std::string& a : host.Addresses)
    if (address.empty() || (a.find(':') == std::string::npos && address.find(':') != std::string::npos)) address = a;
  for (const std::string* name : {&host.ComputerName, &host.HostName}) {
    if (name->empty() || !IsSafeHostName(*name) || address.empty()) continue;
    const bool taken = std::any_of(hosts.begin(), hosts.end(), [&](const TNetworkHost& other) {
      return &other != &host && (SameText(other.ComputerName, *name) || SameText(other.HostName, *name) ||
                                 SameText(other.ConnectedName, *name));
    });
    if (taken) continue;
    SetSmbHostAddress(*name, address);
    return *name;
  }
  return address;
}
