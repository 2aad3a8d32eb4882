#pragma once
// Running helper programs from tests: found on PATH, started with extra environment
// entries and output to a file, waited for with a bound.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Whether program is an executable in PATH, /usr/sbin or /sbin.
bool OnPath(const std::string& program);

// Starts argv with stdin from /dev/null and stdout and stderr into outPath; environment
// is this process's, with the entries of extra ("NAME=value") put over it. -1 on failure.
pid_t SpawnInto(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                const std::string& outPath);

// Waits up to limit for pid to end; kills it when it does not. Returns its exit status,
// or -1 when it was killed or ended by a signal.
int WaitBounded(pid_t pid, std::chrono::steady_clock::duration limit);

// The whole content of a file ("" when it cannot be read).
std::string ReadAll(const std::string& path);

// The running test program's own path ("" when unknown), to run it again elsewhere.
std::string ThisProgram();
// lanternquest-cli of the build named by LQ_BUILD_DIR (or ".");"" when it is not built.
std::string CliProgram();

// Text quoted for a POSIX shell command line, whatever bytes it holds.
std::string ShellQuoted(const std::string& text);
