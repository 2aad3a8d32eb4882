#include "discovery/range_probe.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace {

using TClock = std::chrono::steady_clock;

struct TPending {
  size_t Index;
  int Fd;
  TClock::time_point Deadline;
};

// Starts a non-blocking connect; returns the socket, or -1 when the address is not
// numeric or the connect failed at once. *done is set when it succeeded at once.
int StartConnect(const std::string& text, uint16_t port, bool* done) {
  *done = false;
  sockaddr_storage address{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    return -1;
  }
  int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
    *done = true;
    return fd;
  }
  if (errno == EINPROGRESS) return fd;
  close(fd);
  return -1;
}

}  // namespace

std::optional<TIpv4Range> ParseIpv4Range(const std::string& text) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  in_addr address{};
  if (inet_pton(AF_INET, text.substr(0, slash).c_str(), &address) != 1) return std::nullopt;
  int bits = -1;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data() + slash + 1, end, bits);
  if (error != std::errc() || ptr != end || slash + 1 == text.size() || bits < kWidestRangePrefix || bits > 32)
    return std::nullopt;
  const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  TIpv4Range range;
  range.First = ntohl(address.s_addr) & mask;
  range.Last = range.First | ~mask;
  in_addr network{htonl(range.First)};
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &network, dotted, sizeof dotted);
  range.Text = std::string(dotted) + "/" + std::to_string(bits);
  if (range.Last - range.First >= 3) ++range.First, --range.Last;
  return range;
}

std::vector<std::string> RangeAddresses(const TIpv4Range& range) {
  std::vector<std::string> addresses;
  addresses.reserve(range.Last - range.First + 1);
  char dotted[INET_ADDRSTRLEN];
  for (uint64_t a = range.First; a <= range.Last; ++a) {
    in_addr address{htonl(static_cast<uint32_t>(a))};
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    addresses.emplace_back(dotted);
  }
  return addresses;
}

std::vector<std::string> ProbeTcpAddresses(const std::vector<std::string>& addresses, uint16_t port,
                                           int timeoutMs, size_t parallel, const std::atomic<bool>* stop) {
  std::vector<bool> accepted(addresses.size(), false);
  std::vector<TPending> pending;
  std::vector<pollfd> fds;
  size_t next = 0;
  if (parallel == 0) parallel = 1;
  auto stopped = [&] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
  while ((next < addresses.size() || !pending.empty()) && !stopped()) {
    while (next < addresses.size() && pending.size() < parallel) {
      bool done = false;
      const size_t index = next++;
      int fd = StartConnect(addresses[index], port, &done);
      if (fd < 0) continue;
      if (done) {
        accepted[index] = true;
        close(fd);
        continue;
      }
      pending.push_back({index, fd, TClock::now() + std::chrono::milliseconds(timeoutMs)});
    }
    if (pending.empty()) continue;
    fds.clear();
    TClock::time_point soonest = pending.front().Deadline;
    for (const TPending& p : pending) {
      fds.push_back({p.Fd, POLLOUT, 0});
      if (p.Deadline < soonest) soonest = p.Deadline;
    }
    // Wake at least every 100 ms so that a stop request is seen.
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(soonest - TClock::now()).count();
    wait = std::max<long long>(0, std::min<long long>(wait, 100));
    if (poll(fds.data(), fds.size(), static_cast<int>(wait)) < 0 && errno != EINTR) break;
    const auto now = TClock::now();
    std::vector<TPending> still;
    for (size_t i = 0; i < pending.size(); ++i) {
      const TPending& p = pending[i];
      if (fds[i].revents != 0) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(p.Fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == 0) accepted[p.Index] = true;
        close(p.Fd);
      } else if (now >= p.Deadline) {
        close(p.Fd);
      } else {
        still.push_back(p);
      }
    }
    pending.swap(still);
  }
  for (const TPending& p : pending) close(p.Fd);
  std::vector<std::string> alive;
  for (size_t i = 0; i < addresses.size(); ++i)
    if (accepted[i]) alive.push_back(addresses[i]);
  return alive;
}
