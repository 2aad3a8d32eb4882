#include "smb/smb_probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <chrono>
#include <string>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "os/net_errors.h"
#include "smb/smb_path.h"

namespace {

using TClock = std::chrono::steady_clock;

// A reachable host is trusted for a minute; an unreachable one is given up for a few
// seconds, so that the shares and folders queued for it fail at once.
constexpr auto kReachableFor = std::chrono::seconds(60);
constexpr auto kUnreachableFor = std::chrono::seconds(5);

// What one probe found.
struct TProbeOutcome {
  uint32_t Code = ERROR_BAD_NETPATH;
  TSmbProbeAnswer Answer = TSmbProbeAnswer::None;
};

struct TProbeResult {
  TProbeOutcome Outcome;
  TClock::time_point Until;
};

std::mutex ProbeLock;                       // leaf lock
std::map<std::string, TProbeResult> Probes;  // lower-case host -> result; guarded by ProbeLock
// Probes that StartSmbProbe set going and nobody has waited for yet; guarded by ProbeLock.
std::map<std::string, std::shared_future<TProbeOutcome>> StartedProbes;
// Lower-case hosts that took a connection only with SMB1 allowed; guarded by ProbeLock.
std::set<std::string> Smb1OnlyHosts;

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

// The first bytes a client sends on a fresh connection, to which any SMB server answers
// at once: on port 139 a NetBIOS session request, on any other port an SMB negotiate
// offering the old dialect and SMB2 (a server that knows SMB2 answers in SMB2).
std::string HelloFor(uint16_t port) {
  if (port == 139) {
    // Called name "*SMBSERVER" (server service 0x20), calling name "LANTERNQUEST"
    // (workstation 0x00), each in the 32-byte first-level encoding.
    const auto encoded = [](std::string name, char suffix) {
      name.resize(15, ' ');
      name += suffix;
      std::string out(1, '\x20');
      for (unsigned char c : name) {
        out += static_cast<char>('A' + (c >> 4));
        out += static_cast<char>('A' + (c & 0x0F));
      }
      return out + '\0';
    };
    const std::string names = encoded("*SMBSERVER", '\x20') + encoded("LANTERNQUEST", '\0');
    return std::string("\x81\x00\x00", 3) + static_cast<char>(names.size()) + names;
  }
  std::string smb("\xFFSMB\x72", 5);        // protocol, NEGOTIATE
  smb += std::string(4, '\0');               // status
  smb += '\x18';                             // flags: case-insensitive, canonical names
  smb += std::string("\x01\xC8", 2);         // flags2: long names, NT status, Unicode
  smb += std::string(12, '\0');              // PID high, signature, reserved
  smb += std::string("\xFF\xFF", 2);         // TID
  smb += std::string(6, '\0');               // PID, UID, MID
  smb += '\0';                               // no parameter words
  std::string dialects;
  for (const char* dialect : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"}) {
    dialects += '\x02';
    dialects += dialect;
    dialects += '\0';
  }
  smb += static_cast<char>(dialects.size());
  smb += '\0';
  smb += dialects;
  return std::string("\0\0", 2) + static_cast<char>(smb.size() >> 8) +
         static_cast<char>(smb.size() & 0xFF) + smb;
}

// One connection being tried: first waiting to connect, then waiting for an answer.
struct TAttempt {
  uint16_t Port = 0;
  bool Connected = false;
  TClock::time_point Deadline;
};

// Where a host is probed: each address and port to try (at most 8), or, when the name
// settles it without a probe, the code (Decided).
struct TProbeTargets {
  struct TTarget {
    sockaddr_storage Address;
    socklen_t Length;
    uint16_t Port;
  };
  std::vector<TTarget> Targets;
  bool Decided = false;
  uint32_t Code = NO_ERROR;
};

TProbeTargets ResolveProbe(const std::string& host) {
  TProbeTargets targets;
  std::vector<uint16_t> ports;
  if (uint16_t port = SmbHostPort(host)) ports.push_back(port);
  else ports = {445, 139};

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  std::string bare = host.size() > 2 && host.front() == '[' && host.back() == ']'
                         ? host.substr(1, host.size() - 2) : host;
  if (std::string address = SmbHostAddress(host); !address.empty()) bare = address;
  if (getaddrinfo(bare.c_str(), nullptr, &hints, &addresses) != 0) {
    // Servers found by workgroup browsing carry NetBIOS names, which only the library
    // resolves (broadcast, WINS). Such a name is left to the library rather than taken for
    // an unreachable host; any other name that does not resolve is one.
    targets.Decided = true;
    targets.Code = IsNetBiosName(bare) ? NO_ERROR : ERROR_BAD_NETPATH;
    return targets;
  }
  for (addrinfo* a = addresses; a != nullptr && targets.Targets.size() < 8; a = a->ai_next) {
    for (uint16_t port : ports) {
      TProbeTargets::TTarget target{};
      std::memcpy(&target.Address, a->ai_addr, a->ai_addrlen);
      target.Length = a->ai_addrlen;
      target.Port = port;
      if (a->ai_family == AF_INET) reinterpret_cast<sockaddr_in*>(&target.Address)->sin_port = htons(port);
      else if (a->ai_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&target.Address)->sin6_port = htons(port);
      else continue;
      targets.Targets.push_back(target);
    }
  }
  freeaddrinfo(addresses);
  return targets;
}

// Probes targets; touches nothing but its own sockets.
TProbeOutcome ProbeTargets(const TProbeTargets& targets) {
  if (targets.Decided) return {targets.Code, TSmbProbeAnswer::None};
  const auto start = TClock::now();
  TSockets sockets;
  std::vector<TAttempt> attempts;  // attempts[i] belongs to sockets.Fds[i]
  for (const TProbeTargets::TTarget& target : targets.Targets) {
    int fd = socket(target.Address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    int result = connect(fd, reinterpret_cast<const sockaddr*>(&target.Address), target.Length);
    if (result != 0 && errno != EINPROGRESS) {
      close(fd);
      continue;
    }
    sockets.Fds.push_back({fd, POLLOUT, 0});
    attempts.push_back({target.Port, false, start + std::chrono::milliseconds(kSmbProbeTimeoutMs)});
  }

  const auto drop = [&](size_t i) {
    close(sockets.Fds[i].fd);
    sockets.Fds.erase(sockets.Fds.begin() + static_cast<std::ptrdiff_t>(i));
    attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
  };
  while (!sockets.Fds.empty()) {
    const auto now = TClock::now();
    for (size_t i = 0; i < attempts.size();) {
      if (now >= attempts[i].Deadline) drop(i);
      else ++i;
    }
    if (attempts.empty()) break;
    auto next = attempts.front().Deadline;
    for (const TAttempt& attempt : attempts) next = std::min(next, attempt.Deadline);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    const int ready = poll(sockets.Fds.data(), sockets.Fds.size(), static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    for (size_t i = 0; i < sockets.Fds.size();) {
      pollfd& fd = sockets.Fds[i];
      TAttempt& attempt = attempts[i];
      if (fd.revents == 0) {
        ++i;
        continue;
      }
      if (!attempt.Connected) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(fd.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        const std::string hello = HelloFor(attempt.Port);
        if (error != 0 || send(fd.fd, hello.data(), hello.size(), MSG_NOSIGNAL) !=
                              static_cast<ssize_t>(hello.size())) {
          drop(i);
          continue;
        }
        // Connected: now the server must say something within its own time.
        attempt.Connected = true;
        attempt.Deadline = TClock::now() + std::chrono::milliseconds(kSmbAnswerTimeoutMs);
        fd.events = POLLIN;
        fd.revents = 0;
        ++i;
        continue;
      }
      char answer[64];
      if (const ssize_t got = recv(fd.fd, answer, sizeof answer, 0); got > 0) {
        // After the 4-byte length, an SMB2 header: the server chose SMB2 from the offer.
        const bool smb2 = got >= 8 && std::memcmp(answer + 4, "\xFESMB", 4) == 0;
        return {NO_ERROR, smb2 ? TSmbProbeAnswer::Smb2 : TSmbProbeAnswer::Other};
      }
      drop(i);  // closed or failed without a word
    }
  }
  return {};
}

// Keeps outcome as the result for key. The caller holds ProbeLock.
void KeepResult(const std::string& key, const TProbeOutcome& outcome) {
  Probes[key] = {outcome, TClock::now() + (outcome.Code == NO_ERROR ? kReachableFor : kUnreachableFor)};
}

// The result kept for key while it is fresh, else nullptr. The caller holds ProbeLock.
const TProbeOutcome* KeptResult(const std::string& key) {
  auto it = Probes.find(key);
  if (it == Probes.end() || TClock::now() >= it->second.Until) return nullptr;
  return &it->second.Outcome;
}

}  // namespace

void StartSmbProbe(const std::string& host) {
  const std::string key = AsciiLower(host);
  {
    std::lock_guard<std::mutex> guard(ProbeLock);
    if (KeptResult(key) != nullptr || StartedProbes.count(key) != 0) return;
  }
  TProbeTargets targets = ResolveProbe(host);
  std::lock_guard<std::mutex> guard(ProbeLock);
  if (targets.Decided) {
    KeepResult(key, {targets.Code, TSmbProbeAnswer::None});
    return;
  }
  try {
    StartedProbes[key] = std::async(std::launch::async, [targets = std::move(targets)] { return ProbeTargets(targets); });
  } catch (const std::system_error&) {
    // No thread for it: the first ProbeSmbHost probes the host itself.
  }
}

uint32_t ProbeSmbHost(const std::string& host) {
  const std::string key = AsciiLower(host);
  std::shared_future<TProbeOutcome> started;
  {
    std::lock_guard<std::mutex> guard(ProbeLock);
    if (const TProbeOutcome* kept = KeptResult(key)) return kept->Code;
    if (auto it = StartedProbes.find(key); it != StartedProbes.end()) started = it->second;
  }
  const TProbeOutcome outcome = started.valid() ? started.get() : ProbeTargets(ResolveProbe(host));
  std::lock_guard<std::mutex> guard(ProbeLock);
  KeepResult(key, outcome);
  if (started.valid()) StartedProbes.erase(key);
  return outcome.Code;
}

TSmbProbeAnswer SmbProbeAnswer(const std::string& host) {
  std::lock_guard<std::mutex> guard(ProbeLock);
  const TProbeOutcome* kept = KeptResult(AsciiLower(host));
  return kept != nullptr ? kept->Answer : TSmbProbeAnswer::None;
}

void NoteSmb1OnlyHost(const std::string& host) {
  std::lock_guard<std::mutex> guard(ProbeLock);
  Smb1OnlyHosts.insert(AsciiLower(host));
}

bool IsSmb1OnlyHost(const std::string& host) {
  std::lock_guard<std::mutex> guard(ProbeLock);
  return Smb1OnlyHosts.count(AsciiLower(host)) != 0;
}

void ForgetSmbProbes() {
  std::map<std::string, std::shared_future<TProbeOutcome>> started;
  {
    std::lock_guard<std::mutex> guard(ProbeLock);
    Probes.clear();
    Smb1OnlyHosts.clear();
    started.swap(StartedProbes);
  }
  // A probe still under way ends here, outside the lock, before its result is dropped.
}
