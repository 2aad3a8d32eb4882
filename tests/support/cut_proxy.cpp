#include "cut_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct TPair {
  int Client = -1;
  int Server = -1;
  size_t FromServer = 0;  // bytes the server sent and the client got
  bool Failing = false;   // this connection is cut or stalled at CutAfter
  bool Stalled = false;
};

void ClosePair(TPair& pair) {
  if (pair.Client >= 0) close(pair.Client);
  if (pair.Server >= 0) close(pair.Server);
  pair.Client = pair.Server = -1;
}

// Copies what from has ready to to, at most limit bytes. False when from ended or
// either side failed.
bool Forward(int from, int to, size_t limit, size_t& forwarded) {
  char buffer[16384];
  const ssize_t n = recv(from, buffer, std::min(sizeof buffer, limit), 0);
  if (n <= 0) return false;
  for (ssize_t done = 0; done < n;) {
    const ssize_t sent = send(to, buffer + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += sent;
  }
  forwarded += static_cast<size_t>(n);
  return true;
}

}  // namespace

TCutProxy::TCutProxy(const std::string& address, uint16_t serverPort, TMode mode, size_t cutAfter,
                     int failingConnections)
    : ServerPort(serverPort), Mode(mode), CutAfter(cutAfter), FailingConnections(failingConnections) {
  ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &local.sin_addr);
  socklen_t length = sizeof local;
  if (ListenFd < 0 || bind(ListenFd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(ListenFd, 16) != 0 || getsockname(ListenFd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    if (ListenFd >= 0) close(ListenFd);
    ListenFd = -1;
    return;
  }
  ListenPort = ntohs(local.sin_port);
  WakeFd = eventfd(0, EFD_CLOEXEC);
  Thread = std::thread([this] { Serve(); });
}

TCutProxy::~TCutProxy() {
  if (Thread.joinable()) {
    const uint64_t one = 1;
    if (write(WakeFd, &one, sizeof one) < 0) {
      // The thread then ends with the test program; nothing else can be done here.
    }
    Thread.join();
  }
  if (WakeFd >= 0) close(WakeFd);
  if (ListenFd >= 0) close(ListenFd);
}

void TCutProxy::Serve() {
  std::vector<TPair> pairs;
  int accepted = 0;
  for (;;) {
    std::vector<pollfd> fds{{WakeFd, POLLIN, 0}, {ListenFd, POLLIN, 0}};
    for (const TPair& pair : pairs) {
      const short events = pair.Stalled ? 0 : POLLIN;
      fds.push_back({pair.Client, events, 0});
      fds.push_back({pair.Server, events, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    const size_t polled = pairs.size();  // a connection accepted below is polled next time
    if (fds[0].revents != 0) break;
    if (fds[1].revents & POLLIN) {
      const int client = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        TPair pair;
        pair.Client = client;
        pair.Server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(ServerPort);
        inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        if (pair.Server < 0 || connect(pair.Server, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
          ClosePair(pair);
        } else {
          pair.Failing = accepted++ < FailingConnections;
          pairs.push_back(pair);
        }
      }
    }
    for (size_t i = 0; i < polled; ++i) {
      TPair& pair = pairs[i];
      const pollfd& client = fds[2 + 2 * i];
      const pollfd& server = fds[3 + 2 * i];
      if (pair.Stalled) continue;
      size_t toClient = 0, ignored = 0;
      bool open = true;
      if (client.revents != 0) open = Forward(pair.Client, pair.Server, SIZE_MAX, ignored);
      if (open && server.revents != 0) {
        const size_t limit = pair.Failing ? CutAfter - pair.FromServer : SIZE_MAX;
        open = Forward(pair.Server, pair.Client, limit, toClient);
        pair.FromServer += toClient;
      }
      if (open && pair.Failing && pair.FromServer >= CutAfter) {
        if (Mode == TMode::Cut) open = false;
        else pair.Stalled = true;
      }
      if (!open) ClosePair(pair);
    }
    std::erase_if(pairs, [](const TPair& pair) { return pair.Client < 0; });
  }
  for (TPair& pair : pairs) ClosePair(pair);
}
