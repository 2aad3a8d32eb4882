#pragma once
// Clang's thread-safety analysis (-Wthread-safety): a lock is a capability, a field names
// the lock that guards it, a function names the locks it needs held. The compiler then
// rejects an access to a guarded field without its lock. Other compilers ignore the
// annotations. TLock and TLockGuard are std::mutex and std::lock_guard as the analysis
// sees them.
#include <mutex>

#if defined(__clang__)
#define LQ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LQ_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) LQ_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY LQ_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) LQ_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) LQ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) LQ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) LQ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) LQ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) LQ_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

class CAPABILITY("mutex") TLock {
 public:
  void lock() ACQUIRE() { Mutex.lock(); }
  void unlock() RELEASE() { Mutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return Mutex.try_lock(); }

 private:
  std::mutex Mutex;
};

class SCOPED_CAPABILITY TLockGuard {
 public:
  explicit TLockGuard(TLock& lock) ACQUIRE(lock) : Held(lock) { Held.lock(); }
  ~TLockGuard() RELEASE() { Held.unlock(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TLock& Held;
};
