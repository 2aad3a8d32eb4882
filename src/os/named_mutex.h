#pragma once
// A process-wide named mutex. Every TMutex constructed with the same name refers to one
// shared lock (a registry keyed by name), so all result stores of the process share
// "RESULT_MUTEX" as their append lock.
//
// Semantics follow a kernel mutex: the lock has an owning thread, the owner may acquire
// it again (each WaitFor needs its Release), and only the owner can release it.
// Thread-safe: any thread may call WaitFor and Release on any TMutex.
#include <cstdint>
#include <memory>
#include <string>

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

class TMutex {
 public:
  // Opens the mutex called name, creating it (not owned) when it does not exist yet.
  explicit TMutex(const std::string& Name);
  ~TMutex();
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  // Waits up to TimeoutMs milliseconds (INFINITE: without limit) to own the mutex.
  // True only when it was acquired; false on time-out.
  bool WaitFor(uint32_t TimeoutMs);
  // Gives up one level of ownership. False, and nothing happens, when the calling thread
  // does not own the mutex.
  bool Release();

  const std::string& Name() const { return MutexName; }

  struct TState;  // shared by every TMutex of one name; defined in the .cpp

 private:
  std::string MutexName;
  std::shared_ptr<TState> State;
};
