#include "index/index_spill.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "index/index_types.h"

namespace {

constexpr size_t kBufferLimit = 1 << 20;

[[noreturn]] void Fail(const std::string& what, const std::string& folder, int error) {
  throw TIndexError(TIndexError::TKind::Io, what + " in " + folder + ": " + std::strerror(error), error);
}

}  // namespace

TSpillFile::TSpillFile(const std::string& folder) : Folder(folder) {
  Fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (Fd < 0) {
    std::string name = folder + "/.lqindex-spill-XXXXXX";
    Fd = mkostemp(name.data(), O_CLOEXEC);
    if (Fd < 0) Fail("Cannot make a scratch file", folder, errno);
    unlink(name.c_str());
  }
  Buffer.reserve(kBufferLimit);
}

TSpillFile::~TSpillFile() {
  if (Mapped) munmap(Mapped, MappedSize);
  if (Fd >= 0) close(Fd);
}

uint64_t TSpillFile::Append(const void* data, size_t size) {
  const uint64_t at = Size();
  Buffer.append(static_cast<const char*>(data), size);
  if (Buffer.size() >= kBufferLimit) Flush();
  return at;
}

void TSpillFile::Flush() {
  size_t done = 0;
  while (done < Buffer.size()) {
    const ssize_t n = ::write(Fd, Buffer.data() + done, Buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      Buffer.clear();
      Fail("Cannot write a scratch file", Folder, error);
    }
    done += static_cast<size_t>(n);
  }
  Written += Buffer.size();
  Buffer.clear();
}

std::string_view TSpillFile::Map() {
  Flush();
  if (Written == 0) return {};
  if (!Mapped) {
    void* map = mmap(nullptr, Written, PROT_READ, MAP_SHARED, Fd, 0);
    if (map == MAP_FAILED) Fail("Cannot map a scratch file", Folder, errno);
    Mapped = map;
    MappedSize = Written;
  }
  return {static_cast<const char*>(Mapped), MappedSize};
}
