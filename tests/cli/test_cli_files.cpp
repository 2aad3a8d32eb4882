// lanternquest-cli with result files and reports: --save, --export, --load, --sort.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/process_run.h"

namespace {

struct TCliRun {
  int Status = -1;
  std::string Out, Err;
};

class CliFilesTest : public testing::Test {
 protected:
  CliFilesTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-cli-files-XXXXXX").string();
    Root = mkdtemp(pattern.data());
    // Sizes 3, 1, 2 so that name order and size order differ.
    for (const auto& [file, bytes] : {std::pair{"b.txt", 1}, {"a.txt", 3}, {"sub/c.txt", 2}}) {
      std::filesystem::create_directories(std::filesystem::path(Root + "/tree/" + file).parent_path());
      std::ofstream(Root + "/tree/" + file) << std::string(bytes, 'x');
    }
  }
  ~CliFilesTest() override { std::filesystem::remove_all(Root); }

  // Runs the program with args in the folder cwd (the test's own folder when empty).
  TCliRun Run(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::string command = (cwd.empty() ? "" : "cd " + ShellQuoted(cwd) + " && ") + ShellQuoted(LQ_CLI_PATH);
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    command += " >" + ShellQuoted(Root + "/out") + " 2>" + ShellQuoted(Root + "/err");
    const int status = std::system(command.c_str());
    return TCliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(Root + "/out"),
                   ReadAll(Root + "/err")};
  }

  std::string Root;
};

}  // namespace

TEST_F(CliFilesTest, SavesSortedResultsAndLoadsThemBack) {
  const std::string tree = Root + "/tree";
  const TCliRun search = Run({"--sort", "-size", "--save", Root + "/r.dat", "--export",
                              Root + "/r.XML", "*.txt", tree});
  ASSERT_EQ(search.Status, 0) << search.Err;
  EXPECT_EQ(search.Out, tree + "/a.txt\n" + tree + "/sub/c.txt\n" + tree + "/b.txt\n");
  EXPECT_EQ(ReadAll(Root + "/r.dat").size(), 128u + 3 * 528u);
  EXPECT_EQ(ReadAll(Root + "/r.XML").rfind("<?xml version=\"1.0\"", 0), 0u);

  const TCliRun loaded = Run({"--load", Root + "/r.dat", "--long"});
  ASSERT_EQ(loaded.Status, 0) << loaded.Err;
  EXPECT_EQ(loaded.Out.find(tree + "/a.txt\t3 B\t"), 0u) << loaded.Out;  // file order kept

  const TCliRun byName = Run({"--load", Root + "/r.dat", "--sort", "name", "--export",
                              Root + "/r.html", "[ab]*"});
  ASSERT_EQ(byName.Status, 0) << byName.Err;
  EXPECT_EQ(byName.Out, tree + "/a.txt\n" + tree + "/b.txt\n");
  EXPECT_EQ(ReadAll(Root + "/r.html").rfind("<HTML><HEAD><TITLE>Search results ", 0), 0u);
}

TEST_F(CliFilesTest, FailuresExitWithOneAndTheirMessage) {
  const std::string tree = Root + "/tree";
  ASSERT_EQ(Run({"--save", Root + "/good.dat", "*.txt", tree}).Status, 0);
  std::string corrupted = ReadAll(Root + "/good.dat");
  corrupted[16] = 2;
  std::ofstream(Root + "/bad.dat", std::ios::binary) << corrupted;
  std::ofstream(Root + "/locked.dat") << "old";
  chmod((Root + "/locked.dat").c_str(), 0444);

  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  };
  const TCase cases[] = {
      {{"--load", Root + "/missing.dat"}, "\"" + Root + "/missing.dat\""},
      {{"--load", Root + "/bad.dat"}, "File \"" + Root + "/bad.dat\" is corrupted!"},
      {{"--save", Root + "/locked.dat", "*.txt", tree},
       "Can not rewrite file \"" + Root + "/locked.dat\"!"},
      {{"--load", Root + "/good.dat", "--export", Root + "/no/such/r.html"},
       "\"" + Root + "/no/such/r.html\""},
      // The first file fails, the second is written, and the status still says so.
      {{"--save", Root + "/locked.dat", "--export", Root + "/fine.html", "*.txt", tree},
       "Can not rewrite file \"" + Root + "/locked.dat\"!"},
  };
  for (const TCase& c : cases) {
    const TCliRun run = Run(c.Args);
    EXPECT_EQ(run.Status, 1) << c.Args[1];
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
  }
  EXPECT_EQ(ReadAll(Root + "/locked.dat"), "old");
  EXPECT_NE(ReadAll(Root + "/fine.html").find("/tree/a.txt"), std::string::npos);
}

// A relative location prints names as given, but a result file and a report hold
// absolute names: they are read elsewhere, where a relative name means nothing.
TEST_F(CliFilesTest, SavedAndExportedNamesAreAbsolute) {
  const TCliRun run = Run({"--sort", "path", "--save", "r.dat", "--export", "r.xml", "*.txt", "tree"}, Root);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "tree/a.txt\ntree/b.txt\ntree/sub/c.txt\n");
  const std::string tree = std::filesystem::canonical(Root).string() + "/tree";
  const TCliRun loaded = Run({"--load", Root + "/r.dat"});
  EXPECT_EQ(loaded.Out, tree + "/a.txt\n" + tree + "/b.txt\n" + tree + "/sub/c.txt\n");
  EXPECT_NE(ReadAll(Root + "/r.xml").find("<Name>" + tree + "/sub/c.txt</Name>"), std::string::npos);
}

TEST_F(CliFilesTest, BadOptionsAreUsageErrors) {
  EXPECT_EQ(Run({"--sort", "colour", "*", Root}).Status, 2);
  EXPECT_EQ(Run({"--load", Root + "/r.dat", "*", Root}).Status, 2);  // no LOCATION with --load
}

// A loaded result set honours --exclude as a search would have: a matching name is left
// out, and so is everything in a folder whose name matches.
TEST_F(CliFilesTest, LoadLeavesOutExcludedNamesAndFolders) {
  ASSERT_EQ(Run({"--save", Root + "/r.dat", "*.txt", Root + "/tree"}).Status, 0);
  const std::string tree = Root + "/tree";
  EXPECT_EQ(Run({"--load", Root + "/r.dat", "--sort", "path", "--exclude", "sub;b.txt"}).Out, tree + "/a.txt\n");
  EXPECT_EQ(Run({"--load", Root + "/r.dat", "--sort", "path", "--exclude", "su"}).Out,
            tree + "/a.txt\n" + tree + "/b.txt\n" + tree + "/sub/c.txt\n")
      << "a mask matches whole names only";
}
