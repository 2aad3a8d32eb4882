#pragma once
// TWNetThread: the worker that enumerates one network container and queues what it finds
// (sub-containers as network tasks, connectable disk shares as folder tasks).
#include <memory>

#include "engine/search_thread.h"

class TWNetThread : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;

 protected:
  void Run() override;
};

// The manager's factory for a task with an empty Path.
std::unique_ptr<TSearchThread> CreateWNetThread(TSearchManager& manager, PSearchTask task,
                                                TResultManager& resultStore, TLogger& errorLog);
