#include "discovery/host_discovery.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <memory>
#include <mutex>
#include <numeric>

#include "discovery/mdns_discovery.h"
#include "discovery/net_interfaces.h"
#include "discovery/range_probe.h"
#include "discovery/wsd_discovery.h"
#include "smb/smb_client.h"
#include "smb/smb_path.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr uint16_t kSmbPort = 445;
// Addresses from discovery answers belong to machines that just answered on the local
// link: a short probe is enough, and answers and probe together take kDiscoveryWindow.
constexpr auto kAnswerProbeTimeout = std::chrono::milliseconds(500);

// The time answers are gathered for. LQ_DISCOVERY_WINDOW_MS may lengthen the whole window
// for a slow run (the sanitizer builds of the tests); it is never shorter than usual.
std::chrono::milliseconds AnswerWindow() {
  const char* setting = std::getenv("LQ_DISCOVERY_WINDOW_MS");
  const long asked = setting != nullptr ? std::strtol(setting, nullptr, 10) : 0;
  const auto window = std::max<std::chrono::milliseconds>(kDiscoveryWindow, std::chrono::milliseconds(asked));
  return window - kAnswerProbeTimeout;
}

std::mutex CacheLock;                        // leaf lock (lock order: ui_thread.h)
std::shared_future<TDiscoveryResult> Current;  // guarded by CacheLock
TClock::time_point CurrentStarted;           // guarded by CacheLock
// Set when a computer announced itself or left since the kept discovery started.
std::atomic<bool> Stale{false};
// Hears computers come and go between discoveries; started with the first one. Its thread
// touches nothing but Stale.
std::unique_ptr<TWsdAnnouncementListener> Listener;  // guarded by CacheLock

size_t Root(std::vector<size_t>& parent, size_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

void AddOnce(std::vector<std::string>& list, const std::string& item) {
  for (const std::string& known : list)
    if (known == item) return;
  list.push_back(item);
}

std::string WithoutLocalDomain(std::string name) {
  constexpr std::string_view kLocal = ".local";
  if (name.size() > kLocal.size() && AsciiLower(name.substr(name.size() - kLocal.size())) == kLocal)
    name.resize(name.size() - kLocal.size());
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// "off" in LQ_HOST_DISCOVERY turns discovery off for the whole process.
bool DiscoveryTurnedOff() {
  const char* setting = std::getenv("LQ_HOST_DISCOVERY");
  return setting != nullptr && std::string_view(setting) == "off";
}

TDiscoveryResult Gather() {
  if (DiscoveryTurnedOff()) return {};
  SmbInitialize();
  const std::string restriction = SmbClientOptions().Interfaces;
  const std::vector<TDiscoveryInterface> interfaces = DiscoveryInterfaces(restriction);
  TDiscoveryResult result;

  auto mdns = std::async(std::launch::async, [&] {
    return DiscoverMdnsServices(interfaces, restriction.empty(), AnswerWindow());
  });
  std::vector<TWsdHost> wsd = DiscoverWsdHosts(interfaces, AnswerWindow());
  TMdnsOutcome services = mdns.get();
  if (services.DaemonAbsent)
    result.Notes.emplace_back(kNoteDnsSdAbsent);

  std::vector<THostAnswer> answers;
  for (const TWsdHost& host : wsd)
    answers.push_back({kFoundByWsd, host.Computer.Name, {}, host.Computer.Workgroup, {host.Address}});
  for (const TMdnsService& service : services.Services) {
    std::string name = WithoutLocalDomain(service.HostName);
    if (!IsSafeHostName(name)) name.clear();
    answers.push_back({kFoundByMdns, {}, name, {}, {service.Address}});
  }

  // Probe every address once; a link-local IPv6 address cannot be named in an SMB URL.
  std::vector<std::string> addresses;
  for (const THostAnswer& answer : answers)
    for (const std::string& address : answer.Addresses)
      if (address.find('%') == std::string::npos) AddOnce(addresses, address);
  const std::vector<std::string> alive = ProbeTcpAddresses(addresses, kSmbPort, static_cast<int>(kAnswerProbeTimeout.count()));
  auto isAlive = [&](const std::string& a) { return std::find(alive.begin(), alive.end(), a) != alive.end(); };
  for (THostAnswer& answer : answers) {
    std::vector<std::string> kept;
    for (const std::string& address : answer.Addresses)
      if (isAlive(address)) kept.push_back(address);
    answer.Addresses = std::move(kept);
  }
  // An answer whose addresses are all dead still names its machine: merged with another
  // answer that has a live address, it is kept; otherwise it is dropped below.
  std::vector<TNetworkHost> merged = MergeHostAnswers(answers);
  for (const TNetworkHost& host : merged) {
    if (!host.Addresses.empty()) continue;
    result.Unreachable.push_back(host.BestName() + ": no address of it answers on the SMB port.");
  }
  for (THostAnswer& answer : answers) {
    if (!answer.Addresses.empty()) {
      result.Answers.push_back(std::move(answer));
      continue;
    }
    // Keep a name-only answer when a live answer shares its name (it adds the name).
    bool named = false;
    for (const TNetworkHost& host : merged) {
      if (host.Addresses.empty()) continue;
      for (const std::string* name : {&answer.ComputerName, &answer.HostName})
        named = named || (!name->empty() && (AsciiLower(*name) == AsciiLower(host.ComputerName) ||
                                             AsciiLower(*name) == AsciiLower(host.HostName)));
    }
    if (named) result.Answers.push_back(std::move(answer));
  }
  return result;
}

}  // namespace

std::string TNetworkHost::BestName() const {
  if (!ComputerName.empty()) return ComputerName;
  if (!HostName.empty()) return HostName;
  return Addresses.empty() ? std::string() : Addresses.front();
}

std::vector<TNetworkHost> MergeHostAnswers(const std::vector<THostAnswer>& answers) {
  std::vector<size_t> parent(answers.size());
  std::iota(parent.begin(), parent.end(), size_t{0});
  auto names = [](const THostAnswer& a) {
    std::vector<std::string> list;
    if (!a.ComputerName.empty()) list.push_back(AsciiLower(a.ComputerName));
    if (!a.HostName.empty()) list.push_back(AsciiLower(a.HostName));
    return list;
  };
  for (size_t i = 0; i < answers.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      bool same = false;
      for (const std::string& a : answers[i].Addresses)
        for (const std::string& b : answers[j].Addresses) same = same || a == b;
      for (const std::string& a : names(answers[i]))
        for (const std::string& b : names(answers[j])) same = same || a == b;
      if (same) parent[Root(parent, i)] = Root(parent, j);
    }
  }
  std::vector<TNetworkHost> hosts;
  std::vector<size_t> hostOfRoot(answers.size(), SIZE_MAX);
  for (size_t i = 0; i < answers.size(); ++i) {
    const size_t root = Root(parent, i);
    if (hostOfRoot[root] == SIZE_MAX) {
      hostOfRoot[root] = hosts.size();
      hosts.emplace_back();
    }
    TNetworkHost& host = hosts[hostOfRoot[root]];
    const THostAnswer& answer = answers[i];
    host.Sources |= answer.Source;
    if (answer.Source == kFoundByConnection) host.ConnectedName = answer.ComputerName;
    // NetBIOS and connected names are the ones the machine answers to on the SMB side.
    const bool strongName = answer.Source == kFoundByNetbios || answer.Source == kFoundByConnection;
    if (!answer.ComputerName.empty() && (host.ComputerName.empty() || strongName))
      host.ComputerName = answer.ComputerName;
    if (!answer.HostName.empty() && host.HostName.empty()) host.HostName = answer.HostName;
    if (!answer.Workgroup.empty() && (host.Workgroup.empty() || answer.Source == kFoundByNetbios))
      host.Workgroup = answer.Workgroup;
    for (const std::string& address : answer.Addresses) AddOnce(host.Addresses, address);
  }
  return hosts;
}

std::string HostSourceNames(unsigned sources) {
  static const std::pair<unsigned, const char*> kNames[] = {{kFoundByWsd, "wsd"},
                                                            {kFoundByMdns, "mdns"},
                                                            {kFoundByNetbios, "netbios"},
                                                            {kFoundByConnection, "connected"},
                                                            {kFoundByRange, "range"}};
  std::string text;
  for (const auto& [bit, name] : kNames)
    if (sources & bit) text += (text.empty() ? "" : ",") + std::string(name);
  return text;
}

std::shared_future<TDiscoveryResult> StartHostDiscovery() {
  // The last reference to a discovery still running waits for it when destroyed: a
  // replaced one goes after the lock is released.
  std::shared_future<TDiscoveryResult> replaced;
  SmbInitialize();  // takes the SMB client's locks: before CacheLock, which stays a leaf
  std::lock_guard<std::mutex> guard(CacheLock);
  if (!Listener && !DiscoveryTurnedOff()) {
    Listener = std::make_unique<TWsdAnnouncementListener>(DiscoveryInterfaces(SmbClientOptions().Interfaces),
                                                          [] { Stale = true; });
  }
  const auto now = TClock::now();
  if (!Current.valid() || now - CurrentStarted >= kDiscoveryReuse || Stale.exchange(false)) {
    replaced = std::move(Current);
    Current = std::async(std::launch::async, Gather).share();
    CurrentStarted = now;
  }
  return Current;
}

void ForgetHostDiscovery() {
  // Released after the lock, as in StartHostDiscovery.
  std::shared_future<TDiscoveryResult> forgotten;
  std::lock_guard<std::mutex> guard(CacheLock);
  forgotten = std::move(Current);
}

bool IsDiscoveryNote(std::string_view logLine) { return logLine.ends_with(kNoteDnsSdAbsent); }
