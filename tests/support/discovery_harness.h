#pragma once
// A LAN of its own for host-discovery tests (discovery_network.sh builds it): the
// searching side in namespace Client() on 10.78.0.1/24 with a private D-Bus system bus and
// avahi-daemon, joined by a bridge to four host namespaces:
//   10.78.0.2  WSDONLY   smbd + wsdd (workgroup kWorkgroup), no nmbd
//   10.78.0.3  mdnsonly  smbd + avahi "_smb._tcp"; also announces deadhost.local =
//                        10.78.0.99, where nothing answers
//   10.78.0.4  BOTHHOST  smbd + wsdd + avahi (bothhost)
//   10.78.0.5  a WS-Discovery responder that answers with junk (junk_wsd.py)
// Each smbd serves a guest share "public" from PublicDir(n), n = 1..3.
//
// Construction returns once every daemon answers (or with Failed()); destruction stops
// every daemon by process id and deletes the namespaces, also after a failed set-up.
// Namespaces left by a run that crashed are deleted at the next start. Needs root, `ip`,
// smbd, wsdd, avahi-daemon, avahi-browse, dbus-daemon and python3: SkipReason() says
// what is missing.
#include <chrono>
#include <string>
#include <vector>

class TDiscoveryHarness {
 public:
  static constexpr const char* kWorkgroup = "LQDISC";
  static constexpr const char* kRange = "10.78.0.0/24";

  static std::string SkipReason();

  TDiscoveryHarness();
  ~TDiscoveryHarness();
  TDiscoveryHarness(const TDiscoveryHarness&) = delete;
  TDiscoveryHarness& operator=(const TDiscoveryHarness&) = delete;

  bool Failed() const { return !Why.empty(); }
  const std::string& Error() const { return Why; }
  std::string PublicDir(int host) const { return Root + "/h" + std::to_string(host) + "/pub"; }

  // The environment a client process inside needs: its private state folder, the private
  // system bus (so it never reaches the machine's own avahi-daemon), discovery turned on.
  std::vector<std::string> ClientEnvironment() const;

  // Runs argv in the client namespace with ClientEnvironment() plus extra; stdout into
  // *out and stderr into *err. A program still running after timeout is killed. Returns
  // its exit status, or -1 when it could not run or did not end.
  int RunInside(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                std::chrono::seconds timeout, std::string* out, std::string* err) const;

 private:
  std::string Root;
  std::string NetNs;
  std::string Why;
};
