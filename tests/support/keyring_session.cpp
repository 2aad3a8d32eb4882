#include "keyring_session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr const char* kSessionVariable = "LQ_TEST_KEYRING_SESSION";
constexpr int kNoKeyring = 77;

// $1 private folder, $2 test program, $3 test filter. Waits (bounded) until the daemon
// owns the Secret Service name on the private bus, runs the test, stops the daemon.
constexpr const char* kScript = R"SH(
export HOME="$1/home" XDG_DATA_HOME="$1/data" XDG_CONFIG_HOME="$1/config" XDG_RUNTIME_DIR="$1/run"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'test-keyring' | gnome-keyring-daemon --foreground --unlock --components=secrets \
  >"$1/daemon.log" 2>&1 &
daemon=$!
ready=no
for attempt in $(seq 100); do
  if gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
       --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null |
     grep -q true; then ready=yes; break; fi
  sleep 0.1
done
if [ $ready = yes ]; then
  # Under AddressSanitizer: full allocation stacks through GLib (built without frame
  # pointers), so that the suppression of libsecret's own small leak can match.
  LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}fast_unwind_on_malloc=0" \
    LQ_TEST_KEYRING_SESSION=1 "$2" --gtest_filter="$3"
  status=$?
else
  cat "$1/daemon.log"
  status=77
fi
kill $daemon 2>/dev/null
wait $daemon 2>/dev/null
exit $status
)SH";

bool HasTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool InKeyringSession() { return std::getenv(kSessionVariable) != nullptr; }

void RunCurrentTestInKeyringSession() {
  for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon", "gdbus"}) {
    if (!HasTool(tool)) GTEST_SKIP() << tool << " is not installed: no keyring to test against";
  }
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(test->test_suite_name()) + "." + test->name();
  std::string pattern = (std::filesystem::temp_directory_path() / "lq-keyring-XXXXXX").string();
  const std::string folder = mkdtemp(pattern.data());
  std::ofstream(folder + "/session.sh") << kScript;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = "timeout 300 dbus-run-session -- sh '" + folder + "/session.sh' '" + folder +
                              "' '" + self + "' '" + filter + "' >'" + folder + "/run.log' 2>&1";
  const int status = std::system(command.c_str());
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::string log = Slurp(folder + "/run.log");
  std::filesystem::remove_all(folder);
  if (code == kNoKeyring) GTEST_SKIP() << "the keyring daemon did not come up:\n" << log;
  EXPECT_EQ(code, 0) << "inside the keyring session:\n" << log;
  EXPECT_NE(log.find("[  PASSED  ] 1 test."), std::string::npos) << "the test did not run inside:\n" << log;
}
