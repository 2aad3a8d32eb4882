// Host discovery on a LAN of its own (TDiscoveryHarness): machines announced only by
// WS-Discovery, only by DNS-SD, and by both, none of them by NetBIOS, beside a responder
// that answers with junk and an mDNS record pointing at a dead address. The searching
// side runs in its own namespace: the CLI, and this program for the DiscoveryInside
// checks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "engine/search_fixture.h"
#include "network/netapi.h"
#include "smb/smb_client.h"
#include "support/discovery_harness.h"
#include "support/process_run.h"
#include "support/smbd_harness.h"

namespace {

constexpr auto kRunBound = std::chrono::seconds(60);
constexpr const char* kInsideVariable = "LQ_DISCOVERY_INSIDE";

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

const std::string kDeadHostLine = "deadhost: no address of it answers on the SMB port.";

TEST(Discovery, MachinesOfAModernLanAreListedSearchedAndFoundByRange) {
  if (std::string reason = TDiscoveryHarness::SkipReason(); !reason.empty())
    GTEST_SKIP() << "no discovery network: " << reason;
  const std::string cli = CliProgram();
  if (cli.empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  TDiscoveryHarness network;
  ASSERT_FALSE(network.Failed()) << network.Error();
  for (int host = 1; host <= 3; ++host)
    ASSERT_TRUE(WriteTestFile(network.PublicDir(host) + "/deep/found-on-" + std::to_string(host) + ".txt"));

  // Each machine once, with what found it; the junk and the dead record add nothing.
  std::string out, err;
  EXPECT_EQ(network.RunInside({cli, "--discover"}, {}, kRunBound, &out, &err), 0) << err;
  EXPECT_EQ(out,
            "BOTHHOST\tLQDISC\t10.78.0.4\twsd,mdns\n"
            "mdnsonly\t\t10.78.0.3\tmdns\n"
            "WSDONLY\tLQDISC\t10.78.0.2\twsd\n");
  EXPECT_EQ(err, kDeadHostLine + "\n");
  EXPECT_EQ(network.RunInside({cli, "--discover", "--format", "json"}, {}, kRunBound, &out, &err), 0) << err;
  EXPECT_EQ(out,
            R"({"name":"BOTHHOST","workgroup":"LQDISC","addresses":["10.78.0.4"],"sources":["wsd","mdns"]})" "\n"
            R"({"name":"mdnsonly","workgroup":null,"addresses":["10.78.0.3"],"sources":["mdns"]})" "\n"
            R"({"name":"WSDONLY","workgroup":"LQDISC","addresses":["10.78.0.2"],"sources":["wsd"]})" "\n");

  // The entire network: a file on each machine, each machine walked once; the dead
  // record is no place that could not be searched, so the log stays empty.
  EXPECT_EQ(network.RunInside({cli, "-j", "4", "found-on-*", "network"}, {}, kRunBound, &out, &err), 0) << err;
  EXPECT_EQ(SortedLines(out), (std::vector<std::string>{"\\\\BOTHHOST\\public\\deep\\found-on-3.txt",
                                                        "\\\\WSDONLY\\public\\deep\\found-on-1.txt",
                                                        "\\\\mdnsonly\\public\\deep\\found-on-2.txt"}));
  EXPECT_EQ(err, "");

  // An address range finds the same machines by address.
  EXPECT_EQ(network.RunInside({cli, "found-on-*", TDiscoveryHarness::kRange}, {}, kRunBound, &out, &err), 0)
      << err;
  EXPECT_EQ(SortedLines(out), (std::vector<std::string>{"\\\\10.78.0.2\\public\\deep\\found-on-1.txt",
                                                        "\\\\10.78.0.3\\public\\deep\\found-on-2.txt",
                                                        "\\\\10.78.0.4\\public\\deep\\found-on-3.txt"}));
  EXPECT_EQ(err, "");
  EXPECT_EQ(network.RunInside({cli, "--discover", TDiscoveryHarness::kRange}, {}, kRunBound, &out, &err), 0);
  EXPECT_EQ(out,
            "BOTHHOST\tLQDISC\t10.78.0.4\twsd,mdns,range\n"
            "mdnsonly\t\t10.78.0.3\tmdns,range\n"
            "WSDONLY\tLQDISC\t10.78.0.2\twsd,range\n");

  std::string output;
  EXPECT_EQ(network.RunInside({ThisProgram(), "--gtest_also_run_disabled_tests", "--gtest_filter=DiscoveryInside.*"},
                              {std::string(kInsideVariable) + "=1"}, kRunBound, &output, &err),
            0)
      << output << err;
  EXPECT_NE(output.find("[  PASSED  ] 2 tests"), std::string::npos) << output;
}

// ---- Checks that run inside the client namespace, started by the test above. ----

bool Inside() { return std::getenv(kInsideVariable) != nullptr; }

class TInsideSetUp : public testing::EmptyTestEventListener {
  void OnTestProgramStart(const testing::UnitTest&) override {
    TSmbClientOptions options;
    options.Interfaces = "10.78.0.1/24";
    options.NameResolveOrder = "bcast";
    SmbInitialize(options);
  }
};

const bool SetUpInstalled = [] {
  if (Inside()) testing::UnitTest::GetInstance()->listeners().Append(new TInsideSetUp);
  return true;
}();

std::vector<NETRESOURCEA> List(const NETRESOURCEA* container) {
  std::vector<NETRESOURCEA> entries, buffer;
  HNETENUM handle = nullptr;
  if (WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, container, &handle) != NO_ERROR) return entries;
  TNetEnumGuard guard(handle);
  for (;;) {
    uint32_t count = kEnumAllEntries;
    uint32_t size = 16384;
    if (WNetEnumResourceA(handle, &count, &buffer, &size) != NO_ERROR) break;
    entries.insert(entries.end(), buffer.begin(), buffer.end());
  }
  return entries;
}

std::vector<std::string> SortedDescriptions(const std::vector<NETRESOURCEA>& entries) {
  std::vector<std::string> text;
  for (const NETRESOURCEA& e : entries)
    text.push_back(std::to_string(e.dwDisplayType) + ":" + e.lpRemoteName.value_or("(nil)"));
  std::sort(text.begin(), text.end());
  return text;
}

// Machines whose workgroup is known sit in it; the others directly under the provider.
// (Discovered machines come in the order they answered.)
TEST(DiscoveryInside, DISABLED_DiscoveredMachinesKeepTheTreesShape) {
  if (!Inside()) GTEST_SKIP() << "runs only inside the discovery network";
  std::vector<NETRESOURCEA> top = List(nullptr);
  ASSERT_EQ(top.size(), 1u);
  std::vector<NETRESOURCEA> provider = List(&top[0]);
  EXPECT_EQ(SortedDescriptions(provider), (std::vector<std::string>{"1:LQDISC", "2:\\\\mdnsonly"}));
  ASSERT_FALSE(provider.empty());
  EXPECT_EQ(SortedDescriptions(List(&provider[0])), (std::vector<std::string>{"2:\\\\BOTHHOST", "2:\\\\WSDONLY"}));
}

// WSDONLY is a name only a discovery answer vouches for. Connecting it by hand must not
// send the password to the address that answer gave: the name then goes to the normal
// name resolution, which knows no such machine. (The server would take any user: were
// the credentials sent there, the connection would succeed.)
TEST(DiscoveryInside, DISABLED_CredentialsNeverGoToAnAddressOnlyDiscoveryGave) {
  if (!Inside()) GTEST_SKIP() << "runs only inside the discovery network";
  std::vector<NETRESOURCEA> top = List(nullptr);
  ASSERT_EQ(top.size(), 1u);
  List(&List(&top[0]).at(0));  // lists \\WSDONLY, so its name leads to 10.78.0.2
  EXPECT_NE(SmbConnect("\\\\WSDONLY", TSmbCredentials{"", "someone", "secret"}), NO_ERROR);
  EXPECT_EQ(ConnectedSmbHosts(), std::vector<std::string>{});
}

}  // namespace
