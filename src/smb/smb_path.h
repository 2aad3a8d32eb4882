#pragma once
// Network names: UNC names (\\host\share\dir) as the rest of the program keeps them, and
// the smb:// URLs that libsmbclient takes. A host may be reached on a port other than
// 445 (a test server, an smb://host:port/ location); that port is remembered per host
// for this run. All functions may be called from any thread.
#include <cstdint>
#include <optional>
#include <string>

struct TUncName {
  std::string Host;
  std::string Share;  // empty for \\host
  std::string Rest;   // folders below the share, separated by "\", no leading or trailing one
};

// Splits \\host[\share[\dir...]] (a trailing "\" allowed); nullopt when text is not UNC.
std::optional<TUncName> ParseUncName(const std::string& text);

// The UNC text of name: "\\host", "\\host\share" or "\\host\share\rest".
std::string UncText(const TUncName& name);

// The libsmbclient URL of name, with the host's port when one was set and every byte of
// the share and path that is not plain ASCII letter, digit or "-._~" percent-encoded.
std::string SmbUrl(const TUncName& name);

// Parses smb://host[:port][/share[/dir...]] into a UNC name, remembering the port for the
// host; nullopt when text is not such a URL or the port is not 1 to 65535.
std::optional<TUncName> ParseSmbUrl(const std::string& text);

// The port to use for host (case-insensitive), or 0 for the default (445, then 139).
void SetSmbHostPort(const std::string& host, uint16_t port);
uint16_t SmbHostPort(const std::string& host);

// The numeric address that host (a name found by host discovery) stands for, used in its
// URLs and probes in place of the name; empty (the default) leaves the name to the
// library's own name resolution. An empty address forgets the host's.
void SetSmbHostAddress(const std::string& host, const std::string& address);
std::string SmbHostAddress(const std::string& host);

// text with ASCII capitals made small (host and share names compare this way).
std::string AsciiLower(std::string text);
