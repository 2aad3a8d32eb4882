#pragma once
// A TCP proxy on a loopback address in front of a server, for tests of connections that
// fail midway. Each connection is forwarded both ways until the server has sent
// CutAfter bytes on it; then, by mode, it is closed (Cut) or held open with nothing
// more forwarded either way (Stall). Only the first failingConnections connections fail
// so; later ones pass whole. One thread serves every connection; destruction closes
// them all and waits for it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

class TCutProxy {
 public:
  enum class TMode { Cut, Stall };
  // Listens on address (numeric IPv4) at a free port, forwarding to 127.0.0.1:serverPort.
  TCutProxy(const std::string& address, uint16_t serverPort, TMode mode, size_t cutAfter, int failingConnections);
  ~TCutProxy();
  TCutProxy(const TCutProxy&) = delete;
  TCutProxy& operator=(const TCutProxy&) = delete;

  bool Failed() const { return ListenFd < 0; }
  uint16_t Port() const { return ListenPort; }

 private:
  void Serve();

  const uint16_t ServerPort;
  const TMode Mode;
  const size_t CutAfter;
  const int FailingConnections;
  int ListenFd = -1;
  int WakeFd = -1;  // an eventfd the destructor writes to end Serve
  uint16_t ListenPort = 0;
  std::thread Thread;
};
