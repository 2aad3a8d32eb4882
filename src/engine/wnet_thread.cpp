#include "engine/wnet_thread.h"

// No network enumeration is wired in yet: a network task ends at once, finding nothing.
void TWNetThread::Run() {}

std::unique_ptr<TSearchThread> CreateWNetThread(TSearchManager& manager, PSearchTask task,
                                                TResultManager& resultStore, TLogger& errorLog) {
  return std::make_unique<TWNetThread>(manager, std::move(task), resultStore, errorLog);
}
