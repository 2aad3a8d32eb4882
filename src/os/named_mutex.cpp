#include "os/named_mutex.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// The shared lock behind every TMutex of one name.
struct TMutex::TState {
  std::mutex Guard;  // guards Owner and Depth; held only briefly, never while waiting
  std::condition_variable Released;
  std::thread::id Owner;  // guarded by Guard; default id: not owned
  uint32_t Depth = 0;     // guarded by Guard; acquisitions by Owner not yet released
};

namespace {

// Name -> state of every named mutex that some TMutex still refers to. A name whose last
// TMutex is gone is dropped (a kernel object dies with its last handle).
struct TRegistry {
  std::mutex Guard;  // leaf lock: taken only to look up or drop a name
  std::map<std::string, std::weak_ptr<TMutex::TState>> Byname;
};

TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;  // never destroyed: TMutex may outlive statics
  return *registry;
}

}  // namespace

TMutex::TMutex(const std::string& Name) : MutexName(Name) {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.Guard);
  std::weak_ptr<TState>& slot = registry.Byname[Name];
  State = slot.lock();
  if (!State) {
    State = std::make_shared<TState>();
    slot = State;
  }
}

TMutex::~TMutex() {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.Guard);
  State.reset();
  auto it = registry.Byname.find(MutexName);
  if (it != registry.Byname.end() && it->second.expired()) registry.Byname.erase(it);
}

bool TMutex::WaitFor(uint32_t TimeoutMs) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(State->Guard);
  if (State->Owner == self) {
    ++State->Depth;
    return true;
  }
  const auto isFree = [this] { return State->Depth == 0; };
  if (TimeoutMs == INFINITE) {
    State->Released.wait(lock, isFree);
  } else if (!State->Released.wait_for(lock, std::chrono::milliseconds(TimeoutMs), isFree)) {
    return false;
  }
  State->Owner = self;
  State->Depth = 1;
  return true;
}

bool TMutex::Release() {
  std::unique_lock<std::mutex> lock(State->Guard);
  if (State->Depth == 0 || State->Owner != std::this_thread::get_id()) return false;
  if (--State->Depth == 0) {
    State->Owner = std::thread::id();
    lock.unlock();
    State->Released.notify_one();
  }
  return true;
}
