#include "platform/smb_probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "platform/net_errors.h"
#include "platform/smb_path.h"

namespace {

using TClock = std::chrono::steady_clock;

// A reachable host is trusted for a minute; an unreachable one is given up for a few
// seconds, so that the shares and folders queued for it fail at once.
constexpr auto kReachableFor = std::chrono::seconds(60);
constexpr auto kUnreachableFor = std::chrono::seconds(5);

struct TProbeResult {
  uint32_t Code;
  TClock::time_point Until;
};

std::mutex ProbeLock;                       // leaf lock
std::map<std::string, TProbeResult> Probes;  // lower-case host -> result; guarded by ProbeLock

// Closes every socket it holds when it goes out of scope.
struct TSockets {
  std::vector<pollfd> Fds;
  ~TSockets() {
    for (const pollfd& fd : Fds) close(fd.fd);
  }
};

// At most 15 bytes, no dot, no colon and not only digits: not a DNS name or an address.
bool IsNetBiosName(const std::string& name) {
  if (name.empty() || name.size() > 15) return false;
  if (name.find_first_of(".:[]\\/") != std::string::npos) return false;
  return name.find_first_not_of("0123456789") != std::string::npos;
}

uint32_t ProbeNow(const std::string& host) {
  std::vector<uint16_t> ports;
  if (uint16_t port = SmbHostPort(host)) ports.push_back(port);
  else ports = {445, 139};

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  std::string bare = host.size() > 2 && host.front() == '[' && host.back() == ']'
                         ? host.substr(1, host.size() - 2) : host;
  if (getaddrinfo(bare.c_str(), nullptr, &hints, &addresses) != 0) {
    // Servers found by workgroup browsing carry NetBIOS names, which only the library
    // resolves (broadcast, WINS). Such a name is left to the library rather than taken for
    // an unreachable host; any other name that does not resolve is one.
    return IsNetBiosName(bare) ? NO_ERROR : ERROR_BAD_NETPATH;
  }

  TSockets sockets;
  for (addrinfo* a = addresses; a != nullptr && sockets.Fds.size() < 8; a = a->ai_next) {
    for (uint16_t port : ports) {
      sockaddr_storage address{};
      std::memcpy(&address, a->ai_addr, a->ai_addrlen);
      if (a->ai_family == AF_INET) reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
      else if (a->ai_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
      else continue;
      int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) continue;
      int result = connect(fd, reinterpret_cast<sockaddr*>(&address), a->ai_addrlen);
      if (result == 0) {
        close(fd);
        freeaddrinfo(addresses);
        return NO_ERROR;
      }
      if (errno != EINPROGRESS) {
        close(fd);
        continue;
      }
      sockets.Fds.push_back({fd, POLLOUT, 0});
    }
  }
  freeaddrinfo(addresses);

  auto deadline = TClock::now() + std::chrono::milliseconds(kSmbProbeTimeoutMs);
  while (!sockets.Fds.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) break;
    int ready = poll(sockets.Fds.data(), sockets.Fds.size(), static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (size_t i = 0; i < sockets.Fds.size();) {
      if (sockets.Fds[i].revents == 0) {
        ++i;
        continue;
      }
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(sockets.Fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error == 0) return NO_ERROR;
      close(sockets.Fds[i].fd);
      sockets.Fds.erase(sockets.Fds.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return ERROR_BAD_NETPATH;
}

}  // namespace

uint32_t ProbeSmbHost(const std::string& host) {
  std::string key = AsciiLower(host);
  {
    std::lock_guard<std::mutex> guard(ProbeLock);
    auto it = Probes.find(key);
    if (it != Probes.end() && TClock::now() < it->second.Until) return it->second.Code;
  }
  uint32_t code = ProbeNow(host);
  auto until = TClock::now() + (code == NO_ERROR ? kReachableFor : kUnreachableFor);
  std::lock_guard<std::mutex> guard(ProbeLock);
  Probes[key] = {code, until};
  return code;
}

void ForgetSmbProbes() {
  std::lock_guard<std::mutex> guard(ProbeLock);
  Probes.clear();
}
