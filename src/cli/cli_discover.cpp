#include "cli/cli_discover.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "cli/cli_output.h"
#include "network/network_hosts.h"
#include "smb/smb_client.h"
#include "smb/smb_path.h"

namespace {

std::vector<std::string> SourceList(unsigned sources) {
  std::vector<std::string> list;
  const std::string text = HostSourceNames(sources);
  for (size_t at = 0; at < text.size();) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    list.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  return list;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

void WriteHost(TOutputFormat format, const TNetworkHost& host, std::FILE* out) {
  // Browsed names come from the network as bytes: JSON and CSV text stays valid UTF-8.
  const std::string name = LossyUtf8(host.BestName());
  const std::string workgroup = LossyUtf8(host.Workgroup);
  std::string line;
  if (format == TOutputFormat::Json) {
    nlohmann::ordered_json object;
    object["name"] = name;
    object["workgroup"] = workgroup.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(workgroup);
    object["addresses"] = host.Addresses;
    object["sources"] = SourceList(host.Sources);
    line = object.dump() + "\n";
  } else if (format == TOutputFormat::Csv) {
    line = CsvField(name) + "," + CsvField(workgroup) + "," + CsvField(Joined(host.Addresses, " ")) + "," +
           CsvField(Joined(SourceList(host.Sources), " ")) + "\r\n";
  } else {
    line = host.BestName() + "\t" + host.Workgroup + "\t" + Joined(host.Addresses, ",") + "\t" +
           HostSourceNames(host.Sources) + "\n";
  }
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace

int RunCliDiscover(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  SmbInitialize();
  std::vector<TIpv4Range> ranges;
  for (const std::string& text : options.DiscoverRanges)
    if (std::optional<TIpv4Range> range = ParseIpv4Range(text)) ranges.push_back(*range);
  TNetworkView view = GatherNetwork({}, ranges);
  for (const std::string& note : view.Notes) WriteLogLine(options.Format, note, err);
  for (const std::string& note : view.Unreachable) WriteLogLine(options.Format, note, err);

  std::vector<TNetworkHost>& hosts = view.Hosts;
  std::stable_sort(hosts.begin(), hosts.end(), [](const TNetworkHost& a, const TNetworkHost& b) {
    return AsciiLower(a.BestName()) < AsciiLower(b.BestName());
  });
  if (options.Format == TOutputFormat::Csv) std::fputs("name,workgroup,addresses,sources\r\n", out);
  for (const TNetworkHost& host : hosts) WriteHost(options.Format, host, out);
  std::fflush(out);
  if (std::ferror(out)) {
    WriteCliError(options.Format, "cannot write the machines found", err);
    return 1;
  }
  return 0;
}
