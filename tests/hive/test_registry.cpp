#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hive/registry.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lq-registry-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    File = Dir / "Orvantis" / "Lanternquest.reg";
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::vector<std::string> FilesInFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(File.parent_path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path Dir;
  fs::path File;
};

constexpr std::string_view kKey = "SOFTWARE\\Orvantis\\Lanternquest\\Odd";

// Texts that the quoting of the file format has to survive.
const std::vector<std::pair<std::string, std::string>>& OddStrings() {
  static const auto* cases = [] {
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    return new std::vector<std::pair<std::string, std::string>>{
        {"empty", ""},
        {"backslashes", "\\\\server\\share\\"},
        {"quotes", "say \"hi\" \\\"x\\\""},
        {"trailing backslash", "C:\\"},
        {"line breaks", "one\r\ntwo\nthree\r"},
        {"nul inside", std::string("a\0b\0", 4)},
        {"high bytes", "caf\xE9 \xFF\x80"},
        {"looks like syntax", "\"=dword:1\n[HKEY_CURRENT_USER\\x]"},
        {"spaces", "  padded  "},
        {"all bytes", allBytes},
        {"", "default value"},
        {"name \"with\" \\quotes\\", "v"},
    };
  }();
  return *cases;
}

TEST_F(RegistryTest, OddStringsBinariesAndIntegersRoundTripThroughTheFile) {
  std::string longBinary;
  for (int i = 0; i < 300; ++i) longBinary += static_cast<char>(i * 7);
  {
    TRegistryHive hive(File);
    TRegKey key = hive.CreateKey(kKey);
    for (const auto& [name, text] : OddStrings()) key.WriteString(name, text);
    key.WriteBinary("bin empty", "");
    key.WriteBinary("bin one", std::string(1, '\0'));
    key.WriteBinary("bin long", longBinary);
    key.WriteInteger("int -1", -1);
    key.WriteInteger("int min", INT_MIN);
    key.WriteDateTime("date", 45123.75);
  }
  std::string firstText = ReadFile(File);
  ASSERT_TRUE(firstText.starts_with("Windows Registry Editor Version 5.00\n"));
  EXPECT_NE(firstText.find("\"int -1\"=dword:ffffffff\n"), std::string::npos);

  TRegistryHive loaded(File);
  EXPECT_TRUE(loaded.LoadProblem().empty()) << loaded.LoadProblem();
  std::optional<TRegKey> key = loaded.OpenKeyReadOnly(kKey);
  ASSERT_TRUE(key);
  for (const auto& [name, text] : OddStrings()) EXPECT_EQ(key->ReadString(name), text) << "value " << name;
  EXPECT_EQ(key->ReadBinary("bin empty"), "");
  EXPECT_EQ(key->ReadBinary("bin one"), std::string(1, '\0'));
  EXPECT_EQ(key->ReadBinary("bin long"), longBinary);
  EXPECT_EQ(key->ReadInteger("int -1"), -1);
  EXPECT_EQ(key->ReadInteger("int min"), INT_MIN);
  EXPECT_EQ(key->ReadDateTime("date"), 45123.75);
  // Writing the loaded hive gives the same text: nothing drifts from run to run.
  EXPECT_EQ(loaded.ToRegText(), firstText);
}

TEST_F(RegistryTest, ReadsHandEditedFiles) {
  fs::create_directories(File.parent_path());
  WriteFile(File,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; edited by hand\r\n"
            "[HKCU\\Software\\ORVANTIS\\Lanternquest\\Options]\r\n"
            "\"MaxThreads\"=dword:7\r\n"
            "\"Blob\"=hex:0A,0b,\\\r\n"
            "    0c\r\n"
            "\"Multi\"=hex(7):61,00,00\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Orvantis\\Lanternquest\\Empty]\r\n");
  TRegistryHive hive(File);
  ASSERT_TRUE(hive.LoadProblem().empty()) << hive.LoadProblem();
  std::optional<TRegKey> options = hive.OpenKeyReadOnly("SOFTWARE\\Orvantis\\Lanternquest\\options");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->ReadInteger("maxthreads"), 7);
  EXPECT_EQ(options->ReadBinary("Blob"), "\x0a\x0b\x0c");
  // A kind this program never writes is kept as it is, and refused by the typed reads.
  EXPECT_EQ(options->ReadValue("Multi"), (TRegValue{7, std::string("a\0\0", 3)}));
  EXPECT_THROW(options->ReadString("Multi"), TRegistryError);
  EXPECT_TRUE(hive.KeyExists("SOFTWARE\\Orvantis\\Lanternquest\\Empty"));
  EXPECT_FALSE(hive.HasPendingChanges());
}

struct TBadFile {
  const char* What;
  const char* Text;
};

class RegistryBadFileTest : public RegistryTest, public ::testing::WithParamInterface<TBadFile> {};

TEST_P(RegistryBadFileTest, IsMovedAsideAndNeverOverwritten) {
  fs::create_directories(File.parent_path());
  WriteFile(File, GetParam().Text);
  WriteFile(File.string() + ".bad", "an older bad file");
  {
    TRegistryHive hive(File);
    EXPECT_FALSE(hive.LoadProblem().empty());
    ASSERT_EQ(hive.MovedAsideTo(), fs::path(File.string() + ".bad.1"));
    EXPECT_FALSE(hive.KeyExists("SOFTWARE"));
    hive.CreateKey("SOFTWARE\\Orvantis\\Lanternquest").WriteInteger("x", 1);
  }
  EXPECT_EQ(ReadFile(File.string() + ".bad.1"), GetParam().Text);
  EXPECT_EQ(ReadFile(File.string() + ".bad"), "an older bad file");
  EXPECT_EQ(TRegistryHive(File).OpenKeyReadOnly("SOFTWARE\\Orvantis\\Lanternquest")->ReadInteger("x"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, RegistryBadFileTest,
    ::testing::Values(TBadFile{"no header", "[HKEY_CURRENT_USER\\A]\n"},
                      TBadFile{"empty", ""},
                      TBadFile{"unterminated string", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"abc\n"},
                      TBadFile{"bad hex", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:0g\n"},
                      TBadFile{"dword too long", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:123456789\n"},
                      TBadFile{"other root", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n"},
                      TBadFile{"value before key", "Windows Registry Editor Version 5.00\n\"x\"=dword:1\n"},
                      TBadFile{"half a byte", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:01,\\\n  0\n"},
                      TBadFile{"binary garbage", "\x7f" "ELF\x02\x01\x01"}),
    [](const auto& info) {
      std::string name = info.param.What;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

// Anything but a regular file at the path is moved aside like a folder, and never opened
// in a way that waits: a FIFO without a writer would hold the program at start.
TEST_F(RegistryTest, AFifoOrAFolderAtThePathIsMovedAsideWithoutWaiting) {
  fs::create_directories(File.parent_path());
  for (bool fifo : {true, false}) {
    if (fifo) ASSERT_EQ(mkfifo(File.c_str(), 0600), 0);
    else fs::create_directory(File);
    {
      TRegistryHive hive(File);
      EXPECT_NE(hive.LoadProblem().find("is not a regular file"), std::string::npos) << hive.LoadProblem();
      ASSERT_TRUE(hive.MovedAsideTo());
      EXPECT_EQ(fs::is_fifo(*hive.MovedAsideTo()), fifo);
      hive.CreateKey("SOFTWARE\\Orvantis\\Lanternquest").WriteInteger("x", 1);
    }
    EXPECT_TRUE(fs::is_regular_file(File));
    fs::remove(File);
    for (const std::string& name : FilesInFolder()) fs::remove_all(File.parent_path() / name);
  }
}

// Many values of one key, and a name given again in another letter case: the later value
// replaces the earlier in its place. (Loading compared each value with every earlier one;
// 160,000 values took 42 s.)
TEST_F(RegistryTest, ManyValuesOfOneKeyLoadAndALaterNameReplacesAnEarlierOne) {
  fs::create_directories(File.parent_path());
  constexpr int kValues = 200000;
  std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Big]\n";
  for (int i = 0; i < kValues; ++i) text += "\"v" + std::to_string(i) + "\"=dword:1\n";
  text += "[HKEY_CURRENT_USER\\Other]\n\"v1\"=dword:5\n";
  text += "[HKEY_CURRENT_USER\\Big]\n\"V7\"=dword:2\n";
  WriteFile(File, text);
  TRegistryHive hive(File);
  ASSERT_TRUE(hive.LoadProblem().empty()) << hive.LoadProblem();
  std::optional<TRegKey> big = hive.OpenKeyReadOnly("Big");
  ASSERT_TRUE(big);
  const std::vector<std::string> names = big->ValueNames();
  ASSERT_EQ(names.size(), static_cast<size_t>(kValues));
  EXPECT_EQ(names[7], "v7");  // the first spelling and place stay
  EXPECT_EQ(big->ReadInteger("v7"), 2);
  EXPECT_EQ(big->ReadInteger("v1"), 1);
  EXPECT_EQ(hive.OpenKeyReadOnly("Other")->ReadInteger("V1"), 5);
}

TEST_F(RegistryTest, KeysValuesAndKindChecks) {
  TRegistryHive hive(File);
  EXPECT_FALSE(hive.OpenKeyReadOnly("SOFTWARE\\Orvantis"));
  TRegKey key = hive.CreateKey("SOFTWARE\\Orvantis\\Lanternquest\\Options\\NetResource");
  EXPECT_TRUE(hive.KeyExists("software\\orvantis"));
  key.WriteString("Text", "12");
  key.WriteInteger("Number", 12);
  key.WriteBinary("Seven", "1234567");
  key.WriteString("text", "replaced");  // same value, other case
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Text", "Number", "Seven"}));
  EXPECT_EQ(key.ReadString("Text"), "replaced");
  EXPECT_EQ(key.ReadString("Missing"), "");
  EXPECT_THROW(key.ReadInteger("Text"), TRegistryError);
  EXPECT_THROW(key.ReadInteger("Missing"), TRegistryError);
  EXPECT_THROW(key.ReadString("Number"), TRegistryError);
  EXPECT_THROW(key.ReadDateTime("Seven"), TRegistryError);
  EXPECT_THROW(key.ReadBool("Seven"), TRegistryError);

  std::optional<TRegKey> readOnly = hive.OpenKeyReadOnly("SOFTWARE\\Orvantis\\Lanternquest\\Options");
  ASSERT_TRUE(readOnly);
  EXPECT_THROW(readOnly->WriteInteger("x", 1), TRegistryError);

  EXPECT_TRUE(hive.DeleteKey("SOFTWARE\\Orvantis\\Lanternquest\\Options"));
  EXPECT_FALSE(hive.KeyExists("SOFTWARE\\Orvantis\\Lanternquest\\Options\\NetResource"));
  EXPECT_TRUE(hive.KeyExists("SOFTWARE\\Orvantis\\Lanternquest"));
  EXPECT_FALSE(hive.DeleteKey("SOFTWARE\\Orvantis\\Lanternquest\\Options"));
  // A handle on a deleted key fails cleanly.
  EXPECT_FALSE(key.ValueExists("Number"));
  EXPECT_THROW(key.WriteInteger("Number", 1), TRegistryError);
  EXPECT_THROW(hive.CreateKey("SOFTWARE\\\\Gap"), TRegistryError);
  EXPECT_THROW(hive.CreateKey("SOFTWARE\\Line\nBreak"), TRegistryError);
}

TEST_F(RegistryTest, WritesGoOutAtOnceOutsideAnUpdateAndOnceAtItsEnd) {
  TRegistryHive hive(File);
  TRegKey key = hive.CreateKey("SOFTWARE\\A");
  key.WriteInteger("v", 1);
  EXPECT_FALSE(hive.HasPendingChanges());
  EXPECT_EQ(TRegistryHive(File).OpenKeyReadOnly("SOFTWARE\\A")->ReadInteger("v"), 1);

  std::string before = ReadFile(File);
  {
    THiveUpdate outer(hive);
    key.WriteInteger("v", 2);
    {
      THiveUpdate inner(hive);
      key.WriteInteger("w", 3);
      inner.Commit();
    }
    EXPECT_EQ(ReadFile(File), before) << "nothing is written while an update is open";
    outer.Commit();
  }
  TRegistryHive after(File);
  EXPECT_EQ(after.OpenKeyReadOnly("SOFTWARE\\A")->ReadInteger("v"), 2);
  EXPECT_EQ(after.OpenKeyReadOnly("SOFTWARE\\A")->ReadInteger("w"), 3);

  // Rewriting an unchanged value leaves the file alone.
  fs::remove(File);
  key.WriteInteger("v", 2);
  EXPECT_FALSE(fs::exists(File));
}

// Lowers the largest file this process may write, so that the next write fails midway
// with EFBIG (the signal that would otherwise end the process is ignored meanwhile).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &Saved);
    OldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = Saved;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &Saved);
    ::signal(SIGXFSZ, OldHandler);
  }

 private:
  rlimit Saved{};
  sighandler_t OldHandler;
};

TEST_F(RegistryTest, AWriteThatFailsMidwayLeavesTheOldFileAndKeepsTheChange) {
  TRegistryHive hive(File);
  hive.CreateKey("SOFTWARE\\A").WriteString("old", "value");
  std::string before = ReadFile(File);
  ASSERT_LT(before.size(), 1024u);

  std::string big(20000, 'x');
  {
    TFileSizeLimit limit(1024);
    TRegKey key = *hive.OpenKey("SOFTWARE\\A", true);
    EXPECT_THROW(key.WriteString("new", big), TRegistryError);
  }
  EXPECT_EQ(ReadFile(File), before);
  EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"Lanternquest.reg"}) << "no temporary file is left";
  EXPECT_TRUE(hive.HasPendingChanges());

  // The change was kept in memory and goes out with the next flush.
  hive.Flush();
  EXPECT_EQ(TRegistryHive(File).OpenKeyReadOnly("SOFTWARE\\A")->ReadString("new"), big);
}

TEST_F(RegistryTest, ASymbolicLinkToTheFileIsWrittenThroughNotReplaced) {
  fs::path real = Dir / "elsewhere.reg";
  fs::create_directories(File.parent_path());
  fs::create_symlink(real, File);
  TRegistryHive(File).CreateKey("SOFTWARE\\A").WriteInteger("v", 1);
  EXPECT_TRUE(fs::is_symlink(File));
  EXPECT_EQ(TRegistryHive(real).OpenKeyReadOnly("SOFTWARE\\A")->ReadInteger("v"), 1);
}

TEST(DefaultHiveFileTest, FollowsXdgConfigHomeOnlyWhenAbsolute) {
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  std::optional<std::string> saved = savedXdg ? std::optional<std::string>(savedXdg) : std::nullopt;
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  struct Case {
    const char* Xdg;
    fs::path Expected;
  };
  for (const Case& c : {Case{"/tmp/cfg", "/tmp/cfg/Orvantis/Lanternquest.reg"},
                        Case{"relative/cfg", fs::path(home) / ".config/Orvantis/Lanternquest.reg"},
                        Case{nullptr, fs::path(home) / ".config/Orvantis/Lanternquest.reg"}}) {
    if (c.Xdg)
      ::setenv("XDG_CONFIG_HOME", c.Xdg, 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultHiveFile(), c.Expected) << (c.Xdg ? c.Xdg : "(unset)");
  }
  if (saved)
    ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
