// Workgroup and server browsing against a real master browser (smbd + nmbd) in a network
// namespace of its own. The client side must live in that namespace too, so the checks
// run in processes started there: this program (the BrowseInside tests) and the CLI.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "support/browse_harness.h"
#include "support/process_run.h"
#include "support/smbd_harness.h"

namespace {

// The workgroup appears after ~22 s; the search and the CLI take a few seconds more.
constexpr auto kInsideRunBound = std::chrono::seconds(75);
constexpr auto kCliRunBound = std::chrono::seconds(30);

TEST(Browse, WorkgroupServerAndSharesOfARealMasterBrowserAreSearched) {
  if (std::string reason = TBrowseHarness::SkipReason(); !reason.empty())
    GTEST_SKIP() << "no browsing network: " << reason;
  TBrowseHarness network;
  ASSERT_FALSE(network.Failed()) << network.Error();
  ASSERT_TRUE(WriteTestFile(network.PublicDir() + "/deep/er/found-by-browsing.txt"));
  ASSERT_TRUE(WriteTestFile(network.ArchiveDir() + "/not-this-one.txt"));
  // Client state (name cache, locks) stays in the harness's folder. A sanitizer build
  // reports the leak suppressions it used on stderr; keep that out of the compared output.
  const char* lsan = std::getenv("LSAN_OPTIONS");
  // No avahi-daemon answers inside (the bus address leads nowhere), so DNS-SD discovery is
  // absent and never reaches a daemon of the machine itself.
  const std::vector<std::string> clientEnvironment = {
      "XDG_RUNTIME_DIR=" + network.ClientDir(), "LQ_BROWSE_INSIDE=1",
      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + network.ClientDir() + "/no-bus", "LQ_HOST_DISCOVERY=on",
      "LSAN_OPTIONS=" + std::string(lsan ? lsan : "") + ":print_suppressions=0"};

  std::string output;
  int status = network.RunInside(
      {ThisProgram(), "--gtest_also_run_disabled_tests", "--gtest_filter=BrowseInside.*"}, clientEnvironment,
      kInsideRunBound, &output);
  EXPECT_EQ(status, 0) << "checks inside the namespace failed:\n" << output;
  EXPECT_NE(output.find("[  PASSED  ] 4 tests"), std::string::npos) << output;

  const std::string cli = CliProgram();
  if (cli.empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  status = network.RunInside({cli, "-j", "4", "found-by-*", "network"}, clientEnvironment, kCliRunBound, &output);
  // The note of the absent DNS-SD source is printed but names no place left unsearched.
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output,
            "'SMB Network' SMB Network - Finding servers by DNS-SD needs avahi-daemon, which does not answer.\n"
            "\\\\TESTSRV\\public\\deep\\er\\found-by-browsing.txt\n");
}

}  // namespace
