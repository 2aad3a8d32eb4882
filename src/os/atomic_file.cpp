#include "os/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

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

// Follows symbolic links from name to the file they lead to, so that saving through a
// link replaces the linked file and keeps the link. The last name need not exist (a
// link to a file not made yet). A loop or a link that cannot be read ends the walk there.
std::string ResolveLinks(const std::string& name) {
  std::string current = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info{};
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t length = readlink(current.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<size_t>(length) >= link.size()) break;
    link.resize(static_cast<size_t>(length));
    if (link[0] != '/') {
      const size_t slash = current.rfind('/');
      if (slash != std::string::npos) link = current.substr(0, slash + 1) + link;
    }
    current = link;
  }
  return current;
}

std::string ProcFdName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The process id in a temporary name of ours (".NAME.lq-PID-N.tmp" or ".lq-PID-N.tmp"),
// or 0 when name is not one.
pid_t WriterOfTempName(const std::string& name) {
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() < 10 || name[0] != '.' || !name.ends_with(kSuffix)) return 0;
  const size_t mark = name.rfind(".lq-");
  if (mark == std::string::npos) return 0;
  const std::string_view rest(name.data() + mark + 4, name.size() - mark - 4 - kSuffix.size());
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size()) return 0;
  const auto digits = [](std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1)) || dash > 9) return 0;
  return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

// Removes the temporary files that writers on this machine left behind in folder when
// they were killed before renaming them: ours by name and owner, their process gone, and
// untouched for a minute (so a writer on another machine sharing the folder, whose
// process id means nothing here, is left alone while it writes).
void RemoveDeadWritersTemps(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const pid_t writer = WriterOfTempName(name);
    if (writer <= 0 || writer == getpid()) continue;
    if (kill(writer, 0) == 0 || errno != ESRCH) continue;
    struct stat info{};
    if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) continue;
    if (now - info.st_mtime < 60) continue;
    unlinkat(dirfd(dir), name.c_str(), 0);
  }
  closedir(dir);
}

}  // namespace

TAtomicFile::TAtomicFile(const std::string& targetName, int fileMode)
    : Target(ResolveLinks(targetName)) {
  struct stat info{};
  const bool exists = stat(Target.c_str(), &info) == 0;
  if (exists) {
    if (!S_ISREG(info.st_mode)) Fail(TStep::Replace, 0, "Not a regular file:", Target);
    if ((info.st_mode & S_IWUSR) == 0) Fail(TStep::Replace, 0, "Read-only file:", Target);
  }
  Folder = FolderOf(Target);
  RemoveDeadWritersTemps(Folder);
  // An unnamed file first: it has no name until Commit, so a writer killed on the way
  // leaves nothing behind. Its name comes from /proc, checked now so Commit cannot fail
  // for want of it. File systems without O_TMPFILE get a named temporary file.
  Fd = open(Folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  int openError = errno;
  if (Fd >= 0 && access(ProcFdName(Fd).c_str(), F_OK) != 0) {
    close(Fd);
    Fd = -1;
    openError = EOPNOTSUPP;
  }
  if (Fd >= 0) {
    Unnamed = true;
  } else if (openError == EACCES || openError == EPERM || openError == ENOENT ||
             openError == ENOTDIR || openError == EROFS) {
    Fail(exists ? TStep::Replace : TStep::Create, openError, "Cannot create file", Target);
  } else {
    CreateNamedTemp(exists ? TStep::Replace : TStep::Create);
  }
  // A replaced file keeps its permissions: a private file must not become readable to
  // others by being saved again. Failing that, it gets the default a new file would.
  if (exists) fchmod(Fd, info.st_mode & 07777);
  if (fileMode >= 0) fchmod(Fd, static_cast<mode_t>(fileMode) & 07777);
}

// Makes a fresh hidden file beside the target, open in Fd and named TempName. An
// existing target that we cannot write beside cannot be replaced either: failStep says
// which error that is.
void TAtomicFile::CreateNamedTemp(TStep failStep) {
  const std::string base = BaseOf(Target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // A long target name plus our suffix can pass the name limit; then use a short one.
    for (bool shortForm : {false, true}) {
      TempName = TempNameFor(Folder, base, shortForm);
      Fd = open(TempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd >= 0) return;
      if (errno != ENAMETOOLONG) break;
    }
    if (errno != EEXIST) {
      const int error = errno;
      TempName.clear();
      Fail(failStep, error, "Cannot create file", Target);
    }
  }
  TempName.clear();
  Fail(TStep::Create, EEXIST, "Cannot create file", Target);
}

// Gives the unnamed file a temporary name beside the target (rename needs a name; a
// link cannot replace an existing file). Returns false when no name could be given.
bool TAtomicFile::NameUnnamedFile() {
  const std::string base = BaseOf(Target);
  const std::string source = ProcFdName(Fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (bool shortForm : {false, true}) {
      TempName = TempNameFor(Folder, base, shortForm);
      if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, TempName.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
      }
      if (errno != ENAMETOOLONG) break;
    }
    if (errno != EEXIST) break;
  }
  TempName.clear();
  return false;
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

void TAtomicFile::Commit(TDurability durability) {
  Flush();
  const bool durable = durability == TDurability::Durable;
  if (durable && fsync(Fd) != 0) Fail(TStep::Write, errno, "Cannot write file", Target);
  if (Unnamed && !NameUnnamedFile()) Fail(TStep::Write, errno, "Cannot write file", Target);
  const int fd = Fd;
  Fd = -1;
  if (close(fd) != 0) Fail(TStep::Write, errno, "Cannot write file", Target);
  if (rename(TempName.c_str(), Target.c_str()) != 0) {
    Fail(TStep::Replace, errno, "Cannot replace file", Target);
  }
  TempName.clear();
  Committed = true;
  if (!durable) return;
  // Make the rename itself durable. The new file is complete and in place whether or not
  // this succeeds, so a failure here is not reported: there is nothing left to undo.
  const int folder = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
}
