#include "engine/search_task.h"

PSearchTask CopyTask(const TSearchTask& source) {
  auto task = std::make_unique<TSearchTask>();
  task->Mask = source.Mask;
  task->FileAttr = source.FileAttr;
  task->FileSizeFrom = source.FileSizeFrom;
  task->FileSizeTo = source.FileSizeTo;
  task->FileTimeType = source.FileTimeType;
  task->FileTimeFrom = source.FileTimeFrom;
  task->FileTimeTo = source.FileTimeTo;
  return task;
}
