#include "engine/search_task.h"

PSearchTask CopyTask(const TSearchTask& source) {
  auto task = std::make_unique<TSearchTask>();
  task->Criteria() = source.Criteria();
  return task;
}
