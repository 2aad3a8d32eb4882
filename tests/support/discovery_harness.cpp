#include "discovery_harness.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "process_run.h"
#include "smbd_harness.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNamespacePrefix = "lqdisc";
constexpr auto kSetUpBound = std::chrono::seconds(60);
constexpr auto kTearDownBound = std::chrono::seconds(20);

std::string Script() { return std::string(LQ_TEST_SUPPORT_DIR) + "/discovery_network.sh"; }

// Deletes the namespaces of earlier runs whose process is gone (a crash skips the
// destructor). Names are "lqdisc<pid>-<part>".
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

}  // namespace

std::string TDiscoveryHarness::SkipReason() {
  if (geteuid() != 0) return "creating network namespaces needs root";
  for (const char* program : {"ip", "smbd", "wsdd", "avahi-daemon", "avahi-browse", "dbus-daemon", "python3",
                              "unshare", "bash"})
    if (!OnPath(program)) return std::string("no `") + program + "` program (see scripts/install-deps.sh)";
  return {};
}

TDiscoveryHarness::TDiscoveryHarness() {
  if (std::string reason = SkipReason(); !reason.empty()) {
    Why = reason;
    return;
  }
  char pattern[] = "/tmp/lq-disc-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    Why = "cannot create a temporary folder";
    return;
  }
  Root = pattern;
  chmod(Root.c_str(), 0755);
  DeleteStaleNamespaces();
  NetNs = kNamespacePrefix + std::to_string(getpid());
  pid_t pid = SpawnInto({"bash", Script(), "up", Root, NetNs}, {}, Root + "/up.out");
  if (pid <= 0 || WaitBounded(pid, kSetUpBound) != 0) Why = "the discovery network did not come up:\n" + ReadAll(Root + "/up.out");
}

TDiscoveryHarness::~TDiscoveryHarness() {
  if (!NetNs.empty()) {
    pid_t pid = SpawnInto({"bash", Script(), "down", Root, NetNs}, {}, Root + "/down.out");
    if (pid > 0) WaitBounded(pid, kTearDownBound);
  }
  std::error_code ignored;
  if (!Root.empty()) fs::remove_all(Root, ignored);
}

std::vector<std::string> TDiscoveryHarness::ClientEnvironment() const {
  // A sanitizer build reports the leak suppressions it used on stderr, which the tests
  // compare: keep that report out. A sanitizer build also starts slowly enough to miss
  // an answer in the usual 2 s window: give discovery 5 s.
  const char* lsan = std::getenv("LSAN_OPTIONS");
  return {"XDG_RUNTIME_DIR=" + Root + "/c", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + Root + "/c/bus",
          "LQ_HOST_DISCOVERY=on", "LQ_DISCOVERY_WINDOW_MS=5000", "LSAN_OPTIONS=" + std::string(lsan ? lsan : "") + ":print_suppressions=0"};
}

int TDiscoveryHarness::RunInside(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                                 std::chrono::seconds timeout, std::string* out, std::string* err) const {
  static std::atomic<int> runs{0};
  const std::string base = Root + "/run-" + std::to_string(++runs);
  // stdout and stderr apart: the shell splits them, the harness's spawn takes one file.
  std::string command = "exec \"$@\" 2>" + base + ".err";
  std::vector<std::string> full = {"ip", "netns", "exec", NetNs + "-c", "sh", "-c", command, "sh"};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<std::string> environment = ClientEnvironment();
  environment.insert(environment.end(), extra.begin(), extra.end());
  pid_t pid = SpawnInto(full, environment, base + ".out");
  int status = pid > 0 ? WaitBounded(pid, timeout) : -1;
  if (out != nullptr) *out = ReadAll(base + ".out");
  if (err != nullptr) *err = ReadAll(base + ".err");
  return status;
}
