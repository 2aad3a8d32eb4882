#include "discovery/wsd_discovery.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

constexpr uint16_t kWsdPort = 3702;
constexpr const char* kWsdGroup4 = "239.255.255.250";
constexpr const char* kWsdGroup6 = "ff02::c";
constexpr size_t kMaxHttpHeader = 8 * 1024;
constexpr size_t kMaxMetadataReads = 64;
// The probe goes out twice: datagrams may be lost, and answers to both count.
constexpr auto kSecondProbeAfter = std::chrono::milliseconds(200);

struct TAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
};

// "10.0.0.2", "fe80::1%eth0" or "fe80::1%3" with port into a socket address.
std::optional<TAddress> SocketAddress(const std::string& text, uint16_t port) {
  TAddress address;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.Storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.Storage);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    address.Length = sizeof *v4;
    return address;
  }
  const size_t percent = text.find('%');
  if (inet_pton(AF_INET6, text.substr(0, percent).c_str(), &v6->sin6_addr) != 1) return std::nullopt;
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(port);
  if (percent != std::string::npos) {
    const std::string scope = text.substr(percent + 1);
    v6->sin6_scope_id = if_nametoindex(scope.c_str());
    if (v6->sin6_scope_id == 0) v6->sin6_scope_id = static_cast<uint32_t>(std::atoi(scope.c_str()));
  }
  address.Length = sizeof *v6;
  return address;
}

// The numeric text of a sender; an IPv6 link-local one carries "%interface".
std::string AddressText(const sockaddr_storage& from) {
  char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
  if (from.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&from)->sin_addr, text, INET6_ADDRSTRLEN);
    return text;
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&from);
  inet_ntop(AF_INET6, &v6->sin6_addr, text, INET6_ADDRSTRLEN);
  std::string result = text;
  char name[IF_NAMESIZE] = {};
  if (v6->sin6_scope_id != 0 && if_indextoname(v6->sin6_scope_id, name) != nullptr) result += "%" + std::string(name);
  return result;
}

struct TXAddr {
  std::string Host;  // as in the URL, brackets removed
  uint16_t Port = 80;
  std::string Path;
};

// "http://host[:port][/path]"; nullopt for any other form.
std::optional<TXAddr> ParseXAddr(const std::string& url) {
  constexpr std::string_view kScheme = "http://";
  if (url.compare(0, kScheme.size(), kScheme) != 0) return std::nullopt;
  TXAddr xaddr;
  const size_t hostStart = kScheme.size();
  const size_t pathStart = url.find('/', hostStart);
  std::string authority = url.substr(hostStart, pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
  xaddr.Path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
  for (unsigned char c : xaddr.Path)
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
  size_t portColon = std::string::npos;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    xaddr.Host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      portColon = close + 1;
    }
  } else {
    portColon = authority.find(':');
    xaddr.Host = authority.substr(0, portColon);
  }
  if (portColon != std::string::npos) {
    const int port = std::atoi(authority.c_str() + portColon + 1);
    if (port <= 0 || port > 65535) return std::nullopt;
    xaddr.Port = static_cast<uint16_t>(port);
  }
  // A zone in a URL is written "%25eth0".
  if (const size_t zone = xaddr.Host.find("%25"); zone != std::string::npos) xaddr.Host.erase(zone + 1, 2);
  return xaddr;
}

// Whether the URL's host is the very address the answer came from (the zone aside).
bool SameHost(const std::string& urlHost, const std::string& sender) {
  auto bare = [](const std::string& text) { return text.substr(0, text.find('%')); };
  auto a = SocketAddress(bare(urlHost), 0);
  auto b = SocketAddress(bare(sender), 0);
  if (!a || !b || a->Storage.ss_family != b->Storage.ss_family) return false;
  if (a->Storage.ss_family == AF_INET)
    return reinterpret_cast<sockaddr_in*>(&a->Storage)->sin_addr.s_addr ==
           reinterpret_cast<sockaddr_in*>(&b->Storage)->sin_addr.s_addr;
  return std::memcmp(&reinterpret_cast<sockaddr_in6*>(&a->Storage)->sin6_addr,
                     &reinterpret_cast<sockaddr_in6*>(&b->Storage)->sin6_addr, sizeof(in6_addr)) == 0;
}

struct TSocket {
  int Fd = -1;
  TAddress Group;
};

// Closes every socket it holds when it goes out of scope.
struct TSockets {
  std::vector<TSocket> List;
  ~TSockets() {
    for (const TSocket& s : List) close(s.Fd);
  }
};

void OpenSockets(const TDiscoveryInterface& interface, TSockets& sockets) {
  if (interface.Ipv4.s_addr != 0) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr = interface.Ipv4;
      unsigned char ttl = 1, loop = 0;
      if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
          setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface.Ipv4, sizeof interface.Ipv4) == 0 &&
          setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
          setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0) {
        sockets.List.push_back({fd, *SocketAddress(kWsdGroup4, kWsdPort)});
      } else {
        close(fd);
      }
    }
  }
  if (interface.HasIpv6) {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      int one = 1, hops = 1, loop = 0;
      unsigned index = interface.Index;
      sockaddr_in6 local{};
      local.sin6_family = AF_INET6;
      local.sin6_addr = in6addr_any;
      TAddress group = *SocketAddress(kWsdGroup6, kWsdPort);
      reinterpret_cast<sockaddr_in6*>(&group.Storage)->sin6_scope_id = index;
      if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) == 0 &&
          bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
          setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) == 0 &&
          setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops) == 0 &&
          setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &loop, sizeof loop) == 0) {
        sockets.List.push_back({fd, group});
      } else {
        close(fd);
      }
    }
  }
}

void SendTo(const TSocket& s, const std::string& message) {
  // A lost datagram is as good as no answer; the send result does not matter.
  (void)sendto(s.Fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&s.Group.Storage),
               s.Group.Length);
}

// Waits until fd is ready for events or deadline passes; false on timeout or error.
bool WaitFor(int fd, short events, TClock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The body of a complete HTTP answer with status 200, chunked or not.
std::optional<std::string> HttpBody(const std::string& answer) {
  const size_t headerEnd = answer.find("\r\n\r\n");
  if (headerEnd == std::string::npos || headerEnd > kMaxHttpHeader) return std::nullopt;
  const std::string header = LowerAscii(answer.substr(0, headerEnd));
  if (header.compare(0, 5, "http/") != 0) return std::nullopt;
  const size_t space = header.find(' ');
  if (space == std::string::npos || header.compare(space + 1, 3, "200") != 0) return std::nullopt;
  std::string body = answer.substr(headerEnd + 4);
  if (header.find("\r\ntransfer-encoding: chunked") == std::string::npos) return body;
  std::string joined;
  size_t at = 0;
  for (;;) {
    const size_t lineEnd = body.find("\r\n", at);
    if (lineEnd == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const unsigned long size = std::strtoul(body.c_str() + at, &end, 16);
    if (end == body.c_str() + at || size > kWsdMaxMessage) return std::nullopt;
    if (size == 0) return joined;
    if (lineEnd + 2 + size > body.size()) return std::nullopt;
    joined.append(body, lineEnd + 2, size);
    at = lineEnd + 2 + size + 2;
    if (joined.size() > kWsdMaxMessage) return std::nullopt;
  }
}

}  // namespace

std::optional<std::string> PostWsdRequest(const std::string& address, uint16_t port, const std::string& path,
                                          const std::string& body, TClock::time_point deadline) {
  std::optional<TAddress> to = SocketAddress(address, port);
  if (!to) return std::nullopt;
  int fd = socket(to->Storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  struct TClose {
    int Fd;
    ~TClose() { close(Fd); }
  } closer{fd};
  if (connect(fd, reinterpret_cast<sockaddr*>(&to->Storage), to->Length) != 0) {
    if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, deadline)) return std::nullopt;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return std::nullopt;
  }
  const std::string bare = address.substr(0, address.find('%'));
  const std::string host = bare.find(':') != std::string::npos ? "[" + bare + "]" : bare;
  const std::string request = "POST " + path + " HTTP/1.0\r\nHost: " + host + ":" + std::to_string(port) +
                              "\r\nContent-Type: application/soap+xml\r\nUser-Agent: lanternquest\r\n"
                              "Connection: close\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\n\r\n" + body;
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  std::string answer;
  char buffer[4096];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<size_t>(n));
      if (answer.size() > kWsdMaxMessage + kMaxHttpHeader) return std::nullopt;
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EINTR) {
      if (!WaitFor(fd, POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return HttpBody(answer);
}

std::vector<TWsdHost> DiscoverWsdHosts(const std::vector<TDiscoveryInterface>& interfaces,
                                       std::chrono::milliseconds window) {
  const auto start = TClock::now();
  const auto deadline = start + window;
  TSockets sockets;
  for (const TDiscoveryInterface& interface : interfaces) OpenSockets(interface, sockets);
  if (sockets.List.empty()) return {};

  const std::string probeId = NewWsdMessageId();
  const std::string probe = WsdProbeMessage(probeId);
  for (const TSocket& s : sockets.List) SendTo(s, probe);
  bool probedTwice = false;

  std::mutex resultLock;  // leaf lock (lock order: ui_thread.h): guards hosts while metadata readers add to it
  std::vector<TWsdHost> hosts;
  std::vector<std::thread> readers;
  std::set<std::string> seen;              // "endpoint address" pairs already handled
  std::map<std::string, std::string> resolving;  // Resolve MessageID -> endpoint
  std::map<std::string, size_t> resolvesOfSender;  // Resolves sent for each answering address

  auto readMetadata = [&](const std::string& endpoint, const std::string& sender, const TXAddr& xaddr) {
    if (readers.size() >= kMaxMetadataReads) return;
    readers.emplace_back([&, endpoint, sender, xaddr] {
      std::optional<std::string> body =
          PostWsdRequest(sender, xaddr.Port, xaddr.Path, WsdGetMessage(NewWsdMessageId(), endpoint), deadline);
      if (!body) return;
      std::optional<TWsdComputer> computer = ParseWsdMetadata(*body);
      if (!computer) return;
      std::lock_guard<std::mutex> guard(resultLock);
      hosts.push_back({sender, endpoint, *computer});
    });
  };

  auto handle = [&](const TSocket& s, const std::string& datagram, const std::string& sender) {
    std::optional<TWsdMessage> message = ParseWsdMessage(datagram);
    if (!message) return;
    const bool answersProbe = message->Action == TWsdAction::ProbeMatches && message->RelatesTo == probeId;
    const bool answersResolve =
        message->Action == TWsdAction::ResolveMatches && resolving.count(message->RelatesTo) != 0;
    if (!answersProbe && !answersResolve) return;
    for (const TWsdEndpoint& endpoint : message->Endpoints) {
      if (!endpoint.IsComputer) continue;
      if (endpoint.XAddrs.empty()) {
        // Each Resolve is a multicast: a few per sender and a few in all, however many
        // endpoints an answer claims.
        if (!answersProbe || resolving.size() >= kWsdMaxResolves ||
            resolvesOfSender[sender] >= kWsdMaxResolvesPerSender || !seen.insert("resolve " + endpoint.Address).second)
          continue;
        ++resolvesOfSender[sender];
        const std::string resolveId = NewWsdMessageId();
        resolving[resolveId] = endpoint.Address;
        SendTo(s, WsdResolveMessage(resolveId, endpoint.Address));
        continue;
      }
      for (const std::string& url : endpoint.XAddrs) {
        std::optional<TXAddr> xaddr = ParseXAddr(url);
        if (!xaddr || !SameHost(xaddr->Host, sender)) continue;
        if (!seen.insert(endpoint.Address + " " + sender).second) break;
        readMetadata(endpoint.Address, sender, *xaddr);
        break;
      }
    }
  };

  std::vector<pollfd> fds;
  for (const TSocket& s : sockets.List) fds.push_back({s.Fd, POLLIN, 0});
  std::string datagram(kWsdMaxDatagram + 1, '\0');
  for (;;) {
    const auto now = TClock::now();
    if (now >= deadline) break;
    if (!probedTwice && now >= start + kSecondProbeAfter) {
      for (const TSocket& s : sockets.List) SendTo(s, probe);
      probedTwice = true;
    }
    auto until = probedTwice ? deadline : std::min(deadline, start + kSecondProbeAfter);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(left, 1)));
    if (ready < 0 && errno != EINTR) break;
    for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      for (;;) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(fds[i].fd, datagram.data(), datagram.size(), MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) break;
        // MSG_TRUNC gives the datagram's real length: an oversized one is dropped whole.
        if (static_cast<size_t>(n) > kWsdMaxDatagram) continue;
        handle(sockets.List[i], datagram.substr(0, static_cast<size_t>(n)), AddressText(from));
      }
    }
  }
  for (std::thread& reader : readers) reader.join();
  return hosts;
}

TWsdAnnouncementListener::TWsdAnnouncementListener(const std::vector<TDiscoveryInterface>& interfaces,
                                                   std::function<void()> onChange)
    : OnChange(std::move(onChange)) {
  int one = 1;
  int v4 = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (v4 >= 0) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kWsdPort);
    inet_pton(AF_INET, kWsdGroup4, &local.sin_addr);
    bool joined = false;
    if (setsockopt(v4, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        bind(v4, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
      for (const TDiscoveryInterface& interface : interfaces) {
        if (interface.Ipv4.s_addr == 0) continue;
        ip_mreqn request{};
        request.imr_multiaddr = local.sin_addr;
        request.imr_ifindex = static_cast<int>(interface.Index);
        joined = setsockopt(v4, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 || joined;
      }
    }
    if (joined) Sockets.push_back(v4);
    else close(v4);
  }
  int v6 = socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (v6 >= 0) {
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_port = htons(kWsdPort);
    bool joined = false;
    if (setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) == 0 &&
        setsockopt(v6, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        bind(v6, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
      for (const TDiscoveryInterface& interface : interfaces) {
        if (!interface.HasIpv6) continue;
        ipv6_mreq request{};
        inet_pton(AF_INET6, kWsdGroup6, &request.ipv6mr_multiaddr);
        request.ipv6mr_interface = interface.Index;
        joined = setsockopt(v6, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) == 0 || joined;
      }
    }
    if (joined) Sockets.push_back(v6);
    else close(v6);
  }
  if (Sockets.empty()) return;
  WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (WakeFd < 0) return;
  Thread = std::thread([this] { Listen(); });
}

TWsdAnnouncementListener::~TWsdAnnouncementListener() {
  if (Thread.joinable()) {
    const uint64_t one = 1;
    // The thread wakes on this write; a failed write would leave it in poll for good.
    while (write(WakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    Thread.join();
  }
  if (WakeFd >= 0) close(WakeFd);
  for (int fd : Sockets) close(fd);
}

void TWsdAnnouncementListener::Listen() {
  std::vector<pollfd> fds;
  for (int fd : Sockets) fds.push_back({fd, POLLIN, 0});
  fds.push_back({WakeFd, POLLIN, 0});
  std::string datagram(kWsdMaxDatagram + 1, '\0');
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds.back().revents != 0) return;
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      for (;;) {
        ssize_t n = recv(fds[i].fd, datagram.data(), datagram.size(), MSG_TRUNC);
        if (n < 0) break;
        if (static_cast<size_t>(n) > kWsdMaxDatagram) continue;
        std::optional<TWsdMessage> message = ParseWsdMessage(std::string_view(datagram.data(), static_cast<size_t>(n)));
        if (!message || (message->Action != TWsdAction::Hello && message->Action != TWsdAction::Bye)) continue;
        const bool computer = std::any_of(message->Endpoints.begin(), message->Endpoints.end(),
                                          [](const TWsdEndpoint& e) { return e.IsComputer; });
        if (computer) OnChange();
      }
    }
  }
}
