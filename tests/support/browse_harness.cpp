#include "browse_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "process_run.h"
#include "smbd_harness.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNamespacePrefix = "lqbrowse-";
constexpr auto kDaemonStartWait = std::chrono::seconds(15);
constexpr auto kDaemonStopWait = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(50);

// Deletes the namespaces of earlier runs whose process is gone (a crash skips the
// destructor); the namespace of a run still going is left alone.
void DeleteStaleNamespaces() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/run/netns", error)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(kNamespacePrefix, 0) != 0) continue;
    long owner = std::atol(name.c_str() + std::char_traits<char>::length(kNamespacePrefix));
    if (owner > 0 && kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
      RunQuietly({"ip", "netns", "delete", name});
  }
}

// Asks a daemon to stop and waits a bounded time for it.
void StopDaemon(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  WaitBounded(pid, kDaemonStopWait);
  pid = -1;
}

}  // namespace

std::string TBrowseHarness::SkipReason() {
  if (geteuid() != 0) return "creating a network namespace needs root";
  for (const char* program : {"ip", "smbd", "nmbd"})
    if (!OnPath(program)) return std::string("no `") + program + "` program (iproute2, samba)";
  return {};
}

TBrowseHarness::TBrowseHarness() {
  if (std::string reason = SkipReason(); !reason.empty()) {
    Why = reason;
    return;
  }
  char pattern[] = "/tmp/lq-browse-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    Why = "cannot create a temporary folder";
    return;
  }
  Root = pattern;
  // smbd serves the folders as the guest account: let everyone in.
  chmod(Root.c_str(), 0755);
  for (const char* sub : {"pub", "arc", "hid", "spool", "private", "lock", "state", "cache", "pid", "ncalrpc",
                          "binddns", "log", "nmbd", "client"})
    fs::create_directories(Root + "/" + sub);
  chmod((Root + "/spool").c_str(), 01777);

  DeleteStaleNamespaces();
  NetNs = kNamespacePrefix + std::to_string(getpid());
  if (!BuildNetwork() || !WriteConfig() || !StartDaemons()) StopDaemons();
}

TBrowseHarness::~TBrowseHarness() {
  StopDaemons();
  if (!NetNs.empty()) RunQuietly({"ip", "netns", "delete", NetNs});
  std::error_code ignored;
  if (!Root.empty()) fs::remove_all(Root, ignored);
}

bool TBrowseHarness::BuildNetwork() {
  // A namespace of an earlier process with our pid (pids are reused) is ours to replace.
  RunQuietly({"ip", "netns", "delete", NetNs});
  if (RunQuietly({"ip", "netns", "add", NetNs}) != 0) {
    Why = "`ip netns add` failed (no permission for network namespaces here?)";
    NetNs.clear();
    return false;
  }
  const std::string address = std::string(kServerAddress) + "/24";
  const std::vector<std::vector<std::string>> steps = {
      {"ip", "-n", NetNs, "link", "add", "lqb0", "type", "veth", "peer", "name", "lqb1"},
      {"ip", "-n", NetNs, "address", "add", address, "broadcast", "+", "dev", "lqb0"},
      {"ip", "-n", NetNs, "link", "set", "lqb0", "up"},
      {"ip", "-n", NetNs, "link", "set", "lqb1", "up"},
      // Connections to the namespace's own address go over its loopback.
      {"ip", "-n", NetNs, "link", "set", "lo", "up"},
  };
  for (const auto& step : steps) {
    if (RunQuietly(step) != 0) {
      Why = "network set-up step failed: ip " + step[3] + " " + step[4] + " ...";
      return false;
    }
  }
  return true;
}

bool TBrowseHarness::WriteConfig() {
  const std::string& t = Root;
  std::ofstream conf(t + "/smb.conf");
  conf << "[global]\n"
          "  workgroup = " << kWorkgroup << "\n"
          "  netbios name = " << kServer << "\n"
          "  server string = browse test server\n"
          "  server role = standalone server\n"
          "  interfaces = " << kServerAddress << "/24\n"
          "  bind interfaces only = yes\n"
          "  smb ports = 445 139\n"
          "  disable netbios = no\n"
          "  server min protocol = NT1\n"
          "  local master = yes\n"
          "  preferred master = yes\n"
          "  os level = 65\n"
          "  nmbd:socket dir = " << t << "/nmbd\n"
          << PrivateServerGlobals(t) <<
          "[public]\n  path = " << t << "/pub\n  guest ok = yes\n  read only = yes\n"
          "[archive]\n  path = " << t << "/arc\n  guest ok = yes\n"
          "[hidden$]\n  path = " << t << "/hid\n  guest ok = yes\n"
          "[lp]\n  path = " << t << "/spool\n  printable = yes\n  guest ok = yes\n"
          "  print command = /bin/true\n  lpq command = /bin/true\n  lprm command = /bin/true\n";
  if (!conf.flush()) {
    Why = "cannot write smb.conf";
    return false;
  }
  return true;
}

bool TBrowseHarness::StartDaemons() {
  // `ip netns exec` puts itself in the namespace and then becomes the daemon, so the pid
  // it starts with is the daemon's. Neither daemon gets --no-process-group: each stops
  // its own group on SIGTERM, which must not be ours.
  auto start = [&](const char* daemon) {
    return SpawnInto({"ip", "netns", "exec", NetNs, daemon, "--foreground", "-l", Root + "/log", "-s",
                      Root + "/smb.conf"},
                     {}, Root + "/log/" + daemon + ".out");
  };
  SmbdPid = start("smbd");
  NmbdPid = start("nmbd");
  if (SmbdPid <= 0 || NmbdPid <= 0) {
    Why = "cannot start smbd or nmbd";
    return false;
  }
  // Each daemon writes its pid file once it has set itself up.
  auto deadline = std::chrono::steady_clock::now() + kDaemonStartWait;
  while (!(fs::exists(Root + "/pid/smbd.pid") && fs::exists(Root + "/pid/nmbd.pid"))) {
    for (pid_t* pid : {&SmbdPid, &NmbdPid}) {
      int status = 0;
      if (waitpid(*pid, &status, WNOHANG) == *pid) {
        *pid = -1;
        Why = "a daemon ended at start; see " + Root + "/log";
        return false;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      Why = "smbd or nmbd did not start in time";
      return false;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

void TBrowseHarness::StopDaemons() {
  // The RPC helper runs in a session of its own and outlives smbd unless told.
  std::ifstream pidFile(Root + "/pid/samba-dcerpcd.pid");
  long helper = 0;
  if (pidFile >> helper && helper > 1) kill(-static_cast<pid_t>(helper), SIGTERM);
  StopDaemon(SmbdPid);
  StopDaemon(NmbdPid);
}

int TBrowseHarness::RunInside(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                              std::chrono::seconds timeout, std::string* output) const {
  static std::atomic<int> runs{0};
  const std::string outPath = Root + "/run-" + std::to_string(++runs) + ".out";
  std::vector<std::string> command = {"ip", "netns", "exec", NetNs};
  command.insert(command.end(), argv.begin(), argv.end());
  pid_t pid = SpawnInto(command, environment, outPath);
  int status = pid > 0 ? WaitBounded(pid, timeout) : -1;
  if (output != nullptr) *output = ReadAll(outPath);
  return status;
}
