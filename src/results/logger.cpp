#include "results/logger.h"

#include "os/net_error_text.h"

void TLogger::AddError(uint32_t errorCode, const NETRESOURCEA& resource) {
  std::lock_guard<std::mutex> guard(LogLock);
  Lines.Append(GetNetErrorText(errorCode, resource));
}

void TLogger::Changed() {
  if (OnChange) OnChange(this);
}

void TLogger::Clear() { Lines.Clear(); }
