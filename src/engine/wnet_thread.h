#pragma once
// TWNetThread: the worker that enumerates one network container (the entire network, the
// provider, a workgroup, a server) and queues what it finds: every sub-container as a
// network task, every connectable disk share as a folder task whose Path is the share's
// UNC name. A share's own enumeration lists the share to check it; its folder task takes
// that listing along (TSearchTask::Listed). It delivers no results. A failure to open or
// close the enumeration becomes one line of the page's error log.
//
// The worker keeps asking for entries until the enumeration reports that none are left,
// so a container larger than one 16 KB buffer is searched whole.
//
// Threads: runs on a pool thread of its manager; raises the manager's OnThreadChange when
// it starts (the manager raises it again when the worker ends) and the log's Changed
// after a failure, without waiting. No lock is held across the enumeration calls.
#include <cstdint>
#include <memory>

#include "engine/search_thread.h"

class TWNetThread : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;

  // One enumeration buffer, and the count that asks for as many entries as fit.
  static constexpr uint32_t kBufferSize = 16384;
  static constexpr uint32_t kRequestAll = 0xFFFFFFFF;

 protected:
  void Run() override;

 private:
  // Queues the entries of one buffer in order until the stop flag is set.
  void QueueEntries(const std::vector<NETRESOURCEA>& entries, uint32_t count);
  // Writes the failure with the task's resource to the log and has the UI thread show it.
  void ReportFailure(uint32_t code);

  // The enumerated share's listing, for its folder task; null for other containers.
  std::unique_ptr<TDirListing> CheckedListing;
};

// The manager's factory for a task with an empty Path.
std::unique_ptr<TSearchThread> CreateWNetThread(TWorkerHost& manager, PSearchTask task,
                                                TResultManager& resultStore, TLogger& errorLog);
