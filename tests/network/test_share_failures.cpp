// Share folders that cannot be listed, or not to their end, on the real smbd: a folder
// the server refuses, a server that stops midway, and connections a proxy cuts or
// stalls. Each such folder is named in the error log, everything else found is kept,
// and a lost connection is set up anew and the folder listed once more first.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/search_fixture.h"
#include "network_env.h"
#include "smb/smb_client.h"
#include "smb/smb_path.h"
#include "smb/smb_probe.h"
#include "support/cut_proxy.h"

namespace {

// How many of the log's lines begin with prefix.
size_t LinesStartingWith(const TLogger& log, const std::string& prefix) {
  size_t count = 0;
  for (size_t i = 0; i < log.Count(); ++i) count += log.Line(i).rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

// A folder of the public share with small files, and below it "big" with files enough
// that its listing takes far more than the proxies' cut point.
constexpr int kBigFiles = 2500;
constexpr size_t kCutAfter = 64 * 1024;

std::string MakeCutTree(const std::string& name, const TSmbdHarness& server = *TestServer()) {
  const std::string dir = server.PublicDir() + "/" + name;
  if (!std::filesystem::exists(dir + "/big")) {
    WriteTestFile(dir + "/one.txt");
    WriteTestFile(dir + "/two.txt");
    for (int i = 0; i < kBigFiles; ++i)
      WriteTestFile(dir + "/big/a-file-with-a-name-of-some-length-" + std::to_string(i) + ".txt");
  }
  return dir;
}

// Searches \\address\public\name through a proxy at address, with workers threads.
void SearchThroughProxy(TSearchRig& rig, const TCutProxy& proxy, const std::string& address,
                        const std::string& name, int workers = 1) {
  SetSmbHostPort(address, proxy.Port());
  ForgetSmbProbes();
  rig.Manager->MaxThreads = workers;
  rig.Run(TSearchRig::Task("\\\\" + address + "\\public\\" + name, "*.txt"));
}

TEST(ShareFailures, AFolderTheServerRefusesIsLoggedAndTheRestIsFound) {
  REQUIRE_SERVER();
  const std::string dir = TestServer()->PublicDir() + "/refused";
  WriteTestFile(dir + "/seen.txt");
  WriteTestFile(dir + "/closed/unseen.txt");
  std::filesystem::permissions(dir + "/closed", std::filesystem::perms::none);  // the guest may not read it
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 2;
  rig.Run(TSearchRig::Task(TSmbdHarness::Unc("public") + "\\refused", "*.txt"));
  std::filesystem::permissions(dir + "/closed", std::filesystem::perms(0755));
  EXPECT_EQ(rig.FullNames(), std::vector<std::string>{"\\\\127.0.0.1\\public\\refused\\seen.txt"});
  ASSERT_EQ(rig.Log.Count(), 1u);
  EXPECT_EQ(rig.Log.Line(0), "'SMB Network' \\\\127.0.0.1\\public\\refused\\closed - Access is denied.");
}

// The first connection is cut, or stalls, in the middle of the big folder's listing; the
// folder is listed again on a new connection and nothing is missing. (A stalled request
// waits for the client's time-out, about 20 s.)
TEST(ShareFailures, ALostConnectionIsSetUpAgainAndTheFolderListedOnceMore) {
  REQUIRE_SERVER();
  const std::string name = "cut";
  MakeCutTree(name);
  int round = 0;
  for (TCutProxy::TMode mode : {TCutProxy::TMode::Cut, TCutProxy::TMode::Stall}) {
    // A fresh address each round: the client keeps its connections per server name.
    const std::string address = "127.0.0." + std::to_string(4 + round++);
    // The first connection is the client's probe of the port, which never gets far; the
    // second is the listing's.
    TCutProxy proxy(address, TestServer()->Port(), mode, kCutAfter, 2);
    ASSERT_FALSE(proxy.Failed());
    TSearchRig rig(THandOff::Queued);
    SearchThroughProxy(rig, proxy, address, name);
    EXPECT_EQ(rig.Store.Count(), static_cast<size_t>(kBigFiles + 2)) << "stall: " << (round == 2);
    EXPECT_EQ(rig.Log.Count(), 0u) << rig.Log.Line(0);
  }
}

// Every connection is cut at the same point: the big folder is given up with a line that
// names it, and the files of the folder above are kept.
TEST(ShareFailures, AConnectionThatFailsEveryTimeLogsTheFolderAndKeepsTheRest) {
  REQUIRE_SERVER();
  const std::string name = "cut";
  MakeCutTree(name);
  const std::string address = "127.0.0.6";
  TCutProxy proxy(address, TestServer()->Port(), TCutProxy::TMode::Cut, kCutAfter, 1000);
  ASSERT_FALSE(proxy.Failed());
  TSearchRig rig(THandOff::Queued);
  SearchThroughProxy(rig, proxy, address, name);
  const std::string unc = "\\\\" + address + "\\public\\" + name + "\\";
  std::vector<std::string> names = rig.FullNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{unc + "one.txt", unc + "two.txt"}));
  ASSERT_EQ(rig.Log.Count(), 1u);
  EXPECT_EQ(rig.Log.Line(0), "'SMB Network' " + unc + "big - The network path was not found.");
}

// The server stops while the walk is under way: every folder not listed by then is in
// the log, and what was found before stays.
TEST(ShareFailures, AServerThatStopsMidwayLeavesALineForEveryFolderNotListed) {
  REQUIRE_SERVER();
  TSmbdHarness second(TestServer()->Port() + 20);
  // The second server took over 127.0.0.1's port; the rest of the program keeps the first.
  SetSmbHostPort(TSmbdHarness::Host(), TestServer()->Port());
  ASSERT_FALSE(second.Failed()) << second.Error();
  constexpr int kFolders = 30;
  for (int f = 0; f < kFolders; ++f) WriteTestFile(second.PublicDir() + "/walk/f" + std::to_string(f) + "/x.txt");
  const std::string address = "127.0.0.8";
  TCutProxy proxy(address, second.Port(), TCutProxy::TMode::Cut, SIZE_MAX, 0);
  ASSERT_FALSE(proxy.Failed());
  SetSmbHostPort(address, proxy.Port());
  ForgetSmbProbes();
  TSearchRig rig(THandOff::Direct);
  rig.Manager->MaxThreads = 1;
  bool stopped = false;
  rig.Store.OnChange = [&](TResultManager* store) {
    if (!stopped && store->Count() >= 5) {
      second.Stop();
      stopped = true;
    }
  };
  rig.Run(TSearchRig::Task("\\\\" + address + "\\public\\walk", "*.txt"));
  ASSERT_TRUE(stopped);
  const size_t found = rig.Store.Count();
  EXPECT_GE(found, 5u);
  EXPECT_LT(found, static_cast<size_t>(kFolders));
  // Each folder is either found or named in the log.
  EXPECT_EQ(found + LinesStartingWith(rig.Log, "'SMB Network' \\\\" + address + "\\public\\walk\\f"),
            static_cast<size_t>(kFolders));
}

// A server that speaks only SMB1 ends a connection that starts with SMB2's negotiate: the
// set-up is made again with SMB1 allowed, and the server noted for the set-ups after it.
// Twelve workers walk such a share whole; a connection to it cut midway is set up again
// (with SMB1 at once) and the folder listed once more.
TEST(ShareFailures, AServerThatSpeaksOnlySmb1IsWalkedWholeAndSetUpAgainAfterACut) {
  REQUIRE_SERVER();
  TSmbdHarness old(TestServer()->Port() + 30, "  server min protocol = NT1\n  server max protocol = NT1\n");
  SetSmbHostPort(TSmbdHarness::Host(), TestServer()->Port());  // the rest of the program keeps the first
  ASSERT_FALSE(old.Failed()) << old.Error();
  constexpr int kFolders = 30;
  for (int f = 0; f < kFolders; ++f) WriteTestFile(old.PublicDir() + "/walk/f" + std::to_string(f) + "/x.txt");
  MakeCutTree("cut", old);
  {
    TCutProxy proxy("127.0.0.9", old.Port(), TCutProxy::TMode::Cut, SIZE_MAX, 0);
    ASSERT_FALSE(proxy.Failed());
    TSearchRig rig(THandOff::Queued);
    SearchThroughProxy(rig, proxy, "127.0.0.9", "walk", 12);
    EXPECT_EQ(rig.Store.Count(), static_cast<size_t>(kFolders));
    EXPECT_EQ(rig.Log.Count(), 0u) << rig.Log.Line(0);
    EXPECT_TRUE(IsSmb1OnlyHost("127.0.0.9"));
  }
  // Connections: the probe, the SMB2 attempt, then the set-up with SMB1 that lists "cut"
  // and is cut in "big"; the fourth lists "big" whole.
  TCutProxy proxy("127.0.0.10", old.Port(), TCutProxy::TMode::Cut, kCutAfter, 3);
  ASSERT_FALSE(proxy.Failed());
  TSearchRig rig(THandOff::Queued);
  SearchThroughProxy(rig, proxy, "127.0.0.10", "cut");
  EXPECT_EQ(rig.Store.Count(), static_cast<size_t>(kBigFiles + 2));
  EXPECT_EQ(rig.Log.Count(), 0u) << rig.Log.Line(0);
}

}  // namespace
