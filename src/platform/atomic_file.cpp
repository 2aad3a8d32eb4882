#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kBufferLimit = 64 * 1024;

using TStep = TAtomicFileError::TStep;

[[noreturn]] void Fail(TStep step, int errorNumber, const std::string& what,
                       const std::string& name) {
  std::string message = what + " \"" + name + "\"";
  if (errorNumber != 0) message += ": " + std::string(std::strerror(errorNumber));
  throw TAtomicFileError(step, errorNumber, message);
}

std::string FolderOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

std::string BaseOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A hidden name in the target's folder that no other writer of this process or another
// one uses: process id plus a per-process counter, with O_EXCL guarding the rest.
std::string TempNameFor(const std::string& folder, const std::string& base, bool shortForm) {
  static std::atomic<unsigned> counter{0};
  const std::string unique = std::to_string(getpid()) + "-" + std::to_string(counter++);
  const std::string prefix = folder == "/" ? "/" : folder + "/";
  if (shortForm) return prefix + ".lq-" + unique + ".tmp";
  return prefix + "." + base + ".lq-" + unique + ".tmp";
}

}  // namespace

TAtomicFile::TAtomicFile(const std::string& targetName) : Target(targetName) {
  struct stat info{};
  const bool exists = stat(Target.c_str(), &info) == 0;
  if (exists) {
    if (!S_ISREG(info.st_mode)) Fail(TStep::Replace, 0, "Not a regular file:", Target);
    if ((info.st_mode & S_IWUSR) == 0) Fail(TStep::Replace, 0, "Read-only file:", Target);
  }
  const std::string folder = FolderOf(Target);
  const std::string base = BaseOf(Target);
  for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
    // A long target name plus our suffix can pass the name limit; then use a short one.
    for (bool shortForm : {false, true}) {
      TempName = TempNameFor(folder, base, shortForm);
      Fd = open(TempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd >= 0 || errno != ENAMETOOLONG) break;
    }
    if (Fd < 0 && errno != EEXIST) {
      const int error = errno;
      TempName.clear();
      // An existing target that we cannot write beside cannot be replaced either.
      Fail(exists ? TStep::Replace : TStep::Create, error, "Cannot create file", Target);
    }
  }
  if (Fd < 0) {
    TempName.clear();
    Fail(TStep::Create, EEXIST, "Cannot create file", Target);
  }
  // A replaced file keeps its permissions: a private file must not become readable to
  // others by being saved again. Failing that, it gets the default a new file would.
  if (exists) fchmod(Fd, info.st_mode & 07777);
}

TAtomicFile::~TAtomicFile() {
  if (!Committed) Discard();
}

void TAtomicFile::Discard() noexcept {
  if (Fd >= 0) {
    close(Fd);
    Fd = -1;
  }
  if (!TempName.empty()) {
    unlink(TempName.c_str());
    TempName.clear();
  }
}

void TAtomicFile::Write(const void* data, size_t size) {
  Buffer.append(static_cast<const char*>(data), size);
  if (Buffer.size() >= kBufferLimit) Flush();
}

void TAtomicFile::Flush() {
  size_t done = 0;
  while (done < Buffer.size()) {
    const ssize_t written = ::write(Fd, Buffer.data() + done, Buffer.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(TStep::Write, errno, "Cannot write file", Target);
    }
    done += static_cast<size_t>(written);
  }
  Buffer.clear();
}

void TAtomicFile::Commit() {
  Flush();
  if (fsync(Fd) != 0) Fail(TStep::Write, errno, "Cannot write file", Target);
  const int fd = Fd;
  Fd = -1;
  if (close(fd) != 0) Fail(TStep::Write, errno, "Cannot write file", Target);
  if (rename(TempName.c_str(), Target.c_str()) != 0) {
    Fail(TStep::Replace, errno, "Cannot replace file", Target);
  }
  TempName.clear();
  Committed = true;
  // Make the rename itself durable. The new file is complete and in place whether or not
  // this succeeds, so a failure here is not reported: there is nothing left to undo.
  const int folder = open(FolderOf(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
}
