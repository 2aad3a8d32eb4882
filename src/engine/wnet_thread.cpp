#include "engine/wnet_thread.h"

#include <vector>

#include "network/netapi.h"
#include "results/logger.h"

void TWNetThread::Run() {
  Manager.RaiseThreadChange();

  HNETENUM handle = nullptr;
  uint32_t code = WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, Task->NetResource.get(), &handle);
  if (code != NO_ERROR) {
    ReportFailure(code);
    return;
  }
  TNetEnumGuard enumeration(handle);
  CheckedListing = WNetTakeCheckedListing(handle);

  std::vector<NETRESOURCEA> buffer;
  uint32_t bufferSize = kBufferSize;
  while (!Terminated()) {
    uint32_t count = kRequestAll;
    uint32_t size = bufferSize;
    buffer.clear();
    uint32_t result = WNetEnumResourceA(handle, &count, &buffer, &size);
    if (result == ERROR_MORE_DATA && size > bufferSize) {
      // One entry larger than the buffer: ask again with room for it.
      bufferSize = size;
      continue;
    }
    // The end of the entries, and any failure of the call, are neither queued nor logged.
    if (result != NO_ERROR) break;
    QueueEntries(buffer, count);
  }
  buffer.clear();

  code = enumeration.Close();
  if (code != NO_ERROR) ReportFailure(code);
}

void TWNetThread::QueueEntries(const std::vector<NETRESOURCEA>& entries, uint32_t count) {
  for (uint32_t i = 0; i < count && i < entries.size() && !Terminated(); ++i) {
    const NETRESOURCEA& entry = entries[i];
    if (entry.dwUsage & RESOURCEUSAGE_CONTAINER) {
      PSearchTask child = CopyTask(*Task);
      CopyNetResource(entry, child->NetResource);
      Manager.AddTask(std::move(child));
    } else if (entry.dwUsage & RESOURCEUSAGE_CONNECTABLE) {
      PSearchTask child = CopyTask(*Task);
      child->Path = entry.lpRemoteName.value_or("");
      // A share without a name cannot be walked; as a task with an empty Path it would
      // come back as a network task for the same container, over and over.
      if (child->Path.empty()) continue;
      // A share's enumeration holds the share alone: the listing is its.
      child->Listed = std::move(CheckedListing);
      Manager.AddTask(std::move(child));
    }
  }
}

void TWNetThread::ReportFailure(uint32_t code) {
  // A task for the entire network may carry no record at all; its line then names no
  // provider and no resource, as the entire network's record would.
  PNetResource resource;
  CopyNetResource(Task->NetResource ? *Task->NetResource : NETRESOURCEA{}, resource);
  ErrorLog.AddError(code, *resource);
  Manager.RaiseLogChanged();
}

std::unique_ptr<TSearchThread> CreateWNetThread(TWorkerHost& manager, PSearchTask task,
                                                TResultManager& resultStore, TLogger& errorLog) {
  return std::make_unique<TWNetThread>(manager, std::move(task), resultStore, errorLog);
}
