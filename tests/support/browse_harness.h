#pragma once
// A NetBIOS network of its own for browsing tests: a fresh network namespace holding a
// veth pair (kServerAddress/24 with broadcast on one end, the other end up so the link
// has carrier) and the loopback, with smbd and nmbd serving workgroup kWorkgroup as its
// master browser, server kServer. Nothing leaves the namespace. Shares:
//   public   guest, read-only   (PublicDir)
//   archive  guest              (ArchiveDir)
//   lp       a printer, guest
//   hidden$  guest
// Every file the daemons use lives under a fresh temporary folder.
//
// Construction sets everything up and returns at once (the daemons then take ~7 s to
// announce the server and ~22 s to win the election that lists the workgroup: callers
// poll, with a bound). Destruction stops both daemons and the RPC helper by process id,
// deletes the namespace (and with it the veth pair) and removes the folder, also after a
// failed set-up. Namespaces left by a run that crashed are deleted at the next start.
//
// Needs root and the `ip` tool: SkipReason() says why not, and tests skip visibly.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class TBrowseHarness {
 public:
  static constexpr const char* kWorkgroup = "TESTGRP";
  static constexpr const char* kServer = "TESTSRV";
  static constexpr const char* kServerAddress = "10.77.0.1";

  // Empty when this process may build the network; otherwise why it may not.
  static std::string SkipReason();

  TBrowseHarness();
  ~TBrowseHarness();
  TBrowseHarness(const TBrowseHarness&) = delete;
  TBrowseHarness& operator=(const TBrowseHarness&) = delete;

  bool Failed() const { return !Why.empty(); }
  const std::string& Error() const { return Why; }

  const std::string& Namespace() const { return NetNs; }
  // A folder under the harness's own that a client process may use for its state.
  std::string ClientDir() const { return Root + "/client"; }
  std::string PublicDir() const { return Root + "/pub"; }
  std::string ArchiveDir() const { return Root + "/arc"; }

  // Runs argv inside the namespace with the extra environment entries ("NAME=value"),
  // stdout and stderr together into *output. A program still running after timeout is
  // killed. Returns its exit status, or -1 when it could not run or did not end.
  int RunInside(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                std::chrono::seconds timeout, std::string* output) const;

 private:
  bool BuildNetwork();
  bool WriteConfig();
  bool StartDaemons();
  void StopDaemons();

  std::string Root;
  std::string NetNs;
  std::string Why;
  pid_t SmbdPid = -1;
  pid_t NmbdPid = -1;
};
