// lanternquest-cli's index commands as a program: --indexed prints what the search
// prints, --index-status and --forget-index, and a kill -9 during an update.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/process_run.h"

namespace {

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

class CliIndexTest : public testing::Test {
 protected:
  CliIndexTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-cli-index-XXXXXX").string();
    Root = mkdtemp(pattern.data());
    Tree = Root + "/tree";
    for (const char* file : {"a.txt", "b.doc", "sub/c.txt", "sub/deeper/d.txt", ".hidden.txt", "big.bin"}) {
      std::filesystem::create_directories(std::filesystem::path(Tree + "/" + file).parent_path());
      std::ofstream(Tree + "/" + file) << std::string(file[0] == 'b' ? 4000 : 3, 'x');
    }
  }
  ~CliIndexTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
  }

  // Runs the program in folder with args and the test's own cache folder.
  TRun Run(const std::vector<std::string>& args, const std::string& folder = "/") {
    std::string command = "cd " + ShellQuoted(folder) + " && exec " + ShellQuoted(CliProgram());
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    command += " 2>" + ShellQuoted(Root + "/err");
    const pid_t pid = SpawnInto({"/bin/sh", "-c", command}, {"XDG_CACHE_HOME=" + Root + "/cache"}, Root + "/out");
    TRun run;
    run.Status = WaitBounded(pid, std::chrono::seconds(120));
    run.Out = ReadAll(Root + "/out");
    run.Err = ReadAll(Root + "/err");
    return run;
  }
  std::string IndexFolder() const { return Root + "/cache/lanternquest/index"; }

  std::string Root, Tree;
};

TEST_F(CliIndexTest, IndexedPrintsWhatTheSearchPrints) {
  if (CliProgram().empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  ASSERT_EQ(Run({"--update-index", Tree}).Status, 0);
  const std::vector<std::vector<std::string>> searches = {
      {"--sort", "path", "*.txt", Tree},
      {"--long", "--sort", "-path", "*", Tree},  // ties of another key come in any order
      {"--format", "json", "--sort", "name", "-a", "RHSAD", "*", Tree},
      {"--format", "csv", "--sort", "path", "--exclude", "deeper", "--size-from", "3", "*", Tree},
      {"--sort", "path", "*", Tree + "/sub"},
      {"--sort", "path", "*.doc;*.bin", "."},
      {"--sort", "path", "nothing*", Tree},
  };
  for (const std::vector<std::string>& search : searches) {
    const TRun live = Run(search, Tree);
    std::vector<std::string> indexed = search;
    indexed.insert(indexed.begin(), "--indexed");
    const TRun answer = Run(indexed, Tree);
    EXPECT_EQ(answer.Status, live.Status) << search.back();
    EXPECT_EQ(answer.Out, live.Out) << testing::PrintToString(search);
    EXPECT_NE(answer.Err.find("answered from the index of "), std::string::npos) << answer.Err;
    EXPECT_NE(answer.Err.find(Tree), std::string::npos) << answer.Err;
  }
  // Saved results are the same file.
  ASSERT_EQ(Run({"--sort", "path", "--save", Root + "/live.dat", "*", Tree}).Status, 0);
  ASSERT_EQ(Run({"--indexed", "--sort", "path", "--save", Root + "/indexed.dat", "*", Tree}).Status, 0);
  EXPECT_EQ(ReadAll(Root + "/indexed.dat"), ReadAll(Root + "/live.dat"));
}

TEST_F(CliIndexTest, NoIndexCoveringTheLocationIsStatusTwoAndSaysHowToMakeOne) {
  if (CliProgram().empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  const TRun run = Run({"--indexed", "*", Tree});
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Out.empty());
  EXPECT_NE(run.Err.find("--update-index"), std::string::npos) << run.Err;
}

TEST_F(CliIndexTest, StatusListsEachIndexAndForgetRemovesIt) {
  if (CliProgram().empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  ASSERT_EQ(Run({"--update-index", Tree, Tree + "/sub"}).Status, 0);
  const TRun json = Run({"--index-status", "--format", "json"});
  ASSERT_EQ(json.Status, 0) << json.Err;
  std::istringstream lines(json.Out);
  std::map<std::string, nlohmann::json> byLocation;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json object = nlohmann::json::parse(line);
    byLocation[object["location"]] = object;
  }
  ASSERT_EQ(byLocation.size(), 2u);
  EXPECT_EQ(byLocation[Tree]["entries"], 8);  // six files and two folders
  EXPECT_EQ(byLocation[Tree + "/sub"]["entries"], 3);
  EXPECT_EQ(byLocation[Tree]["places_failed"], 0);
  EXPECT_GT(byLocation[Tree]["bytes"].get<int64_t>(), 0);
  EXPECT_EQ(byLocation[Tree]["bytes"].get<uintmax_t>(), std::filesystem::file_size(byLocation[Tree]["file"].get<std::string>()));
  const TRun csv = Run({"--index-status", "--format", "csv"});
  EXPECT_EQ(csv.Out.rfind("location,entries,bytes,updated,crawl_seconds,places_failed,file\r\n", 0), 0u) << csv.Out;
  EXPECT_EQ(std::count(csv.Out.begin(), csv.Out.end(), '\n'), 3);
  const TRun plain = Run({"--index-status"});
  EXPECT_NE(plain.Out.find(Tree + "\t8 entries\t"), std::string::npos) << plain.Out;

  EXPECT_EQ(Run({"--forget-index", Tree + "/sub/"}).Status, 0);
  const std::string left = Run({"--index-status"}).Out;
  EXPECT_EQ(std::count(left.begin(), left.end(), '\n'), 1) << left;
  EXPECT_EQ(Run({"--forget-index", Tree + "/sub"}).Status, 1);
  // The outer index still answers for the folder whose own index is gone.
  const TRun inner = Run({"--indexed", "--sort", "path", "*.txt", Tree + "/sub"});
  EXPECT_EQ(inner.Status, 0);
  EXPECT_EQ(inner.Out, Tree + "/sub/c.txt\n" + Tree + "/sub/deeper/d.txt\n");
}

TEST_F(CliIndexTest, UpdateWithoutLocationsRefreshesEveryIndexWithItsExclusions) {
  if (CliProgram().empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  ASSERT_EQ(Run({"--update-index", "--exclude", "deeper", Tree}).Status, 0);
  std::ofstream(Tree + "/new.txt") << "n";
  std::ofstream(Tree + "/sub/deeper/skipped.txt") << "n";
  const TRun update = Run({"--update-index"});
  EXPECT_EQ(update.Status, 0) << update.Err;
  const TRun answer = Run({"--indexed", "--sort", "path", "*.txt", Tree});
  EXPECT_NE(answer.Out.find(Tree + "/new.txt\n"), std::string::npos);
  EXPECT_EQ(answer.Out.find("skipped"), std::string::npos);
  // A query that leaves out less than the update did is answered, with a line saying so
  // besides the line naming the index.
  EXPECT_GE(std::count(answer.Err.begin(), answer.Err.end(), '\n'), 2) << answer.Err;
}

// kill -9 at different moments of an update: afterwards the index answers whole, as
// before the update or as after it, and no temporary file is left.
TEST_F(CliIndexTest, AKilledUpdateLeavesTheIndexWhole) {
  if (CliProgram().empty()) GTEST_SKIP() << "lanternquest-cli is not built";
  ASSERT_EQ(Run({"--update-index", Tree}).Status, 0);
  const std::string before = Run({"--indexed", "--sort", "path", "*", Tree}).Out;
  for (int i = 0; i < 3000; ++i) {
    const std::string folder = Tree + "/many/d" + std::to_string(i % 60);
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/file" + std::to_string(i)) << "m";
  }
  const std::string after = Run({"--sort", "path", "*", Tree}).Out;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string command = "exec " + ShellQuoted(CliProgram()) + " -j2 --update-index " + ShellQuoted(Tree);
    const pid_t pid = SpawnInto({"/bin/sh", "-c", command}, {"XDG_CACHE_HOME=" + Root + "/cache"}, Root + "/update");
    ASSERT_GT(pid, 0);
    usleep(static_cast<useconds_t>(attempt * attempt * 4000));  // from at once to about 200 ms in
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const TRun answer = Run({"--indexed", "--sort", "path", "*", Tree});
    EXPECT_EQ(answer.Status, 0) << answer.Err;
    EXPECT_TRUE(answer.Out == before || answer.Out == after) << "attempt " << attempt;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(IndexFolder())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << "attempt " << attempt;
  }
}

}  // namespace
