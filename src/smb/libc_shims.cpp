#include "smb/libc_shims.h"

#include <dlfcn.h>
#include <iconv.h>
#include <pwd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace {

using TIconv = size_t (*)(iconv_t, char**, size_t*, char**, size_t*);

// The C library's iconv (or a sanitizer's wrapper of it): the next definition after ours.
TIconv RealIconv() {
  static const TIconv real = reinterpret_cast<TIconv>(dlsym(RTLD_NEXT, "iconv"));
  return real;
}

std::mutex IconvLock;  // leaf lock; see libc_shims.h

// An entry longer than this is taken for a broken user database.
constexpr size_t kMaxPasswdBuffer = 1 << 20;

}  // namespace

extern "C" passwd* getpwuid(uid_t uid) {
  thread_local passwd entry;
  thread_local std::vector<char> buffer(1024);
  passwd* result = nullptr;
  int error = 0;
  while ((error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
         buffer.size() < kMaxPasswdBuffer)
    buffer.resize(buffer.size() * 2);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  return result;
}

extern "C" size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft) {
  const TIconv real = RealIconv();
  if (real == nullptr) {
    errno = EBADF;
    return static_cast<size_t>(-1);
  }
  std::lock_guard<std::mutex> guard(IconvLock);
  return real(cd, in, inLeft, out, outLeft);
}

bool LibcShimsActive() {
  return dlsym(RTLD_DEFAULT, "getpwuid") == reinterpret_cast<void*>(&getpwuid) &&
         dlsym(RTLD_DEFAULT, "iconv") == reinterpret_cast<void*>(&iconv) && RealIconv() != nullptr;
}
