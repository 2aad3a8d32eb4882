#include "smbd_harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "smb/smb_path.h"
#include "smb/smb_probe.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kRootUser = "lqtestuser";
constexpr auto kStartWait = std::chrono::seconds(15);

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Connects to (or, with bindInstead, binds) 127.0.0.1:port and reports whether it worked.
bool TryLoopbackPort(uint16_t port, bool bindInstead) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = LoopbackAddress(port);
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  bool ok = (bindInstead ? bind(fd, raw, sizeof address) : connect(fd, raw, sizeof address)) == 0;
  close(fd);
  return ok;
}

bool CanConnect(uint16_t port) { return TryLoopbackPort(port, false); }

// Whether process pid holds the socket listening on TCP port. Another test run on the
// same machine may take a port between our check that it is free and smbd's bind: then
// the connection succeeds, but to a server that is not ours.
bool ListensOn(pid_t pid, uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // header
  std::vector<std::string> inodes;
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0)
      inodes.push_back("socket:[" + inode + "]");
  }
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    const std::string target = fs::read_symlink(fd.path(), linkError).string();
    for (const std::string& inode : inodes)
      if (target == inode) return true;
  }
  return false;
}
bool PortIsFree(uint16_t port) { return TryLoopbackPort(port, true); }

pid_t Spawn(const std::vector<std::string>& argv, int stdinFd, int outFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, outFd, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

std::string PrivateServerGlobals(const std::string& t) {
  std::ostringstream lines;
  lines << "  private dir = " << t << "/private\n"
           "  lock directory = " << t << "/lock\n"
           "  state directory = " << t << "/state\n"
           "  cache directory = " << t << "/cache\n"
           "  pid directory = " << t << "/pid\n"
           "  ncalrpc dir = " << t << "/ncalrpc\n"
           "  binddns dir = " << t << "/binddns\n"
           "  usershare path =\n"
           "  log file = " << t << "/log/log.%m\n"
           "  passdb backend = tdbsam:" << t << "/private/passdb.tdb\n"
           "  map to guest = bad user\n"
           "  load printers = no\n"
           "  printing = bsd\n"
           "  printcap name = /dev/null\n"
           "  disable spoolss = yes\n"
           "  smbd:backgroundqueue = no\n";
  return lines.str();
}

bool WriteTestFile(const std::string& path, const std::string& text) {
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

int RunQuietly(const std::vector<std::string>& argv, const std::string& stdinText) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_t pid = Spawn(argv, pipeFds[0], devNull);
  close(pipeFds[0]);
  close(devNull);
  if (pid > 0 && !stdinText.empty()) {
    ssize_t ignored = write(pipeFds[1], stdinText.data(), stdinText.size());
    (void)ignored;
  }
  close(pipeFds[1]);
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TSmbdHarness::Unc(const std::string& share) {
  std::string text = std::string("\\\\") + Host();
  if (!share.empty()) text += "\\" + share;
  return text;
}

TSmbdHarness::TSmbdHarness(uint16_t preferredPort, const std::string& extraGlobals) : ExtraGlobals(extraGlobals) {
  char pattern[] = "/tmp/lq-smbd-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    Why = "cannot create a temporary folder";
    return;
  }
  Root = pattern;
  // smbd, running as root, serves the folders as the connected user: let everyone in.
  chmod(Root.c_str(), 0755);
  for (const char* sub : {"pub", "sec", "hid", "spool", "map", "private", "lock", "state", "cache", "pid",
                          "ncalrpc", "binddns", "log"})
    fs::create_directories(Root + "/" + sub);
  chmod((Root + "/spool").c_str(), 01777);
  passwd* self = getpwuid(getuid());
  User = getuid() == 0 ? kRootUser : (self ? self->pw_name : "");
  bool started = false;
  for (uint16_t port = preferredPort; port < preferredPort + 50 && !started; ++port) {
    if (!PortIsFree(port)) continue;
    ServerPort = port;
    if (!WriteConfig()) {
      Why = "cannot write smb.conf";
      return;
    }
    if (!UserReady) UserReady = PrepareUser();
    // Another run may take the port first: then our smbd ends or someone else's answers,
    // and the next port is tried.
    if (!StartServer()) continue;
    started = ListensOn(SmbdPid, port);
    if (!started) StopServer();
  }
  if (!started) {
    if (Why.empty()) Why = "no free port";
    return;
  }
  Why.clear();
  SetSmbHostPort(Host(), ServerPort);
  ForgetSmbProbes();
}

TSmbdHarness::~TSmbdHarness() {
  StopServer();
  std::error_code ignored;
  if (!Root.empty()) fs::remove_all(Root, ignored);
}

bool TSmbdHarness::WriteConfig() {
  const std::string& t = Root;
  std::ofstream conf(t + "/smb.conf");
  conf << "[global]\n"
          "  workgroup = TESTGRP\n"
          "  netbios name = TESTSRV\n"
          "  server role = standalone server\n"
          "  interfaces = 127.0.0.1\n"
          "  bind interfaces only = yes\n"
          "  smb ports = " << ServerPort << "\n"
          "  disable netbios = yes\n"
          << PrivateServerGlobals(t) << ExtraGlobals <<
          "  store dos attributes = yes\n"
          "[public]\n  path = " << t << "/pub\n  guest ok = yes\n  read only = yes\n"
          "[secret]\n  path = " << t << "/sec\n  valid users = " << User << "\n  guest ok = no\n"
          "[hidden$]\n  path = " << t << "/hid\n  guest ok = yes\n"
          "[lp]\n  path = " << t << "/spool\n  printable = yes\n  guest ok = yes\n"
          "  print command = /bin/true\n  lpq command = /bin/true\n  lprm command = /bin/true\n"
          "[mapped]\n  path = " << t << "/map\n  guest ok = yes\n  store dos attributes = no\n"
          "  map readonly = yes\n  map hidden = yes\n  map system = yes\n  map archive = yes\n";
  return static_cast<bool>(conf.flush());
}

bool TSmbdHarness::PrepareUser() {
  if (User.empty()) return false;
  const std::string conf = Root + "/smb.conf";
  const std::string pw = Password();
  if (getuid() == 0) {
    if (getpwnam(User.c_str()) == nullptr &&
        RunQuietly({"useradd", "-M", "-N", "-s", "/usr/sbin/nologin", User}) != 0)
      return false;
    return RunQuietly({"smbpasswd", "-c", conf, "-s", "-a", User}, pw + "\n" + pw + "\n") == 0;
  }
  return RunQuietly({"pdbedit", "-s", conf, "-t", "-a", "-u", User}, pw + "\n" + pw + "\n") == 0;
}

bool TSmbdHarness::StartServer() {
  int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = open((Root + "/log/smbd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  // smbd makes its own process group (it signals that group when it stops).
  SmbdPid = Spawn({"smbd", "--foreground", "-l", Root + "/log", "-s", Root + "/smb.conf"}, devNull, out);
  close(devNull);
  close(out);
  if (SmbdPid <= 0) {
    Why = "cannot start smbd";
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    if (CanConnect(ServerPort)) return true;
    int status = 0;
    if (waitpid(SmbdPid, &status, WNOHANG) == SmbdPid) {
      SmbdPid = -1;
      Why = "smbd ended at start; see " + Root + "/log";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Why = "smbd did not accept connections in time";
  StopServer();
  return false;
}

void TSmbdHarness::StopServer() {
  // The RPC helper runs in a session of its own and outlives smbd unless told.
  std::ifstream pidFile(Root + "/pid/samba-dcerpcd.pid");
  long helper = 0;
  if (pidFile >> helper && helper > 1) kill(-static_cast<pid_t>(helper), SIGTERM);
  if (SmbdPid > 0) {
    kill(SmbdPid, SIGTERM);
    int status = 0;
    while (waitpid(SmbdPid, &status, 0) < 0 && errno == EINTR) {
    }
    SmbdPid = -1;
  }
}
