// WS-Discovery against a hostile responder on a network of the test's own (two network
// namespaces joined by a veth pair): answers that claim hundreds of computers without
// addresses from twenty senders get a bounded number of multicast Resolves.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/wsd_discovery.h"
#include "wsd_samples.h"

namespace {

constexpr int kSenders = 20;
constexpr int kEndpointsPerSender = 50;

bool Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string MessageIdOf(const std::string& datagram) {
  const size_t start = datagram.find("MessageID>");
  const size_t end = datagram.find('<', start + 10);
  return start == std::string::npos || end == std::string::npos ? "" : datagram.substr(start + 10, end - start - 10);
}

void WriteAll(int fd, const std::string& text) {
  if (write(fd, text.data(), text.size()) < 0) _exit(4);
}

char ReadOne(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}

// The responder's side, in its own namespace on lqwb: kSenders addresses, each answering
// the Probe with kEndpointsPerSender computers without transport addresses; counts the
// Resolves it hears until told to stop, and writes the count to report.
[[noreturn]] void Responder(int control, int report) {
  if (unshare(CLONE_NEWNET) != 0) _exit(3);
  WriteAll(report, "r");  // in the namespace: the veth end may come
  if (ReadOne(control) != 'g') _exit(3);
  for (int i = 0; i < kSenders; ++i) Sh("ip addr add 10.79.0." + std::to_string(10 + i) + "/24 dev lqwb");
  if (!Sh("ip link set lqwb up") || !Sh("ip link set lo up")) _exit(3);
  const int listener = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(3702);
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) _exit(3);
  ip_mreqn group{};
  inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
  group.imr_ifindex = static_cast<int>(if_nametoindex("lqwb"));
  if (setsockopt(listener, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) _exit(3);
  WriteAll(report, "l");  // listening
  int resolves = 0, mostForOne = 0;
  int ofSender[kSenders] = {};
  bool answered = false;
  std::string datagram(65536, '\0');
  for (;;) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {control, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(listener, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) continue;
    const std::string text = datagram.substr(0, static_cast<size_t>(n));
    if (text.find("discovery/Resolve<") != std::string::npos) {
      ++resolves;
      // The endpoint's address names its sender: ...-9ba7-SSSSSSEEEEEE.
      const size_t at = text.find("9ba7-");
      if (at != std::string::npos) {
        const int s = std::atoi(text.substr(at + 5, 6).c_str());
        if (s >= 0 && s < kSenders) mostForOne = std::max(mostForOne, ++ofSender[s]);
      }
    }
    if (text.find("discovery/Probe<") == std::string::npos || answered) continue;
    answered = true;  // the second Probe of the window gets nothing new
    const std::string probeId = MessageIdOf(text);
    for (int s = 0; s < kSenders; ++s) {
      const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in source{};
      source.sin_family = AF_INET;
      inet_pton(AF_INET, ("10.79.0." + std::to_string(10 + s)).c_str(), &source.sin_addr);
      if (bind(sender, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) _exit(3);
      for (int e = 0; e < kEndpointsPerSender; ++e) {
        char endpoint[64];
        std::snprintf(endpoint, sizeof endpoint, "urn:uuid:e5e61fb5-d685-5b50-9ba7-%06d%06d", s, e);
        std::string answer = Replace(kWsddProbeMatch, "urn:uuid:676360f3-2ef4-4bc5-a422-d44bcb97eb74", probeId);
        answer = Replace(answer, "urn:uuid:e5e61fb5-d685-5b50-9ba7-acb6e6962ef3", endpoint);
        sendto(sender, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
      }
      close(sender);
    }
  }
  WriteAll(report, std::to_string(resolves) + " most " + std::to_string(mostForOne));
  _exit(0);
}

// The searching side, run in a child process of the test: its own namespace on lqwa.
// Returns "sent N" with the Resolves the responder heard, or what went wrong.
std::string SearchingSide() {
  int control[2], report[2];
  if (pipe(control) != 0 || pipe(report) != 0) return "pipe failed";
  const pid_t responder = fork();
  if (responder == 0) {
    close(control[1]);
    close(report[0]);
    Responder(control[0], report[1]);
  }
  close(control[0]);
  close(report[1]);
  if (ReadOne(report[0]) != 'r') return "the responder could not make its namespace";
  if (unshare(CLONE_NEWNET) != 0) return "unshare failed";
  if (!Sh("ip link add lqwa type veth peer name lqwb netns " + std::to_string(responder)) ||
      !Sh("ip addr add 10.79.0.1/24 dev lqwa") || !Sh("ip link set lqwa up") || !Sh("ip link set lo up"))
    return "cannot set up the veth pair";
  WriteAll(control[1], "g");
  if (ReadOne(report[0]) != 'l') return "the responder could not listen";
  TDiscoveryInterface lqwa;
  lqwa.Name = "lqwa";
  lqwa.Index = if_nametoindex("lqwa");
  inet_pton(AF_INET, "10.79.0.1", &lqwa.Ipv4);
  DiscoverWsdHosts({lqwa}, std::chrono::milliseconds(1500));
  // Resolves still in flight arrive within moments on a veth pair.
  usleep(200 * 1000);
  WriteAll(control[1], "s");
  std::string count;
  for (char c; read(report[0], &c, 1) == 1;) count += c;
  int status = 0;
  waitpid(responder, &status, 0);
  return "sent " + count;
}

TEST(WsdLimits, ResolvesAreCappedPerSenderAndPerWindow) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
  if (!Sh("command -v ip")) GTEST_SKIP() << "needs the ip command";
  int result[2];
  ASSERT_EQ(pipe(result), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(result[0]);
    WriteAll(result[1], SearchingSide());
    _exit(0);
  }
  close(result[1]);
  std::string text;
  for (char c; read(result[0], &c, 1) == 1;) text += c;
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(text.rfind("sent ", 0), 0u) << text;
  int sent = 0, mostForOne = 0;
  ASSERT_EQ(std::sscanf(text.c_str(), "sent %d most %d", &sent, &mostForOne), 2) << text;
  // Every sender had more endpoints than its share; the window's cap binds before all
  // twenty senders are served.
  static_assert(kEndpointsPerSender > kWsdMaxResolvesPerSender);
  static_assert(kSenders * kWsdMaxResolvesPerSender > kWsdMaxResolves);
  EXPECT_GT(sent, 0) << "no Resolve was heard; the test network does not work";
  EXPECT_LE(sent, static_cast<int>(kWsdMaxResolves));
  EXPECT_LE(mostForOne, static_cast<int>(kWsdMaxResolvesPerSender));
}

}  // namespace
