// lanternquest-cli --format json and csv, read back by Python's json and csv modules:
// every name comes back byte for byte, whatever it holds, with its size and time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/process_run.h"

namespace {

// Reads lanternquest-cli output (argv[1]: json, csv or errors; argv[2]: the file) and
// prints one line per record: hex of the exact name bytes, size ("-" for none), the
// time as seconds since 1970 ("-" for none), the attribute letters (or the error text).
constexpr const char* kReader = R"PY(
import base64, csv, datetime, json, sys
form, path = sys.argv[1], sys.argv[2]
def exact(record, key):
    if record.get(key + "_base64"):
        return base64.b64decode(record[key + "_base64"], validate=True)
    return record[key].encode("utf-8")
def emit(record):
    size = "-" if record["size"] in (None, "") else str(int(record["size"]))
    when = "-" if record["mtime"] in (None, "") else \
        str(int(datetime.datetime.fromisoformat(record["mtime"]).timestamp()))
    print(exact(record, "path").hex(), size, when, record["attributes"] or "-")
if form == "json":
    with open(path, encoding="utf-8") as f:
        for line in f:
            emit(json.loads(line))
elif form == "csv":
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f, strict=True))
    assert rows[0] == ["path", "size", "mtime", "attributes", "path_base64"], rows[0]
    for row in rows[1:]:
        emit(dict(zip(rows[0], row)))
else:
    with open(path, encoding="utf-8") as f:
        for line in f:
            print(exact(json.loads(line), "error").decode("utf-8", "replace"))
)PY";

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) hex += std::string{kDigits[c >> 4], kDigits[c & 15]};
  return hex;
}

class CliFormatsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (std::system("python3 -c 'import json, csv' 2>/dev/null") != 0)
      GTEST_SKIP() << "python3 is not installed; its json and csv modules read the output";
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-cli-formats-XXXXXX").string();
    Root = mkdtemp(pattern.data());
    Tree = Root + "/tree";
    std::ofstream(Root + "/reader.py") << kReader;
  }
  void TearDown() override {
    if (!Root.empty()) std::filesystem::remove_all(Root);
  }

  // Runs the program in a zone half an hour off whole hours, so the offset is tested.
  int Run(const std::vector<std::string>& args) {
    std::string command = "TZ=IST-05:30 " + ShellQuoted(LQ_CLI_PATH);
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    command += " >" + ShellQuoted(Root + "/out") + " 2>" + ShellQuoted(Root + "/err");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The reader's lines for file, keyed by their first field; EXPECTs that it could read it.
  std::map<std::string, std::vector<std::string>> ReadBack(const std::string& form, const std::string& file) {
    const std::string command = "python3 " + ShellQuoted(Root + "/reader.py") + " " + form + " " +
                                ShellQuoted(file) + " >" + ShellQuoted(Root + "/read") + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadAll(Root + "/read");
    std::map<std::string, std::vector<std::string>> records;
    std::istringstream lines(ReadAll(Root + "/read"));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::vector<std::string> record{std::istream_iterator<std::string>(fields), {}};
      if (!record.empty()) records[record[0]] = record;
    }
    return records;
  }

  void Write(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(Tree + "/" + relative).parent_path());
    std::ofstream(Tree + "/" + relative, std::ios::binary) << content;
  }

  std::string Root, Tree;
};

TEST_F(CliFormatsTest, JsonAndCsvGiveBackEveryNameExactlyWithSizeAndTime) {
  Write("plain.txt", "1");
  Write("comma, \"quoted\".txt", "22");
  Write("line\nbreak\r.txt", "333");
  Write("caf\xC3\xA9.txt", "4444");
  Write("latin1 \xE9t\xE9.txt", "55555");  // not UTF-8
  Write("dir\xFF/overlong \xC0\xAF.txt", "666666");
  const std::vector<std::string> formats{"json", "csv"};
  for (const std::string& form : formats) {
    ASSERT_EQ(Run({"--format", form, "*.txt", Tree}), 0) << ReadAll(Root + "/err");
    const auto records = ReadBack(form, Root + "/out");
    EXPECT_EQ(records.size(), 6u) << form;
    for (const auto& item : std::filesystem::recursive_directory_iterator(Tree)) {
      if (!item.is_regular_file()) continue;
      const std::string name = item.path().native();
      struct stat info {};
      ASSERT_EQ(stat(name.c_str(), &info), 0);
      const auto found = records.find(Hex(name));
      ASSERT_NE(found, records.end()) << form << ": " << name;
      const std::vector<std::string>& record = found->second;
      ASSERT_EQ(record.size(), 4u);
      EXPECT_EQ(record[1], std::to_string(info.st_size)) << name;
      // Times are kept in two-second steps, truncated.
      const long seconds = std::stol(record[2]);
      EXPECT_LE(seconds, info.st_mtime) << name;
      EXPECT_GE(seconds, info.st_mtime - 1) << name;
    }
    const std::string text = ReadAll(Root + "/out");
    EXPECT_NE(text.find("+05:30"), std::string::npos) << form;
  }
}

TEST_F(CliFormatsTest, LoadHonoursTheFormatAndErrorsComeAsJsonLines) {
  Write("a.txt", "abc");
  Write("sub/b\x80.txt", "");
  ASSERT_EQ(Run({"--save", Root + "/r.dat", "*.txt", Tree}), 0);
  ASSERT_EQ(Run({"--format", "csv", "--load", Root + "/r.dat"}), 0) << ReadAll(Root + "/err");
  const auto loaded = ReadBack("csv", Root + "/out");
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded.count(Hex(Tree + "/sub/b\x80.txt")), 1u);
  EXPECT_EQ(loaded.at(Hex(Tree + "/a.txt"))[1], "3");

  const std::string missing = Root + "/gone\xFE";
  EXPECT_EQ(Run({"--format", "json", "*", missing}), 1);
  EXPECT_EQ(ReadAll(Root + "/out"), "");
  const auto errors = ReadBack("errors", Root + "/err");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(ReadAll(Root + "/read").find("/gone\xEF\xBF\xBD"), std::string::npos) << ReadAll(Root + "/read");

  EXPECT_EQ(Run({"--format", "json", "--long", "*", Tree}), 2);
  EXPECT_EQ(Run({"--format", "xml", "*", Tree}), 2);
}

}  // namespace

#include <cstdio>
#include <limits>

#include "cli/cli_output.h"
#include "results/search_result.h"

namespace {

// Details that could not be read (a file that vanished before its stat) are unknown, not
// a time made of nothing.
TEST(CliOutputForms, UnknownSizeAndTimeAreNullAndEmpty) {
  TSearchResult unreadable;
  unreadable.Path = std::make_shared<const std::string>("/data/");
  unreadable.Name = "gone.txt";
  unreadable.DateTime = std::numeric_limits<double>::quiet_NaN();
  unreadable.Size = -1;
  TSearchResult undetailed = unreadable;
  undetailed.DateTime = 0.0;
  undetailed.Size = 0;
  for (const TSearchResult* result : {&unreadable, &undetailed}) {
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    WriteStructuredResult(TOutputFormat::Json, *result, out);
    WriteStructuredResult(TOutputFormat::Csv, *result, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, length),
              "{\"path\":\"/data/gone.txt\",\"size\":null,\"mtime\":null,\"attributes\":\"\"}\n"
              "/data/gone.txt,,,,\r\n");
    std::free(text);
  }
}

}  // namespace
