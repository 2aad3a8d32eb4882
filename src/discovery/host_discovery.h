#pragma once
// The machines of the local network, from every source that finds them, merged so that
// each machine appears once.
//
// Sources: WS-Discovery (wsd_discovery.h) and DNS-SD (mdns_discovery.h) are gathered here,
// in parallel, for a fixed window, and reused for kDiscoveryReuse; NetBIOS browsing,
// servers connected by hand and address ranges are gathered by their owners and merged
// with MergeHostAnswers. Every address a discovery answer gives is probed on the SMB port
// before it is kept: a machine with no address that answers is dropped (and named in
// TDiscoveryResult::Unreachable).
//
// Where a discovery answer may lead: a machine is reached by its name only through an
// address recorded with SetSmbHostAddress, and only for names that nobody connected by
// hand (netapi.cpp decides); credentials are looked up by the name the library is given,
// which is then the address, so credentials given for a name never go to an address
// that only a discovery answer vouches for.
//
// LQ_HOST_DISCOVERY=off in the environment turns discovery off: the test suites run with
// it, so that only a test that built a network of its own (and turns it on there) ever
// sends a probe.
//
// Any thread. CacheLock (a leaf lock, see ui_thread.h) is never held while the network is
// waited for.
#include <chrono>
#include <future>
#include <string>
#include <string_view>
#include <vector>

enum : unsigned {
  kFoundByWsd = 1,
  kFoundByMdns = 2,
  kFoundByNetbios = 4,
  kFoundByConnection = 8,
  kFoundByRange = 16,
};

inline constexpr auto kDiscoveryWindow = std::chrono::milliseconds(2000);
inline constexpr auto kDiscoveryReuse = std::chrono::seconds(60);

// What one source says about one machine.
struct THostAnswer {
  unsigned Source = 0;
  std::string ComputerName;  // WSD computer name, NetBIOS name or the name connected
  std::string HostName;      // mDNS host name without ".local"
  std::string Workgroup;     // workgroup or domain, when the source knows it
  std::vector<std::string> Addresses;  // numeric
};

// One machine, merged from every answer about it.
struct TNetworkHost {
  std::string ComputerName;
  std::string HostName;
  std::string Workgroup;
  std::vector<std::string> Addresses;  // in order of first mention, each once
  unsigned Sources = 0;
  std::string ConnectedName;  // the name it was connected by, when it was

  // The computer name, else the mDNS host name, else the first address.
  std::string BestName() const;
};

// Merges answers about the same machine: those sharing an address, and those sharing a
// name (computer or host name, case-insensitive) where at least one knows no address.
// The workgroup of a NetBIOS answer wins over one from WS-Discovery. Order: first
// mention.
std::vector<TNetworkHost> MergeHostAnswers(const std::vector<THostAnswer>& answers);

// "wsd,mdns,netbios,connected,range" for the bits set, in that order.
std::string HostSourceNames(unsigned sources);

struct TDiscoveryResult {
  std::vector<THostAnswer> Answers;  // WS-Discovery and DNS-SD, addresses probed
  std::vector<std::string> Notes;    // for the error log: a source that is absent (kNote...)
  // Machines that answered but that no address of answers on the SMB port (a record
  // left by a machine that went to sleep is common): for diagnostics, not the error log.
  std::vector<std::string> Unreachable;
};

// The current discovery: a fresh one is started when the last is older than
// kDiscoveryReuse, when a computer announced itself or left since (WS-Discovery Hello or
// Bye, heard from the first call on), or when none ran yet; callers wait on the future, which is ready about
// kDiscoveryWindow after the start. Sends on the interfaces that the SMB client's
// Interfaces option allows (net_interfaces.h).
std::shared_future<TDiscoveryResult> StartHostDiscovery();

// Forgets the kept discovery, so the next start gathers afresh.
void ForgetHostDiscovery();

// The error log's line for a discovery source that is absent. It tells why machines may be
// missing; it names no place that could not be searched.
inline constexpr std::string_view kNoteDnsSdAbsent =
    "Finding servers by DNS-SD needs avahi-daemon, which does not answer.";
// Whether a line of the error log is such a note rather than a place that failed.
bool IsDiscoveryNote(std::string_view logLine);
