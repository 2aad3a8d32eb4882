#include "cli/cli_network.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "discovery/range_probe.h"
#include "network/netapi.h"
#include "os/net_error_text.h"
#include "os/regular_file.h"
#include "smb/smb_client.h"
#include "smb/smb_path.h"
#include "smb/smb_probe.h"

namespace {

constexpr const char* kEntireNetworkWord = "network";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The location as a UNC name (\\host[\share...] or smb://host[/share...]); nullopt for
// anything else.
std::optional<TUncName> ParseUncLocation(const std::string& location) {
  return location.rfind("\\\\", 0) == 0 ? ParseUncName(location) : ParseSmbUrl(location);
}

// The location as a UNC name, or nullopt for the entire network.
std::optional<TUncName> UncOf(const std::string& location) {
  if (location == kEntireNetworkWord) return std::nullopt;
  std::optional<TUncName> name = ParseUncLocation(location);
  if (!name) throw TUsageError("\"" + location + "\" is not a \\\\host\\share or smb://host/share location");
  return name;
}

// The terminal's settings while the password is read without echo, for the signal
// handler below; written before the handler is installed.
termios SettingsBeforePrompt{};

// A signal that ends the program during the prompt (Ctrl-C, a hang-up, kill) first
// gives the terminal its echo back, then ends the program as the signal would.
// Only async-signal-safe calls.
extern "C" void RestoreEchoAndDie(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &SettingsBeforePrompt);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// Reads the password without echo from the terminal, or the first line of a pipe.
std::string ReadPassword(const std::string& user) {
  std::string password;
  if (isatty(STDIN_FILENO) != 1) {
    std::getline(std::cin, password);
    while (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
  }
  tcgetattr(STDIN_FILENO, &SettingsBeforePrompt);
  constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  struct sigaction restore {}, previous[std::size(kEndingSignals)];
  restore.sa_handler = RestoreEchoAndDie;
  sigemptyset(&restore.sa_mask);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &restore, &previous[i]);
  termios quiet = SettingsBeforePrompt;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  // The prompt comes once the echo is off, so nothing typed after it shows.
  std::fprintf(stderr, "Password for %s: ", user.c_str());
  std::fflush(stderr);
  std::getline(std::cin, password);
  tcsetattr(STDIN_FILENO, TCSANOW, &SettingsBeforePrompt);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &previous[i], nullptr);
  std::fputc('\n', stderr);
  return password;
}

// The largest authentication file read: a few lines of name, domain and password.
constexpr std::streamsize kMaxAuthenticationFile = 64 * 1024;

}  // namespace

bool IsNetworkLocation(const std::string& location) {
  return location == kEntireNetworkWord || ParseIpv4Range(location).has_value() || location.rfind("\\\\", 0) == 0 ||
         AsciiLower(location.substr(0, 6)) == "smb://";
}

void SetNetworkLocation(const std::string& location, TSearchTask& task) {
  task.Path.clear();
  if (std::optional<TIpv4Range> range = ParseIpv4Range(location)) {
    CopyNetResource(AddressRangeResource(*range), task.NetResource);
    return;
  }
  std::optional<TUncName> name = UncOf(location);
  if (!name) {
    CopyNetResource(EntireNetworkResource(), task.NetResource);
    return;
  }
  NETRESOURCEA record;
  record.dwScope = RESOURCE_GLOBALNET;
  record.dwType = RESOURCETYPE_DISK;
  record.dwDisplayType = name->Share.empty() ? RESOURCEDISPLAYTYPE_SERVER : RESOURCEDISPLAYTYPE_SHARE;
  record.dwUsage = RESOURCEUSAGE_CONTAINER | (name->Share.empty() ? 0 : RESOURCEUSAGE_CONNECTABLE);
  record.lpRemoteName = UncText(*name);
  record.lpProvider = std::string(kSmbProviderName);
  CopyNetResource(record, task.NetResource);
}

TSmbCredentials ParseUserOption(const std::string& text) {
  if (text.find('%') != std::string::npos)
    throw TUsageError("--user: give the password when asked, never on the command line");
  TSmbCredentials credentials;
  const size_t separator = text.find_first_of("\\/");
  credentials.User = separator == std::string::npos ? text : text.substr(separator + 1);
  if (separator != std::string::npos) credentials.Domain = text.substr(0, separator);
  if (credentials.User.empty()) throw TUsageError("--user: no user name in \"" + text + "\"");
  return credentials;
}

TSmbCredentials ReadAuthenticationFile(const std::string& path) {
  // A regular file only, and a small one: a FIFO would hold the program and a device
  // (/dev/zero) feed it without end.
  std::string reason;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenRegularFileForReading(path, reason), std::fclose);
  if (!file) throw std::runtime_error("cannot read the authentication file \"" + path + "\": " + reason);
  std::string text(static_cast<size_t>(kMaxAuthenticationFile) + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  if (std::ferror(file.get())) throw std::runtime_error("cannot read the authentication file \"" + path + "\"");
  if (text.size() > static_cast<size_t>(kMaxAuthenticationFile))
    throw std::runtime_error("the authentication file \"" + path + "\" is larger than " +
                             std::to_string(kMaxAuthenticationFile / 1024) + " KB");
  std::istringstream in(text);
  TSmbCredentials credentials;
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = AsciiLower(Trim(line.substr(0, equals)));
    const std::string value = Trim(line.substr(equals + 1));
    if (key == "username") credentials.User = value;
    else if (key == "password") credentials.Password = value;
    else if (key == "domain") credentials.Domain = value;
  }
  if (credentials.User.empty()) throw TUsageError("--authentication-file: no \"username =\" line in \"" + path + "\"");
  return credentials;
}

void PrepareCliNetwork(const TCliOptions& options) {
  // A local walk never touches the SMB client. Setting it up (loading the library, a
  // private configuration written and read back, every interface asked for its address)
  // takes over 20 ms, longer than a small local search itself.
  const bool network = IsNetworkLocation(options.Location);
  if (network) {
    // The host's probe, a round trip, runs while the library loads.
    if (std::optional<TUncName> name = ParseUncLocation(options.Location)) StartSmbProbe(name->Host);
    SmbInitialize();
  }
  if (options.User.empty() && options.AuthenticationFile.empty()) return;
  std::optional<TUncName> name = network ? UncOf(options.Location) : std::nullopt;
  if (!name) throw TUsageError("--user and --authentication-file need a \\\\host or smb:// location");
  TSmbCredentials credentials;
  if (!options.AuthenticationFile.empty()) {
    credentials = ReadAuthenticationFile(options.AuthenticationFile);
  } else {
    credentials = ParseUserOption(options.User);
    credentials.Password = ReadPassword(credentials.User);
  }
  const std::string server = UncText({name->Host, {}, {}});
  if (uint32_t code = SmbConnect(server, credentials); code != NO_ERROR) {
    NETRESOURCEA record;
    record.lpRemoteName = server;
    record.lpProvider = std::string(kSmbProviderName);
    throw std::runtime_error("cannot connect: " + GetNetErrorText(code, record));
  }
}
