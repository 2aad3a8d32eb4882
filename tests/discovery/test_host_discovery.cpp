// Merging what the discovery sources say, and address ranges.
#include <gtest/gtest.h>

#include "discovery/host_discovery.h"
#include "discovery/range_probe.h"

namespace {

TEST(HostMerge, OneMachineFoundByEverySourceIsOneHostWithItsBestName) {
  const std::vector<THostAnswer> answers = {
      {kFoundByMdns, "", "bothhost", "", {"10.0.0.4"}},
      {kFoundByWsd, "BOTHHOST", "", "WG", {"10.0.0.4"}},
      {kFoundByMdns, "", "other", "", {"10.0.0.5", "fd00::5"}},
      {kFoundByRange, "", "", "", {"fd00::5"}},
      {kFoundByRange, "", "", "", {"10.0.0.9"}},
  };
  std::vector<TNetworkHost> hosts = MergeHostAnswers(answers);
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].BestName(), "BOTHHOST");
  EXPECT_EQ(hosts[0].Workgroup, "WG");
  EXPECT_EQ(hosts[0].Sources, kFoundByMdns | kFoundByWsd);
  EXPECT_EQ(hosts[1].BestName(), "other");
  EXPECT_EQ(hosts[1].Addresses, (std::vector<std::string>{"10.0.0.5", "fd00::5"}));
  EXPECT_EQ(hosts[1].Sources, kFoundByMdns | kFoundByRange);
  EXPECT_EQ(hosts[2].BestName(), "10.0.0.9");
  EXPECT_EQ(HostSourceNames(hosts[1].Sources), "mdns,range");
}

// Browsing knows names only: it joins a discovered machine by name, its workgroup wins,
// and a machine connected by hand keeps the name it was connected by.
TEST(HostMerge, NamesJoinAnswersWithoutAddressesAndTheSmbSideNamesWin) {
  const std::vector<THostAnswer> answers = {
      {kFoundByNetbios, "FILESRV", "", "OFFICE", {}},
      {kFoundByWsd, "filesrv", "", "OLDGROUP", {"10.0.0.2"}},
      {kFoundByMdns, "", "filesrv", "", {"10.0.0.2"}},
      {kFoundByConnection, "nas", "", "", {}},
      {kFoundByMdns, "", "NAS", "", {"10.0.0.3"}},
  };
  std::vector<TNetworkHost> hosts = MergeHostAnswers(answers);
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].ComputerName, "FILESRV");
  EXPECT_EQ(hosts[0].Workgroup, "OFFICE");
  EXPECT_EQ(hosts[0].Sources, kFoundByNetbios | kFoundByWsd | kFoundByMdns);
  EXPECT_EQ(hosts[1].ConnectedName, "nas");
  EXPECT_EQ(hosts[1].BestName(), "nas");
}

TEST(AddressRange, CidrFormsAndLimits) {
  struct TCase {
    const char* Text;
    const char* First;  // nullptr: refused
    const char* Last;
    const char* Normalised;
  };
  const TCase cases[] = {
      {"10.1.2.0/24", "10.1.2.1", "10.1.2.254", "10.1.2.0/24"},
      {"10.1.2.77/24", "10.1.2.1", "10.1.2.254", "10.1.2.0/24"},
      {"10.1.0.0/16", "10.1.0.1", "10.1.255.254", "10.1.0.0/16"},
      {"10.1.2.3/32", "10.1.2.3", "10.1.2.3", "10.1.2.3/32"},
      {"10.1.2.2/31", "10.1.2.2", "10.1.2.3", "10.1.2.2/31"},
      {"10.0.0.0/15", nullptr, nullptr, nullptr},
      {"10.1.2.0/33", nullptr, nullptr, nullptr},
      {"10.1.2.0/", nullptr, nullptr, nullptr},
      {"10.1.2/24", nullptr, nullptr, nullptr},
      {"10.1.2.0/24x", nullptr, nullptr, nullptr},
      {"host/24", nullptr, nullptr, nullptr},
  };
  for (const TCase& c : cases) {
    std::optional<TIpv4Range> range = ParseIpv4Range(c.Text);
    if (c.First == nullptr) {
      EXPECT_FALSE(range) << c.Text;
      continue;
    }
    ASSERT_TRUE(range) << c.Text;
    std::vector<std::string> addresses = RangeAddresses(*range);
    EXPECT_EQ(addresses.front(), c.First) << c.Text;
    EXPECT_EQ(addresses.back(), c.Last) << c.Text;
    EXPECT_EQ(range->Text, c.Normalised) << c.Text;
  }
}

}  // namespace
