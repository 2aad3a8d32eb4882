#pragma once
// A real smbd for tests, on 127.0.0.1 with a private configuration: every file it uses
// lives under a fresh temporary folder, nothing under /etc or /var. Shares:
//   public   guest, read-only             (PublicDir)
//   secret   only UserName()              (SecretDir)
//   hidden$  guest                        (HiddenDir)
//   lp       a printer, guest
//   mapped   guest; DOS attributes come from the Unix mode (444 -> R, o+x -> H, g+x -> S)
// Construction starts smbd and waits until it accepts connections; destruction stops it
// and the RPC helper it starts (samba-dcerpcd), each by process id, and removes the
// folder. The client side is pointed at the server's port (SetSmbHostPort).
//
// The user share needs an account: as root a system user is created once (useradd); else
// the current user is added to the private password database. HasUser() tells whether
// that worked; tests that need it skip visibly otherwise.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TSmbdHarness {
 public:
  // Starts a server on the first free port from preferredPort on, with extraGlobals (whole
  // lines) added to its [global] section. Failed() tells whether it runs; Error() says
  // why not.
  explicit TSmbdHarness(uint16_t preferredPort, const std::string& extraGlobals = "");
  ~TSmbdHarness();
  TSmbdHarness(const TSmbdHarness&) = delete;
  TSmbdHarness& operator=(const TSmbdHarness&) = delete;

  bool Failed() const { return SmbdPid <= 0; }
  const std::string& Error() const { return Why; }
  bool HasUser() const { return UserReady; }
  // Stops the server now (a test of a server that goes away); the folder stays until
  // destruction.
  void Stop() { StopServer(); }

  static const char* Host() { return "127.0.0.1"; }
  uint16_t Port() const { return ServerPort; }
  const std::string& UserName() const { return User; }
  static const char* Password() { return "Lantern-9pw"; }

  std::string PublicDir() const { return Root + "/pub"; }
  std::string SecretDir() const { return Root + "/sec"; }
  std::string HiddenDir() const { return Root + "/hid"; }
  std::string MappedDir() const { return Root + "/map"; }

  // \\127.0.0.1 or \\127.0.0.1\share.
  static std::string Unc(const std::string& share = "");

 private:
  bool WriteConfig();
  bool PrepareUser();
  bool StartServer();
  void StopServer();

  std::string Root;
  std::string ExtraGlobals;
  std::string Why;
  std::string User;
  uint16_t ServerPort = 0;
  pid_t SmbdPid = -1;
  bool UserReady = false;
};

// Writes text to path, creating the folders above it. Returns false on failure.
// The [global] lines that keep a test server's every file under folder t and switch off
// printing and the parts a test server does not need; shared by the test servers.
std::string PrivateServerGlobals(const std::string& t);

bool WriteTestFile(const std::string& path, const std::string& text = "x");

// Runs argv[0] with its arguments, stdin from stdinText, stdout and stderr to /dev/null;
// returns its exit status (-1 when it could not run).
int RunQuietly(const std::vector<std::string>& argv, const std::string& stdinText = "");
