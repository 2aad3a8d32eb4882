#include "cli/cli_discover.h"

#include <algorithm>

#include "platform/network_hosts.h"
#include "platform/smb_client.h"
#include "platform/smb_path.h"

int RunCliDiscover(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  SmbInitialize();
  std::vector<TIpv4Range> ranges;
  for (const std::string& text : options.DiscoverRanges)
    if (std::optional<TIpv4Range> range = ParseIpv4Range(text)) ranges.push_back(*range);
  TNetworkView view = GatherNetwork({}, ranges);
  for (const std::string& note : view.Notes) std::fprintf(err, "%s\n", note.c_str());
  for (const std::string& note : view.Unreachable) std::fprintf(err, "%s\n", note.c_str());

  std::vector<TNetworkHost>& hosts = view.Hosts;
  std::stable_sort(hosts.begin(), hosts.end(), [](const TNetworkHost& a, const TNetworkHost& b) {
    return AsciiLower(a.BestName()) < AsciiLower(b.BestName());
  });
  for (const TNetworkHost& host : hosts) {
    std::string addresses;
    for (const std::string& address : host.Addresses) addresses += (addresses.empty() ? "" : ",") + address;
    std::fprintf(out, "%s\t%s\t%s\t%s\n", host.BestName().c_str(), host.Workgroup.c_str(), addresses.c_str(),
                 HostSourceNames(host.Sources).c_str());
  }
  std::fflush(out);
  if (std::ferror(out)) {
    std::fprintf(err, "lanternquest-cli: cannot write the machines found\n");
    return 1;
  }
  return 0;
}
