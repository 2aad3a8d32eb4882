#pragma once
// Finding SMB servers by address: IPv4 ranges in CIDR form ("10.1.2.0/24") and a
// parallel TCP connect probe of many addresses, for networks that multicast discovery
// does not cross. Any thread; nothing is kept between calls.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The widest range accepted: 65534 addresses.
inline constexpr int kWidestRangePrefix = 16;
// How many connects one probe keeps open at once, and how long each may take.
inline constexpr size_t kRangeProbeParallel = 64;
inline constexpr int kRangeProbeTimeoutMs = 1000;

struct TIpv4Range {
  uint32_t First = 0;  // host byte order, inclusive
  uint32_t Last = 0;
  std::string Text;    // as normalised: "10.1.2.0/24"
};

// Parses "a.b.c.d/n" with n from kWidestRangePrefix to 32. The network and broadcast
// addresses of a range of 4 or more addresses are left out. nullopt otherwise.
std::optional<TIpv4Range> ParseIpv4Range(const std::string& text);

// The dotted text of every address of range, in order.
std::vector<std::string> RangeAddresses(const TIpv4Range& range);

// Connects to port on every numeric address (IPv4 or IPv6 text; anything else is left
// out), keeping at most parallel connects open and giving each timeoutMs. Returns the
// addresses that accepted, in the order given. Stops early when *stop becomes true.
std::vector<std::string> ProbeTcpAddresses(const std::vector<std::string>& addresses, uint16_t port,
                                           int timeoutMs = kRangeProbeTimeoutMs,
                                           size_t parallel = kRangeProbeParallel,
                                           const std::atomic<bool>* stop = nullptr);
