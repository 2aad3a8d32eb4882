#pragma once
// Finding computers by WS-Discovery, as Windows and wsdd announce them: a multicast Probe
// for devices on each interface (IPv4 239.255.255.250 and IPv6 ff02::c, port 3702, hop
// limit 1), a Resolve for each computer that answers without an address, and the
// metadata Get over HTTP for its name and workgroup or domain.
//
// A request is only ever sent to the address an answer came from: a transport address
// that points anywhere else is ignored. Every answer is bounded in size and time.
// Any thread; each call uses sockets of its own.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/net_interfaces.h"
#include "discovery/wsd_message.h"

struct TWsdHost {
  std::string Address;   // numeric address the computer answered from
  std::string Endpoint;  // its endpoint reference
  TWsdComputer Computer;
};

// Resolves (each one a multicast) sent in one discovery window, in all and for the
// endpoints that one address answered with.
inline constexpr size_t kWsdMaxResolves = 64;
inline constexpr size_t kWsdMaxResolvesPerSender = 8;

// Probes on every interface and gathers answers for window; returns each endpoint that
// gave its metadata in time, once per address it answered from. An endpoint that answers
// without an address gets a Resolve, within the limits above.
std::vector<TWsdHost> DiscoverWsdHosts(const std::vector<TDiscoveryInterface>& interfaces,
                                       std::chrono::milliseconds window);

// Posts body to http://host:port/path at address (numeric, IPv6 with "%scope" allowed)
// and returns the answer's body when the status is 200 and the whole answer fits in
// kWsdMaxMessage bytes before deadline; nullopt otherwise.
std::optional<std::string> PostWsdRequest(const std::string& address, uint16_t port, const std::string& path,
                                          const std::string& body,
                                          std::chrono::steady_clock::time_point deadline);

// Listens on the discovery group of every interface for computers announcing themselves
// (Hello) or leaving (Bye), and calls onChange on its own thread for each such datagram
// that parses. Destruction stops the listening thread and waits for it; onChange must not
// destroy the listener. When port 3702 cannot be bound, nothing is heard.
class TWsdAnnouncementListener {
 public:
  TWsdAnnouncementListener(const std::vector<TDiscoveryInterface>& interfaces, std::function<void()> onChange);
  ~TWsdAnnouncementListener();
  TWsdAnnouncementListener(const TWsdAnnouncementListener&) = delete;
  TWsdAnnouncementListener& operator=(const TWsdAnnouncementListener&) = delete;

 private:
  void Listen();

  std::vector<int> Sockets;  // owned; closed by the destructor after the thread ended
  int WakeFd = -1;           // an eventfd written by the destructor
  std::function<void()> OnChange;
  std::thread Thread;
};
