#pragma once
// What a search worker may ask of the manager that runs it: take child tasks, and tell the
// page about changes. Workers see only this, so the workers and the manager that creates
// them do not depend on each other's headers.
//
// Threads: every member may be called from any worker thread; none waits for the UI
// thread (the notifications are raised, not run; see os/ui_thread.h).
#include <vector>

#include "engine/search_task.h"

class TWorkerHost {
 public:
  // Takes the task; queues it and starts a worker if a slot is free. A task added while
  // a stopped search is still ending is freed.
  virtual void AddTask(PSearchTask task) = 0;
  // The same for several tasks, queued in their order under one lock; tasks is emptied.
  virtual void AddTasks(std::vector<PSearchTask>& tasks) = 0;

  // Raise the page's notifications on the UI thread without waiting: the manager's
  // OnThreadChange, the result store's Changed, the error log's Changed.
  virtual void RaiseThreadChange() = 0;
  virtual void RaiseResultsChanged() = 0;
  virtual void RaiseLogChanged() = 0;

 protected:
  ~TWorkerHost() = default;
};
