// lanternquest-cli as a program: exit statuses, messages and the output forms.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program with args, stdout and stderr captured into files (not a terminal).
TRun RunCli(const std::vector<std::string>& args, const std::string& scratch) {
  const std::string outPath = scratch + "/out", errPath = scratch + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{LQ_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  TRun run;
  if (posix_spawn(&pid, LQ_CLI_PATH, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.Out = ReadAll(outPath);
  run.Err = ReadAll(errPath);
  return run;
}

std::vector<std::string> SortedSplit(const std::string& text, char end) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text) {
    if (c == end) {
      items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  EXPECT_TRUE(item.empty()) << "output does not end with its terminator";
  std::sort(items.begin(), items.end());
  return items;
}

class CliTest : public testing::Test {
 protected:
  CliTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-cli-XXXXXX").string();
    Root = mkdtemp(pattern.data());
    Tree = Root + "/tree";
    for (const char* file : {"a.txt", "b.doc", "sub/c.txt", "sub/deeper/d.txt", ".hidden.txt"}) {
      std::filesystem::create_directories(std::filesystem::path(Tree + "/" + file).parent_path());
      std::ofstream(Tree + "/" + file) << "12345";
    }
  }
  ~CliTest() override { std::filesystem::remove_all(Root); }
  TRun Run(std::vector<std::string> args) { return RunCli(args, Root); }
  std::string Root, Tree;
};

TEST_F(CliTest, PrintsEveryFullNameOncePerLine) {
  const TRun run = Run({"*.txt", Tree + "/"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(SortedSplit(run.Out, '\n'),
            (std::vector<std::string>{Tree + "/a.txt", Tree + "/sub/c.txt", Tree + "/sub/deeper/d.txt"}));
  EXPECT_EQ(run.Err, "");
}

TEST_F(CliTest, OutputForms) {
  const TRun nul = Run({"-0", "-j", "1", "*.txt;*.doc", Tree});
  EXPECT_EQ(nul.Status, 0);
  EXPECT_EQ(SortedSplit(nul.Out, '\0').size(), 4u);

  const TRun longForm = Run({"--long", "--attributes=RHAD", "a.txt;.hidden.txt", Tree});
  EXPECT_EQ(longForm.Status, 0);
  const std::vector<std::string> lines = SortedSplit(longForm.Out, '\n');
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
    EXPECT_NE(line.find("\t5 B\t"), std::string::npos) << line;
  }
  EXPECT_NE(lines[0].find("/.hidden.txt\t"), std::string::npos);
  EXPECT_EQ(lines[0].substr(lines[0].rfind('\t')), "\tH");

  const TRun sized = Run({"--size-from", "6", "*.*", Tree});  // every file has 5 bytes
  EXPECT_EQ(sized.Status, 0);
  EXPECT_EQ(sized.Out, "");
}

TEST_F(CliTest, ExitStatusesAndMessages) {
  struct TCase {
    std::vector<std::string> Args;
    int Status;
    const char* ErrorNames;  // a part of the message on stderr; "" for none
  };
  const std::string missing = Root + "/missing";
  const TCase cases[] = {
      {{"nothing-matches-this", Tree}, 0, ""},
      {{"--help"}, 0, ""},
      {{"--version"}, 0, ""},
      {{}, 2, "PATTERN"},
      {{"a[", Tree}, 2, "a["},
      {{"*.txt;[]x", Tree}, 2, "[]x"},
      {{"-j", "13", "*", Tree}, 2, "-j"},
      {{"--threads=0", "*", Tree}, 2, "--threads"},
      {{"-a", "RX", "*", Tree}, 2, "X"},
      {{"--time-from", "2024-02-30", "*", Tree}, 2, "--time-from"},
      {{"--size-to", "ten", "*", Tree}, 2, "--size-to"},
      {{"--bogus", "*", Tree}, 2, "--bogus"},
      {{"--exclude", "[z", "*", Tree}, 2, "--exclude"},
      {{"*", Tree, "extra"}, 2, "extra"},
      // Address ranges: at most /16, and --discover takes nothing else.
      {{"*", "10.0.0.0/8"}, 2, "10.0.0.0/8"},
      {{"--discover", "fileserver"}, 2, "fileserver"},
      {{"*", missing}, 1, "missing"},
      {{"*", Tree + "/a.txt"}, 1, "a.txt"},
      // An empty file name (an unset variable in a script) is a mistake, never "no file".
      {{"--save", "", "*", Tree}, 2, "--save"},
      {{"--save=", "*", Tree}, 2, "--save"},
      {{"--load", ""}, 2, "--load"},
      {{"--export", "", "*", Tree}, 2, "--export"},
      {{"-A", "", "*", "smb://127.0.0.1/x"}, 2, "-A"},
      // Mistakes only the search's set-up finds are usage errors too.
      {{"*", "smb://h:0/"}, 2, "smb://h:0/"},
      {{"*", "smb://"}, 2, "smb://"},
      {{"-U", "u", "*", "."}, 2, "--user"},
      // An authentication file is a small regular file.
      {{"-A", "/dev/zero", "*", "smb://127.0.0.1/x"}, 1, "not a regular file"},
      {{"-A", Root + "/big-auth", "*", "smb://127.0.0.1/x"}, 1, "larger than"},
  };
  std::ofstream(Root + "/big-auth") << "username = u\n" << std::string(100000, '#') << "\n";
  for (const TCase& c : cases) {
    const TRun run = Run(c.Args);
    const std::string label = c.Args.empty() ? "(none)" : c.Args[0];
    EXPECT_EQ(run.Status, c.Status) << label << ": " << run.Err;
    if (*c.ErrorNames) {
      EXPECT_NE(run.Err.find(c.ErrorNames), std::string::npos) << label << ": " << run.Err;
    }
    if (c.Status == 2) {
      EXPECT_EQ(run.Out, "") << label;
    }
  }
  EXPECT_NE(Run({"--help"}).Out.find("Usage: lanternquest-cli"), std::string::npos);
}

// What a terminal shows of a run with args: stdout and stderr are both the terminal.
std::string ShownOnATerminal(const std::vector<std::string>& args) {
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) return "forkpty failed";
  if (pid == 0) {
    std::vector<std::string> all{LQ_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(LQ_CLI_PATH, argv.data());
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<size_t>(n));
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  return shown;
}

// On a terminal a name cannot pass for two lines or send control codes: its control
// bytes show escaped. Into a file or a pipe the bytes go as they are.
TEST_F(CliTest, ControlBytesInNamesShowEscapedOnATerminal) {
  std::ofstream(Tree + "/two\nlines.txt") << "x";
  std::ofstream(Tree + "/bell\x07.txt") << "x";
  const std::string shown = ShownOnATerminal({"-j", "1", "two*;bell*", Tree});
  EXPECT_NE(shown.find(Tree + "/two\\nlines.txt"), std::string::npos) << shown;
  EXPECT_NE(shown.find(Tree + "/bell\\x07.txt"), std::string::npos) << shown;

  const TRun piped = Run({"bell*", Tree});
  EXPECT_EQ(piped.Out, Tree + "/bell\x07.txt\n");
}

// A result file cut inside a record: what it holds is printed, and the cut is said.
TEST_F(CliTest, ALoadedFileThatEndsInsideARecordSaysSoAndGivesWhatItHolds) {
  const std::string saved = Root + "/r.dat";
  ASSERT_EQ(Run({"--save", saved, "a.txt", Tree}).Status, 0);
  std::ofstream(saved, std::ios::app | std::ios::binary) << std::string(344, 'x');
  const TRun run = Run({"--load", saved});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, Tree + "/a.txt\n");
  EXPECT_NE(run.Err.find("ends inside a record"), std::string::npos) << run.Err;
}

// A folder the user may not read: named on stderr with the reason, status 1, and the
// rest found. Root reads everything, so the program then runs as nobody.
TEST_F(CliTest, AFolderThatCannotBeListedIsNamedOnStderrAndGivesStatusOne) {
  std::filesystem::create_directories(Tree + "/locked");
  std::ofstream(Tree + "/locked/x.txt") << "x";
  for (const std::string& folder : {Root, Tree, Tree + "/sub", Tree + "/sub/deeper"})
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
  std::filesystem::permissions(Tree + "/locked", std::filesystem::perms::none);
  int out[2], err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execl(LQ_CLI_PATH, LQ_CLI_PATH, "*.txt", Tree.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  auto readAll = [](int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
  };
  const std::string shown = readAll(out[0]), errors = readAll(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::filesystem::permissions(Tree + "/locked", std::filesystem::perms(0755));
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_EQ(errors, Tree + "/locked - Permission denied\n");
  EXPECT_EQ(SortedSplit(shown, '\n'),
            (std::vector<std::string>{Tree + "/a.txt", Tree + "/sub/c.txt", Tree + "/sub/deeper/d.txt"}));
}

// Ctrl-C at the password prompt ends the program and leaves the terminal's echo on.
TEST_F(CliTest, CtrlCAtThePasswordPromptGivesTheEchoBack) {
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(LQ_CLI_PATH, LQ_CLI_PATH, "-U", "someone", "*", "smb://127.0.0.1:1/share", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string shown;
  char buffer[256];
  while (shown.find("Password for someone: ") == std::string::npos) {
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<size_t>(n));
  }
  ASSERT_NE(shown.find("Password for someone: "), std::string::npos) << shown;
  termios during{};
  ASSERT_EQ(tcgetattr(terminal, &during), 0);
  EXPECT_EQ(during.c_lflag & ECHO, 0u);  // the prompt hides what is typed
  ASSERT_EQ(write(terminal, "\x03", 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's runtime holds a signal back until its next safe point, so the
  // interrupted read returns first and the program may end by itself; the echo must
  // still be back.
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) || (WIFEXITED(status) && WEXITSTATUS(status) != 0))
      << status;
#else
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
#endif
  termios after{};
  ASSERT_EQ(tcgetattr(terminal, &after), 0);
  EXPECT_NE(after.c_lflag & ECHO, 0u);
  close(terminal);
}

// C1 controls (as UTF-8 and as a stray byte) and bidirectional overrides are written
// out on a terminal, in names and in error lines alike, which name folders a server or
// another user chose.
TEST_F(CliTest, C1ControlsAndBidiOverridesShowEscapedOnATerminalAndSoDoErrorLines) {
  std::ofstream(Tree + "/csi\xc2\x9b" "2J.txt") << "x";
  std::ofstream(Tree + "/raw\x9b" "2J.txt") << "x";
  std::ofstream(Tree + "/rlo\xe2\x80\xaetxt.exe") << "x";
  std::ofstream(Tree + "/caf\xc3\xa9.txt") << "x";
  const std::string shown = ShownOnATerminal({"-j", "1", "csi*;raw*;rlo*;caf*", Tree});
  EXPECT_NE(shown.find(Tree + "/csi\\u009B2J.txt"), std::string::npos) << shown;
  EXPECT_NE(shown.find(Tree + "/raw\\x9B2J.txt"), std::string::npos) << shown;
  EXPECT_NE(shown.find(Tree + "/rlo\\u202Etxt.exe"), std::string::npos) << shown;
  EXPECT_NE(shown.find(Tree + "/caf\xc3\xa9.txt"), std::string::npos) << shown;  // letters stay

  const std::string missing = Tree + "/loop\x1b]0;pwned\x07\x1b[2J";
  const std::string error = ShownOnATerminal({"*", missing});
  EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
  EXPECT_NE(error.find(Tree + "/loop\\x1B]0;pwned\\x07\\x1B[2J"), std::string::npos) << error;
}

TEST_F(CliTest, ExcludedNamesAreLeftOutWithTheFoldersBelowThem) {
  const TRun run = Run({"--exclude", "deeper", "--exclude", "*.doc;a*", "*.*", Tree});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(SortedSplit(run.Out, '\n'), std::vector<std::string>{Tree + "/sub/c.txt"});
}

TEST_F(CliTest, BlankPatternMeansNamesWithADot) {
  std::ofstream(Tree + "/README") << "x";
  const TRun run = Run({"  ", Tree});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out.find("README"), std::string::npos);
  EXPECT_NE(run.Out.find("a.txt"), std::string::npos);
}

}  // namespace

// Loading the SMB client's libraries takes longer than a small local search: a local
// search never loads them.
TEST_F(CliTest, LocalSearchNeverLoadsTheSmbLibrary) {
  setenv("LD_DEBUG", "libs", 1);
  const TRun local = Run({"*.txt", Tree});
  unsetenv("LD_DEBUG");
  EXPECT_EQ(local.Status, 0);
  ASSERT_NE(local.Err.find("libstdc++"), std::string::npos) << "the loader reports on stderr";
  EXPECT_EQ(local.Err.find("libsmbclient"), std::string::npos);
}
