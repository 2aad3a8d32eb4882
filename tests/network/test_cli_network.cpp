// lanternquest-cli on network locations against the loopback smbd.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <utility>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "network_env.h"

namespace {

struct TCliRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string CliPath() {
  const char* build = std::getenv("LQ_BUILD_DIR");
  std::string path = std::string(build ? build : ".") + "/src/cli/lanternquest-cli";
  return std::filesystem::exists(path) ? path : std::string();
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program with args, stdinText on its standard input.
TCliRun RunCli(const std::vector<std::string>& args, const std::string& stdinText = "") {
  const std::string dir = std::filesystem::temp_directory_path() / ("lq-cli-net-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/in") << stdinText;
  // A sanitizer build reports the leak suppressions it used on stderr; keep that out of
  // the program's own output.
  const char* lsan = std::getenv("LSAN_OPTIONS");
  std::string command = "LSAN_OPTIONS=" + Quote(std::string(lsan ? lsan : "") + ":print_suppressions=0") + " " +
                        Quote(CliPath());
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + dir + "/in >" + dir + "/out 2>" + dir + "/err";
  TCliRun run;
  int status = std::system(command.c_str());
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = ReadAll(dir + "/out");
  run.Err = ReadAll(dir + "/err");
  std::filesystem::remove_all(dir);
  return run;
}

std::string Url(const std::string& rest) {
  return "smb://127.0.0.1:" + std::to_string(TestServer()->Port()) + rest;
}

#define REQUIRE_CLI() \
  if (CliPath().empty()) GTEST_SKIP() << "lanternquest-cli is not built"

TEST(CliNetwork, SmbUrlsAreSearchedAndPrintedAsUncNames) {
  REQUIRE_SERVER();
  REQUIRE_CLI();
  WriteTestFile(TestServer()->PublicDir() + "/cli/x/found.txt");
  WriteTestFile(TestServer()->PublicDir() + "/cli/other.doc");
  TCliRun run = RunCli({"-j", "4", "*.txt", Url("/public/cli/")});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "\\\\127.0.0.1\\public\\cli\\x\\found.txt\n");
  EXPECT_EQ(run.Err, "");
}

TEST(CliNetwork, RefusedShareIsReportedOnStderrAndCredentialsOpenIt) {
  REQUIRE_USER();
  REQUIRE_CLI();
  WriteTestFile(TestServer()->SecretDir() + "/cli/hidden-plan.txt");
  // Like find, a place that could not be searched makes the status 1.
  TCliRun denied = RunCli({"*plan.txt", Url("/secret/cli")});
  EXPECT_EQ(denied.Status, 1);
  EXPECT_EQ(denied.Out, "");
  EXPECT_EQ(denied.Err, "'SMB Network' \\\\127.0.0.1\\secret\\cli - Access is denied.\n");

  const std::string authFile = TestServer()->PublicDir() + "/../auth.txt";
  std::ofstream(authFile) << "username = " << TestServer()->UserName() << "\npassword = "
                          << TSmbdHarness::Password() << "\n";
  TCliRun withFile = RunCli({"-A", authFile, "*plan.txt", Url("/secret/cli")});
  EXPECT_EQ(withFile.Status, 0) << withFile.Err;
  EXPECT_EQ(withFile.Out, "\\\\127.0.0.1\\secret\\cli\\hidden-plan.txt\n");

  TCliRun withUser = RunCli({"-U", TestServer()->UserName(), "*plan.txt", Url("/secret/cli")},
                            std::string(TSmbdHarness::Password()) + "\n");
  EXPECT_EQ(withUser.Status, 0) << withUser.Err;
  EXPECT_EQ(withUser.Out, withFile.Out);

  TCliRun wrong = RunCli({"-U", TestServer()->UserName(), "*plan.txt", Url("/secret/cli")}, "wrong\n");
  EXPECT_EQ(wrong.Status, 1);
  EXPECT_NE(wrong.Err.find("cannot connect"), std::string::npos) << wrong.Err;
}

// A host that accepts connections and never answers costs a few seconds, for a server as
// for a share, and gives the usual line for a host that cannot be reached.
TEST(CliNetwork, HostThatNeverAnswersGivesUpWithTheUsualLine) {
  REQUIRE_CLI();
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2: its own port, not the test server's
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 16), 0);  // the kernel completes connections; nobody reads
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string hostPort = "127.0.0.2:" + std::to_string(ntohs(address.sin_port));
  for (const auto& [location, unc] : {std::pair<std::string, std::string>{"/share", "\\\\127.0.0.2\\share"},
                                             {"/", "\\\\127.0.0.2"}}) {
    const auto start = std::chrono::steady_clock::now();
    const TCliRun run = RunCli({"*", "smb://" + hostPort + location});
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "'SMB Network' " + unc + " - The network path was not found.\n");
    std::printf("a host that never answers: %s given up after %.1f s\n", unc.c_str(), seconds);
  }
  close(listener);
}

TEST(CliNetwork, PasswordsAreNeverTakenFromTheCommandLine) {
  REQUIRE_CLI();
  TCliRun run = RunCli({"-U", "ann%secret", "*", "\\\\127.0.0.1\\public"});
  EXPECT_EQ(run.Status, 2);
}

}  // namespace
