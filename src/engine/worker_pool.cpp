#include "engine/worker_pool.h"

#include <system_error>

TWorkerPool::~TWorkerPool() { Shutdown(); }

void TWorkerPool::Submit(std::function<void()> job, size_t threadLimit) {
  std::lock_guard<std::mutex> lock(Lock);
  Jobs.push_back(std::move(job));
  if (IdleThreads >= Jobs.size() || (threadLimit > 0 && Threads.size() >= threadLimit)) {
    JobReady.notify_one();
    return;
  }
  try {
    if (FailStarts) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    Threads.emplace_back([this] { ThreadMain(); });
  } catch (const std::system_error&) {
    if (!Threads.empty()) {
      // A busy thread takes the job when it is free.
      JobReady.notify_one();
      return;
    }
    Jobs.pop_back();
    throw;
  }
}

void TWorkerPool::ThreadMain() {
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    ++IdleThreads;
    JobReady.wait(lock, [&] { return Stopping || !Jobs.empty(); });
    --IdleThreads;
    if (Jobs.empty()) return;  // stopping with nothing left
    std::function<void()> job = std::move(Jobs.front());
    Jobs.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // release what the job holds before waiting again
    lock.lock();
  }
}

void TWorkerPool::Shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
    threads.swap(Threads);
    JobReady.notify_all();
  }
  for (std::thread& thread : threads) thread.join();
}

size_t TWorkerPool::ThreadCount() {
  std::lock_guard<std::mutex> lock(Lock);
  return Threads.size();
}

void TWorkerPool::FailThreadStarts(bool fail) {
  std::lock_guard<std::mutex> lock(Lock);
  FailStarts = fail;
}
